#include "option_record.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace testing_host {
namespace {

// The listed fields: offset, width in bytes, and the value as a little-endian
// number (floats as their IEEE single-precision bits).
struct Field {
    std::size_t offset;
    std::size_t width;
    std::uint64_t value;
};

constexpr Field kFields[] = {
    {8, 1, 1},   {9, 1, 0},           {10, 1, 1},          {12, 4, 0},
    {16, 1, 0},  {17, 1, 0},          {18, 1, 0},          {20, 4, 0x45000000},
    {24, 4, 4},  {28, 4, 0x3F800000}, {32, 4, 0x3C23D70A}, {36, 1, 1},
    {37, 8, 0},  {48, 4, 0x3A83126F}, {52, 4, 0},          {56, 4, 1},
    {60, 4, 2},  {64, 4, 0},          {68, 4, 1},          {72, 4, 0},
    {76, 2, 0},  {78, 1, 0},          {80, 1, 0},          {84, 8, 0},
    {92, 1, 1},  {96, 4, 0x3F800000}, {100, 4, 30},        {104, 4, 0x3F800000},
    {108, 1, 0}, {112, 8, 0},         {120, 2, 0},         {124, 4, 0},
    {128, 1, 1}, {129, 1, 1},         {168, 4, 0},
};

std::uint64_t ValueAt(const unsigned char* record, const Field& field)
{
    std::uint64_t value = 0;
    for (std::size_t i = field.width; i > 0; --i) {
        value = (value << 8U) | record[field.offset + i - 1];
    }
    return value;
}

std::string Hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

const Field* FieldAt(std::size_t offset)
{
    for (const Field& field : kFields) {
        if (offset >= field.offset && offset < field.offset + field.width) {
            return &field;
        }
    }
    return nullptr;
}

std::uint64_t Word(const unsigned char* at)
{
    std::uint64_t word = 0;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// What a std::string of this runtime says about itself in its 32 bytes at
// `text`, read from those bytes alone.
struct StringState {
    std::uint64_t size;
    std::uint64_t capacity;
    // Where its characters begin: inside its own bytes (`inlineAt` from
    // `text`), or elsewhere, at the address `elsewhere` its bytes hold.
    bool inside;
    std::size_t inlineAt;
    std::uint64_t elsewhere;
};

StringState ReadString(const unsigned char* text)
{
    static_assert(sizeof(std::string) == 32 && sizeof(void*) == 8, "not a 64-bit release runtime");
    StringState state{};
#if defined(_MSVC_STL_VERSION)
    // Microsoft's runtime: a 16-byte union of the characters themselves and
    // the pointer to them on the heap, the size, the capacity. The characters
    // are inline while the capacity is below 16.
    state.size = Word(text + 16);
    state.capacity = Word(text + 24);
    state.inside = state.capacity < 16;
    state.inlineAt = 0;
    state.elsewhere = Word(text);
#elif defined(__GLIBCXX__) && _GLIBCXX_USE_CXX11_ABI
    // libstdc++: the pointer to the characters, the size, then 16 bytes that
    // hold the characters themselves when the pointer points at them (15 and
    // the terminator), else the capacity.
    const unsigned char* characters = nullptr;
    std::memcpy(&characters, text, sizeof characters);
    state.elsewhere = Word(text);
    state.size = Word(text + 8);
    state.inside = characters == text + 16;
    state.inlineAt = 16;
    state.capacity = state.inside ? 15 : Word(text + 16);
#else
#error "no layout of std::string is known for this runtime"
#endif
    return state;
}

} // namespace

std::string StringFault(const unsigned char* text)
{
    const StringState state = ReadString(text);
    // Every string of both runtimes has room for at least 15 characters.
    if (state.capacity < 15) {
        return "capacity " + std::to_string(state.capacity) + ", below the 15 of every string";
    }
    if (state.size > state.capacity) {
        return "size " + std::to_string(state.size) + " beyond its capacity " +
               std::to_string(state.capacity);
    }
    if (state.inside) {
        if (text[state.inlineAt + state.size] != 0) {
            return "no terminator after its " + std::to_string(state.size) + " characters";
        }
        return {};
    }
    // Characters elsewhere: their address is judged as a number and never
    // followed (the bytes may be no string's at all), so their terminator is
    // not looked at. On x86-64, Linux and Windows alike, the heap lies neither
    // in the first 64 KiB (never mapped) nor at 2^47 and above (Linux maps
    // there only when asked to, with 5-level paging).
    if (state.elsewhere == 0) {
        return "no characters (a null pointer)";
    }
    if (state.elsewhere < 0x10000U || state.elsewhere >= 0x8000'0000'0000U) {
        return "its characters' address " + Hex(state.elsewhere) +
               " is none the heap uses (the first 64 KiB, or 2^47 and above)";
    }
    const auto own = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(text));
    if (state.elsewhere >= own && state.elsewhere < own + sizeof(std::string)) {
        return "its characters' address " + Hex(state.elsewhere) +
               " lies inside its own bytes, but not at its buffer";
    }
    return {};
}

std::vector<std::string> WrongOptionFields(const unsigned char* record)
{
    std::vector<std::string> wrong;
    for (const Field& field : kFields) {
        if (ValueAt(record, field) != field.value) {
            wrong.push_back("offset " + std::to_string(field.offset) + ": " +
                            Hex(ValueAt(record, field)) + ", expected " + Hex(field.value));
        }
    }
    return wrong;
}

std::vector<std::string> ChangedUnlistedBytes(const unsigned char* made,
                                              const unsigned char* passed)
{
    std::vector<std::string> changed;
    for (std::size_t offset = 0; offset < kOptionRecordSize; ++offset) {
        const bool text = offset >= kOptionTextOffset && offset < kOptionTextEnd;
        if (!text && FieldAt(offset) == nullptr && made[offset] != passed[offset]) {
            changed.push_back("offset " + std::to_string(offset) + ": " + Hex(passed[offset]) +
                              ", made as " + Hex(made[offset]));
        }
    }
    return changed;
}

std::vector<std::string> FieldsMadeWithTheirValues(const unsigned char* made)
{
    std::vector<std::string> same;
    for (std::size_t offset = 0; offset < kOptionRecordSize; ++offset) {
        const Field* field = FieldAt(offset);
        const auto expected =
            field == nullptr ? 0U : (field->value >> (8U * (offset - field->offset))) & 0xFFU;
        if (field != nullptr && made[offset] == expected) {
            same.push_back("offset " + std::to_string(offset) + " is made as " + Hex(expected));
        }
    }
    return same;
}

} // namespace testing_host
