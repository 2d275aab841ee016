// A fresh "C:" drive for each test.
//
// On Windows it is the real C: drive, with the folders the plug-in and the
// viewer use removed before and after the test. On Linux the drive is a folder
// named "C:" inside a new temporary working folder, which is how the plug-in's
// "C:/..." paths resolve there. Either way, tests can use the same
// "C:/ORVEL/..." texts as the plug-in. On Windows, before it removes them, it
// waits for the viewers started from C:\Program Files\ORVEL to end, so that
// no test meets the files or the processes of the one before.
//
// Under Wine that C: drive belongs to the build's own throwaway prefix. Natively
// on Windows it is the machine's own system drive, which may hold a real viewer
// and real workspace files: there (builds with ORVEL_TEST_DRIVE_IS_SYSTEM_DRIVE)
// a TestDrive touches nothing and skips its test, with the reason, unless the
// environment variable kSystemDriveVariable is "1", as CI sets it on its
// throwaway runner. The skip stops the test before SetUp only when the
// TestDrive is built with the fixture: hold it as a member of the test's
// fixture, never as a local variable in a test body.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testing_host {

class TestDrive {
public:
    TestDrive();
    TestDrive(const TestDrive&) = delete;
    TestDrive& operator=(const TestDrive&) = delete;
    ~TestDrive();

    // Copies the stand-in viewer to C:/Program Files/ORVEL/ORVEL.exe.
    void InstallViewer() const;

    // Where the stand-in viewer started in this test writes its report.
    static constexpr const char* kViewerReport = "C:/viewer-report.txt";

    // Whether tests may change this build's "C:" drive: always, except on a
    // system drive (see above), where only kSystemDriveVariable=1 allows it.
    static bool MayChangeDrive();

private:
    std::filesystem::path previous_;
    std::filesystem::path folder_; // Linux only: the temporary working folder
    bool skipped_ = false;         // the drive may not be changed: nothing was touched
};

// Set to 1, it lets the tests change the system drive of a native Windows
// machine: C:\ORVEL, C:\Program Files\ORVEL\ORVEL.exe and C:\Program.exe.
constexpr const char* kSystemDriveVariable = "ORVEL_TESTS_MAY_CHANGE_SYSTEM_DRIVE";

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// Writes `bytes` to a file, replacing it.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// Files in the workspace folder C:/ORVEL/CLO3D_Plugin other than the two the
// action writes (API.json and the GLB): what a run left behind.
std::vector<std::string> TemporaryFilesLeft();

// The smallest valid glTF 2.0 binary: a header and a JSON chunk, no meshes.
std::string MinimalGlb();

// Sets an environment variable of this process (and of programs it starts);
// an empty value removes it.
void SetEnvironment(const std::string& name, const std::string& value);

// The value of an environment variable; empty when it is not set.
std::string GetEnvironment(const std::string& name);

// Waits up to `seconds` for a file to exist; true when it does.
bool WaitForFile(const std::filesystem::path& path, double seconds);

// Waits up to `seconds` for a file to exist and open, and returns its bytes;
// nothing when it never did. On Windows a file that another program has just
// renamed into place can refuse to open for a moment.
std::optional<std::string> WaitToRead(const std::filesystem::path& path, double seconds);

#if !defined(_WIN32)
// Runs `body` as an ordinary user, bound by file permissions as root is not:
// when this process runs as root, in a child process as nobody, to whom the
// test's drive is handed first. True when `body` returned true (a child's
// failures are printed by the child itself).
bool RunAsOrdinaryUser(const std::function<bool()>& body);
#endif

} // namespace testing_host
