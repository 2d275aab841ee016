// What one export costs the plug-in, beside the least any program must do for
// the same effect on this system: two directory creations that find the
// folders present, one write of the settings file, and one start of the viewer
// that leaves no zombie. Both run in the same process, against the same "C:"
// drive and the same viewer, which exits at once; the ratio of their typical
// times is the plug-in's overhead. A third run does the hand-written calls
// with the plug-in's own process start, to tell the start method's cost from
// the cost of everything else DoFunction does.
//
// Before the timing, one export with a viewer that stays for seconds shows that
// DoFunction returns while the viewer is still running.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "CLOAPIInterface.h"
#include "platform/process_start.h"
#include "plugin/entry_points.h"
#include "support/test_drive.h"

namespace {

constexpr char kProductFolder[] = "C:/ORVEL";
constexpr char kWorkspaceFolder[] = "C:/ORVEL/CLO3D_Plugin";
constexpr char kSettingsPath[] = "C:/ORVEL/CLO3D_Plugin/API.json";
constexpr char kViewerPath[] = "C:/Program Files/ORVEL/ORVEL.exe";
constexpr char kViewerExecutable[] = "C:\\Program Files\\ORVEL\\ORVEL.exe";
// The bytes the plug-in writes into API.json for the normal export here: 66
// (on Windows, in text mode, the two line ends make it 68).
constexpr char kSettingsText[] =
    "{\n    \"modelFile\": \"C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb\"\n}";

constexpr char kPluginName[] = "DoFunction";
constexpr char kMinimalName[] = "HandWritten";
constexpr char kPluginStartName[] = "HandWritten/PluginProcessStart";

// Message service that keeps nothing but whether the viewer failed to start.
class SilentUtility : public CLOAPI::UtilityAPIInterface {
public:
    void ShowMessage(std::string message) override
    {
        if (message.rfind("Failed to open ORVEL.", 0) == 0) {
            viewerFailed = true;
        }
    }
    bool viewerFailed = false;
};

// Export service that writes nothing: the host's own export is not the
// plug-in's cost.
class NullExporter : public CLOAPI::ExportAPIInterface {
public:
    std::vector<std::string> ExportProjectAsGlb(const std::string& /*path*/,
                                                Marvelous::ImportExportOption& /*option*/) override
    {
        return {};
    }
};

SilentUtility gUtility;

// Standard output goes to /dev/null while a benchmark runs (the plug-in's
// console line and the viewers' output), and comes back for the report.
class QuietStdout {
public:
    QuietStdout() : saved_(dup(STDOUT_FILENO))
    {
        std::cout.flush();
        std::fflush(stdout);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;
    ~QuietStdout()
    {
        std::cout.flush();
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

// The viewer's arguments as the plug-in's command line gives them to it:
// "C:\Program Files\ORVEL\ORVEL.exe" -Settings="C:/ORVEL/CLO3D_Plugin/API.json".
class ViewerArguments {
public:
    ViewerArguments()
        : texts_{"C:\\Program", "Files\\ORVEL\\ORVEL.exe",
                 std::string("-Settings=") + kSettingsPath}
    {
        for (std::string& text : texts_) {
            pointers_.push_back(text.data());
        }
        pointers_.push_back(nullptr);
    }
    char* const* argv() const { return pointers_.data(); }

private:
    std::vector<std::string> texts_;
    std::vector<char*> pointers_;
};

// An intermediate child starts the viewer with posix_spawn (which returns only
// once the viewer's exec has succeeded or failed) and reports the outcome in
// its exit status; reaping it at once leaves the viewer to init. The cheapest
// start that, like the plug-in's, reports failure and leaves no zombie.
bool StartForkThenSpawn(const ViewerArguments& arguments, const posix_spawnattr_t& attributes)
{
    const pid_t intermediate = fork();
    if (intermediate < 0) {
        return false;
    }
    if (intermediate == 0) {
        pid_t viewer = 0;
        const int error =
            posix_spawn(&viewer, kViewerPath, nullptr, &attributes, arguments.argv(), environ);
        _exit(error == 0 ? 0 : 1);
    }
    int status = 0;
    while (waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The file system calls of one export, done directly. False when one of them
// did not do what the export needs.
bool PrepareAndWriteSettings()
{
    if (mkdir(kProductFolder, 0777) == 0 || errno != EEXIST) {
        return false;
    }
    if (mkdir(kWorkspaceFolder, 0777) == 0 || errno != EEXIST) {
        return false;
    }
    const int file = open(kSettingsPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file < 0) {
        return false;
    }
    const std::size_t length = sizeof(kSettingsText) - 1;
    const bool written = write(file, kSettingsText, length) == static_cast<ssize_t>(length);
    return close(file) == 0 && written;
}

// The least one export needs: the file system calls and a fork-then-spawn
// start of the viewer.
class HandWrittenExport {
public:
    HandWrittenExport()
    {
        posix_spawnattr_init(&attributes_);
        posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSID);
    }
    HandWrittenExport(const HandWrittenExport&) = delete;
    HandWrittenExport& operator=(const HandWrittenExport&) = delete;
    ~HandWrittenExport() { posix_spawnattr_destroy(&attributes_); }

    bool Run() const
    {
        return PrepareAndWriteSettings() && StartForkThenSpawn(arguments_, attributes_);
    }

private:
    ViewerArguments arguments_;
    posix_spawnattr_t attributes_{};
};

// One export through the plug-in's entry point.
void PluginExport()
{
    DoFunction();
    // The stand-in SDK records every look-up; without this the record would
    // grow for as long as the benchmark runs.
    CLOAPI::APICommand::getInstance().ClearCallRecord();
}

void BM_DoFunction(benchmark::State& state)
{
    const QuietStdout quiet;
    gUtility.viewerFailed = false;
    for (auto _ : state) {
        PluginExport();
    }
    if (gUtility.viewerFailed) {
        state.SkipWithError("the plug-in could not start the viewer");
    }
}

void BM_HandWritten(benchmark::State& state)
{
    const QuietStdout quiet;
    const HandWrittenExport handWritten;
    bool ok = true;
    for (auto _ : state) {
        ok = handWritten.Run() && ok;
    }
    if (!ok) {
        state.SkipWithError("a step of the hand-written export failed");
    }
}

// The hand-written calls, but with the plug-in's own process start: tells the
// start method's cost from that of everything else DoFunction does.
void BM_HandWrittenWithPluginStart(benchmark::State& state)
{
    const QuietStdout quiet;
    const std::string commandLine =
        std::string(kViewerExecutable) + " -Settings=\"" + kSettingsPath + "\"";
    bool ok = true;
    for (auto _ : state) {
        ok = PrepareAndWriteSettings() &&
             orvel::platform::StartProcess(kViewerExecutable, commandLine) && ok;
    }
    if (!ok) {
        state.SkipWithError("a step of the hand-written export failed");
    }
}

// Each benchmark is repeated (scripts/bench.sh asks for 15 repetitions, run
// in random order across the benchmarks); besides the usual statistics the
// fastest repetition is reported, which bursts of other work on the machine
// move least.
double Fastest(const std::vector<double>& times)
{
    return times.empty() ? 0.0 : *std::min_element(times.begin(), times.end());
}

BENCHMARK(BM_DoFunction)
    ->Name(kPluginName)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", Fastest);
BENCHMARK(BM_HandWritten)
    ->Name(kMinimalName)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", Fastest);
BENCHMARK(BM_HandWrittenWithPluginStart)
    ->Name(kPluginStartName)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", Fastest);

// The console report, plus each benchmark's typical time for the summary:
// the median of its repetitions ("min": the fastest repetition) when it was
// repeated, else its one measurement.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) {
                continue;
            }
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate) {
                aggregates_[name + ":" + run.aggregate_name] = run.GetAdjustedRealTime();
            } else {
                single_[name] = run.GetAdjustedRealTime();
            }
        }
    }

    // `statistic` is "median" or "min"; zero when the benchmark did not run.
    double Typical(const std::string& name, const std::string& statistic) const
    {
        if (const auto found = aggregates_.find(name + ":" + statistic);
            found != aggregates_.end()) {
            return found->second;
        }
        const auto found = single_.find(name);
        return found == single_.end() ? 0.0 : found->second;
    }

private:
    std::map<std::string, double> aggregates_;
    std::map<std::string, double> single_;
};

// True when process `pid` exists and is not a zombie.
bool IsRunning(long pid)
{
    std::FILE* stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (stat == nullptr) {
        return false;
    }
    char state = '?';
    const int matched = std::fscanf(stat, "%*d (%*[^)]) %c", &state);
    std::fclose(stat);
    return matched == 1 && state != 'Z' && state != 'X';
}

// One export with a viewer that stays for `seconds`: DoFunction must return
// long before the viewer ends.
bool ShowThatDoFunctionDoesNotWait(int seconds)
{
    setenv("ORVEL_BENCH_VIEWER_SECONDS", std::to_string(seconds).c_str(), 1);
    const auto start = std::chrono::steady_clock::now();
    {
        const QuietStdout quiet;
        DoFunction();
    }
    const auto returned = std::chrono::steady_clock::now();
    unsetenv("ORVEL_BENCH_VIEWER_SECONDS");
    const double tookMs = std::chrono::duration<double, std::milli>(returned - start).count();

    if (!testing_host::WaitForFile("C:/bench-viewer.pid", 2.0)) {
        std::printf("FAILED: the long-running viewer did not start\n");
        return false;
    }
    const long pid = std::stol(testing_host::ReadFile("C:/bench-viewer.pid"));
    const bool running = IsRunning(pid) && !std::filesystem::exists("C:/bench-viewer.done");
    std::printf("DoFunction returned after %.2f ms; the viewer (pid %ld, staying %d s) was %s\n",
                tookMs, pid, seconds, running ? "still running" : "NOT running");
    const bool finished = testing_host::WaitForFile("C:/bench-viewer.done", seconds + 3.0);
    const double endedS =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("the viewer finished on its own %.1f s after the export began\n", endedS);
    return running && finished && tookMs < 1000.0 * seconds / 2;
}

// Takes --host_memory_mb=N out of the arguments; 0 when it is not there.
std::size_t TakeHostMemoryOption(int& argc, char** argv)
{
    constexpr char kOption[] = "--host_memory_mb=";
    std::size_t megabytes = 0;
    int kept = 0;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], kOption, sizeof(kOption) - 1) == 0) {
            megabytes = std::stoul(argv[i] + sizeof(kOption) - 1);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return megabytes;
}

} // namespace

// --host_memory_mb=N first fills N MiB of this process's memory, as a host
// that holds an open project would have: starting a process by fork then
// costs what it costs in such a host.
int main(int argc, char** argv)
{
    const std::size_t hostMemoryMb = TakeHostMemoryOption(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    const std::vector<char> hostMemory(hostMemoryMb << 20, '\1');
    if (hostMemoryMb > 0) {
        std::printf("host memory: %zu MiB in use\n", hostMemory.size() >> 20);
    }
    // A fresh temporary working folder with its "C:" drive and the viewer.
    const testing_host::TestDrive drive;
    drive.InstallViewer();
    NullExporter exporter;
    CLOAPI::APICommand& command = CLOAPI::APICommand::getInstance();
    command.SetUtilityAPI(&gUtility);
    command.SetExportAPI(&exporter);

    const bool doesNotWait = ShowThatDoFunctionDoesNotWait(3);
    std::printf("\n");

    // Coloured only on a terminal, like Google Benchmark's own report.
    RatioReporter reporter(isatty(STDOUT_FILENO) != 0 ? benchmark::ConsoleReporter::OO_Defaults
                                                      : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n");
    for (const char* statistic : {"median", "min"}) {
        const double plugin = reporter.Typical(kPluginName, statistic);
        const double minimal = reporter.Typical(kMinimalName, statistic);
        const double pluginStart = reporter.Typical(kPluginStartName, statistic);
        if (plugin > 0 && minimal > 0) {
            std::printf("ratio DoFunction / hand-written (%s): %.3f%s\n", statistic,
                        plugin / minimal,
                        std::string(statistic) == "median" ? " (target: at most 1.1)" : "");
        }
        if (plugin > 0 && pluginStart > 0) {
            std::printf("ratio DoFunction / hand-written with the plug-in's process start (%s): "
                        "%.3f\n",
                        statistic, plugin / pluginStart);
        }
    }
    // Every start reaped its intermediate child and left the viewer to init.
    const bool noChildren = waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
    std::printf("children left behind (zombies included): %s\n", noChildren ? "none" : "SOME");

    command.SetUtilityAPI(nullptr);
    command.SetExportAPI(nullptr);
    return doesNotWait && noChildren ? 0 : 1;
}
