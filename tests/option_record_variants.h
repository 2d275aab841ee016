// Option records of 176 bytes that an SDK could declare, for the layout
// gate's test (option_record_layout_test.cmake): ORVEL_VARIANT picks one. The
// test's rows say which the gate must refuse (laid out otherwise than the
// plug-in fills the record, or with a pointer where it writes plain values)
// and which it must accept (the host's layout, however declared).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Marvelous {

#if ORVEL_VARIANT == 1
// The text behind a pointer at 136, the text itself at 144.
class ImportExportOption {
public:
    virtual ~ImportExportOption() = default;
    unsigned char settings[128];
    std::string* text;
    std::string label;
};
#elif ORVEL_VARIANT == 2
// The SDK's own 32-byte text class at 136.
class Text {
public:
    char* data;
    std::uint64_t length;
    std::uint64_t capacity;
    void* allocator;
};
class ImportExportOption {
public:
    virtual ~ImportExportOption() = default;
    unsigned char settings[128];
    Text label;
    std::uint32_t tail;
};
#elif ORVEL_VARIANT == 3
// A second polymorphic base, whose virtual table pointer lies at 8.
class Options {
public:
    virtual ~Options() = default;
};
class Observable {
public:
    virtual void Changed() {}
};
class ImportExportOption : public Options, public Observable {
public:
    unsigned char settings[120];
    std::string label;
    std::uint32_t tail;
};
#elif ORVEL_VARIANT == 4
// A wide string at 136.
class ImportExportOption {
public:
    virtual ~ImportExportOption() = default;
    unsigned char settings[128];
    std::wstring label;
    std::uint32_t tail;
};
#elif ORVEL_VARIANT == 5
// The text first, at offset 8.
class ImportExportOption {
public:
    virtual ~ImportExportOption() = default;
    std::string label;
    unsigned char settings[136];
};
#elif ORVEL_VARIANT == 6
// A 40-byte text (a debugging runtime's): the record is 184 bytes.
class ImportExportOption {
public:
    virtual ~ImportExportOption() = default;
    unsigned char settings[128];
    std::string label;
    void* debugProxy;
    std::uint32_t tail;
};
#elif ORVEL_VARIANT == 7
// A virtual base, laid out after the record's own members.
class Options {
public:
    unsigned char settings[8];
};
class ImportExportOption : public virtual Options {
public:
    unsigned char more[128];
    std::string label;
};
#elif ORVEL_VARIANT == 8
// The host's layout, its one virtual table pointer coming from a base class.
class Options {
public:
    virtual ~Options() = default;
};
class ImportExportOption : public Options {
public:
    unsigned char settings[128];
    std::string label;
    std::uint32_t tail;
};
#elif ORVEL_VARIANT == 9
// A pointer at 8, where the plug-in writes plain values.
class ImportExportOption {
public:
    virtual ~ImportExportOption() = default;
    void* context;
    unsigned char settings[120];
    std::string label;
    std::uint32_t tail;
};
#elif ORVEL_VARIANT == 10
// A second text at 8: 176 bytes with the text at 136 all the same.
class ImportExportOption {
public:
    virtual ~ImportExportOption() = default;
    std::string name;
    unsigned char settings[96];
    std::string label;
    std::uint32_t tail;
};
#elif ORVEL_VARIANT == 11
// A view of a text at 8.
class ImportExportOption {
public:
    virtual ~ImportExportOption() = default;
    std::string_view name;
    unsigned char settings[112];
    std::string label;
    std::uint32_t tail;
};
#elif ORVEL_VARIANT == 12
// A pointer under a typedef's name at 8.
typedef void* HANDLE;
class ImportExportOption {
public:
    virtual ~ImportExportOption() = default;
    HANDLE window;
    unsigned char settings[120];
    std::string label;
    std::uint32_t tail;
};
#elif ORVEL_VARIANT == 13
// Pointers inside the records of an array at 8.
struct Entry {
    const char* name;
    float value;
};
class ImportExportOption {
public:
    virtual ~ImportExportOption() = default;
    Entry entries[2];
    unsigned char settings[96];
    std::string label;
    std::uint32_t tail;
};
#elif ORVEL_VARIANT == 14
// An empty virtual base.
class Marker {};
class ImportExportOption : public virtual Marker {
public:
    unsigned char settings[128];
    std::string label;
    std::uint32_t tail;
};
#elif ORVEL_VARIANT == 15
// The host's layout with plain values in a nested record, an array of them
// and an enumeration.
struct Size {
    float width;
    float height;
};
enum class Axis : std::uint32_t { X, Y, Z };
class ImportExportOption {
public:
    virtual ~ImportExportOption() = default;
    Size size;
    Size sizes[2];
    Axis up;
    unsigned char settings[100];
    std::string label;
    std::uint32_t tail;
};
#elif ORVEL_VARIANT == 16
// The host's layout in a polymorphic base class, the record a name for a
// class derived from it that adds nothing.
class Options {
public:
    virtual ~Options() = default;
    unsigned char settings[128];
    std::string label;
    std::uint32_t tail;
};
class Record : public Options {};
using ImportExportOption = Record;
#elif ORVEL_VARIANT == 17
// A pointer at 8 in builds with NDEBUG (Release) only, a plain value of the
// same size in the others.
class ImportExportOption {
public:
    virtual ~ImportExportOption() = default;
#if defined(NDEBUG)
    void* context;
#else
    std::uintptr_t context;
#endif
    unsigned char settings[120];
    std::string label;
    std::uint32_t tail;
};
#endif

} // namespace Marvelous
