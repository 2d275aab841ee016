// Stream buffers of a host compiled without type information (-fno-rtti,
// /GR-): their virtual tables have no type to tell.
#include <cstring>
#include <streambuf>
#include <string>

namespace testing_host {
namespace {

class Buffer : public std::streambuf {
public:
    std::string received;

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override
    {
        received.append(text, static_cast<std::size_t>(count));
        return count;
    }
};

#if defined(_MSC_VER)
// Bytes in the module's code section, laid out as a type record would be:
// signature 1, with a type record at the module's base, which by its own
// offset lies 4 GiB below it, where nothing is mapped. A runtime that took a
// code address before a virtual table for a type record would read there.
#pragma section(".text$orvel", read, execute)
__declspec(allocate(".text$orvel")) extern const unsigned char kCodeBytes[24] = {
    1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff};

// A copy of a buffer's virtual table (Microsoft's std::streambuf has 15
// virtual functions), preceded by a word of the test's choice: a code
// address, as when an MSVC-style linker lays a table right after another
// table's last entry, or the address of a forged type record.
struct TableAfterCode {
    const void* before;
    const void* slots[15];
};
#endif

} // namespace

std::streambuf& NoTypeInfoBuffer()
{
    static Buffer buffer;
    return buffer;
}

#if defined(_MSC_VER)
const void* CodeLikeATypeRecord() { return kCodeBytes; }

std::streambuf& NoTypeInfoBufferAfter(const void* before)
{
    static Buffer buffer;
    static TableAfterCode table = [] {
        TableAfterCode made{};
        const void* own = nullptr;
        std::memcpy(&own, static_cast<const void*>(&buffer), sizeof(own));
        std::memcpy(static_cast<void*>(made.slots), own, sizeof(made.slots));
        return made;
    }();
    table.before = before;
    // The buffer's own table pointer is replaced by the copy's.
    const void* const slots = table.slots;
    std::memcpy(static_cast<void*>(&buffer), &slots, sizeof(slots));
    return buffer;
}

std::string TakeNoTypeInfoText(std::streambuf& buffer)
{
    std::string taken;
    taken.swap(static_cast<Buffer&>(buffer).received);
    return taken;
}
#endif

} // namespace testing_host
