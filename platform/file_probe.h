// Looking at a file that belongs to someone else without changing it or
// getting in anyone's way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvel::platform {

// What stands at a path, as far as telling whether it was written since:
// which file it is and its size and times, as the system keeps them.
struct FileState {
    enum class Kind {
        Missing, // nothing at the path (or no folder leading to it)
        Regular, // a file, links followed
        Other,   // a folder, a device, a FIFO
        Unknown, // the system would not say
    };
    Kind kind = Kind::Missing;
    std::uint64_t volume = 0; // with `file`: which file this is
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::int64_t lastWrite = 0; // in the system's own units
    std::int64_t change = 0;    // last change of content or attributes
};

inline bool operator==(const FileState& a, const FileState& b)
{
    return a.kind == b.kind && a.volume == b.volume && a.file == b.file && a.size == b.size &&
           a.lastWrite == b.lastWrite && a.change == b.change;
}

// The state of whatever stands at `path`, following links. Reads only the
// file system's record of the file: never its content, never a lock.
FileState StateOf(const std::string& path);

// The clock that stamps file writes, in the units of FileState::lastWrite:
// Windows' system time, which moves every 15.6 ms by default; Linux's coarse
// real-time clock, which moves every few ms (since 6.13 a file that was
// looked at since its last change gets a finer time at its next write).
std::int64_t FileClockNow();

// FileState's time units in one millisecond.
std::int64_t FileTimeUnitsPerMillisecond();

// The first bytes of a regular file and its size, read at one moment.
struct FileHead {
    std::size_t length = 0; // bytes read into the caller's buffer
    std::uint64_t size = 0; // the whole file's size
};

// Reads up to `count` bytes from the start of the regular file at `path` into
// `buffer`. The file is opened for reading only, letting others read, write,
// rename and delete it meanwhile, and closed at once. False when it cannot be
// opened or read.
bool ReadHead(const std::string& path, char* buffer, std::size_t count, FileHead& head);

} // namespace orvel::platform
