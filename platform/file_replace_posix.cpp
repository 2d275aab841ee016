#include "file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <memory>
#include <string_view>

#include "temporary_name.h"

namespace orvel::platform {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

// Numbers the temporary files of this process; with the process ID, the name
// is one that no other writer uses at the same time.
std::atomic<unsigned> gTemporaryCount{0};

// A new, empty file opened for writing; the name is never one that exists
// already, so nothing else (a link, a FIFO) is ever opened in its place.
int CreateTemporary(const std::string& path, std::string& temporary, std::error_code& error)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = path + "." + std::to_string(getpid()) + "-" +
                    std::to_string(gTemporaryCount.fetch_add(1)) + ".tmp";
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return fd;
        }
        if (errno != EEXIST) {
            error = LastError();
            return -1;
        }
    }
    error = std::make_error_code(std::errc::file_exists);
    return -1;
}

std::error_code WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastError();
        }
        done += static_cast<std::size_t>(n);
    }
    return {};
}

// A rename replaces a file whatever its permissions; a read-only file is
// refused here instead, as Windows refuses to replace one. A symbolic link
// itself is always writable, so a link is replaced, not its target.
std::error_code RefuseReadOnly(const std::string& path)
{
    if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == EACCES) {
        return LastError();
    }
    return {};
}

// How old a temporary must be before it counts as left behind: no write of a
// few bytes takes that long, so no other export can still be busy with it.
constexpr std::time_t kStaleSeconds = std::time_t{10} * 60;

} // namespace

// Only plain files of exactly that name pattern and age: a link or a folder of
// that name was not made here.
void RemoveStaleTemporaries(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string_view target = slash == std::string::npos
                                        ? std::string_view(path)
                                        : std::string_view(path).substr(slash + 1);
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(folder.c_str()), &closedir);
    if (!listing) {
        return;
    }
    const int fd = dirfd(listing.get());
    const std::time_t staleBefore = std::time(nullptr) - kStaleSeconds;
    while (const dirent* entry = readdir(listing.get())) {
        struct stat info {};
        if (IsTemporaryOf(std::string_view(entry->d_name), target) &&
            fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
            info.st_mtime < staleBefore) {
            unlinkat(fd, entry->d_name, 0);
        }
    }
}

std::error_code ReplaceWholeFile(const std::string& path, const std::string& text)
{
    std::error_code error = RefuseReadOnly(path);
    if (error) {
        return error;
    }
    std::string temporary;
    const int fd = CreateTemporary(path, temporary, error);
    if (fd < 0) {
        return error;
    }
    error = WriteAll(fd, text);
    // A full disk may show only when the data reaches it, at the close.
    if (close(fd) != 0 && !error) {
        error = LastError();
    }
    if (!error && rename(temporary.c_str(), path.c_str()) != 0) {
        error = LastError();
    }
    if (error) {
        unlink(temporary.c_str());
    }
    return error;
}

} // namespace orvel::platform
