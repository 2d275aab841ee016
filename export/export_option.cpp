#include "export_option.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <type_traits>

// The host fixes the record's layout, not its members' names: a pointer to the
// record's virtual table, then plain values at fixed byte offsets and one
// std::string at offset 136, 176 bytes in all. Each SDK names the members its
// own way, so the record is filled by offset and width, and everything about
// that layout that a compiler can check is checked here, for MSVC and g++.
namespace orvel {
namespace {

using Record = Marvelous::ImportExportOption;

constexpr std::size_t kRecordSize = 176;
constexpr std::size_t kTextOffset = 136;
constexpr std::size_t kTextEnd = 168; // the first byte after the text's place

// A Debug build of the Microsoft runtime (a 40-byte std::string) has been
// refused already, with its reason, by export_option.h.
static_assert(sizeof(Record) == kRecordSize, "option record is not the host's 176 bytes");
static_assert(std::is_polymorphic_v<Record>,
              "option record has no virtual table pointer in front of its values");
static_assert(std::is_default_constructible_v<Record>, "the SDK must make the record itself");
// The values go into the record as the bytes of the host's own types.
static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == 4,
              "float is not IEEE single precision");
// The text lies wholly in its place, and a record's address is one where a
// std::string may live at offset 136.
static_assert(kTextOffset + sizeof(std::string) <= kTextEnd, "std::string overflows its place");
static_assert(kTextOffset % alignof(std::string) == 0 && alignof(Record) >= alignof(std::string),
              "offset 136 of the record is no place for a std::string");

// Copies the bytes of `value` to `Offset` of the record. Each write is checked
// at compile time: it lies inside the record, clear of the virtual table
// pointer in front and of the std::string, whose bytes belong to the string.
template <std::size_t Offset, typename Value>
void Put(unsigned char* record, const Value& value)
{
    static_assert(std::is_trivially_copyable_v<Value>, "only plain values are copied in");
    static_assert(Offset >= sizeof(void*), "write over the virtual table pointer");
    static_assert(Offset + sizeof(Value) <= kRecordSize, "write past the end of the record");
    static_assert(Offset + sizeof(Value) <= kTextOffset || Offset >= kTextEnd,
                  "write over the text string");
    std::memcpy(record + Offset, &value, sizeof(Value));
}

using Byte = std::uint8_t;
template <std::size_t Count>
using ZeroBytes = std::array<std::uint8_t, Count>;

} // namespace

void FillExportOption(Record& option)
{
    // The record's bytes, reached as unsigned char, which may look at and
    // change the bytes of any object. Numbers are written in the machine's own
    // byte order, which is the host's: both run on the same processor.
    auto* const record = reinterpret_cast<unsigned char*>(&option);
    Put<8>(record, Byte{1});
    Put<9>(record, Byte{0});
    Put<10>(record, Byte{1});
    Put<12>(record, std::uint32_t{0});
    Put<16>(record, Byte{0});
    Put<17>(record, Byte{0});
    Put<18>(record, Byte{0});
    Put<20>(record, 2048.0F);
    Put<24>(record, std::int32_t{4});
    Put<28>(record, 1.0F);
    Put<32>(record, 0.01F);
    Put<36>(record, Byte{1});
    Put<37>(record, ZeroBytes<8>{});
    Put<48>(record, 0.001F);
    Put<52>(record, std::uint32_t{0});
    Put<56>(record, std::int32_t{1});
    Put<60>(record, std::int32_t{2});
    Put<64>(record, std::uint32_t{0});
    Put<68>(record, std::int32_t{1});
    Put<72>(record, std::uint32_t{0});
    Put<76>(record, ZeroBytes<2>{});
    Put<78>(record, Byte{0});
    Put<80>(record, Byte{0});
    Put<84>(record, ZeroBytes<8>{});
    Put<92>(record, Byte{1});
    Put<96>(record, 1.0F);
    Put<100>(record, std::int32_t{30});
    Put<104>(record, 1.0F);
    Put<108>(record, Byte{0});
    Put<112>(record, ZeroBytes<8>{});
    Put<120>(record, ZeroBytes<2>{});
    Put<124>(record, std::uint32_t{0});
    Put<128>(record, Byte{1});
    Put<129>(record, Byte{1});
    // The text is a live std::string of the runtime that host and plug-in
    // share, made by the SDK's constructor at offset 136 and alive as long as
    // the record. It is emptied through its own code, never by copying bytes
    // over it: its bytes hold a pointer to memory it may own (a long default
    // text) and a layout that is the runtime's business. std::launder turns
    // the address into a pointer to that very string, which a cast from the
    // record's bytes alone does not promise.
    std::launder(reinterpret_cast<std::string*>(record + kTextOffset))->clear();
    Put<168>(record, std::uint32_t{0});
}

} // namespace orvel
