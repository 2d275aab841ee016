// Calls on a C stream that the host's own threads use as well.
#pragma once

#include <cstdio>
#include <cstring>
#include <streambuf>
#include <typeinfo>

#if defined(__GLIBCXX__)
#include <ext/stdio_sync_filebuf.h>
#elif defined(_MSC_VER)
#include <fstream>
#endif

namespace orvel::platform {

// Holds a C stream's own lock while it lives, so that no other thread's
// stream call comes between the holder's calls on that stream. The lock is
// recursive, and the C library's own calls on the stream (those std::cout
// makes through it included) take it as well: flockfile on POSIX, the C
// runtime's own _lock_file on Windows. Whatever runs under it must be the
// runtime's own code: code of the host's that waits for another of its
// threads, which waits for this lock, never returns.
class StreamLock {
public:
    explicit StreamLock(std::FILE* stream) noexcept;
    StreamLock(const StreamLock&) = delete;
    StreamLock& operator=(const StreamLock&) = delete;
    ~StreamLock();

private:
    std::FILE* stream_;
};

// The C stream that `buffer` writes through when it is the C++ runtime's own
// buffer over a C stream: stdout for std::cout's own, stderr for std::cerr's,
// whichever the host put behind std::cout. Null for any other buffer. Only a
// class of the runtime's exactly (not one derived from it) counts, so its
// calls run nothing but the runtime's code. The buffer may be the host's, of
// a class compiled without type information, whose typeid would crash or
// throw: libstdc++'s is told by its virtual table, the one a buffer made here
// has, and says which C stream it writes to. The Microsoft runtime's std::cout
// and std::cerr write through plain std::filebufs, told by their type (a
// buffer without type information is not one), which do not say which C
// stream they write to but hold it: a member of the filebuf is stdout or
// stderr. A filebuf over any other C stream, or none, counts as the host's.
inline std::FILE* RuntimeBufferStream(std::streambuf& buffer) noexcept
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
    try {
        if (typeid(buffer) != typeid(std::filebuf)) {
            return nullptr;
        }
    } catch (...) {
        return nullptr;
    }
    // The filebuf's own bytes, read pointer by pointer: no address found
    // there is followed. The stream's address lies in no other member (those
    // point into buffers, the conversion facet, the locale, or inside a
    // stream's record, which lies at or past the stream's own address).
    for (std::FILE* const stream : {stderr, stdout}) {
        for (std::size_t at = 0; at + sizeof(stream) <= sizeof(std::filebuf);
             at += sizeof(stream)) {
            std::FILE* member = nullptr;
            std::memcpy(&member, reinterpret_cast<const char*>(&buffer) + at, sizeof(member));
            if (member == stream) {
                return stream;
            }
        }
    }
    return nullptr;
#else
    return nullptr;
#endif
}

} // namespace orvel::platform
