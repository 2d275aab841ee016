#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "export/viewer_launch.h"
#include "support/expected_texts.h"
#include "support/fake_host.h"
#include "support/test_drive.h"
#include "support/viewer_report.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_host::texts;
using testing_host::InstalledServices;
using testing_host::ReadFile;
using testing_host::RecordingUtility;
using testing_host::TestDrive;
using testing_host::WaitForFile;

class ViewerLaunch : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories("C:/ORVEL/CLO3D_Plugin");
        testing_host::WriteFile("C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb",
                                testing_host::MinimalGlb());
        testing_host::WriteFile(kSettings,
                                R"({"modelFile": "C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb"})");
    }

    TestDrive drive_;
    RecordingUtility utility_;
    InstalledServices services_{&utility_, nullptr};
};

TEST_F(ViewerLaunch, StartsTheViewerWithTheExactCommandLine)
{
    drive_.InstallViewer();
    orvel::LaunchViewer(kSettings, "C:/ORVEL/CLO3D_Plugin/");
    EXPECT_EQ(utility_.messages, std::vector<std::string>{kOpening});
    const std::string report = testing_host::ViewerReport();
    EXPECT_NE(report.find("command line: C:\\Program Files\\ORVEL\\ORVEL.exe "
                          "-Settings=\"C:/ORVEL/CLO3D_Plugin/API.json\"\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("settings: C:/ORVEL/CLO3D_Plugin/API.json\n"), std::string::npos)
        << report;
    EXPECT_NE(report.find("model: C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb\n"),
              std::string::npos)
        << report;
}

TEST_F(ViewerLaunch, EmptySettingsPathGivesTwoQuotes)
{
    drive_.InstallViewer();
    orvel::LaunchViewer("", "C:/ORVEL/CLO3D_Plugin/");
    const std::string report = testing_host::ViewerReport();
    EXPECT_NE(report.find("command line: C:\\Program Files\\ORVEL\\ORVEL.exe -Settings=\"\"\n"),
              std::string::npos)
        << report;
}

TEST_F(ViewerLaunch, WithoutViewerTellsWhereTheFilesAre)
{
    orvel::LaunchViewer(kSettings, "C:/ORVEL/CLO3D_Plugin/");
    ASSERT_EQ(kFailedPrefix.size(), 61U);
    EXPECT_EQ(utility_.messages, (std::vector<std::string>{kOpening, kFailed}));
}

TEST_F(ViewerLaunch, ReturnsWhileTheViewerIsStillRunning)
{
    drive_.InstallViewer();
    testing_host::SetEnvironment("ORVEL_VIEWER_LINGER_MS", "4000");
    const auto start = std::chrono::steady_clock::now();
    orvel::LaunchViewer(kSettings, "C:/ORVEL/CLO3D_Plugin/");
    const auto returned = std::chrono::steady_clock::now() - start;
    EXPECT_LT(returned, std::chrono::seconds(3));
    EXPECT_EQ(utility_.messages, std::vector<std::string>{kOpening});
    // Let the viewer finish before its file is removed.
    testing_host::ViewerReport();
    std::this_thread::sleep_until(start + std::chrono::milliseconds(4500));
}

#if !defined(_WIN32)
// The viewer gets the caller's environment (here the report's file name), with
// its own command line in place of any such variable the caller has; the
// caller's environment is left as it was.
TEST_F(ViewerLaunch, CommandLineVariableReplacesTheCallersOwn)
{
    drive_.InstallViewer();
    testing_host::SetEnvironment("ORVEL_STANDIN_COMMAND_LINE", "stale");
    orvel::LaunchViewer(kSettings, "C:/ORVEL/CLO3D_Plugin/");
    const std::string report = testing_host::ViewerReport();
    const char* own = std::getenv("ORVEL_STANDIN_COMMAND_LINE");
    const std::string callersValue = own == nullptr ? "(unset)" : own;
    unsetenv("ORVEL_STANDIN_COMMAND_LINE");
    EXPECT_NE(report.find("command line: C:\\Program Files\\ORVEL\\ORVEL.exe "
                          "-Settings=\"C:/ORVEL/CLO3D_Plugin/API.json\"\n"),
              std::string::npos)
        << report;
    EXPECT_EQ(callersValue, "stale");
    EXPECT_EQ(utility_.messages, std::vector<std::string>{kOpening});
}
#endif

#if defined(_WIN32)
// Windows would split the unquoted "C:\Program Files\..." at its space and
// start C:\Program.exe, if one existed, unless the program is named apart.
TEST_F(ViewerLaunch, APlantedProgramExeIsNeverStarted)
{
    drive_.InstallViewer();
    fs::copy_file(ORVEL_MARKER_PROGRAM, "C:/Program.exe");
    orvel::LaunchViewer(kSettings, "C:/ORVEL/CLO3D_Plugin/");
    const std::string report = testing_host::ViewerReport();
    EXPECT_NE(report.find("model: C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb"), std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(fs::exists("C:/marker.txt")) << ReadFile("C:/marker.txt");
    EXPECT_EQ(utility_.messages, std::vector<std::string>{kOpening});
}

// A command line the locale cannot convert is a failed start, never a write
// past the conversion buffer.
TEST_F(ViewerLaunch, UnconvertibleCommandLineIsAFailedStart)
{
    drive_.InstallViewer();
    ASSERT_NE(std::setlocale(LC_ALL, "Japanese_Japan.932"), nullptr);
    orvel::LaunchViewer("C:/ORVEL/\x81", "C:/ORVEL/CLO3D_Plugin/");
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(utility_.messages, (std::vector<std::string>{kOpening, kFailed}));
}

// Each start closes the handles of the viewer's process and thread: the
// host's handle count does not grow over 20 starts.
TEST_F(ViewerLaunch, LeavesNoHandleOfTheViewerOpen)
{
    DWORD before = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &before) == FALSE || before == 0) {
        GTEST_SKIP() << "GetProcessHandleCount does not count handles here (Wine always "
                        "answers 0); a leak shows only on Windows itself";
    }
    drive_.InstallViewer();
    const auto start = [] {
        orvel::LaunchViewer(kSettings, "C:/ORVEL/CLO3D_Plugin/");
        testing_host::ViewerReport();
        std::error_code ignored;
        fs::remove(TestDrive::kViewerReport, ignored);
    };
    start(); // handles Windows opens once, on the first start, are not counted
    ASSERT_NE(GetProcessHandleCount(GetCurrentProcess(), &before), FALSE);
    for (int i = 0; i < 20; ++i) {
        start();
    }
    DWORD after = 0;
    ASSERT_NE(GetProcessHandleCount(GetCurrentProcess(), &after), FALSE);
    // A leak adds one or two handles per start, 20 or 40 in all; Windows may
    // open a few of its own meanwhile (thread pool workers), never that many.
    EXPECT_LE(after, before + 5) << before << " handles before the starts";
    EXPECT_EQ(utility_.messages, std::vector<std::string>(21, kOpening));
}
#endif

} // namespace
