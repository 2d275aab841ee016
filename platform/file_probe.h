// Looking at a file that belongs to someone else without changing it or
// getting in anyone's way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

namespace orvel::platform {

// What stands at a path, as far as telling whether it was written since:
// which file it is, its size and its last-write time, as the system keeps
// them. A change of the file's attributes, permissions or name alone (its
// change time) is not a write and is not recorded.
struct FileState {
    enum class Kind {
        Missing, // nothing at the path (or no folder leading to it)
        Regular, // a file, links followed
        Other,   // a folder, a device, a FIFO, a socket
        Unknown, // the system would not say: `error` tells why
    };
    Kind kind = Kind::Missing;
    std::uint64_t volume = 0; // with `file`: which file this is (Windows: 0)
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::int64_t lastWrite = 0; // in the system's own units
    std::error_code error;      // why the path could not be looked at (Unknown)
};

inline bool operator==(const FileState& a, const FileState& b)
{
    return a.kind == b.kind && a.volume == b.volume && a.file == b.file && a.size == b.size &&
           a.lastWrite == b.lastWrite;
}

// The state of whatever stands at `path`, following links. Reads only the
// file system's record of the file, asking for nothing but its attributes:
// never its content, never a lock, and no program that holds the file open,
// whatever it shares, is waited for or refused.
FileState StateOf(const std::string& path);

// StateOf, for telling what stands at `path` apart from `before`: a regular
// file where there was none, or whose last-write time is later than
// `before`'s, is told without asking which file it is (`file` is then 0).
// Windows reads that from the file system's record of the file without
// opening it, where a handle costs several calls into the system (under Wine,
// each a round trip to its server); otherwise it opens the file as StateOf.
FileState StateOf(const std::string& path, const FileState& before);

// The clock that stamps file writes, in the units of FileState::lastWrite:
// Windows' system time, which moves every 15.6 ms by default; Linux's coarse
// real-time clock, which moves every few ms (since 6.13 a file that was
// looked at since its last change gets a finer time at its next write). Both
// are wall clocks, which can be set back at any moment.
std::int64_t FileClockNow();

// FileState's time units in one millisecond.
std::int64_t FileTimeUnitsPerMillisecond();

// A file opened for reading only, letting others read, write, rename and
// delete it meanwhile, and closed when the reader goes. Nothing is allocated
// while the file is open.
class FileReader {
public:
    explicit FileReader(const std::string& path);
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader();

    // Why the file could not be opened or read; empty while all went well.
    const std::error_code& error() const { return error_; }
    // The whole file's size when it was opened.
    std::uint64_t size() const { return size_; }

    // Reads up to `count` bytes at `offset` into `buffer` and returns how
    // many it read: fewer only where the file ends. Nothing on an error, and
    // nothing from what is no regular file (a FIFO or a device put in the
    // file's place meanwhile), which could keep the reader waiting.
    std::size_t ReadAt(std::uint64_t offset, char* buffer, std::size_t count);

private:
#if defined(_WIN32)
    void* handle_; // INVALID_HANDLE_VALUE when not open
#else
    int fd_ = -1;
#endif
    bool regular_ = false;
    std::uint64_t size_ = 0;
    std::error_code error_;
};

} // namespace orvel::platform
