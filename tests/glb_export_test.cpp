#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#endif

#include "export/glb_export.h"
#include "support/fake_host.h"
#include "support/option_record.h"
#include "support/test_drive.h"

namespace {

using testing_host::CallRecord;
using testing_host::InstalledServices;
using testing_host::RecordingExporter;
using testing_host::RecordingUtility;
using testing_host::TestDrive;
namespace fs = std::filesystem;

const std::string kNoExportService = "EXPORT_API seems to not be defined. Something is wrong ";

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
    EXPECT_EQ(exported.written, orvel::GlbWrite::NotAsked);
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
    EXPECT_EQ(exported.written, orvel::GlbWrite::NotAsked);
}

TEST(GlbExport, ReturnsThePathWhateverTheHostWrote)
{
    RecordingExporter exporter;
    exporter.write = [](const std::string&) {}; // writes nothing at all
    InstalledServices services(nullptr, &exporter);
    EXPECT_EQ(orvel::ExportSceneToGlb("dir/", "name").path, "dir/name.glb");
}

// Whether the host wrote the file, and wrote it whole, is told by the file
// alone, for exports in any order and at any pace; the check never changes a
// file, a time or another name of the same file.
class GlbWriteCheck : public ::testing::Test {
protected:
    GlbWriteCheck() { fs::create_directories(kFolder); }

    orvel::ExportedGlb Export() { return orvel::ExportSceneToGlb(kFolder, "Prepped_For_ORVEL"); }

    // A file written an hour ago, as the file system stored its time.
    static fs::file_time_type PlantOld(const fs::path& path, const std::string& bytes)
    {
        testing_host::WriteFile(path, bytes);
        fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(1));
        return fs::last_write_time(path);
    }

    static constexpr const char* kFolder = "C:/ORVEL/CLO3D_Plugin/";
    static constexpr const char* kGlb = "C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb";
    TestDrive drive_;
    RecordingExporter exporter_;
    InstalledServices services_{nullptr, &exporter_};
};

// The GLB with its 32-bit little-endian word at `offset` replaced.
std::string GlbWithWord(std::size_t offset, std::uint32_t value)
{
    std::string bytes = testing_host::MinimalGlb();
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFFU);
    }
    return bytes;
}

const std::string kEarlier = testing_host::MinimalGlb();
const std::string kGlbBytes = testing_host::MinimalGlb();

struct CheckRow {
    const char* name;
    bool earlier; // an earlier export is at the path, an hour old
    std::function<void(const std::string& path)> host;
    orvel::GlbWrite expected;
};

// Writes `bytes` the way a host that saves by renaming a new file over the name does.
void SaveByRename(const std::string& path, const std::string& bytes)
{
    testing_host::WriteFile(path + ".new", bytes);
    fs::rename(path + ".new", path);
}

void Writes(const std::string& path, const std::string& bytes)
{
    testing_host::WriteFile(path, bytes);
}

using orvel::GlbWrite;
const CheckRow kCheckRows[] = {
    {"NothingWhereNoFileWas", false, [](const std::string&) {}, GlbWrite::Nothing},
    {"NothingOverAnEarlierExport", true, [](const std::string&) {}, GlbWrite::Nothing},
    {"EarlierExportRemoved", true, [](const std::string& p) { fs::remove(p); }, GlbWrite::Nothing},
    {"NewFile", false, [](const std::string& p) { Writes(p, kGlbBytes); }, GlbWrite::Complete},
    {"SameBytesOverAnEarlierExport", true, [](const std::string& p) { Writes(p, kGlbBytes); },
     GlbWrite::Complete},
    {"SavedByRename", true, [](const std::string& p) { SaveByRename(p, kGlbBytes); },
     GlbWrite::Complete},
    // The same bytes with the old time put back: only the change time tells.
    {"SameBytesAndTimePutBack", true,
     [](const std::string& p) {
         const fs::file_time_type time = fs::last_write_time(p);
         Writes(p, kGlbBytes);
         fs::last_write_time(p, time);
     },
     GlbWrite::Complete},
    {"CutShort", false,
     [](const std::string& p) { Writes(p, kGlbBytes.substr(0, kGlbBytes.size() - 4)); },
     GlbWrite::Incomplete},
    {"CutShortOverAnEarlierExport", true,
     [](const std::string& p) { Writes(p, kGlbBytes.substr(0, kGlbBytes.size() - 4)); },
     GlbWrite::Incomplete},
    {"CutInsideTheHeader", true, [](const std::string& p) { Writes(p, kGlbBytes.substr(0, 19)); },
     GlbWrite::Incomplete},
    {"Empty", true, [](const std::string& p) { Writes(p, ""); }, GlbWrite::Incomplete},
    {"NoGlbAtAll", false, [](const std::string& p) { Writes(p, "not a model, but long enough"); },
     GlbWrite::Incomplete},
    {"Version1", false, [](const std::string& p) { Writes(p, GlbWithWord(4, 1)); },
     GlbWrite::Incomplete},
    {"LongerThanItsHeaderSays", false, [](const std::string& p) { Writes(p, kGlbBytes + "    "); },
     GlbWrite::Incomplete},
    {"FirstChunkNotJson", false,
     [](const std::string& p) { Writes(p, GlbWithWord(16, 0x004E4942)); }, GlbWrite::Incomplete},
    {"FirstChunkLongerThanTheFile", false,
     [](const std::string& p) { Writes(p, GlbWithWord(12, 0x10000)); }, GlbWrite::Incomplete},
};

void PrintTo(const CheckRow& row, std::ostream* out) { *out << row.name; }

class GlbWriteCheckRows : public GlbWriteCheck, public ::testing::WithParamInterface<CheckRow> {};

TEST_P(GlbWriteCheckRows, TellsWhatTheHostLeft)
{
    const CheckRow& row = GetParam();
    const fs::file_time_type earlier =
        row.earlier ? PlantOld(kGlb, kEarlier) : fs::file_time_type{};
    // What the host left, as the file system records it when the host is done.
    struct stat left {};
    exporter_.write = [&row, &left](const std::string& path) {
        row.host(path);
        static_cast<void>(stat(path.c_str(), &left));
    };
    EXPECT_EQ(Export().written, row.expected);
#if !defined(_WIN32)
    // Reading the header does not even change the time of last access.
    struct stat after {};
    if (stat(kGlb, &after) == 0) {
        EXPECT_EQ(after.st_atim.tv_sec, left.st_atim.tv_sec);
        EXPECT_EQ(after.st_atim.tv_nsec, left.st_atim.tv_nsec);
    }
#endif
    if (row.earlier && row.expected == GlbWrite::Nothing && fs::exists(kGlb)) {
        EXPECT_EQ(testing_host::ReadFile(kGlb), kEarlier);
        EXPECT_EQ(fs::last_write_time(kGlb), earlier);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, GlbWriteCheckRows, ::testing::ValuesIn(kCheckRows),
                         [](const ::testing::TestParamInfo<CheckRow>& row) {
                             return std::string(row.param.name);
                         });

TEST_F(GlbWriteCheck, QuickExportsOfTheSameBytesAllCountAsWritten)
{
    exporter_.write = [](const std::string& path) { Writes(path, kGlbBytes); };
    for (int run = 0; run < 20; ++run) {
        EXPECT_EQ(Export().written, GlbWrite::Complete) << "run " << run;
    }
    // The host's own time stays on the file.
    EXPECT_LT(fs::file_time_type::clock::now() - fs::last_write_time(kGlb),
              std::chrono::minutes(5));
}

// Sets a file's last-write time to the system clock's now plus `offset`,
// finer than the MinGW runtime's whole seconds.
void SetWriteTimeFromNow(const std::string& path, std::chrono::milliseconds offset)
{
#if defined(_WIN32)
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{};
    time.LowPart = now.dwLowDateTime;
    time.HighPart = now.dwHighDateTime;
    time.QuadPart += static_cast<ULONGLONG>(offset.count()) * 10000;
    const FILETIME when{time.LowPart, time.HighPart};
    const std::wstring wide(path.begin(), path.end());
    const HANDLE file = CreateFileW(wide.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_NE(SetFileTime(file, nullptr, nullptr, &when), FALSE);
    CloseHandle(file);
#else
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const long long when = now.tv_sec * 1000000000LL + now.tv_nsec + offset.count() * 1000000LL;
    const timespec times[2] = {{0, UTIME_OMIT}, {when / 1000000000, when % 1000000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
#endif
}

// A file written moments ago may be rewritten within the same tick of a
// coarse file clock: the check waits until that clock has moved past the
// file's time, briefly, and not at all for a time far off.
TEST_F(GlbWriteCheck, WaitsForTheFileClockOnlyForAFileWrittenMomentsAgo)
{
    testing_host::WriteFile(kGlb, kEarlier);
    SetWriteTimeFromNow(kGlb, std::chrono::milliseconds(30));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Export().written, GlbWrite::Nothing);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));

    // An hour ahead is no tick of any clock: no wait (it would last an hour).
    SetWriteTimeFromNow(kGlb, std::chrono::hours(1));
    EXPECT_EQ(Export().written, GlbWrite::Nothing);
}

TEST_F(GlbWriteCheck, FolderInPlaceOfTheFileIsReportedAndLeftAlone)
{
    fs::create_directories(kGlb);
    const fs::file_time_type before = fs::last_write_time(kGlb);
    EXPECT_EQ(Export().written, GlbWrite::Nothing);
    EXPECT_TRUE(fs::is_directory(kGlb));
    EXPECT_EQ(fs::last_write_time(kGlb), before);
}

TEST_F(GlbWriteCheck, ExportThatThrowsLeavesTheEarlierFileAsItWas)
{
    const fs::file_time_type earlier = PlantOld(kGlb, kEarlier);
    exporter_.throws = true;
    EXPECT_THROW(Export(), std::runtime_error);
    EXPECT_EQ(fs::last_write_time(kGlb), earlier);
    EXPECT_EQ(testing_host::ReadFile(kGlb), kEarlier);
}

// Another name of the file at the GLB's path (a hard link, or on Linux the
// user's file a symbolic link points to) keeps its bytes and time, whatever
// the host does there.
TEST_F(GlbWriteCheck, OtherNamesOfTheFileAreNeverChanged)
{
    struct Link {
        const char* name;
        std::function<void(const fs::path& other)> make;
    };
    const Link links[] = {
        {"hard link", [](const fs::path& other) { fs::create_hard_link(other, kGlb); }},
#if !defined(_WIN32)
        {"symbolic link",
         [](const fs::path& other) { fs::create_symlink(fs::absolute(other), kGlb); }},
#endif
    };
    const fs::path other = "C:/users-own.glb";
    for (const Link& link : links) {
        for (const bool hostWrites : {false, true}) {
            fs::remove(kGlb);
            const fs::file_time_type time = PlantOld(other, kEarlier);
            link.make(other);
            exporter_.write = [hostWrites](const std::string& path) {
                if (hostWrites) {
                    SaveByRename(path, kGlbBytes);
                }
            };
            EXPECT_EQ(Export().written, hostWrites ? GlbWrite::Complete : GlbWrite::Nothing)
                << link.name;
            EXPECT_EQ(fs::last_write_time(other), time) << link.name;
            EXPECT_EQ(testing_host::ReadFile(other), kEarlier) << link.name;
        }
    }
}

#if defined(_WIN32)
// A viewer that holds the last export open, sharing only reading, keeps the
// host from writing it: that is told, and the check itself is never refused.
TEST_F(GlbWriteCheck, EarlierExportHeldOpenBySomeoneWhoSharesOnlyReading)
{
    const fs::file_time_type earlier = PlantOld(kGlb, kEarlier);
    const HANDLE reader =
        CreateFileW(L"C:\\ORVEL\\CLO3D_Plugin\\Prepped_For_ORVEL.glb", GENERIC_READ,
                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    exporter_.write = [](const std::string& path) { Writes(path, kGlbBytes); };
    EXPECT_EQ(Export().written, GlbWrite::Nothing);
    CloseHandle(reader);
    EXPECT_EQ(testing_host::ReadFile(kGlb), kEarlier);
    EXPECT_EQ(fs::last_write_time(kGlb), earlier);
}
#endif

// The host reads the record by its own layout, so every listed byte matters.
TEST(GlbExport, OptionRecordHoldsTheFixedValuesAtTheHostsOffsets)
{
    RecordingExporter exporter;
    InstalledServices services(nullptr, &exporter);
    static_cast<void>(orvel::ExportSceneToGlb("C:/ORVEL/CLO3D_Plugin/", "Prepped_For_ORVEL"));
    ASSERT_EQ(exporter.calls.size(), 1U);
    const std::vector<unsigned char>& record = exporter.calls[0].option;
    ASSERT_EQ(record.size(), testing_host::kOptionRecordSize);
    EXPECT_EQ(testing_host::WrongOptionFields(record.data()), std::vector<std::string>{});
    EXPECT_EQ(exporter.calls[0].optionText, "");
}

} // namespace
