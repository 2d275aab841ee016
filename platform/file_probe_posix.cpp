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

std::error_code LastError() { return {errno, std::generic_category()}; }

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
        if (errno == ENOENT || errno == ENOTDIR) {
            return state;
        }
        state.kind = FileState::Kind::Unknown;
        state.error = LastError();
        return state;
    }
    state.kind = S_ISREG(info.st_mode) ? FileState::Kind::Regular : FileState::Kind::Other;
    state.volume = static_cast<std::uint64_t>(info.st_dev);
    state.file = static_cast<std::uint64_t>(info.st_ino);
    state.size = static_cast<std::uint64_t>(info.st_size);
    state.lastWrite = Nanoseconds(info.st_mtim);
    return state;
}

// stat tells which file it is with the rest, at no extra cost.
FileState StateOf(const std::string& path, const FileState& /*before*/) { return StateOf(path); }

FileReader::FileReader(const std::string& path) : fd_(OpenToRead(path))
{
    struct stat info {};
    if (fd_ < 0 || fstat(fd_, &info) != 0) {
        error_ = LastError();
        return;
    }
    regular_ = S_ISREG(info.st_mode);
    size_ = static_cast<std::uint64_t>(info.st_size);
}

FileReader::~FileReader()
{
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::size_t FileReader::ReadAt(std::uint64_t offset, char* buffer, std::size_t count)
{
    std::size_t length = 0;
    while (!error_ && regular_ && length < count) {
        const ssize_t n =
            pread(fd_, buffer + length, count - length, static_cast<off_t>(offset + length));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error_ = LastError();
            return 0;
        }
        if (n == 0) {
            break;
        }
        length += static_cast<std::size_t>(n);
    }
    return length;
}

} // namespace orvel::platform
