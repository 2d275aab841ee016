#include "fake_host.h"

#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <system_error>

namespace testing_host {

void RecordingUtility::ShowMessage(std::string message)
{
    if (echo) {
        std::cout << "message: " << message << std::endl;
    }
    if (onMessage) {
        onMessage(message);
    }
    messages.push_back(message);
    if (throws) {
        throw std::runtime_error("message service failed");
    }
}

std::vector<std::string>
RecordingExporter::ExportProjectAsGlb(const std::string& path,
                                      Marvelous::ImportExportOption& option)
{
    Call call;
    call.path = path;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&option);
    call.option.assign(bytes, bytes + sizeof(option));
    call.optionText = option.text136;
    calls.push_back(call);
    if (throws) {
        throw std::runtime_error("export service failed");
    }
    if (throwsFilesystemError) {
        throw std::filesystem::filesystem_error(
            "write", path, std::make_error_code(std::errc::no_space_on_device));
    }
    if (write) {
        write(path);
    }
    return {path, "a list the plug-in must not need"};
}

InstalledServices::InstalledServices(CLOAPI::UtilityAPIInterface* utility,
                                     CLOAPI::ExportAPIInterface* exporter)
{
    CLOAPI::APICommand& command = CLOAPI::APICommand::getInstance();
    command.SetUtilityAPI(utility);
    command.SetExportAPI(exporter);
    command.ClearCallRecord();
}

InstalledServices::~InstalledServices()
{
    CLOAPI::APICommand& command = CLOAPI::APICommand::getInstance();
    command.SetUtilityAPI(nullptr);
    command.SetExportAPI(nullptr);
    command.ClearCallRecord();
}

std::vector<std::string> CallRecord()
{
    // getInstance records itself; leave that look-up out of the answer.
    std::vector<std::string> calls = CLOAPI::APICommand::getInstance().CallRecord();
    calls.pop_back();
    return calls;
}

} // namespace testing_host
