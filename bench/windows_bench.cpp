// What one export costs ORVELPlugin.dll on Windows (run here under Wine),
// beside the same Win32 work written by hand: CreateDirectoryW on the two
// folders, which exist; the GLB's state before and after the host's export
// (a handle for its attributes alone, its information and basic information;
// the export service here writes a new 48-byte GLB each time, in both arms
// alike) and, since it changed, its first 20 bytes read through a handle that
// shares everything, and checked; the workspace folder searched for stale
// temporaries of API.json; the settings file written to a new temporary file
// and moved over API.json; CreateProcessW of the viewer with the same command
// line and its two handles closed; the console line written to standard
// output, with the C stream's error flag looked at around it. The DLL is
// loaded and its DoFunction found as the host does, with services that cost
// next to nothing, through the SDK stand-in's APICommand.
//
// Each repetition is a pair of the two arms in random order, timed with
// QueryPerformanceCounter. This process and everything it starts belong to one
// job object, so after each arm the benchmark waits, untimed, until the viewer
// it started has ended.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
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
constexpr char kGlbPathText[] = "C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb";
// The plug-in's temporaries of API.json, as it asks the system for them.
constexpr wchar_t kTemporaryPattern[] = L"C:/ORVEL/CLO3D_Plugin/API.json.*-*.tmp";
constexpr wchar_t kWorkspaceListing[] = L"C:/ORVEL/CLO3D_Plugin/";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr wchar_t kViewerExecutable[] = L"C:\\Program Files\\ORVEL\\ORVEL.exe";
constexpr wchar_t kCommandLine[] =
    L"C:\\Program Files\\ORVEL\\ORVEL.exe -Settings=\"C:/ORVEL/CLO3D_Plugin/API.json\"";
// The bytes the plug-in writes into API.json here, with Windows line ends.
constexpr char kSettingsText[] =
    "{\r\n    \"modelFile\": \"C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb\"\r\n}";
// The console line as the C runtime's text mode puts it out.
constexpr char kConsoleLine[] = "Destroying OrvelImportInterface\r\n";

using orvel_bench::GlbWriter;
using orvel_bench::SilentUtility;

// The C runtime's standard output (and with it the process's standard output
// handle) goes to a file while exports run, and comes back for the report. A
// file, not NUL: under Wine, the MinGW runtime writes an unbuffered standard
// output that is a character device (NUL, /dev/null, a terminal) one
// character at a time, each write asking whether it is a console, which costs
// the plug-in's console line 0.1-2 ms that a file does not (docs/benchmark.md).
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

struct GlbState;
GlbState StateOfGlb();
void WaitForNewerFileTime(const GlbState& state);

// Times `work` with QueryPerformanceCounter, then waits for the viewer it
// started; the CPU time (this process's only) covers both. Exports by a user
// come seconds apart, never within one tick of the file clock: the wait the
// GLB check would make right after the previous export's write is made here,
// untimed, in both arms alike.
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
    WaitForNewerFileTime(StateOfGlb());
    return sample;
}

// Whether `name` is "API.json.<digits>-<digits>.tmp", a temporary of the
// settings file that the plug-in removes when it is old.
bool IsSettingsTemporary(const wchar_t* name)
{
    constexpr wchar_t kPrefix[] = L"API.json.";
    constexpr std::size_t kPrefixLength = sizeof(kPrefix) / sizeof(kPrefix[0]) - 1;
    if (std::wcsncmp(name, kPrefix, kPrefixLength) != 0) {
        return false;
    }
    const wchar_t* at = name + kPrefixLength;
    const auto digits = [&at] {
        const wchar_t* start = at;
        while (*at >= L'0' && *at <= L'9') {
            ++at;
        }
        return at > start;
    };
    return digits() && *at++ == L'-' && digits() && std::wcscmp(at, L".tmp") == 0;
}

std::uint64_t Join(DWORD high, DWORD low) { return (std::uint64_t{high} << 32U) | low; }

// What the system says of the GLB's path, as far as telling a written file
// apart: which file, its size, its last-write and change times.
struct GlbState {
    bool regular = false;
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;
    std::int64_t change = 0;
};

// Waits until the system time that stamps file writes has passed the GLB's
// last write, at most 50 ms ahead, as the plug-in's check does for a GLB
// written moments ago.
void WaitForNewerFileTime(const GlbState& state)
{
    const auto now = [] {
        FILETIME time{};
        GetSystemTimeAsFileTime(&time);
        return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32U) | time.dwLowDateTime;
    };
    const std::uint64_t start = now();
    if (!state.regular || state.lastWrite < start || state.lastWrite - start > 500000) {
        return;
    }
    while (now() <= state.lastWrite) {
        Sleep(1);
    }
}

bool operator==(const GlbState& a, const GlbState& b)
{
    return a.regular == b.regular && a.volume == b.volume && a.file == b.file && a.size == b.size &&
           a.lastWrite == b.lastWrite && a.change == b.change;
}

// A handle for the attributes alone (it neither waits for nor blocks a program
// that has the file open), the file's information and basic information.
GlbState StateOfGlb()
{
    GlbState state;
    const HANDLE file = CreateFileW(kGlbPath, FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return state;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandle(file, &info) != FALSE &&
        GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic)) != FALSE) {
        state.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                        GetFileType(file) == FILE_TYPE_DISK;
        state.volume = info.dwVolumeSerialNumber;
        state.file = Join(info.nFileIndexHigh, info.nFileIndexLow);
        state.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
        state.lastWrite =
            Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
        state.change = basic.ChangeTime.QuadPart;
    }
    CloseHandle(file);
    return state;
}

// The GLB's first 20 bytes and its size, through a handle that lets others
// read, write and delete it meanwhile, checked as a binary glTF.
bool GlbIsWhole()
{
    const HANDLE file = CreateFileW(kGlbPath, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    char head[orvel_bench::kGlbHeadSize];
    LARGE_INTEGER size{};
    DWORD got = 0;
    const bool read = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) != FALSE &&
                      ReadFile(file, head, sizeof(head), &got, nullptr) != FALSE &&
                      got == sizeof(head);
    CloseHandle(file);
    return read && orvel_bench::IsWholeGlb(head, static_cast<std::uint64_t>(size.QuadPart));
}

// The same export, by hand, with the calls the plug-in makes.
class HandWrittenExport {
public:
    explicit HandWrittenExport(GlbWriter& exporter) : exporter_(exporter) {}

    bool Run()
    {
        const bool folders = CreateDirectoryW(kProductFolder, nullptr) == FALSE &&
                             GetLastError() == ERROR_ALREADY_EXISTS &&
                             CreateDirectoryW(kWorkspaceFolder, nullptr) == FALSE &&
                             GetLastError() == ERROR_ALREADY_EXISTS;
        // The GLB's state before the host's export and after it; a regular
        // file that changed is read and checked.
        const GlbState before = StateOfGlb();
        WaitForNewerFileTime(before);
        static_cast<void>(exporter_.ExportProjectAsGlb(glbPath_, option_));
        const GlbState after = StateOfGlb();
        const bool whole = after.regular && !(after == before) && GlbIsWhole();
        const bool settings = ReplaceSettings();
        const bool started = StartViewer();
        WriteConsoleLine();
        return folders && whole && settings && started;
    }

private:
    // Removes the settings file's temporaries that are more than 10 minutes
    // old from the workspace folder (there are none here: the search is what
    // is paid).
    static void RemoveStaleTemporaries()
    {
        WIN32_FIND_DATAW found{};
        const HANDLE find = FindFirstFileExW(kTemporaryPattern, FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0);
        if (find == INVALID_HANDLE_VALUE) {
            return;
        }
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        const std::uint64_t staleBefore =
            Join(now.dwHighDateTime, now.dwLowDateTime) - 10ULL * 60 * 10000000;
        do {
            if ((found.dwFileAttributes &
                 (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
                IsSettingsTemporary(found.cFileName) &&
                Join(found.ftLastWriteTime.dwHighDateTime, found.ftLastWriteTime.dwLowDateTime) <
                    staleBefore) {
                DeleteFileW((std::wstring(kWorkspaceListing) + found.cFileName).c_str());
            }
        } while (FindNextFileW(find, &found) != FALSE);
        FindClose(find);
    }

    // A new temporary file, written, closed and moved over API.json.
    bool ReplaceSettings()
    {
        RemoveStaleTemporaries();
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

    // One WriteFile of the line, with the C stream's error flag read before
    // and after, as the plug-in does.
    static void WriteConsoleLine()
    {
        const bool streamErrorBefore = std::ferror(stdout) != 0;
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kConsoleLine, sizeof(kConsoleLine) - 1, &written,
                  nullptr);
        if (!streamErrorBefore && std::ferror(stdout) != 0) {
            std::clearerr(stdout);
        }
    }

    GlbWriter& exporter_;
    const std::string glbPath_ = kGlbPathText;
    Marvelous::ImportExportOption option_;
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
    GlbWriter exporter;
    CLOAPI::APICommand& command = CLOAPI::APICommand::getInstance();
    command.SetUtilityAPI(&utility);
    command.SetExportAPI(&exporter);

    HandWrittenExport handWritten(exporter);
    orvel_bench::PairedResults results;
    {
        const QuietStdout quiet;
        results = orvel_bench::RunPairs(
            options,
            [&] {
                utility.viewerFailed = false;
                utility.glbNotTakenAsWritten = false;
                orvel_bench::Sample sample = TimeArm(job, [&] {
                    plugin.DoFunction();
                    return !utility.viewerFailed && !utility.glbNotTakenAsWritten;
                });
                // The stand-in SDK records every look-up; cleared untimed.
                command.ClearCallRecord();
                return sample;
            },
            [&] { return TimeArm(job, [&handWritten] { return handWritten.Run(); }); });
    }
    command.SetUtilityAPI(nullptr);
    command.SetExportAPI(nullptr);
    if (exporter.failures > 0) {
        std::printf("the export service failed to write the GLB %zu times\n", exporter.failures);
    }
    const bool allRan = orvel_bench::Report("windows", options, results);
    return exporter.failures == 0 && allRan ? 0 : 1;
}
