#include "export_action.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "export/glb_export.h"
#include "export/settings_file.h"
#include "export/viewer_launch.h"
#include "export/workspace_folder.h"
#include "host/host_services.h"

namespace orvel {
namespace {

constexpr char kGlbBaseName[] = "Prepped_For_ORVEL";
constexpr char kSettingsFileName[] = "API.json";
constexpr char kExportedMessage[] = "Exported project to ";
constexpr char kMayShowEarlier[] = ". ORVEL may show an earlier export.";
constexpr char kMayNotOpen[] = ". ORVEL may not be able to open it.";

// The system's reason, without the full stop or line end some systems add.
std::string Reason(const std::error_code& code)
{
    std::string reason = code.message();
    while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n' ||
                               reason.back() == '\r' || reason.back() == ' ')) {
        reason.pop_back();
    }
    return reason;
}

// The workspace folder, or nothing when it cannot be made; the user is then
// told which folder and why, and that nothing was exported.
std::optional<std::string> WorkspaceFolderOrTell()
{
    try {
        return PrepareWorkspaceFolder();
    } catch (const std::filesystem::filesystem_error& error) {
        host::ShowMessage("Export for ORVEL stopped: could not create the folder " +
                          error.path1().generic_string() + " (" + Reason(error.code()) +
                          "). Nothing was exported.");
        return std::nullopt;
    }
}

void RunSteps()
{
    const std::optional<std::string> folder = WorkspaceFolderOrTell();
    if (!folder) {
        return;
    }
    const ExportedGlb glb = ExportSceneToGlb(*folder, kGlbBaseName);
    const std::string settingsPath = *folder + kSettingsFileName;
    // Lives to the end of the action; its destruction writes the console line.
    const OrvelImportInterface settings(glb.path);
    const std::error_code settingsError = settings.WriteSettingsFile(settingsPath);
    // "Exported" only when both files are this run's and whole; otherwise the
    // user learns which is not, since the viewer may then show an earlier
    // export or fail to open this one. Without an export service there is no
    // export to announce: the user has been told why.
    if (glb.written == GlbWrite::Nothing) {
        host::ShowMessage("CLO 3D did not write " + glb.path + kMayShowEarlier);
    } else if (glb.written == GlbWrite::Incomplete) {
        host::ShowMessage("CLO 3D wrote an incomplete " + glb.path + kMayNotOpen);
    } else if (glb.written == GlbWrite::Unchecked) {
        host::ShowMessage("Could not check " + glb.path + " (" + Reason(glb.error) + ")" +
                          kMayNotOpen);
    }
    if (settingsError) {
        host::ShowMessage("Could not write " + settingsPath + " (" + Reason(settingsError) + ")" +
                          kMayShowEarlier);
    }
    if (glb.written == GlbWrite::Complete && !settingsError) {
        host::ShowMessage(kExportedMessage + glb.path);
    }
    LaunchViewer(settingsPath, *folder);
}

// Tells the user why the action stopped. Nothing escapes, not even a failed
// allocation while forming the text.
void ReportFailure(const std::exception_ptr& failure) noexcept
{
    try {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            host::ShowMessage(std::string("Export for ORVEL stopped by an error: ") + error.what());
        } catch (...) {
            host::ShowMessage("Export for ORVEL stopped by an unknown error.");
        }
    } catch (...) {
    }
}

} // namespace

void ExportAction() noexcept
{
    try {
        RunSteps();
    } catch (...) {
        ReportFailure(std::current_exception());
    }
}

} // namespace orvel
