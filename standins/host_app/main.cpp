// Stand-in for the host application, to run and debug the plug-in end to end
// without it: opens a project, installs the host's services and the stand-in
// viewer, loads the plug-in module by file name, places its action, sends the
// after-load notification, runs the action, and then shows what the plug-in
// left in its workspace folder and what the viewer received.
//
// Exit code 0 when the run went through, whatever the plug-in reported;
// 1 when the host itself could not go on (a project or module that will not
// load, no drive); 2 for bad options; 3 when --export-ends-host ended it.
#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "CLOAPIInterface.h"
#include "console_services.h"
#include "glb_export_service.h"
#include "gltf_support.h"
#include "host_drive.h"
#include "plugin_module.h"
#include "program_environment.h"
#include "project.h"

namespace {

#if defined(_WIN32)
constexpr char kModuleName[] = "ORVELPlugin.dll";
#else
constexpr char kModuleName[] = "ORVELPlugin.so";
#endif
constexpr char kReportFile[] = "orvel-viewer-report.txt";
constexpr auto kReportTimeout = std::chrono::seconds(15);
constexpr char kLaunchFailure[] = "Failed to open ORVEL.";

struct Options {
    std::string module;
    std::string fileType = "ZPRJ";
    std::string projectFile;
    bool utilityService = true;
    bool exportService = true;
    standin::GlbExportService::Fault exportFault = standin::GlbExportService::Fault::None;
    bool viewer = true;
    bool help = false;
};

std::string DefaultModule()
{
#if defined(_WIN32)
    // Found beside the host program by the module search.
    return kModuleName;
#else
    return (standin::ProgramFolder() / kModuleName).string();
#endif
}

void PrintUsage(std::ostream& out)
{
    out << "usage: orvel_host [options] [PROJECT]\n"
           "Runs the plug-in's action \"Export for ORVEL\" the way the host application does.\n"
           "  PROJECT              .gltf or .glb file to open as the project (default: a\n"
           "                       built-in scene, one cube)\n"
           "  --plugin FILE        plug-in module to load (default "
        << DefaultModule()
        << ")\n"
           "  --file-type TEXT     file type sent with the after-load notification (default ZPRJ)\n"
           "  --no-utility-service offer no message service to the plug-in\n"
           "  --no-export-service  offer no export service to the plug-in\n"
           "  --export-writes-nothing\n"
           "                       the export service writes no file, as a host whose export\n"
           "                       fails inside (a GLB from an earlier run stays as it is)\n"
           "  --export-ends-host   the export service ends the host process (exit code 3),\n"
           "                       as a host that dies inside the export\n"
           "  --no-viewer          remove the installed viewer, so that starting it fails\n"
           "  --help               show this text\n"
#if !defined(_WIN32)
           "The working folder holds the host's drive: C:/ORVEL is ./C:/ORVEL.\n"
#endif
        ;
}

// Reads the options; says what is wrong with them in `error`.
std::optional<Options> ParseOptions(const std::vector<std::string>& arguments, std::string& error)
{
    Options options;
    options.module = DefaultModule();
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (option == "--plugin" && hasValue) {
            options.module = arguments[++i];
        } else if (option == "--file-type" && hasValue) {
            options.fileType = arguments[++i];
        } else if (option == "--no-utility-service") {
            options.utilityService = false;
        } else if (option == "--no-export-service") {
            options.exportService = false;
        } else if (option == "--export-writes-nothing") {
            options.exportFault = standin::GlbExportService::Fault::WritesNothing;
        } else if (option == "--export-ends-host") {
            options.exportFault = standin::GlbExportService::Fault::EndsHost;
        } else if (option == "--no-viewer") {
            options.viewer = false;
        } else if (option == "--help") {
            options.help = true;
        } else if (!option.empty() && option[0] == '-') {
            error = option == "--plugin" || option == "--file-type" ? option + " needs a value"
                                                                    : "unknown option " + option;
            return std::nullopt;
        } else if (options.projectFile.empty()) {
            options.projectFile = option;
        } else {
            error = "more than one project file: " + options.projectFile + ", " + option;
            return std::nullopt;
        }
    }
    return options;
}

// Removes the report file and its unfinished form, so that only this run's
// report can appear there.
void ClearReport(const std::filesystem::path& report)
{
    std::error_code ignored;
    std::filesystem::remove(report, ignored);
    std::filesystem::path partial = report;
    partial += ".partial";
    std::filesystem::remove(partial, ignored);
}

bool ShownMessageStartingWith(const standin::ConsoleUtility& utility, const std::string& start)
{
    for (const std::string& message : utility.messages()) {
        if (message.compare(0, start.size(), start) == 0) {
            return true;
        }
    }
    return false;
}

void PrintViewerReport(const std::filesystem::path& report, bool viewerInstalled,
                       const standin::ConsoleUtility& utility)
{
    if (!viewerInstalled) {
        std::cout << "[host] no viewer is installed, so no viewer report is expected" << std::endl;
        return;
    }
    if (ShownMessageStartingWith(utility, kLaunchFailure)) {
        std::cout << "[host] the plug-in could not start the viewer, so no viewer report is "
                     "expected"
                  << std::endl;
        return;
    }
    std::cout << "[host] waiting up to " << kReportTimeout.count()
              << " s for the viewer's report..." << std::endl;
    const std::optional<std::string> text = standin::WaitForFile(report, kReportTimeout);
    if (!text) {
        std::cout << "[host] no report from the viewer within " << kReportTimeout.count()
                  << " s (expected at " << report.string() << ")" << std::endl;
        return;
    }
    std::cout << "[host] the viewer received:" << std::endl;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        std::cout << "[host] viewer report: " << line << std::endl;
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string error;
    const std::optional<Options> parsed =
        ParseOptions(standin::ProgramArguments(argc, argv), error);
    if (!parsed) {
        std::cerr << "orvel_host: " << error << std::endl;
        PrintUsage(std::cerr);
        return 2;
    }
    const Options& options = *parsed;
    if (options.help) {
        PrintUsage(std::cout);
        return 0;
    }

    if (!standin::PrepareDrive(error)) {
        std::cerr << "[host] " << error << std::endl;
        return 1;
    }
#if !defined(_WIN32)
    std::cout << "[host] drive C: is " << (std::filesystem::current_path() / "C:").string()
              << std::endl;
#endif

    // The project the export service writes.
    tinygltf::Model project;
    if (options.projectFile.empty()) {
        project = standin::BuiltInScene();
        std::cout << "[host] project: built-in scene";
    } else {
        if (!standin::OpenProjectFile(options.projectFile, project, error)) {
            std::cerr << "[host] cannot open the project " << options.projectFile << ": " << error
                      << std::endl;
            return 1;
        }
        std::cout << "[host] project: " << options.projectFile;
    }
    const standin::ModelSummary summary = standin::Summarize(project);
    std::cout << " (" << summary.meshes << (summary.meshes == 1 ? " mesh, " : " meshes, ")
              << summary.vertices << " vertices)" << std::endl;

    // The host's services.
    standin::ConsoleUtility utility;
    standin::GlbExportService exporter(project, options.exportFault);
    CLOAPI::APICommand& command = CLOAPI::APICommand::getInstance();
    command.SetUtilityAPI(options.utilityService ? &utility : nullptr);
    command.SetExportAPI(options.exportService ? &exporter : nullptr);
    std::cout << "[host] services: utility " << (options.utilityService ? "yes" : "no")
              << ", export " << (options.exportService ? "yes" : "no") << std::endl;

    // The viewer, where the plug-in starts it.
    std::string viewerMessage;
    if (options.viewer) {
        standin::InstallViewer(viewerMessage);
    } else {
        viewerMessage = standin::RemoveViewer();
    }
    std::cout << "[host] " << viewerMessage << std::endl;
    std::error_code ignored;
    const bool viewerInstalled = std::filesystem::exists(standin::kViewerPath, ignored);

    const int result = [&] {
        standin::PluginModule plugin(options.module);
        if (!plugin.ok()) {
            std::cerr << "[host] " << plugin.error() << std::endl;
            return 1;
        }
        std::cout << "[host] loaded " << options.module << std::endl;
        std::cout << "[host] action \"" << plugin.GetActionName() << "\" at position "
                  << plugin.GetPositionIndexToAddAction() << std::endl;

        std::cout << "[host] after-load notification, file type \"" << options.fileType << "\""
                  << std::endl;
        plugin.DoFunctionAfterLoadingCLOFile(options.fileType.c_str());

        // The viewer writes what it received here.
        const std::filesystem::path report = std::filesystem::absolute(kReportFile, ignored);
        ClearReport(report);
        standin::SetEnvironment("ORVEL_VIEWER_REPORT", report.u8string());

        std::cout << "[host] running the action (DoFunction)" << std::endl;
        plugin.DoFunction();
        std::cout << "[host] DoFunction returned; export service called " << exporter.calls()
                  << (exporter.calls() == 1 ? " time" : " times") << std::endl;

        standin::PrintWorkspace(std::cout, "[host] ");
        PrintViewerReport(report, viewerInstalled, utility);
        return 0;
    }();

    command.SetUtilityAPI(nullptr);
    command.SetExportAPI(nullptr);
    return result;
}
