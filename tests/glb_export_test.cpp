#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "export/glb_export.h"
#include "support/fake_host.h"
#include "support/test_drive.h"

namespace {

using testing_host::CallRecord;
using testing_host::InstalledServices;
using testing_host::RecordingExporter;
using testing_host::RecordingUtility;
using testing_host::TestDrive;
namespace fs = std::filesystem;

const std::string kNoExportService = "EXPORT_API seems to not be defined. Something is wrong ";

// Little-endian value of `width` bytes at `offset` of the received record.
std::uint64_t ValueAt(const std::vector<unsigned char>& record, std::size_t offset,
                      std::size_t width)
{
    std::uint64_t value = 0;
    for (std::size_t i = width; i > 0; --i) {
        value = (value << 8U) | record.at(offset + i - 1);
    }
    return value;
}

TEST(GlbExport, AsksTheHostForFolderBaseNameAndExtensionAndReturnsThatPath)
{
    RecordingUtility utility;
    RecordingExporter exporter;
    InstalledServices services(&utility, &exporter);

    EXPECT_EQ(orvel::ExportSceneToGlb("C:/ORVEL/CLO3D_Plugin/", "Prepped_For_ORVEL").path,
              "C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb");
    EXPECT_EQ(orvel::ExportSceneToGlb("", "").path, ".glb");

    ASSERT_EQ(exporter.calls.size(), 2U);
    EXPECT_EQ(exporter.calls[0].path, "C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb");
    EXPECT_EQ(exporter.calls[1].path, ".glb");
    EXPECT_TRUE(utility.messages.empty());
    // The service is looked up afresh for the call itself.
    const std::vector<std::string> once = {"getInstance", "GetExportAPI", "getInstance",
                                           "GetExportAPI"};
    std::vector<std::string> expected = once;
    expected.insert(expected.end(), once.begin(), once.end());
    EXPECT_EQ(CallRecord(), expected);
}

TEST(GlbExport, WithoutExportServiceTellsTheUserAndRequestsNothing)
{
    RecordingUtility utility;
    InstalledServices services(&utility, nullptr);
    ASSERT_EQ(kNoExportService.size(), 55U);

    const orvel::ExportedGlb exported =
        orvel::ExportSceneToGlb("C:/ORVEL/CLO3D_Plugin/", "Prepped_For_ORVEL");
    EXPECT_EQ(exported.path, "");
    EXPECT_FALSE(exported.hostWroteNothing); // there was nothing to check
    EXPECT_EQ(utility.messages, std::vector<std::string>{kNoExportService});
    EXPECT_EQ(CallRecord(), (std::vector<std::string>{"getInstance", "GetExportAPI", "getInstance",
                                                      "GetUtilityAPI"}));
}

TEST(GlbExport, WithoutAnyServiceReturnsEmptyQuietly)
{
    InstalledServices services(nullptr, nullptr);
    const orvel::ExportedGlb exported =
        orvel::ExportSceneToGlb("C:/ORVEL/CLO3D_Plugin/", "Prepped_For_ORVEL");
    EXPECT_EQ(exported.path, "");
    EXPECT_FALSE(exported.hostWroteNothing); // there was nothing to check
}

TEST(GlbExport, ReturnsThePathWhateverTheHostWrote)
{
    RecordingExporter exporter;
    exporter.write = [](const std::string&) {}; // writes nothing at all
    InstalledServices services(nullptr, &exporter);
    EXPECT_EQ(orvel::ExportSceneToGlb("dir/", "name").path, "dir/name.glb");
}

// Whether the host wrote the file is told by the file alone, for exports in
// any order and at any pace, and the check never changes a file the host left.
class GlbWriteCheck : public ::testing::Test {
protected:
    GlbWriteCheck() { fs::create_directories(kFolder); }

    orvel::ExportedGlb Export() { return orvel::ExportSceneToGlb(kFolder, "Prepped_For_ORVEL"); }

    // An earlier export, an hour old, as the file system stored its time.
    fs::file_time_type PlantEarlierExport()
    {
        testing_host::WriteFile(kGlb, "an earlier export");
        fs::last_write_time(kGlb, fs::last_write_time(kGlb) - std::chrono::hours(1));
        return fs::last_write_time(kGlb);
    }

    static constexpr const char* kFolder = "C:/ORVEL/CLO3D_Plugin/";
    static constexpr const char* kGlb = "C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb";
    TestDrive drive_;
    RecordingExporter exporter_;
    InstalledServices services_{nullptr, &exporter_};
};

TEST_F(GlbWriteCheck, QuickExportsOfTheSameProjectAllCountAsWritten)
{
    exporter_.write = [](const std::string& path) {
        testing_host::WriteFile(path, testing_host::MinimalGlb());
    };
    for (int run = 0; run < 20; ++run) {
        const orvel::ExportedGlb exported = Export();
        EXPECT_EQ(exported.path, kGlb);
        EXPECT_FALSE(exported.hostWroteNothing) << "run " << run;
    }
    // The host's own time, not the mark, stays on the file.
    EXPECT_LT(fs::file_time_type::clock::now() - fs::last_write_time(kGlb),
              std::chrono::minutes(5));
}

TEST_F(GlbWriteCheck, NothingWrittenWhereNoFileWasIsReported)
{
    EXPECT_TRUE(Export().hostWroteNothing);
    EXPECT_FALSE(fs::exists(kGlb));
}

TEST_F(GlbWriteCheck, NothingWrittenOverAnEarlierExportLeavesItsBytesAndTime)
{
    const fs::file_time_type earlier = PlantEarlierExport();
    EXPECT_TRUE(Export().hostWroteNothing);
    EXPECT_EQ(testing_host::ReadFile(kGlb), "an earlier export");
    EXPECT_EQ(fs::last_write_time(kGlb), earlier);
    // and again: the restored time is no mark that would fool the next run
    EXPECT_TRUE(Export().hostWroteNothing);
    EXPECT_EQ(fs::last_write_time(kGlb), earlier);
}

TEST_F(GlbWriteCheck, RewritingAnEarlierExportCountsAsWritten)
{
    PlantEarlierExport();
    exporter_.write = [](const std::string& path) { testing_host::WriteFile(path, "new"); };
    EXPECT_FALSE(Export().hostWroteNothing);
    EXPECT_EQ(testing_host::ReadFile(kGlb), "new");
}

TEST_F(GlbWriteCheck, FolderInPlaceOfTheFileIsReportedAndLeftAlone)
{
    fs::create_directories(kGlb);
    const fs::file_time_type before = fs::last_write_time(kGlb);
    EXPECT_TRUE(Export().hostWroteNothing);
    EXPECT_TRUE(fs::is_directory(kGlb));
    EXPECT_EQ(fs::last_write_time(kGlb), before);
}

TEST_F(GlbWriteCheck, ExportThatThrowsLeavesTheEarlierFilesTime)
{
    const fs::file_time_type earlier = PlantEarlierExport();
    exporter_.throws = true;
    EXPECT_THROW(Export(), std::runtime_error);
    EXPECT_EQ(fs::last_write_time(kGlb), earlier);
    EXPECT_EQ(testing_host::ReadFile(kGlb), "an earlier export");
}

// The host reads the record by its own layout, so every listed byte matters.
TEST(GlbExport, OptionRecordHoldsTheFixedValuesAtTheHostsOffsets)
{
    RecordingExporter exporter;
    InstalledServices services(nullptr, &exporter);
    static_cast<void>(orvel::ExportSceneToGlb("C:/ORVEL/CLO3D_Plugin/", "Prepped_For_ORVEL"));
    ASSERT_EQ(exporter.calls.size(), 1U);
    const std::vector<unsigned char>& record = exporter.calls[0].option;
    ASSERT_EQ(record.size(), 176U);

    struct Field {
        std::size_t offset;
        std::size_t width;
        std::uint64_t value;
    };
    const Field fields[] = {
        {8, 1, 1},   {9, 1, 0},           {10, 1, 1},          {12, 4, 0},
        {16, 1, 0},  {17, 1, 0},          {18, 1, 0},          {20, 4, 0x45000000},
        {24, 4, 4},  {28, 4, 0x3F800000}, {32, 4, 0x3C23D70A}, {36, 1, 1},
        {37, 8, 0},  {48, 4, 0x3A83126F}, {52, 4, 0},          {56, 4, 1},
        {60, 4, 2},  {64, 4, 0},          {68, 4, 1},          {72, 4, 0},
        {76, 2, 0},  {78, 1, 0},          {80, 1, 0},          {84, 8, 0},
        {92, 1, 1},  {96, 4, 0x3F800000}, {100, 4, 30},        {104, 4, 0x3F800000},
        {108, 1, 0}, {112, 8, 0},         {120, 2, 0},         {124, 4, 0},
        {128, 1, 1}, {129, 1, 1},         {168, 4, 0},
    };
    for (const Field& field : fields) {
        EXPECT_EQ(ValueAt(record, field.offset, field.width), field.value)
            << "at offset " << field.offset;
    }
    EXPECT_EQ(exporter.calls[0].optionText, "");
}

} // namespace
