#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "export/settings_file.h"
#include "support/expected_texts.h"
#include "support/test_drive.h"

namespace {

using namespace testing_host::texts;
using testing_host::ReadFile;
using testing_host::TestDrive;
using testing_host::WriteFile;

std::string Written(const std::string& modelFile)
{
    {
        const orvel::OrvelImportInterface settings(modelFile);
        EXPECT_FALSE(settings.WriteSettingsFile(kSettings));
    }
    return ReadFile(kSettings);
}

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories("C:/ORVEL/CLO3D_Plugin");
        ::testing::internal::CaptureStdout(); // the record's console line
    }
    void TearDown() override { ::testing::internal::GetCapturedStdout(); }

    TestDrive drive_;
};

TEST_F(SettingsFile, HoldsExactlyTheThreeLinesWithoutAFinalLineEnd)
{
    const std::string bytes = Written("C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb");
    EXPECT_EQ(bytes, SettingsWithJsonValue("\"C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb\""));
    EXPECT_EQ(bytes.size(), 64U + 2 * kEol.size());
}

TEST_F(SettingsFile, EmptyPathIsTheEmptyString)
{
    EXPECT_EQ(Written(""), SettingsWithJsonValue("\"\""));
}

TEST_F(SettingsFile, QuoteAndBackslashAreEscapedAndOtherTextKeptAsItsBytes)
{
    EXPECT_EQ(Written("a\"b\\c"), SettingsWithJsonValue("\"a\\\"b\\\\c\""));
    EXPECT_EQ(Written("C:/Mod\xC3\xA8le/\xE6\xA8\xA1.glb"),
              SettingsWithJsonValue("\"C:/Mod\xC3\xA8le/\xE6\xA8\xA1.glb\""));
    EXPECT_EQ(Written("tab\there"), SettingsWithJsonValue("\"tab\\there\""));
}

TEST_F(SettingsFile, ReplacesALongerFileInsteadOfMergingWithIt)
{
    WriteFile(kSettings, std::string(4096, 'x') + "{\"modelFile\": \"old.glb\", \"other\": 1}");
    EXPECT_EQ(Written("new.glb"), SettingsWithJsonValue("\"new.glb\""));
}

TEST_F(SettingsFile, MissingFolderGivesNoFileAndTheSystemsReason)
{
    const orvel::OrvelImportInterface settings("model.glb");
    std::error_code error;
    EXPECT_NO_THROW(error = settings.WriteSettingsFile("C:/ORVEL/missing/API.json"));
    EXPECT_TRUE(error);
    EXPECT_FALSE(std::filesystem::exists("C:/ORVEL/missing"));
}

// A path the serialiser rejects must not cost the user the previous file.
TEST_F(SettingsFile, InvalidUtf8IsRefusedAndLeavesThePreviousFileAsItWas)
{
    const std::string previous = Written("C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb");
    const orvel::OrvelImportInterface settings("bad \xFF\xFE path");
    EXPECT_THROW(static_cast<void>(settings.WriteSettingsFile(kSettings)),
                 nlohmann::json::type_error);
    EXPECT_EQ(ReadFile(kSettings), previous);

    const orvel::OrvelImportInterface fresh("\xC3");
    EXPECT_THROW(static_cast<void>(fresh.WriteSettingsFile("C:/ORVEL/CLO3D_Plugin/new.json")),
                 nlohmann::json::type_error);
    EXPECT_FALSE(std::filesystem::exists("C:/ORVEL/CLO3D_Plugin/new.json"));
}

TEST_F(SettingsFile, WrittenFileParsesBackToTheSamePath)
{
    const std::string path = "C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb";
    const auto parsed = nlohmann::json::parse(Written(path));
    EXPECT_EQ(parsed, nlohmann::json({{"modelFile", path}}));
}

TEST(SettingsRecord, DestroyingItWritesTheConsoleLineOnceAndFlushed)
{
    ::testing::internal::CaptureStdout();
    {
        const orvel::OrvelImportInterface settings("model.glb");
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Destroying OrvelImportInterface\n");
}

} // namespace
