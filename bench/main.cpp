// What one export costs the plug-in, against the job's physical minimum: each
// pair runs DoFunction, found as the host finds it, and the minimal arm
// (bench.h), in one process, on one "C:" drive, with the same services (which
// cost next to nothing) and a viewer that exits at once. With --steps it times
// the plug-in's steps one by one instead, each beside the minimal's part.
#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "CLOAPIInterface.h"
#include "bench/bench.h"
#include "export/glb_export.h"
#include "export/settings_file.h"
#include "export/viewer_launch.h"
#include "export/workspace_folder.h"
#include "platform/file_probe.h"
#include "support/test_drive.h"

namespace orvel_bench {
namespace {

constexpr char kFolder[] = "C:/ORVEL/CLO3D_Plugin/";
constexpr char kGlbBaseName[] = "Prepped_For_ORVEL";
const std::string kGlbPath = "C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb";
const std::string kSettingsPath = "C:/ORVEL/CLO3D_Plugin/API.json";
// The messages of a successful export, and of the viewer's start alone.
const std::string kOpening = "Attempting to open ORVEL.\n";
const std::string kExportedAndOpening = "Exported project to " + kGlbPath + "\n" + kOpening;

// Message service that keeps the messages it was asked to show.
class Messages : public CLOAPI::UtilityAPIInterface {
public:
    void ShowMessage(std::string message) override { shown_ += message + '\n'; }
    // The messages since the last call, one a line.
    std::string Take() { return std::exchange(shown_, {}); }

private:
    std::string shown_;
};

// Export service that writes the smallest valid GLB (48 bytes) over the start
// of the file, not truncating it (ext4 would flush it to the disk at once and
// bury both arms in the host's own I/O); with `writes` false, nothing.
class GlbWriter : public CLOAPI::ExportAPIInterface {
public:
    std::vector<std::string> ExportProjectAsGlb(const std::string& path,
                                                Marvelous::ImportExportOption& /*option*/) override
    {
        if (writes) {
            std::FILE* file = std::fopen(path.c_str(), "r+b");
            file = file != nullptr ? file : std::fopen(path.c_str(), "wb");
            const bool wrote = file != nullptr &&
                               std::fwrite(bytes_.data(), 1, bytes_.size(), file) == bytes_.size();
            ok_ = file != nullptr && std::fclose(file) == 0 && wrote;
        }
        return {};
    }
    // The host's export as the plug-in asks for it; whether it wrote its file.
    bool Export()
    {
        Marvelous::ImportExportOption option;
        static_cast<void>(ExportProjectAsGlb(kGlbPath, option));
        return ok_;
    }
    bool writes = true;

private:
    const std::string bytes_ = testing_host::MinimalGlb();
    bool ok_ = true;
};

// Runs `work` with standard output (descriptor 1, and with it the C stream,
// std::cout and on Windows the standard output handle) sent to kQuietOutput.
template <typename Work>
auto Quietly(const Work& work)
{
    std::fflush(stdout);
    const int saved = dup(1);
    const int quiet = open(kQuietOutput, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(quiet, 1);
    close(quiet);
    auto result = work();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    return result;
}

// Times `work`, then waits for the viewers it started (the CPU time covers
// that wait, natively with the viewers' own CPU time) and for the disk.
template <typename Work>
Sample TimeArm(std::size_t viewers, const Work& work)
{
    Sample sample;
    const double cpuBefore = CpuMicroseconds();
    const auto start = std::chrono::steady_clock::now();
    sample.ok = work();
    const auto end = std::chrono::steady_clock::now();
    sample.ok = WaitForViewers() == viewers && sample.ok;
    sample.cpuUs = CpuMicroseconds() - cpuBefore;
    sample.wallUs = std::chrono::duration<double, std::micro>(end - start).count();
    FlushToDisk(kSettingsPath.c_str());
    // A user's exports come seconds apart: the plug-in's wait for the file
    // clock to pass the GLB's last write is made here, untimed, in both arms.
    orvel::WaitForNewerFileTime(orvel::platform::StateOf(kGlbPath).lastWrite,
                                &orvel::platform::FileClockNow);
    return sample;
}

// The whole job's minimum, with the host's export in its place.
bool MinimalExport(GlbWriter& exporter)
{
    const bool folders = minimal::CreateFolders();
    const bool exported = exporter.Export();
    const bool settings = minimal::WriteSettings();
    const bool started = minimal::StartViewer();
    const bool line = minimal::WriteConsoleLine();
    return folders && exported && settings && started && line;
}

// The plug-in's steps one by one through their own functions, each paired
// with the part of the minimal arm that does the same job.
bool RunSteps(const Options& options, Messages& messages, GlbWriter& exporter)
{
    using Results = std::vector<std::pair<const char*, PairedResults>>;
    const Results results = Quietly([&] {
        Results timed;
        const auto step = [&](const char* name, std::size_t viewers, const auto& plugin,
                              const auto& minimal) {
            timed.emplace_back(name, RunPairs(
                                         options, [&] { return TimeArm(viewers, plugin); },
                                         [&] { return TimeArm(viewers, minimal); }));
        };
        const auto glbCheck = [&](bool writes, orvel::GlbWrite expected) {
            return [&exporter, writes, expected] {
                exporter.writes = writes;
                return orvel::ExportSceneToGlb(kFolder, kGlbBaseName).written == expected;
            };
        };
        const auto exportAlone = [&](bool writes) {
            return [&exporter, writes] {
                exporter.writes = writes;
                return exporter.Export();
            };
        };
        step(
            "workspace folder", 0, [] { return orvel::PrepareWorkspaceFolder() == kFolder; },
            minimal::CreateFolders);
        step("GLB check around the export", 0, glbCheck(true, orvel::GlbWrite::Complete),
             exportAlone(true));
        step("GLB check, nothing written", 0, glbCheck(false, orvel::GlbWrite::Nothing),
             exportAlone(false));
        const orvel::OrvelImportInterface settings(kGlbPath);
        step(
            "settings file", 0, [&] { return !settings.WriteSettingsFile(kSettingsPath); },
            minimal::WriteSettings);
        const auto launch = [&] {
            orvel::LaunchViewer(kSettingsPath, kFolder);
            return messages.Take() == kOpening;
        };
        step("viewer start", 1, launch, minimal::StartViewer);
        // The record's destruction writes the line (making it copies a path).
        const auto line = [] {
            static_cast<void>(orvel::OrvelImportInterface(kGlbPath));
            return true;
        };
        step("console line", 0, line, minimal::WriteConsoleLine);
        return timed;
    });
    std::printf("%zu pairs per step (after %zu not counted), in random order; medians in us:\n",
                options.pairs, options.warmup);
    std::printf("  %-27s %9s %9s  %s\n", "step", "plug-in", "minimal", "difference (95% interval)");
    bool ok = true;
    for (const auto& [name, result] : results) {
        const Estimate difference = Bootstrap(result.plugin.wallUs, result.minimal.wallUs, options,
                                              [](double a, double b) { return a - b; });
        const bool failed = result.plugin.failures + result.minimal.failures > 0;
        std::printf("  %-27s %9.1f %9.1f  %+9.1f (%+.1f to %+.1f)%s\n", name,
                    Median(result.plugin.wallUs), Median(result.minimal.wallUs), difference.value,
                    difference.low, difference.high, failed ? "   FAILED RUNS" : "");
        ok = ok && !failed;
    }
    return ok;
}

// Fills the workspace folder with `count` empty files of no concern to the
// plug-in (a user's folder that has gathered files), which every export's
// look for stale temporaries lists, and `stale` temporaries of API.json, 11
// minutes old and read-only, which that look finds stale and tries to remove
// at every export: Windows (and Wine) will not delete a read-only file, where
// Linux removes one all the same. False when one cannot be made.
bool FillWorkspaceFolder(std::size_t count, std::size_t stale)
{
    if (count == 0 && stale == 0) {
        return true;
    }
    if (orvel::PrepareWorkspaceFolder() != kFolder) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::ofstream file(std::string(kFolder) + "unrelated-" + std::to_string(i) + ".dat");
        if (!file) {
            std::fprintf(stderr, "cannot make file %zu of %zu in %s\n", i, count, kFolder);
            return false;
        }
    }
    namespace fs = std::filesystem;
    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(11);
    for (std::size_t i = 0; i < stale; ++i) {
        // Process 1's, never this one's: the plug-in's own names stay free.
        const std::string path = kSettingsPath + ".1-" + std::to_string(i) + ".tmp";
        std::error_code error;
        std::ofstream(path).put('x');
        fs::last_write_time(path, old, error);
        if (!error) {
            fs::permissions(
                path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                fs::perm_options::remove, error);
        }
        if (error || !fs::exists(path)) {
            std::fprintf(stderr, "cannot make stale temporary %zu of %zu in %s\n", i, stale,
                         kFolder);
            return false;
        }
    }
    std::printf("the workspace folder holds %zu unrelated files and %zu read-only stale "
                "temporaries\n",
                count, stale);
    return true;
}

} // namespace
} // namespace orvel_bench

int main(int argc, char** argv)
{
    using namespace orvel_bench;
    Options options;
    options.pairs = kDefaultPairs;
    options.warmup = kDefaultWarmup;
    if (!ParseOptions(argc, argv, options)) {
        return 2;
    }
    const EntryPoint doFunction = Setup();
    if (doFunction == nullptr) {
        return 1;
    }
    // A fresh "C:" drive with the viewer; services installed as the host does.
    const testing_host::TestDrive drive;
    drive.InstallViewer();
    if (!FillWorkspaceFolder(options.folderFiles, options.staleFiles)) {
        return 1;
    }
    Messages messages;
    GlbWriter exporter;
    CLOAPI::APICommand& command = CLOAPI::APICommand::getInstance();
    command.SetUtilityAPI(&messages);
    command.SetExportAPI(&exporter);
    const auto pluginArm = [&] {
        const Sample sample = TimeArm(1, [&] {
            doFunction();
            return messages.Take() == kExportedAndOpening;
        });
        // The stand-in SDK records every look-up; cleared untimed.
        command.ClearCallRecord();
        return sample;
    };
    const auto minimalArm = [&] { return TimeArm(1, [&] { return MinimalExport(exporter); }); };
    const bool ok = options.steps
                        ? RunSteps(options, messages, exporter)
                        : Report(kPlatform, options,
                                 Quietly([&] { return RunPairs(options, pluginArm, minimalArm); }));
    command.SetUtilityAPI(nullptr);
    command.SetExportAPI(nullptr);
    if (options.staleFiles > 0) {
        // On standard error: the closing line stays the last of standard output.
        std::size_t left = 0;
        for (std::size_t i = 0; i < options.staleFiles; ++i) {
            left += std::filesystem::exists(kSettingsPath + ".1-" + std::to_string(i) + ".tmp")
                        ? 1U
                        : 0U;
        }
        std::fprintf(stderr, "read-only stale temporaries left after the run: %zu of %zu\n", left,
                     options.staleFiles);
    }
    return ok ? 0 : 1;
}
