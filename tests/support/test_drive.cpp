#include "test_drive.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <system_error>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which they need.
#include <tlhelp32.h>
#include <wchar.h>
#else
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#endif

#if defined(ORVEL_TEST_DRIVE_IS_SYSTEM_DRIVE)
#include <gtest/gtest.h>
#endif

namespace testing_host {
namespace {

#if defined(ORVEL_TEST_DRIVE_IS_SYSTEM_DRIVE)
// Records a skip of the running test; built with a fixture, the test then
// runs neither SetUp nor its body.
void SkipTest()
{
    GTEST_SKIP() << "it changes the system drive (C:\\ORVEL, C:\\Program Files\\ORVEL\\ORVEL.exe, "
                    "C:\\Program.exe) and runs only with "
                 << kSystemDriveVariable << "=1";
}
#endif

#if defined(_WIN32)
// Waits for the viewers started from C:\Program Files\ORVEL to end. A test is
// done once its viewer has reported, which is a moment before the viewer has
// ended: Windows refuses to remove or replace a program file while it runs,
// and Wine may finish removing one that is ending only after the next test has
// copied the viewer in again. Viewers started from elsewhere (the stand-in
// viewer's own tests) are left alone.
void WaitForViewersToEnd()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more != FALSE;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, L"ORVEL.exe") != 0) {
            continue;
        }
        const HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                           entry.th32ProcessID);
        if (process == nullptr) {
            continue; // ended meanwhile
        }
        wchar_t image[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        if (QueryFullProcessImageNameW(process, 0, image, &size) != FALSE &&
            _wcsicmp(image, L"C:\\Program Files\\ORVEL\\ORVEL.exe") == 0) {
            WaitForSingleObject(process, 60000);
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}
#endif

void RemoveDriveFolders()
{
#if defined(_WIN32)
    WaitForViewersToEnd();
#endif
    // A test may have left read-only files and folders behind.
    std::error_code ignored;
    const auto writable = [&ignored](const std::filesystem::path& path) {
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    };
    writable("C:/ORVEL");
    for (auto entry = std::filesystem::recursive_directory_iterator("C:/ORVEL", ignored);
         entry != std::filesystem::recursive_directory_iterator(); entry.increment(ignored)) {
        writable(entry->path());
    }
    std::filesystem::remove_all("C:/ORVEL", ignored);
    std::filesystem::remove_all("C:/Program Files/ORVEL", ignored);
    std::filesystem::remove("C:/Program.exe", ignored);
    std::filesystem::remove(TestDrive::kViewerReport, ignored);
    std::filesystem::remove("C:/marker.txt", ignored);
}

} // namespace

TestDrive::TestDrive() : previous_(std::filesystem::current_path())
{
    if (!MayChangeDrive()) {
        skipped_ = true;
#if defined(ORVEL_TEST_DRIVE_IS_SYSTEM_DRIVE)
        SkipTest();
#endif
        return;
    }
#if !defined(_WIN32)
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    do {
        folder_ =
            base / ("orvel-test-" + std::to_string(getpid()) + "-" + std::to_string(random()));
    } while (std::filesystem::exists(folder_));
    std::filesystem::create_directories(folder_ / "C:");
    std::filesystem::current_path(folder_);
#endif
    RemoveDriveFolders();
    SetEnvironment("ORVEL_VIEWER_REPORT", kViewerReport);
    SetEnvironment("ORVEL_VIEWER_LINGER_MS", "0");
}

TestDrive::~TestDrive()
{
    if (skipped_) {
        return;
    }
    RemoveDriveFolders();
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    if (!folder_.empty()) {
        std::filesystem::remove_all(folder_, ignored);
    }
}

bool TestDrive::MayChangeDrive()
{
#if defined(ORVEL_TEST_DRIVE_IS_SYSTEM_DRIVE)
    return GetEnvironment(kSystemDriveVariable) == "1";
#else
    return true;
#endif
}

void TestDrive::InstallViewer() const
{
    std::filesystem::create_directories("C:/Program Files/ORVEL");
    std::filesystem::copy_file(ORVEL_STANDIN_VIEWER, "C:/Program Files/ORVEL/ORVEL.exe",
                               std::filesystem::copy_options::overwrite_existing);
}

namespace {

// The whole file, or nothing when it does not open.
std::optional<std::string> ReadIfOpens(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

} // namespace

std::string ReadFile(const std::filesystem::path& path)
{
    return ReadIfOpens(path).value_or(std::string());
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
}

std::vector<std::string> TemporaryFilesLeft()
{
    std::vector<std::string> left;
    std::error_code ignored;
    for (const auto& entry :
         std::filesystem::directory_iterator("C:/ORVEL/CLO3D_Plugin", ignored)) {
        const std::string name = entry.path().filename().string();
        if (name != "API.json" && name != "Prepped_For_ORVEL.glb") {
            left.push_back(name);
        }
    }
    return left;
}

std::string MinimalGlb()
{
    std::string json = R"({"asset":{"version":"2.0"}})";
    json.append((4 - json.size() % 4) % 4, ' ');
    const auto word = [](std::uint32_t value) {
        std::string bytes;
        for (int shift = 0; shift < 32; shift += 8) {
            bytes += static_cast<char>((value >> shift) & 0xFFU);
        }
        return bytes;
    };
    const auto jsonLength = static_cast<std::uint32_t>(json.size());
    return "glTF" + word(2) + word(12 + 8 + jsonLength) + word(jsonLength) + "JSON" + json;
}

void SetEnvironment(const std::string& name, const std::string& value)
{
#if defined(_WIN32)
    _putenv_s(name.c_str(), value.c_str());
#else
    if (value.empty()) {
        unsetenv(name.c_str());
    } else {
        setenv(name.c_str(), value.c_str(), 1);
    }
#endif
}

std::string GetEnvironment(const std::string& name)
{
#if defined(_MSC_VER)
    // MSVC warns about getenv (C4996); _dupenv_s hands out a copy to free.
    char* value = nullptr;
    std::size_t size = 0;
    if (_dupenv_s(&value, &size, name.c_str()) != 0 || value == nullptr) {
        return {};
    }
    const std::unique_ptr<char, decltype(&std::free)> owned(value, &std::free);
    return std::string(owned.get());
#else
    const char* value = std::getenv(name.c_str());
    return value == nullptr ? std::string() : std::string(value);
#endif
}

bool WaitForFile(const std::filesystem::path& path, double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::optional<std::string> WaitToRead(const std::filesystem::path& path, double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (std::optional<std::string> bytes = ReadIfOpens(path)) {
            return bytes;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

#if !defined(_WIN32)
bool RunAsOrdinaryUser(const std::function<bool()>& body)
{
    if (geteuid() != 0) {
        return body();
    }
    constexpr uid_t kNobody = 65534;
    std::error_code ignored;
    for (auto entry = std::filesystem::recursive_directory_iterator(".", ignored);
         entry != std::filesystem::recursive_directory_iterator(); entry.increment(ignored)) {
        static_cast<void>(lchown(entry->path().c_str(), kNobody, kNobody));
    }
    static_cast<void>(chown(".", kNobody, kNobody));
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0) {
            _exit(3);
        }
        bool passed = false;
        try {
            passed = body();
        } catch (...) {
        }
        std::fflush(stdout);
        _exit(passed ? 0 : 1);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

} // namespace testing_host
