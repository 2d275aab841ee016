// Option records of 176 bytes that an SDK could declare, for the layout
// gate's test (option_record_layout_test.cmake): ORVEL_VARIANT picks one. All
// but the last are laid out otherwise than the plug-in fills the record, so
// the gate must refuse them; the last has the host's layout under a base
// class, which the gate must accept.
#pragma once

#include <cstdint>
#include <string>

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
#endif

} // namespace Marvelous
