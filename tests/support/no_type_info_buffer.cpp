// A stream buffer of a host compiled without type information (-fno-rtti,
// /GR-): its virtual table has no type to tell.
#include <streambuf>

namespace testing_host {

std::streambuf& NoTypeInfoBuffer()
{
    class Buffer : public std::streambuf {};
    static Buffer buffer;
    return buffer;
}

} // namespace testing_host
