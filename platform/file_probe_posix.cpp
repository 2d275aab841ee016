#include "file_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace orvel::platform {
namespace {

std::int64_t Nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// Opens without changing the file's time of last access where the system
// allows it (the file's owner, or root); anyone else opens it plainly.
int OpenToRead(const std::string& path)
{
    // Non-blocking, so that a FIFO put in the file's place cannot hold us.
    constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const int fd = open(path.c_str(), kFlags | O_NOATIME);
    if (fd >= 0 || errno != EPERM) {
        return fd;
    }
    return open(path.c_str(), kFlags);
}

} // namespace

std::int64_t FileClockNow()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return Nanoseconds(now);
}

std::int64_t FileTimeUnitsPerMillisecond() { return 1000000; }

FileState StateOf(const std::string& path)
{
    FileState state;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        state.kind = errno == ENOENT || errno == ENOTDIR ? FileState::Kind::Missing
                                                         : FileState::Kind::Unknown;
        return state;
    }
    state.kind = S_ISREG(info.st_mode) ? FileState::Kind::Regular : FileState::Kind::Other;
    state.volume = static_cast<std::uint64_t>(info.st_dev);
    state.file = static_cast<std::uint64_t>(info.st_ino);
    state.size = static_cast<std::uint64_t>(info.st_size);
    state.lastWrite = Nanoseconds(info.st_mtim);
    state.change = Nanoseconds(info.st_ctim);
    return state;
}

bool ReadHead(const std::string& path, char* buffer, std::size_t count, FileHead& head)
{
    const int fd = OpenToRead(path);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool read = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    head = FileHead{0, static_cast<std::uint64_t>(info.st_size)};
    while (read && head.length < count) {
        const ssize_t n =
            pread(fd, buffer + head.length, count - head.length, static_cast<off_t>(head.length));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            read = n == 0;
            break;
        }
        head.length += static_cast<std::size_t>(n);
    }
    close(fd);
    return read;
}

} // namespace orvel::platform
