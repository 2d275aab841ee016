#include "file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

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

} // namespace

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
