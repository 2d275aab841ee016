// A fresh "C:" drive for each test.
//
// On Windows (under Wine) it is the real C: drive, with the folders the
// plug-in and the viewer use removed before and after the test. On Linux the
// drive is a folder named "C:" inside a new temporary working folder, which is
// how the plug-in's "C:/..." paths resolve there. Either way, tests can use
// the same "C:/ORVEL/..." texts as the plug-in.
#pragma once

#include <filesystem>
#include <string>

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

private:
    std::filesystem::path previous_;
    std::filesystem::path folder_; // Linux only: the temporary working folder
};

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// Writes `bytes` to a file, replacing it.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// The smallest valid glTF 2.0 binary: a header and a JSON chunk, no meshes.
std::string MinimalGlb();

// Sets an environment variable of this process (and of programs it starts).
void SetEnvironment(const std::string& name, const std::string& value);

// Waits up to `seconds` for a file to exist; true when it does.
bool WaitForFile(const std::filesystem::path& path, double seconds);

} // namespace testing_host
