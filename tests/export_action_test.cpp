#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "export/export_action.h"
#include "support/expected_texts.h"
#include "support/fake_host.h"
#include "support/test_drive.h"
#include "support/viewer_report.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_host::texts;
using testing_host::InstalledServices;
using testing_host::ReadFile;
using testing_host::RecordingExporter;
using testing_host::RecordingUtility;
using testing_host::TestDrive;
using testing_host::WaitForFile;

class ExportAction : public ::testing::Test {
protected:
    ExportAction()
    {
        exporter_.write = [](const std::string& path) {
            testing_host::WriteFile(path, testing_host::MinimalGlb());
        };
    }

    // Runs the action once and returns what it wrote to standard output.
    static std::string Run()
    {
        ::testing::internal::CaptureStdout();
        orvel::ExportAction();
        return ::testing::internal::GetCapturedStdout();
    }

    // The console line is written exactly `runs` times, each after the
    // messages of its run; the last one ends the output of the action.
    static void ExpectConsoleLines(const std::string& output, std::size_t runs)
    {
        std::size_t count = 0;
        for (auto at = output.find(kConsoleLine); at != std::string::npos;
             at = output.find(kConsoleLine, at + 1)) {
            ++count;
        }
        EXPECT_EQ(count, runs) << output;
        const auto lastMessage = output.rfind("message: ");
        const auto lastLine = output.rfind(kConsoleLine);
        if (lastMessage != std::string::npos) {
            EXPECT_LT(lastMessage, lastLine) << output;
        }
    }

    TestDrive drive_;
    RecordingUtility utility_;
    RecordingExporter exporter_;
};

TEST_F(ExportAction, ExportsWritesSettingsTellsAndStartsTheViewer)
{
    drive_.InstallViewer();
    InstalledServices services(&utility_, &exporter_);
    const std::string output = Run();

    EXPECT_EQ(utility_.messages, (std::vector<std::string>{kExported + kGlb, kOpening}));
    ASSERT_EQ(exporter_.calls.size(), 1U);
    EXPECT_EQ(exporter_.calls[0].path, kGlb);
    EXPECT_EQ(ReadFile(kSettings), SettingsNaming(kGlb));
    ExpectConsoleLines(output, 1);
    const std::string report = testing_host::ViewerReport();
    EXPECT_NE(report.find("model: " + kGlb), std::string::npos) << report;
    EXPECT_EQ(report.find("error"), std::string::npos) << report;
}

TEST_F(ExportAction, WithoutExportServiceStillWritesSettingsAndStartsTheViewer)
{
    drive_.InstallViewer();
    InstalledServices services(&utility_, nullptr);
    const std::string output = Run();

    EXPECT_EQ(utility_.messages, (std::vector<std::string>{kNoExportService, kExported, kOpening}));
    EXPECT_EQ(ReadFile(kSettings), SettingsNaming(""));
    EXPECT_FALSE(fs::exists(kGlb));
    ExpectConsoleLines(output, 1);
    // One start: the viewer reports, if only that it has no model to open.
    const std::string report = testing_host::ViewerReport();
    EXPECT_NE(report.find("settings: " + kSettings), std::string::npos) << report;
}

TEST_F(ExportAction, WithoutViewerTellsWhereTheFilesAre)
{
    InstalledServices services(&utility_, &exporter_);
    const std::string output = Run();

    EXPECT_EQ(utility_.messages, (std::vector<std::string>{kExported + kGlb, kOpening, kFailed}));
    EXPECT_EQ(ReadFile(kSettings), SettingsNaming(kGlb));
    EXPECT_EQ(ReadFile(kGlb), testing_host::MinimalGlb());
    ExpectConsoleLines(output, 1);
}

TEST_F(ExportAction, WithoutUtilityServiceStillExportsWritesAndStarts)
{
    drive_.InstallViewer();
    InstalledServices services(nullptr, &exporter_);
    const std::string output = Run();

    EXPECT_EQ(exporter_.calls.size(), 1U);
    EXPECT_EQ(ReadFile(kSettings), SettingsNaming(kGlb));
    ExpectConsoleLines(output, 1);
    EXPECT_NE(testing_host::ViewerReport().find("model: " + kGlb), std::string::npos);
}

TEST_F(ExportAction, SecondRunAsksForTheSamePathAndReplacesTheSettings)
{
    InstalledServices services(&utility_, &exporter_);
    std::string output = Run();
    testing_host::WriteFile(kSettings, std::string(500, ' ') + "{\"modelFile\": \"stale\"}");
    output += Run();

    ASSERT_EQ(exporter_.calls.size(), 2U);
    EXPECT_EQ(exporter_.calls[0].path, kGlb);
    EXPECT_EQ(exporter_.calls[1].path, kGlb);
    EXPECT_EQ(ReadFile(kSettings), SettingsNaming(kGlb));
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator("C:/ORVEL/CLO3D_Plugin")) {
        files.push_back(entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"API.json", "Prepped_For_ORVEL.glb"}));
    const std::vector<std::string> run = {kExported + kGlb, kOpening, kFailed};
    std::vector<std::string> both = run;
    both.insert(both.end(), run.begin(), run.end());
    EXPECT_EQ(utility_.messages, both);
    ExpectConsoleLines(output, 2);
}

// Nothing is exported, written or started, and the user learns which folder
// could not be made and why.
TEST_F(ExportAction, FolderThatCannotBeCreatedStopsWithOneMessage)
{
    drive_.InstallViewer();
    testing_host::WriteFile("C:/ORVEL", "a file where the folder belongs");
    InstalledServices services(&utility_, &exporter_);
    const std::string output = Run();

    ASSERT_EQ(utility_.messages.size(), 1U);
    const std::string& message = utility_.messages[0];
    EXPECT_EQ(message.rfind("Export for ORVEL stopped: could not create the folder C:/ORVEL (", 0),
              0U)
        << message;
    EXPECT_NE(message.find("). Nothing was exported."), std::string::npos) << message;
    EXPECT_TRUE(exporter_.calls.empty());
    EXPECT_EQ(output.find(kConsoleLine), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file("C:/ORVEL"));
    EXPECT_FALSE(WaitForFile(TestDrive::kViewerReport, 0.5));
}

} // namespace
