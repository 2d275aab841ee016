// Stand-in for the host application's SDK interface library.
//
// The host's own CLOAPIInterface library is closed. This header declares the
// part of it that the plug-in uses, so that the plug-in can be built, run and
// tested without the host. The host side (a test or the stand-in host program)
// installs its services with SetUtilityAPI / SetExportAPI and may read the
// record of service look-ups that the plug-in made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32)
#if defined(CLOAPI_BUILDING_LIBRARY)
#define CLOAPI_API __declspec(dllexport)
#else
#define CLOAPI_API __declspec(dllimport)
#endif
#else
#define CLOAPI_API __attribute__((visibility("default")))
#endif

namespace Marvelous {

// Option record of the host's GLB export. Its layout is fixed by the host: a
// virtual table pointer, then the fields below at the byte offsets in their
// names, 176 bytes in all. What each field means is the host's business; the
// names only say where a field lies and how wide it is.
//
// The defaults deliberately differ from what the plug-in passes, so that a
// test reading the record sees every field the plug-in forgot to set.
class ImportExportOption {
public:
    ImportExportOption() = default;
    ImportExportOption(const ImportExportOption&) = default;
    ImportExportOption& operator=(const ImportExportOption&) = default;
    virtual ~ImportExportOption() = default;

    bool flag08 = false;
    bool flag09 = true;
    bool flag10 = false;
    std::uint32_t value12 = 0xFFFFFFFFU;
    bool flag16 = true;
    bool flag17 = true;
    bool flag18 = true;
    float real20 = -1.0F;
    std::int32_t count24 = -1;
    float real28 = -1.0F;
    float real32 = -1.0F;
    bool flag36 = false;
    bool flags37[8] = {true, true, true, true, true, true, true, true};
    float real48 = -1.0F;
    std::uint32_t value52 = 0xFFFFFFFFU;
    std::int32_t count56 = -1;
    std::int32_t count60 = -1;
    std::uint32_t value64 = 0xFFFFFFFFU;
    std::int32_t count68 = -1;
    std::uint32_t value72 = 0xFFFFFFFFU;
    bool flags76[2] = {true, true};
    bool flag78 = true;
    bool flag79 = true; // not set by the plug-in
    bool flag80 = true;
    std::uint32_t values84[2] = {0xFFFFFFFFU, 0xFFFFFFFFU};
    bool flag92 = false;
    float real96 = -1.0F;
    std::int32_t count100 = -1;
    float real104 = -1.0F;
    bool flag108 = true;
    std::uint32_t values112[2] = {0xFFFFFFFFU, 0xFFFFFFFFU};
    bool flags120[2] = {true, true};
    std::uint32_t value124 = 0xFFFFFFFFU;
    bool flag128 = false;
    bool flag129 = false;
    std::string text136 = "host default";
    std::uint32_t value168 = 0xFFFFFFFFU;
};

} // namespace Marvelous

#if defined(_MSC_VER)
// The singleton keeps standard containers; host and plug-in share one runtime.
#pragma warning(push)
#pragma warning(disable : 4251)
#endif

namespace CLOAPI {

// Service that shows messages to the user.
class UtilityAPIInterface {
public:
    virtual ~UtilityAPIInterface() = default;
    virtual void ShowMessage(std::string message) = 0;

protected:
    UtilityAPIInterface() = default;
    UtilityAPIInterface(const UtilityAPIInterface&) = default;
    UtilityAPIInterface& operator=(const UtilityAPIInterface&) = default;
};

// Service that exports the project open in the host.
class ExportAPIInterface {
public:
    virtual ~ExportAPIInterface() = default;
    // Writes the open project as a binary glTF file at `path`.
    virtual std::vector<std::string> ExportProjectAsGlb(const std::string& path,
                                                        Marvelous::ImportExportOption& option) = 0;

protected:
    ExportAPIInterface() = default;
    ExportAPIInterface(const ExportAPIInterface&) = default;
    ExportAPIInterface& operator=(const ExportAPIInterface&) = default;
};

// The host's command singleton, shared by the host program and every plug-in
// it loads. Services are handed out as pointers that may be null.
class CLOAPI_API APICommand {
public:
    static APICommand& getInstance();

    UtilityAPIInterface* GetUtilityAPI();
    ExportAPIInterface* GetExportAPI();

    // Host side: installs a service; null removes it. The host keeps ownership.
    void SetUtilityAPI(UtilityAPIInterface* service);
    void SetExportAPI(ExportAPIInterface* service);

    // Host side: the names of the calls made to getInstance, GetUtilityAPI and
    // GetExportAPI, oldest first, and a way to start the record afresh.
    std::vector<std::string> CallRecord() const;
    void ClearCallRecord();

    APICommand(const APICommand&) = delete;
    APICommand& operator=(const APICommand&) = delete;

private:
    APICommand() = default;
    ~APICommand() = default;

    UtilityAPIInterface* utility_ = nullptr;
    ExportAPIInterface* export_ = nullptr;
    std::vector<std::string> calls_;
};

} // namespace CLOAPI

#if defined(_MSC_VER)
#pragma warning(pop)
#endif

static_assert(sizeof(Marvelous::ImportExportOption) == 176,
              "the option record must match the host's layout (a 32-byte std::string, as in "
              "the host's runtime): build Release");
