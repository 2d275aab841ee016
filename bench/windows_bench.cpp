// What one export costs ORVELPlugin.dll on Windows (run here under Wine),
// beside the same Win32 work written by hand: CreateDirectoryW on the two
// folders, which exist; a look for a GLB before and after the export (none is
// there: the export service here writes nothing); the settings file written to a new temporary
// file and moved over API.json; CreateProcessW of the viewer with the same
// command line and its two handles closed; the console line written to
// standard output. The DLL is loaded and its DoFunction found as the host
// does, with services that do nothing, through the SDK stand-in's APICommand.
//
// Each repetition is a pair of the two arms in random order, timed with
// QueryPerformanceCounter. This process and everything it starts belong to one
// job object, so after each arm the benchmark waits, untimed, until the viewer
// it started has ended.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CLOAPIInterface.h"
#include "bench/null_services.h"
#include "bench/paired_timing.h"
#include "support/test_drive.h"

namespace {

constexpr wchar_t kProductFolder[] = L"C:/ORVEL";
constexpr wchar_t kWorkspaceFolder[] = L"C:/ORVEL/CLO3D_Plugin";
constexpr wchar_t kSettingsPath[] = L"C:/ORVEL/CLO3D_Plugin/API.json";
constexpr wchar_t kGlbPath[] = L"C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb";
constexpr wchar_t kViewerExecutable[] = L"C:\\Program Files\\ORVEL\\ORVEL.exe";
constexpr wchar_t kCommandLine[] =
    L"C:\\Program Files\\ORVEL\\ORVEL.exe -Settings=\"C:/ORVEL/CLO3D_Plugin/API.json\"";
// The bytes the plug-in writes into API.json here, with Windows line ends.
constexpr char kSettingsText[] =
    "{\r\n    \"modelFile\": \"C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb\"\r\n}";
// The console line as the C runtime's text mode puts it out.
constexpr char kConsoleLine[] = "Destroying OrvelImportInterface\r\n";

using orvel_bench::NullExporter;
using orvel_bench::SilentUtility;

// The C runtime's standard output (and with it the process's standard output
// handle) goes to a file while exports run, and comes back for the report. A
// file, not NUL: under Wine, the MinGW runtime writes an unbuffered standard
// output that is a character device (NUL, /dev/null, a terminal) one
// character at a time, each write asking whether it is a console, which costs
// the plug-in's console line 0.1-2 ms that a file does not (README, Benchmark).
class QuietStdout {
public:
    static constexpr char kFile[] = "bench-stdout.txt";

    QuietStdout() : saved_(_dup(1))
    {
        std::fflush(stdout);
        const int file = _open(kFile, _O_WRONLY | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE);
        _dup2(file, 1);
        _close(file);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;
    ~QuietStdout()
    {
        std::fflush(stdout);
        _dup2(saved_, 1);
        _close(saved_);
        _unlink(kFile);
    }

private:
    int saved_;
};

// A job holding this process and, by inheritance, every process it starts.
class ProcessJob {
public:
    ProcessJob() : job_(CreateJobObjectW(nullptr, nullptr))
    {
        ok_ = job_ != nullptr && AssignProcessToJobObject(job_, GetCurrentProcess()) != FALSE;
        baseline_ = ActiveProcesses();
    }
    ProcessJob(const ProcessJob&) = delete;
    ProcessJob& operator=(const ProcessJob&) = delete;
    ~ProcessJob()
    {
        if (job_ != nullptr) {
            CloseHandle(job_);
        }
    }

    bool ok() const { return ok_ && baseline_ > 0; }

    // Waits (up to 20 s) until only the processes there at the start remain.
    bool WaitForStartedProcesses() const
    {
        for (int i = 0; i < 20000; ++i) {
            if (ActiveProcesses() <= baseline_) {
                return true;
            }
            Sleep(i < 50 ? 0 : 1);
        }
        return false;
    }

private:
    DWORD ActiveProcesses() const
    {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION information{};
        if (QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &information,
                                      sizeof(information), nullptr) == FALSE) {
            return 0;
        }
        return information.ActiveProcesses;
    }

    HANDLE job_;
    bool ok_ = false;
    DWORD baseline_ = 0;
};

double CpuMicroseconds()
{
    FILETIME creation{};
    FILETIME exit{};
    FILETIME kernel{};
    FILETIME user{};
    GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32U) |
                                   t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 10.0;
}

double CounterMicroseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    static const double frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1e6 / frequency;
}

// Times `work` with QueryPerformanceCounter, then waits for the viewer it
// started; the CPU time (this process's only) covers both.
template <typename Work>
orvel_bench::Sample TimeArm(const ProcessJob& job, Work work)
{
    orvel_bench::Sample sample;
    const double cpuBefore = CpuMicroseconds();
    LARGE_INTEGER start{};
    QueryPerformanceCounter(&start);
    sample.ok = work();
    LARGE_INTEGER end{};
    QueryPerformanceCounter(&end);
    sample.ok = job.WaitForStartedProcesses() && sample.ok;
    sample.cpuUs = CpuMicroseconds() - cpuBefore;
    sample.wallUs = CounterMicroseconds(start, end);
    return sample;
}

// The same export, by hand, with the calls the plug-in makes.
class HandWrittenExport {
public:
    bool Run()
    {
        const bool folders = CreateDirectoryW(kProductFolder, nullptr) == FALSE &&
                             GetLastError() == ERROR_ALREADY_EXISTS &&
                             CreateDirectoryW(kWorkspaceFolder, nullptr) == FALSE &&
                             GetLastError() == ERROR_ALREADY_EXISTS;
        // Whether a GLB is there before the export, and whether the host
        // wrote one after it.
        const bool noEarlierGlb = GetFileAttributesW(kGlbPath) == INVALID_FILE_ATTRIBUTES;
        const bool noGlbWritten = GetFileAttributesW(kGlbPath) == INVALID_FILE_ATTRIBUTES;
        const bool settings = ReplaceSettings();
        const bool started = StartViewer();
        WriteConsoleLine();
        return folders && noEarlierGlb && noGlbWritten && settings && started;
    }

private:
    // A new temporary file, written, closed and moved over API.json.
    bool ReplaceSettings()
    {
        wchar_t temporary[96];
        swprintf(temporary, sizeof(temporary) / sizeof(temporary[0]), L"%ls.%lu-%u.tmp",
                 kSettingsPath, GetCurrentProcessId(), ++counter_);
        const HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        const DWORD length = sizeof(kSettingsText) - 1;
        DWORD written = 0;
        const bool wrote =
            WriteFile(file, kSettingsText, length, &written, nullptr) != FALSE && written == length;
        const bool closed = CloseHandle(file) != FALSE;
        if (!wrote || !closed ||
            MoveFileExW(temporary, kSettingsPath,
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
            DeleteFileW(temporary);
            return false;
        }
        return true;
    }

    static bool StartViewer()
    {
        std::wstring commandLine = kCommandLine;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (CreateProcessW(kViewerExecutable, commandLine.data(), nullptr, nullptr, FALSE, 0,
                           nullptr, nullptr, &startup, &process) == FALSE) {
            return false;
        }
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return true;
    }

    static void WriteConsoleLine()
    {
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kConsoleLine, sizeof(kConsoleLine) - 1, &written,
                  nullptr);
    }

    unsigned counter_ = 0;
};

// The plug-in module, loaded and resolved as the host does it.
class PluginModule {
public:
    explicit PluginModule(const wchar_t* fileName) : module_(LoadLibraryW(fileName))
    {
        if (module_ != nullptr) {
            // GetProcAddress hands back a generic function pointer.
            DoFunction = reinterpret_cast<void (*)()>( // NOLINT
                reinterpret_cast<void*>(GetProcAddress(module_, "DoFunction")));
        }
    }
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;
    ~PluginModule()
    {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }

    void (*DoFunction)() = nullptr;

private:
    HMODULE module_;
};

} // namespace

int main(int argc, char** argv)
{
    orvel_bench::Options options;
    options.pairs = 500;
    options.warmup = 20;
    if (!orvel_bench::ParseOptions(argc, argv, options)) {
        return 2;
    }
    const ProcessJob job;
    if (!job.ok()) {
        std::printf("the job object that lets the benchmark wait for viewers could not be set "
                    "up (error %lu)\n",
                    GetLastError());
        return 1;
    }
    const PluginModule plugin(L"ORVELPlugin.dll");
    if (plugin.DoFunction == nullptr) {
        std::printf("ORVELPlugin.dll or its DoFunction could not be loaded (error %lu)\n",
                    GetLastError());
        return 1;
    }
    const std::vector<char> hostMemory(options.hostMemoryMb << 20, '\1');
    for (std::size_t i = 0; i < options.environmentSize; ++i) {
        const std::wstring name = L"ORVEL_BENCH_FILLER_" + std::to_wstring(i);
        SetEnvironmentVariableW(name.c_str(),
                                L"a value of about the length a host's variables have");
    }
    std::printf("host memory %zu MiB, %zu extra environment variables\n", hostMemory.size() >> 20,
                options.environmentSize);

    // The real C: drive of this Wine prefix, with the viewer installed.
    const testing_host::TestDrive drive;
    drive.InstallViewer();
    SilentUtility utility;
    NullExporter exporter;
    CLOAPI::APICommand& command = CLOAPI::APICommand::getInstance();
    command.SetUtilityAPI(&utility);
    command.SetExportAPI(&exporter);

    HandWrittenExport handWritten;
    orvel_bench::PairedResults results;
    {
        const QuietStdout quiet;
        results = orvel_bench::RunPairs(
            options,
            [&] {
                utility.viewerFailed = false;
                orvel_bench::Sample sample = TimeArm(job, [&] {
                    plugin.DoFunction();
                    return !utility.viewerFailed;
                });
                // The stand-in SDK records every look-up; cleared untimed.
                command.ClearCallRecord();
                return sample;
            },
            [&] { return TimeArm(job, [&handWritten] { return handWritten.Run(); }); });
    }
    command.SetUtilityAPI(nullptr);
    command.SetExportAPI(nullptr);
    return orvel_bench::Report("windows", options, results) ? 0 : 1;
}
