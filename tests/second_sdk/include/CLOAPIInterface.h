// A second SDK with the host's names and layout, for building the plug-in
// against an SDK other than the stand-in: its members have other names, its
// services more virtual functions before and after the two the plug-in calls,
// its option record is made by a constructor inside the library, and the host
// side installs services its own way. Linux only.
#pragma once

#include <string>
#include <vector>

#define SECOND_SDK_API __attribute__((visibility("default")))

namespace Marvelous {

// The host's 176-byte layout as byte blocks: the settings at offsets 8 to 135,
// the label text at 136 and the tail at 168. The constructor fills every byte
// of the blocks with kFill and makes the label a long, heap-held text.
class SECOND_SDK_API ImportExportOption {
public:
    static constexpr unsigned char kFill = 0x5A;

    ImportExportOption();
    ImportExportOption(const ImportExportOption&) = delete;
    ImportExportOption& operator=(const ImportExportOption&) = delete;
    virtual ~ImportExportOption();

    unsigned char settingsBlock[128];
    std::string exportLabel;
    unsigned char tailBlock[8];
};

} // namespace Marvelous

namespace CLOAPI {

class UtilityAPIInterface {
public:
    virtual ~UtilityAPIInterface() = default;
    virtual int InterfaceRevision() const = 0;
    virtual void ShowMessage(std::string message) = 0;
    virtual void ShowWarningDialog(const std::string& title, const std::string& text) = 0;

protected:
    UtilityAPIInterface() = default;
    UtilityAPIInterface(const UtilityAPIInterface&) = default;
    UtilityAPIInterface& operator=(const UtilityAPIInterface&) = default;
};

class ExportAPIInterface {
public:
    virtual ~ExportAPIInterface() = default;
    virtual std::vector<std::string> ExportProjectAsObj(const std::string& path) = 0;
    virtual bool CanExport() const = 0;
    virtual std::vector<std::string> ExportProjectAsGlb(const std::string& path,
                                                        Marvelous::ImportExportOption& option) = 0;
    virtual std::vector<std::string> ExportProjectAsFbx(const std::string& path) = 0;

protected:
    ExportAPIInterface() = default;
    ExportAPIInterface(const ExportAPIInterface&) = default;
    ExportAPIInterface& operator=(const ExportAPIInterface&) = default;
};

class SECOND_SDK_API APICommand {
public:
    static APICommand& getInstance();

    UtilityAPIInterface* GetUtilityAPI();
    ExportAPIInterface* GetExportAPI();

    // Host side: hands the plug-ins these services (null for none).
    void ProvideServices(UtilityAPIInterface* utility, ExportAPIInterface* exporter);

    APICommand(const APICommand&) = delete;
    APICommand& operator=(const APICommand&) = delete;

private:
    APICommand() = default;

    ExportAPIInterface* exportService_ = nullptr;
    UtilityAPIInterface* utilityService_ = nullptr;
};

} // namespace CLOAPI
