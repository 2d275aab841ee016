// Calls on a C stream that the host's own threads use as well.
#pragma once

#include <cstdio>
#include <cstring>
#include <optional>
#include <streambuf>

#if defined(__GLIBCXX__)
#include <ext/stdio_sync_filebuf.h>
#elif defined(_MSC_VER)
#include <cstdlib>
#endif

namespace orvel::platform {

// Holds a C stream's own lock while it lives, so that no other thread's
// stream call comes between the holder's calls on that stream. The lock is
// recursive, and the C library's own calls on the stream (those std::cout
// makes through it included) take it as well: flockfile on POSIX, the C
// runtime's own _lock_file on Windows. Whatever runs under it must be the
// runtime's own code: code of the host's that waits for another of its
// threads, which waits for this lock, never returns.
//
// On the Microsoft runtime it also gives the calling thread, for as long as
// it lives, an invalid-parameter handler that returns: a call the runtime
// finds invalid (a narrow write into a stream the host switched to UTF-16, a
// write to a descriptor the host closed) then fails instead of ending the
// process. The thread's previous handler is back afterwards; other threads
// never see the change.
class StreamLock {
public:
    explicit StreamLock(std::FILE* stream) noexcept;
    StreamLock(const StreamLock&) = delete;
    StreamLock& operator=(const StreamLock&) = delete;
    ~StreamLock();

private:
    std::FILE* stream_;
#if defined(_MSC_VER)
    _invalid_parameter_handler previousHandler_;
#endif
};

#if defined(_MSC_VER)
// The C stream of a buffer of the Microsoft runtime's std::filebuf exactly,
// over a C stream and with no conversion facet; null for any other buffer;
// none when memory runs out before it can be told (stream_lock_windows.cpp).
std::optional<std::FILE*> MicrosoftFilebufStream(const std::streambuf& buffer) noexcept;
#endif

// The C stream that `buffer` writes through when it is the C++ runtime's own
// buffer over a C stream, whichever the host put behind std::cout: stdout for
// std::cout's own, stderr for std::cerr's, the host's file for a buffer of
// the runtime's class made over it. Null for any other buffer. Only a class
// of the runtime's exactly (not one derived from it) counts, so its calls run
// nothing but the runtime's code. The buffer may be the host's, of a class
// compiled without type information, whose type the runtime cannot be asked:
// libstdc++'s is told by its virtual table, the one a buffer made here has,
// and says which C stream it writes to. The Microsoft runtime's is told by
// the type record before its virtual table, read only inside the module that
// holds the table (stream_lock_windows.cpp). None when it cannot be told.
inline std::optional<std::FILE*> RuntimeBufferStream(std::streambuf& buffer) noexcept
{
#if defined(__GLIBCXX__)
    using Own = __gnu_cxx::stdio_sync_filebuf<char>;
    Own own(stdout);
    const void* ownTable = nullptr;
    const void* table = nullptr;
    std::memcpy(&ownTable, static_cast<const void*>(&own), sizeof(ownTable));
    std::memcpy(&table, static_cast<const void*>(&buffer), sizeof(table));
    return table == ownTable ? static_cast<Own&>(buffer).file() : nullptr;
#elif defined(_MSC_VER)
    return MicrosoftFilebufStream(buffer);
#else
    static_cast<void>(buffer);
    return nullptr;
#endif
}

} // namespace orvel::platform
