// The Windows side of the benchmark: the minimal arm with the bare Win32
// calls, and what the benchmark needs of the system around it. DoFunction
// comes from ORVELPlugin.dll, loaded and resolved as the host does it.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "bench/bench.h"

namespace orvel_bench {
namespace {

constexpr wchar_t kSettingsPath[] = L"C:/ORVEL/CLO3D_Plugin/API.json";
// The bytes the plug-in writes into API.json here, with Windows line ends.
constexpr char kSettingsText[] =
    "{\r\n    \"modelFile\": \"C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb\"\r\n}";
// The console line as the C runtime's text mode puts it out.
constexpr char kConsoleLine[] = "Destroying OrvelImportInterface\r\n";
constexpr wchar_t kViewer[] = L"C:\\Program Files\\ORVEL\\ORVEL.exe";
constexpr wchar_t kCommandLine[] =
    L"C:\\Program Files\\ORVEL\\ORVEL.exe -Settings=\"C:/ORVEL/CLO3D_Plugin/API.json\"";

// A job holding this process and, by inheritance, every process it starts.
HANDLE gJob = nullptr;
DWORD gProcessesCounted = 0;

JOBOBJECT_BASIC_ACCOUNTING_INFORMATION JobAccounting()
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION information{};
    QueryInformationJobObject(gJob, JobObjectBasicAccountingInformation, &information,
                              sizeof(information), nullptr);
    return information;
}

} // namespace

const char kPlatform[] = "windows";
const std::size_t kDefaultPairs = 500;
const std::size_t kDefaultWarmup = 20;
// A file, not NUL: under Wine the MinGW runtime writes an unbuffered character
// device one character at a time (docs/benchmark.md).
const char kQuietOutput[] = "bench-stdout.txt";

EntryPoint Setup()
{
    gJob = CreateJobObjectW(nullptr, nullptr);
    if (gJob == nullptr || AssignProcessToJobObject(gJob, GetCurrentProcess()) == FALSE) {
        std::printf("no job object to wait for the viewers in (error %lu)\n", GetLastError());
        return nullptr;
    }
    gProcessesCounted = JobAccounting().TotalProcesses;
    const HMODULE plugin = LoadLibraryW(L"ORVELPlugin.dll");
    const FARPROC doFunction = plugin != nullptr ? GetProcAddress(plugin, "DoFunction") : nullptr;
    if (doFunction == nullptr) {
        std::printf("ORVELPlugin.dll or its DoFunction could not be loaded (error %lu)\n",
                    GetLastError());
        return nullptr;
    }
    // GetProcAddress hands back a generic function pointer.
    return reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(doFunction)); // NOLINT
}

std::size_t WaitForViewers()
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION job = JobAccounting();
    for (int i = 0; i < 20000 && job.ActiveProcesses > 1; ++i) {
        Sleep(i < 50 ? 0 : 1);
        job = JobAccounting();
    }
    const DWORD started = job.TotalProcesses - gProcessesCounted;
    gProcessesCounted = job.TotalProcesses;
    return job.ActiveProcesses == 1 ? started : 0;
}

void FlushToDisk(const char* path)
{
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
}

double CpuMicroseconds()
{
    FILETIME times[4] = {}; // creation, exit, kernel, user
    GetProcessTimes(GetCurrentProcess(), &times[0], &times[1], &times[2], &times[3]);
    const auto ticks = [](const FILETIME& time) {
        return static_cast<double>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32U) |
                                   time.dwLowDateTime);
    };
    return (ticks(times[2]) + ticks(times[3])) / 10.0;
}

namespace minimal {

bool CreateFolders()
{
    const bool product =
        CreateDirectoryW(L"C:/ORVEL", nullptr) != FALSE || GetLastError() == ERROR_ALREADY_EXISTS;
    return (CreateDirectoryW(L"C:/ORVEL/CLO3D_Plugin", nullptr) != FALSE ||
            GetLastError() == ERROR_ALREADY_EXISTS) &&
           product;
}

bool WriteSettings()
{
    const HANDLE file = CreateFileW(kSettingsPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool wrote =
        WriteFile(file, kSettingsText, sizeof(kSettingsText) - 1, &written, nullptr) != FALSE &&
        written == sizeof(kSettingsText) - 1;
    return CloseHandle(file) != FALSE && wrote;
}

bool StartViewer()
{
    std::wstring commandLine = kCommandLine; // CreateProcessW may write into it
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(kViewer, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process) == FALSE) {
        return false;
    }
    CloseHandle(process.hThread);
    return CloseHandle(process.hProcess) != FALSE;
}

bool WriteConsoleLine()
{
    DWORD written = 0;
    return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kConsoleLine, sizeof(kConsoleLine) - 1,
                     &written, nullptr) != FALSE;
}

} // namespace minimal
} // namespace orvel_bench
