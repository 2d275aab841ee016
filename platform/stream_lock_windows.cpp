#include "stream_lock.h"

#include <windows.h>

#if defined(_MSC_VER)
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <locale>
#include <memory>
#include <new>
#include <typeinfo>
#endif

namespace orvel::platform {
namespace {

using StreamLockCall = void(__cdecl*)(std::FILE*);

// The C runtime's own stream lock calls. MinGW-w64's import library for
// msvcrt.dll brings its own _lock_file, which imitates msvcrt's lock table
// rather than calling msvcrt: under Wine it takes another lock than the one
// msvcrt's fwrite, fflush and clearerr take, so it keeps no other thread out.
// msvcrt.dll's own exports do. The Microsoft runtime's _lock_file is its own.
struct StreamLockCalls {
    StreamLockCall lock = &_lock_file;
    StreamLockCall unlock = &_unlock_file;

    StreamLockCalls() noexcept
    {
#if defined(__MINGW32__) && !defined(_UCRT)
        const HMODULE runtime = GetModuleHandleW(L"msvcrt.dll");
        const FARPROC ownLock =
            runtime != nullptr ? GetProcAddress(runtime, "_lock_file") : nullptr;
        const FARPROC ownUnlock =
            runtime != nullptr ? GetProcAddress(runtime, "_unlock_file") : nullptr;
        if (ownLock != nullptr && ownUnlock != nullptr) {
            lock = reinterpret_cast<StreamLockCall>(reinterpret_cast<void (*)()>(ownLock));
            unlock = reinterpret_cast<StreamLockCall>(reinterpret_cast<void (*)()>(ownUnlock));
        }
#endif
    }
};

const StreamLockCalls& Calls() noexcept
{
    static const StreamLockCalls calls;
    return calls;
}

#if defined(_MSC_VER)
void __cdecl IgnoreInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                                    std::uintptr_t)
{
}

// Copies `size` bytes at `address` when all of them lie in committed pages
// that may be read.
bool ReadMemory(std::uintptr_t address, void* out, std::size_t size) noexcept
{
    const std::uintptr_t end = address + size;
    if (end < address) {
        return false;
    }
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    for (std::uintptr_t at = address; at < end;) {
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof(region)) == 0 ||
            region.State != MEM_COMMIT || (region.Protect & kReadable) == 0 ||
            (region.Protect & PAGE_GUARD) != 0) {
            return false;
        }
        at = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
    }
    std::memcpy(out, reinterpret_cast<const void*>(address), size);
    return true;
}

// The image of the module that holds an address, as the loader mapped it.
// Reads stay inside it and in readable pages, so no address found in the
// host's memory is followed anywhere else.
class Image {
public:
    explicit Image(std::uintptr_t address) noexcept
    {
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQuery(reinterpret_cast<const void*>(address), &region, sizeof(region)) == 0 ||
            region.Type != MEM_IMAGE) {
            return;
        }
        const auto base = reinterpret_cast<std::uintptr_t>(region.AllocationBase);
        IMAGE_DOS_HEADER dos{};
        IMAGE_NT_HEADERS64 nt{};
        if (ReadMemory(base, &dos, sizeof(dos)) && dos.e_lfanew > 0 &&
            ReadMemory(base + static_cast<std::uintptr_t>(dos.e_lfanew), &nt, sizeof(nt))) {
            base_ = base;
            end_ = base + nt.OptionalHeader.SizeOfImage;
        }
    }

    std::uintptr_t base() const noexcept { return base_; }

    // Copies `size` bytes at `address` when all of them lie in the image.
    bool Read(std::uintptr_t address, void* out, std::size_t size) const noexcept
    {
        return address >= base_ && address < end_ && size <= end_ - address &&
               ReadMemory(address, out, size);
    }

private:
    std::uintptr_t base_ = 0;
    std::uintptr_t end_ = 0;
};

// Whether the buffer's class is std::filebuf exactly. The compiler lays the
// address of a class's type record (its complete-object locator) just before
// its virtual table, but only for a class compiled with type information:
// before another class's table lies whatever the linker put there, often
// another table's last entry, a code address. So the record is read, never
// followed outside the module that holds the table, and taken only when its
// signature and its own offset from the module's base agree; its type's
// decorated name is then compared with std::filebuf's. The runtime is never
// asked the buffer's type: for a class without type information it would
// read such a code address as a type record and fault.
bool IsExactlyFilebuf(const std::streambuf& buffer) noexcept
{
    std::uintptr_t table = 0;
    std::memcpy(&table, static_cast<const void*>(&buffer), sizeof(table));
    const Image image(table);
    std::uintptr_t locatorAddress = 0;
    if (!image.Read(table - sizeof(locatorAddress), &locatorAddress, sizeof(locatorAddress))) {
        return false;
    }
    struct Locator {
        std::uint32_t signature; // 1: the offsets below are from the module's base
        std::uint32_t offset;
        std::uint32_t constructorOffset;
        std::uint32_t typeRecord;
        std::uint32_t classRecord;
        std::uint32_t self;
    } locator{};
    if (!image.Read(locatorAddress, &locator, sizeof(locator)) || locator.signature != 1 ||
        locator.self != locatorAddress - image.base()) {
        return false;
    }
    // A type record: its class's virtual table, a spare word, then the name.
    const char* const name = typeid(std::filebuf).raw_name();
    const std::size_t size = std::strlen(name) + 1;
    char found[128] = {};
    return size <= sizeof(found) &&
           image.Read(image.base() + locator.typeRecord + 2 * sizeof(void*), found, size) &&
           std::memcmp(found, name, size) == 0;
}

// A conversion facet whose own conversion a filebuf must call.
class Converting : public std::codecvt<char, char, std::mbstate_t> {
protected:
    bool do_always_noconv() const noexcept override { return false; }
};

// A std::filebuf made here in zeroed storage: a member the class leaves unset
// stays zero, and so can never be taken for the stream or the facet.
class MadeFilebuf {
public:
    explicit MadeFilebuf(std::FILE* stream) : buffer_(*new (storage_) std::filebuf(stream)) {}
    MadeFilebuf(const MadeFilebuf&) = delete;
    MadeFilebuf& operator=(const MadeFilebuf&) = delete;
    ~MadeFilebuf() { buffer_.~basic_filebuf(); }

    std::filebuf& buffer() noexcept { return buffer_; }
    const void* At(std::size_t offset) const noexcept { return WordAt(buffer_, offset); }

    static const void* WordAt(const std::streambuf& buffer, std::size_t offset) noexcept
    {
        const void* word = nullptr;
        std::memcpy(&word, reinterpret_cast<const char*>(&buffer) + offset, sizeof(word));
        return word;
    }

private:
    alignas(std::filebuf) unsigned char storage_[sizeof(std::filebuf)] = {};
    std::filebuf& buffer_;
};

// A word that a filebuf made here holds in the member looked for.
struct Holding {
    const MadeFilebuf* made;
    const void* word;
};

// The offset of the one pointer-sized member in which each filebuf holds its
// word; none when no member or several do.
bool OnlyMemberWhere(std::initializer_list<Holding> holdings, std::size_t& offset) noexcept
{
    std::size_t found = 0;
    for (std::size_t at = 0; at + sizeof(void*) <= sizeof(std::filebuf); at += sizeof(void*)) {
        bool all = true;
        for (const Holding& holding : holdings) {
            all = all && holding.made->At(at) == holding.word;
        }
        if (all) {
            offset = at;
            ++found;
        }
    }
    return found == 1;
}
#endif

} // namespace

StreamLock::StreamLock(std::FILE* stream) noexcept
    : stream_(stream)
#if defined(_MSC_VER)
      ,
      previousHandler_(_set_thread_local_invalid_parameter_handler(&IgnoreInvalidParameter))
#endif
{
    Calls().lock(stream_);
}

StreamLock::~StreamLock()
{
    Calls().unlock(stream_);
#if defined(_MSC_VER)
    _set_thread_local_invalid_parameter_handler(previousHandler_);
#endif
}

#if defined(_MSC_VER)
// Microsoft's std::filebuf does not say which C stream it writes through, but
// keeps it in a member, found in filebufs made here over stdout, over stderr
// and over none: the member that holds each one's stream. (The get and put
// pointers of a filebuf over a stream point into the stream's record, which
// may begin with the pointer they point to; two members are left unset until
// a character is put back.) A filebuf with a conversion facet calls the
// facet's code, which may be the host's: found the same way, in a filebuf
// made with one, it makes the buffer count as the host's. The class is a
// template that each module instantiates, so a filebuf of the host's has its
// virtual table and type record in the host's module. A filebuf that cannot
// be told, for want of memory or of the members looked for, gets no line.
std::optional<std::FILE*> MicrosoftFilebufStream(const std::streambuf& buffer) noexcept
{
    if (!IsExactlyFilebuf(buffer)) {
        return nullptr;
    }
    try {
        const MadeFilebuf overStdout(stdout);
        const MadeFilebuf overStderr(stderr);
        const MadeFilebuf overNone(nullptr);
        MadeFilebuf converting(nullptr);
        auto made = std::make_unique<Converting>();
        const std::locale withFacet(std::locale::classic(), made.get());
        made.release(); // the locale owns it now
        converting.buffer().pubimbue(withFacet);
        const auto& facet = std::use_facet<std::codecvt<char, char, std::mbstate_t>>(withFacet);
        std::size_t streamAt = 0;
        std::size_t facetAt = 0;
        // A filebuf whose members cannot be found is not told either way.
        if (!OnlyMemberWhere({{&overStdout, stdout}, {&overStderr, stderr}, {&overNone, nullptr}},
                             streamAt) ||
            !OnlyMemberWhere({{&converting, &facet}, {&overNone, nullptr}}, facetAt)) {
            return std::nullopt;
        }
        if (MadeFilebuf::WordAt(buffer, facetAt) != nullptr) {
            return nullptr;
        }
        return static_cast<std::FILE*>(const_cast<void*>(MadeFilebuf::WordAt(buffer, streamAt)));
    } catch (...) {
        return std::nullopt;
    }
}
#endif

} // namespace orvel::platform
