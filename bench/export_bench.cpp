// What one export costs the plug-in, beside the same work written by hand with
// the bare system calls: two directory creations that find the folders
// present; the GLB's state before and after the host's export (the export
// service here writes a new 48-byte GLB each time, in both arms alike) and,
// since it changed, its first 20 bytes read and checked; the workspace folder
// listed for stale temporaries of API.json; the settings file written to a new
// temporary file and renamed over API.json; a start of the viewer that leaves
// no zombie and passes on no descriptor; and the console line written with
// SIGPIPE held back and the C stream's error flag looked at around it. Both
// arms run in the same process, against the same "C:" drive, the same export
// service and the same viewer, which exits at once; the ratio of their times
// is the plug-in's overhead.
//
// Each repetition is a pair of the two arms in random order. This process is
// the child subreaper: every viewer started, once its intermediate child has
// exited, becomes its child and is waited for outside the timed region.
//
// Before the timing, one export with a viewer that stays for seconds shows that
// DoFunction returns while the viewer is still running.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "CLOAPIInterface.h"
#include "bench/null_services.h"
#include "bench/paired_timing.h"
#include "plugin/entry_points.h"
#include "support/test_drive.h"

namespace {

constexpr char kProductFolder[] = "C:/ORVEL";
constexpr char kWorkspaceFolder[] = "C:/ORVEL/CLO3D_Plugin";
// The folder as the plug-in lists it, with the slash its path leaves.
constexpr char kWorkspaceListing[] = "C:/ORVEL/CLO3D_Plugin/";
constexpr char kSettingsPath[] = "C:/ORVEL/CLO3D_Plugin/API.json";
constexpr char kGlbPath[] = "C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb";
constexpr char kViewerPath[] = "C:/Program Files/ORVEL/ORVEL.exe";
// The bytes the plug-in writes into API.json for the export here (66; on
// Windows the two line ends make it 68).
constexpr char kSettingsText[] =
    "{\n    \"modelFile\": \"C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb\"\n}";
constexpr char kConsoleLine[] = "Destroying OrvelImportInterface\n";

using orvel_bench::GlbWriter;
using orvel_bench::SilentUtility;

SilentUtility gUtility;

// Standard output goes to /dev/null while exports run (the console line and
// the viewers' output), and comes back for the report.
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

// Waits for every child of this process (the viewers it adopted as
// subreaper); returns how many there were.
int ReapChildren()
{
    int reaped = 0;
    while (true) {
        const pid_t child = waitpid(-1, nullptr, 0);
        if (child > 0) {
            ++reaped;
        } else if (errno != EINTR) {
            return reaped;
        }
    }
}

double CpuMicroseconds()
{
    timespec self{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &self);
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    const auto us = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
    };
    return static_cast<double>(self.tv_sec) * 1e6 + static_cast<double>(self.tv_nsec) / 1e3 +
           us(children.ru_utime) + us(children.ru_stime);
}

// What stat says of the GLB's path, as far as telling a written file apart.
struct GlbState {
    bool there = false;
    struct stat info {};
};

GlbState StateOfGlb()
{
    GlbState state;
    state.there = stat(kGlbPath, &state.info) == 0;
    return state;
}

std::int64_t Nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// Waits until the coarse clock that stamps file writes has passed the GLB's
// last write, at most 50 ms ahead, as the plug-in's check does for a GLB
// written moments ago.
void WaitForNewerFileTime(const GlbState& state)
{
    const auto now = [] {
        timespec time{};
        clock_gettime(CLOCK_REALTIME_COARSE, &time);
        return Nanoseconds(time);
    };
    const std::int64_t start = now();
    const std::int64_t lastWrite = Nanoseconds(state.info.st_mtim);
    if (!state.there || !S_ISREG(state.info.st_mode) || lastWrite < start ||
        lastWrite - start > 50000000) {
        return;
    }
    const timespec pause{0, 1000000};
    while (now() <= lastWrite) {
        nanosleep(&pause, nullptr);
    }
}

// Times `work` (wall clock), then waits for the viewer it started; the CPU
// time covers both, so that it holds the intermediate child's and the
// viewer's CPU time too. Exports by a user come seconds apart, never within
// one tick of the file clock: the wait the GLB check would make right after
// the previous export's write is made here, untimed, in both arms alike.
template <typename Work>
orvel_bench::Sample TimeArm(Work work)
{
    orvel_bench::Sample sample;
    const double cpuBefore = CpuMicroseconds();
    const auto start = std::chrono::steady_clock::now();
    sample.ok = work();
    const auto end = std::chrono::steady_clock::now();
    sample.ok = ReapChildren() == 1 && sample.ok;
    sample.cpuUs = CpuMicroseconds() - cpuBefore;
    sample.wallUs = std::chrono::duration<double, std::micro>(end - start).count();
    WaitForNewerFileTime(StateOfGlb());
    return sample;
}

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

// Whether `name` is "API.json.<digits>-<digits>.tmp", a temporary of the
// settings file that the plug-in removes when it is old.
bool IsSettingsTemporary(const char* name)
{
    constexpr char kPrefix[] = "API.json.";
    if (std::strncmp(name, kPrefix, sizeof(kPrefix) - 1) != 0) {
        return false;
    }
    const char* at = name + sizeof(kPrefix) - 1;
    const auto digits = [&at] {
        const char* start = at;
        while (*at >= '0' && *at <= '9') {
            ++at;
        }
        return at > start;
    };
    return digits() && *at++ == '-' && digits() && std::strcmp(at, ".tmp") == 0;
}

bool SameFileUnchanged(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// The same export, by hand. Everything the children need is prepared once.
class HandWrittenExport {
public:
    explicit HandWrittenExport(GlbWriter& exporter) : exporter_(exporter)
    {
        posix_spawnattr_init(&attributes_);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes_, &none);
        sigset_t all;
        sigfillset(&all);
        posix_spawnattr_setsigdefault(&attributes_, &all);
        posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                   POSIX_SPAWN_SETSIGDEF);
        posix_spawn_file_actions_init(&actions_);
        posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    }
    HandWrittenExport(const HandWrittenExport&) = delete;
    HandWrittenExport& operator=(const HandWrittenExport&) = delete;
    ~HandWrittenExport()
    {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }

    bool Run()
    {
        const bool folders = mkdir(kProductFolder, 0777) != 0 && errno == EEXIST &&
                             mkdir(kWorkspaceFolder, 0777) != 0 && errno == EEXIST;
        // The GLB's state before the host's export and after it; a regular
        // file that changed is read and checked.
        const GlbState before = StateOfGlb();
        WaitForNewerFileTime(before);
        static_cast<void>(exporter_.ExportProjectAsGlb(glbPath_, option_));
        const GlbState after = StateOfGlb();
        const bool written = after.there && S_ISREG(after.info.st_mode) &&
                             !(before.there && S_ISREG(before.info.st_mode) &&
                               SameFileUnchanged(before.info, after.info));
        const bool whole = written && GlbIsWhole();
        const bool settings = ReplaceSettings();
        const bool started = StartViewer();
        WriteConsoleLine();
        return folders && whole && settings && started;
    }

private:
    // The GLB's first 20 bytes and its size, from one read-only descriptor
    // (without changing its access time where the system allows it), checked
    // as a binary glTF.
    static bool GlbIsWhole()
    {
        constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
        int file = open(kGlbPath, kFlags | O_NOATIME);
        if (file < 0 && errno == EPERM) {
            file = open(kGlbPath, kFlags);
        }
        if (file < 0) {
            return false;
        }
        char head[orvel_bench::kGlbHeadSize];
        struct stat info {};
        const bool read = fstat(file, &info) == 0 && S_ISREG(info.st_mode) &&
                          pread(file, head, sizeof(head), 0) == static_cast<ssize_t>(sizeof(head));
        close(file);
        return read && orvel_bench::IsWholeGlb(head, static_cast<std::uint64_t>(info.st_size));
    }

    // Removes the settings file's temporaries that are more than 10 minutes
    // old from the workspace folder (there are none here: the listing is
    // what is paid).
    static void RemoveStaleTemporaries()
    {
        DIR* const listing = opendir(kWorkspaceListing);
        if (listing == nullptr) {
            return;
        }
        const int folder = dirfd(listing);
        const std::time_t staleBefore = std::time(nullptr) - 10 * 60;
        while (const dirent* entry = readdir(listing)) {
            struct stat info {};
            if (IsSettingsTemporary(entry->d_name) &&
                fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(info.st_mode) && info.st_mtime < staleBefore) {
                unlinkat(folder, entry->d_name, 0);
            }
        }
        closedir(listing);
    }

    // A new temporary file, written, closed and renamed over API.json; a
    // read-only API.json is refused first, as Windows refuses to replace one.
    bool ReplaceSettings()
    {
        RemoveStaleTemporaries();
        if (faccessat(AT_FDCWD, kSettingsPath, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0 &&
            errno == EACCES) {
            return false;
        }
        char temporary[96];
        std::snprintf(temporary, sizeof(temporary), "%s.%ld-%u.tmp", kSettingsPath,
                      static_cast<long>(getpid()), ++counter_);
        const int file = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (file < 0) {
            return false;
        }
        const std::size_t length = sizeof(kSettingsText) - 1;
        const bool written = write(file, kSettingsText, length) == static_cast<ssize_t>(length);
        const bool closed = close(file) == 0;
        if (!written || !closed || rename(temporary, kSettingsPath) != 0) {
            unlink(temporary);
            return false;
        }
        return true;
    }

    // An intermediate child starts the viewer with posix_spawn (which returns
    // once the viewer's exec has succeeded or failed) and exits; a failure
    // comes back through a close-on-exec pipe.
    bool StartViewer() const
    {
        int report[2];
        if (pipe2(report, O_CLOEXEC) != 0) {
            return false;
        }
        const pid_t intermediate = fork();
        if (intermediate < 0) {
            close(report[0]);
            close(report[1]);
            return false;
        }
        if (intermediate == 0) {
            close(report[0]);
            pid_t viewer = 0;
            const int error = posix_spawn(&viewer, kViewerPath, &actions_, &attributes_,
                                          arguments_.argv(), environ);
            if (error != 0) {
                static_cast<void>(write(report[1], &error, sizeof(error)));
            }
            _exit(0);
        }
        close(report[1]);
        while (waitpid(intermediate, nullptr, 0) < 0 && errno == EINTR) {
        }
        int error = 0;
        const ssize_t got = read(report[0], &error, sizeof(error));
        close(report[0]);
        return got == 0;
    }

    // One write of the whole line, with SIGPIPE blocked around it and the
    // pending signals looked at before (after only when the write failed), and
    // the C stream's error flag read before and after, as the plug-in does.
    static void WriteConsoleLine()
    {
        const bool streamErrorBefore = std::ferror(stdout) != 0;
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        sigset_t previous;
        pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
        sigset_t pendingBefore;
        sigpending(&pendingBefore);
        constexpr ssize_t kLength = sizeof(kConsoleLine) - 1;
        if (write(STDOUT_FILENO, kConsoleLine, kLength) != kLength) {
            sigset_t pendingAfter;
            sigpending(&pendingAfter);
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (!streamErrorBefore && std::ferror(stdout) != 0) {
            std::clearerr(stdout);
        }
    }

    GlbWriter& exporter_;
    const std::string glbPath_ = kGlbPath;
    Marvelous::ImportExportOption option_;
    ViewerArguments arguments_;
    posix_spawnattr_t attributes_{};
    posix_spawn_file_actions_t actions_{};
    unsigned counter_ = 0;
};

// True when process `pid` exists and is not a zombie.
bool IsRunning(long pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z' &&
           line[close + 2] != 'X';
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
    ReapChildren();
    const double endedS =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool finished = std::filesystem::exists("C:/bench-viewer.done");
    std::printf("the viewer %s %.1f s after the export began\n",
                finished ? "finished on its own" : "ended WITHOUT finishing", endedS);
    CLOAPI::APICommand::getInstance().ClearCallRecord();
    return running && finished && tookMs < 1000.0 * seconds / 2;
}

// Variables that a host's environment may hold besides its own.
void AddEnvironmentVariables(std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const std::string name = "ORVEL_BENCH_FILLER_" + std::to_string(i);
        setenv(name.c_str(), "a value of about the length a host's variables have", 1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    orvel_bench::Options options;
    if (!orvel_bench::ParseOptions(argc, argv, options)) {
        return 2;
    }
    // Every viewer, once its intermediate child has gone, becomes this
    // process's child, so that the benchmark can wait for it.
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        std::perror("prctl(PR_SET_CHILD_SUBREAPER)");
        return 1;
    }
    // Filled, as the memory of a host holding an open project: a fork then
    // costs what it costs in such a host.
    const std::vector<char> hostMemory(options.hostMemoryMb << 20, '\1');
    AddEnvironmentVariables(options.environmentSize);
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("host memory %zu MiB, %zu extra environment variables; load average %.2f %.2f "
                "%.2f\n",
                hostMemory.size() >> 20, options.environmentSize, load[0], load[1], load[2]);

    // A fresh temporary working folder with its "C:" drive and the viewer.
    const testing_host::TestDrive drive;
    drive.InstallViewer();
    GlbWriter exporter;
    CLOAPI::APICommand& command = CLOAPI::APICommand::getInstance();
    command.SetUtilityAPI(&gUtility);
    command.SetExportAPI(&exporter);

    const bool doesNotWait = ShowThatDoFunctionDoesNotWait(3);

    HandWrittenExport handWritten(exporter);
    orvel_bench::PairedResults results;
    {
        const QuietStdout quiet;
        results = orvel_bench::RunPairs(
            options,
            [&command] {
                gUtility.viewerFailed = false;
                gUtility.glbNotTakenAsWritten = false;
                orvel_bench::Sample sample = TimeArm([] {
                    DoFunction();
                    return !gUtility.viewerFailed && !gUtility.glbNotTakenAsWritten;
                });
                // The stand-in SDK records every look-up; cleared untimed.
                command.ClearCallRecord();
                return sample;
            },
            [&handWritten] { return TimeArm([&handWritten] { return handWritten.Run(); }); });
    }
    const bool noChildren = waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
    std::printf("children left behind (zombies included): %s\n", noChildren ? "none" : "SOME");
    getloadavg(load, 3);
    std::printf("load average after: %.2f %.2f %.2f\n", load[0], load[1], load[2]);

    command.SetUtilityAPI(nullptr);
    command.SetExportAPI(nullptr);
    if (exporter.failures > 0) {
        std::printf("the export service failed to write the GLB %zu times\n", exporter.failures);
    }
    const bool allRan = orvel_bench::Report("native", options, results);
    return doesNotWait && noChildren && exporter.failures == 0 && allRan ? 0 : 1;
}
