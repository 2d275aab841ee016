#include "viewer_launch.h"

#include "host/host_services.h"
#include "platform/process_start.h"

namespace orvel {
namespace {

constexpr char kViewerExecutable[] = "C:\\Program Files\\ORVEL\\ORVEL.exe";
constexpr char kOpeningMessage[] = "Attempting to open ORVEL.";
constexpr char kFailureMessage[] = "Failed to open ORVEL.  You can access your imported files at ";

} // namespace

void LaunchViewer(const std::string& settingsPath, const std::string& folder)
{
    const std::string settingsArgument = "-Settings=\"" + settingsPath + "\"";
    const std::string commandLine = std::string(kViewerExecutable) + " " + settingsArgument;
    host::ShowMessage(kOpeningMessage);
    if (!platform::StartProcess(kViewerExecutable, commandLine)) {
        host::ShowMessage(kFailureMessage + folder);
    }
}

} // namespace orvel
