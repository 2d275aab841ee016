// Calls on a C stream that the host's own threads use as well.
#pragma once

#include <cstdio>

namespace orvel::platform {

// Holds a C stream's own lock while it lives, so that no other thread's
// stream call comes between the holder's calls on that stream. The lock is
// recursive, and the C library's own calls on the stream (those std::cout
// makes through it included) take it as well: flockfile on POSIX, the C
// runtime's own _lock_file on Windows.
class StreamLock {
public:
    explicit StreamLock(std::FILE* stream) noexcept;
    StreamLock(const StreamLock&) = delete;
    StreamLock& operator=(const StreamLock&) = delete;
    ~StreamLock();

private:
    std::FILE* stream_;
};

} // namespace orvel::platform
