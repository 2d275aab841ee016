// Every fault the host, the disk or the user can hand the plug-in, one row
// each: the action always returns, leaves no half-written file, and tells the
// user exactly what happened.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include "plugin_module.h"
#include "support/expected_texts.h"
#include "support/fake_host.h"
#include "support/test_drive.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_host::texts;
using testing_host::ReadFile;
using testing_host::TestDrive;
using testing_host::WriteFile;

const std::string kOldSettings = "{\"modelFile\": \"from an earlier run.glb\"}";
const std::string kEarlierGlb = "an earlier export";
const std::string kCutShortGlb =
    testing_host::MinimalGlb().substr(0, testing_host::MinimalGlb().size() - 8);
#if defined(_WIN32)
HANDLE gHeldGlb = INVALID_HANDLE_VALUE; // another program's handle on the earlier export
#endif

// What a row sets up before the action runs.
struct Faults {
    bool utility = true;
    bool exporter = true;
    bool utilityThrows = false;
    bool exporterThrows = false;
    bool exporterThrowsFilesystemError = false;
    bool viewer = true;
    std::optional<std::string> exportedBytes = testing_host::MinimalGlb(); // none: writes nothing
    std::function<void()> prepare; // disk faults planted before the run
    std::function<void()> after;   // further checks of the row's own
    // The permission the row relies on, which root (and Wine for folders) ignores.
    enum class Permission { None, ReadOnlyFolder, ReadOnlyFile } permission = Permission::None;
};

// What must hold afterwards. A null settings text means no file at all.
struct Outcome {
    std::vector<std::string> messages;
    std::optional<std::string> settings;
    bool viewerStarted = true;
    bool consoleLine = true;
    bool messagesArePrefixes = false; // for texts that carry the system's own reason
};

struct Row {
    const char* name;
    Faults faults;
    Outcome outcome;
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

template <typename Change>
Faults With(Change change)
{
    Faults faults;
    change(faults);
    return faults;
}

#if defined(_WIN32)
// An earlier export at the GLB's path, open in another handle with `access`
// and `share` while the action runs; the GLB holds `left` afterwards.
Faults HeldEarlierGlb(DWORD access, DWORD share, const std::string& left)
{
    Faults faults;
    faults.prepare = [access, share] {
        fs::create_directories("C:/ORVEL/CLO3D_Plugin");
        WriteFile(kGlb, kEarlierGlb);
        gHeldGlb = CreateFileW(L"C:\\ORVEL\\CLO3D_Plugin\\Prepped_For_ORVEL.glb", access, share,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(gHeldGlb, INVALID_HANDLE_VALUE);
    };
    faults.after = [left] {
        CloseHandle(gHeldGlb);
        EXPECT_EQ(ReadFile(kGlb), left);
    };
    return faults;
}
#endif

void MakeReadOnly(const fs::path& path)
{
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

// The rows are made at their first use, when every text they are made of is
// ready: under the MSVC ABI the inline texts of a header may be initialized
// after the globals of a file that includes it.
const std::vector<Row>& Rows()
{
    static const std::vector<Row> rows =
    { {"AllServices", {}, {{kExported + kGlb, kOpening}, SettingsNaming(kGlb)}},
      {"NoUtilityService", With([](Faults& f) { f.utility = false; }), {{}, SettingsNaming(kGlb)}},
      // No export to announce; the viewer is started all the same.
      {"NoExportService",
       With([](Faults& f) { f.exporter = false; }),
       {{kNoExportService, kOpening}, SettingsNaming("")}},
      {"NoServicesAtAll",
       With([](Faults& f) {
           f.utility = false;
           f.exporter = false;
       }),
       {{}, SettingsNaming("")}},
      {"UtilityServiceThrows",
       With([](Faults& f) { f.utilityThrows = true; }),
       {{kExported + kGlb, kOpening}, SettingsNaming(kGlb)}},
      {"ExportServiceThrows",
       With([](Faults& f) { f.exporterThrows = true; }),
       {{"Export for ORVEL stopped by an error: export service failed"},
        std::nullopt,
        false,
        false}},
      {"BothServicesThrow",
       With([](Faults& f) {
           f.utilityThrows = true;
           f.exporterThrows = true;
       }),
       {{"Export for ORVEL stopped by an error: export service failed"},
        std::nullopt,
        false,
        false}},
      // A file system error of the host's is not blamed on the workspace folder.
      {"ExportServiceThrowsFilesystemError",
       With([](Faults& f) { f.exporterThrowsFilesystemError = true; }),
       // The runtime's own text of the error follows (libstdc++ begins it
       // with "filesystem error: ", Microsoft's with the operation).
       {{"Export for ORVEL stopped by an error: " +
         std::string(fs::filesystem_error("write", kGlb,
                                          std::make_error_code(std::errc::no_space_on_device))
                         .what())},
        std::nullopt,
        false,
        false,
        true}},
      {"ExportWritesNothingAndViewerFailsAtOnce",
       With([](Faults& f) { f.exportedBytes = std::nullopt; }),
       {{kClo3dWroteNothing, kOpening}, SettingsNaming(kGlb)}},
      // The earlier export is kept as it was, and not passed off as this one.
      {"ExportWritesNothingOverAnEarlierGlb",
       With(
           [](Faults& f) {
               f.exportedBytes = std::nullopt;
               f.prepare = [] {
                   fs::create_directories("C:/ORVEL/CLO3D_Plugin");
                   WriteFile(kGlb, kEarlierGlb);
               };
           }),
       {{kClo3dWroteNothing, kOpening}, SettingsNaming(kGlb)}},
      // The host's export fails inside: a folder stands where the file belongs.
      {"GlbPathIsAFolder",
       With([](Faults& f) { f.prepare = [] { fs::create_directories(kGlb); }; }),
       {{kClo3dWroteNothing, kOpening}, SettingsNaming(kGlb)}},
      {"ExportWritesSomethingThatIsNoGlb",
       With([](Faults& f) { f.exportedBytes = std::string("not a model"); }),
       {{kClo3dWroteIncomplete, kOpening}, SettingsNaming(kGlb)}},
      // A full disk or a size limit cuts the host's write short.
      {"ExportCutShort",
       With([](Faults& f) { f.exportedBytes = kCutShortGlb; }),
       {{kClo3dWroteIncomplete, kOpening}, SettingsNaming(kGlb)}},
      {"ExportCutShortOverAnEarlierGlb",
       With(
           [](Faults& f) {
               f.exportedBytes = kCutShortGlb;
               f.prepare = [] {
                   fs::create_directories("C:/ORVEL/CLO3D_Plugin");
                   WriteFile(kGlb, testing_host::MinimalGlb());
               };
           }),
       {{kClo3dWroteIncomplete, kOpening}, SettingsNaming(kGlb)}},
#if defined(_WIN32)
      // The viewer of the last export still has it open, sharing only reading:
      // the host cannot write it, and the earlier export stays as it was.
      {"EarlierGlbHeldOpenByAViewer",
       HeldEarlierGlb(GENERIC_READ, FILE_SHARE_READ, kEarlierGlb),
       {{kClo3dWroteNothing, kOpening}, SettingsNaming(kGlb)}},
      // A handle on the GLB that shares writing but not reading (the host's
      // own, kept open): the host's write goes through, the check cannot read
      // it and gives the system's reason.
      {"GlbHeldOpenSharingNoReading",
       HeldEarlierGlb(GENERIC_WRITE, FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      testing_host::MinimalGlb()),
       {{kCouldNotCheckGlb, kOpening}, SettingsNaming(kGlb), true, true, true}},
#endif
      {"DriveFolderIsAPlainFile",
       With(
           [](Faults& f) {
               f.prepare = [] { WriteFile("C:/ORVEL", "a file where the folder belongs"); };
           }),
       {{"Export for ORVEL stopped: could not create the folder C:/ORVEL ("},
        std::nullopt,
        false,
        false,
        true}},
      {"WorkspaceFolderNotWritable",
       With(
           [](Faults& f) {
               f.prepare = [] {
                   fs::create_directories("C:/ORVEL/CLO3D_Plugin");
                   MakeReadOnly("C:/ORVEL/CLO3D_Plugin");
               };
               f.permission = Faults::Permission::ReadOnlyFolder;
           }),
       {{kClo3dWroteNothing, kCouldNotWriteSettings, kOpening}, std::nullopt, true, true, true}},
      {"SettingsFileReadOnly",
       With(
           [](Faults& f) {
               f.prepare = [] {
                   fs::create_directories("C:/ORVEL/CLO3D_Plugin");
                   WriteFile(kSettings, kOldSettings);
                   MakeReadOnly(kSettings);
               };
               f.permission = Faults::Permission::ReadOnlyFile;
           }),
       {{kCouldNotWriteSettings, kOpening}, kOldSettings, true, true, true}},
      {"SettingsFileIsAFolder",
       With([](Faults& f) { f.prepare = [] { fs::create_directories(kSettings); }; }),
       {{kCouldNotWriteSettings, kOpening}, std::nullopt, true, true, true}},
#if !defined(_WIN32)
      // The GLB's path cannot be looked at: the host wrote nothing there, and
      // the user is told what kept the check from looking.
      {"GlbPathIsALinkLoop",
       With(
           [](Faults& f) {
               f.prepare = [] {
                   fs::create_directories("C:/ORVEL/CLO3D_Plugin");
                   fs::create_symlink("Prepped_For_ORVEL.glb", kGlb);
               };
           }),
       {{kCouldNotCheckGlb, kOpening}, SettingsNaming(kGlb), true, true, true}},
      // Opening a FIFO for writing would wait for a reader for ever.
      {"SettingsFileIsAFifo",
       With(
           [](Faults& f) {
               f.prepare = [] {
                   fs::create_directories("C:/ORVEL/CLO3D_Plugin");
                   ASSERT_EQ(mkfifo(kSettings.c_str(), 0666), 0);
               };
           }),
       {{kExported + kGlb, kOpening}, SettingsNaming(kGlb)}},
      // The link is replaced; the file it points to is not written through it.
      {"SettingsFileIsALink",
       With(
           [](Faults& f) {
               f.prepare = [] {
                   fs::create_directories("C:/ORVEL/CLO3D_Plugin");
                   WriteFile("C:/elsewhere.json", kOldSettings);
                   fs::create_symlink(fs::absolute("C:/elsewhere.json"), kSettings);
               };
               f.after = [] {
                   EXPECT_EQ(ReadFile("C:/elsewhere.json"), kOldSettings);
                   EXPECT_FALSE(fs::is_symlink(kSettings));
               };
           }),
       {{kExported + kGlb, kOpening}, SettingsNaming(kGlb)}},
#endif
      {"NoViewerInstalled",
       With([](Faults& f) { f.viewer = false; }),
       {{kExported + kGlb, kOpening, kFailed}, SettingsNaming(kGlb), false}},
    };
    return rows;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Whether the current user is bound by the permission at all: root is not,
// and Windows has no read-only folders.
bool PermissionBinds(Faults::Permission permission)
{
    if (permission == Faults::Permission::None) {
        return true;
    }
    const fs::path probe = "C:/probe";
    fs::create_directories(probe);
    bool bound = false;
    if (permission == Faults::Permission::ReadOnlyFolder) {
        MakeReadOnly(probe);
        WriteFile(probe / "file", "x");
        bound = !fs::exists(probe / "file");
        fs::permissions(probe, fs::perms::owner_all, fs::perm_options::add);
    } else {
        WriteFile(probe / "file", "x");
        MakeReadOnly(probe / "file");
        WriteFile(probe / "file", "changed");
        bound = ReadFile(probe / "file") == "x";
        fs::permissions(probe / "file", fs::perms::owner_write, fs::perm_options::add);
    }
    fs::remove_all(probe);
    return bound;
}

class FaultInjection : public ::testing::TestWithParam<Row> {
protected:
    static void SetUpTestSuite() { plugin_ = new standin::PluginModule(ORVEL_PLUGIN_FILE); }
    static void TearDownTestSuite()
    {
        delete plugin_;
        plugin_ = nullptr;
    }

    // Checked for each row, not once for the suite: a module that does not load
    // fails every row instead of leaving them all skipped.
    void SetUp() override { ASSERT_TRUE(plugin_->ok()) << plugin_->error(); }

    // Plants the row's viewer and disk faults.
    void Prepare(const Row& row)
    {
        if (row.faults.viewer) {
            drive_.InstallViewer();
        }
        if (row.faults.prepare) {
            row.faults.prepare();
        }
    }

    // Runs the prepared row through the module's DoFunction and checks its outcome.
    static void RunRow(const Row& row)
    {
        const Faults& faults = row.faults;

        testing_host::RecordingUtility utility;
        utility.throws = faults.utilityThrows;
        testing_host::RecordingExporter exporter;
        exporter.throws = faults.exporterThrows;
        exporter.throwsFilesystemError = faults.exporterThrowsFilesystemError;
        if (faults.exportedBytes) {
            const std::string bytes = *faults.exportedBytes;
            exporter.write = [bytes](const std::string& path) { WriteFile(path, bytes); };
        }
        testing_host::InstalledServices services(faults.utility ? &utility : nullptr,
                                                 faults.exporter ? &exporter : nullptr);

        ::testing::internal::CaptureStdout();
        plugin_->DoFunction();
        const std::string output = ::testing::internal::GetCapturedStdout();

        const Outcome& expected = row.outcome;
        // A reason the system ends in a full stop (Microsoft's runtime does)
        // is shown without it.
        for (const std::string& message : utility.messages) {
            EXPECT_EQ(message.find(".)"), std::string::npos) << message;
        }
        if (expected.messagesArePrefixes) {
            ASSERT_EQ(utility.messages.size(), expected.messages.size());
            for (std::size_t i = 0; i < expected.messages.size(); ++i) {
                const std::string& message = utility.messages[i];
                EXPECT_EQ(message.rfind(expected.messages[i], 0), 0U) << message;
                if (expected.messages[i] == kCouldNotWriteSettings) {
                    EXPECT_TRUE(EndsWith(message, ")" + kMayShowEarlier)) << message;
                } else if (expected.messages[i] == kCouldNotCheckGlb) {
                    EXPECT_TRUE(EndsWith(message, ")" + kMayNotOpen)) << message;
                    EXPECT_GT(message.size(), kCouldNotCheckGlb.size() + 1 + kMayNotOpen.size())
                        << "no reason given: " << message;
                }
            }
        } else {
            EXPECT_EQ(utility.messages, expected.messages);
        }
        if (expected.settings) {
            EXPECT_EQ(ReadFile(kSettings), *expected.settings);
        } else if (fs::is_directory(kSettings)) {
            EXPECT_TRUE(fs::is_empty(kSettings));
        } else {
            EXPECT_FALSE(fs::exists(kSettings)) << ReadFile(kSettings);
        }
        // The export's file is the host's alone: never removed, moved or rewritten.
        if (!faults.exportedBytes && fs::is_regular_file(kGlb)) {
            EXPECT_EQ(ReadFile(kGlb), kEarlierGlb);
        }
        EXPECT_EQ(testing_host::TemporaryFilesLeft(), std::vector<std::string>{});
        if (faults.after) {
            faults.after();
        }
        EXPECT_EQ(output.find("Destroying OrvelImportInterface\n") != std::string::npos,
                  expected.consoleLine)
            << output;
        const bool reported =
            testing_host::WaitForFile(TestDrive::kViewerReport, expected.viewerStarted ? 20 : 0.5);
        EXPECT_EQ(reported, expected.viewerStarted) << ReadFile(TestDrive::kViewerReport);
    }

    static standin::PluginModule* plugin_;
    TestDrive drive_;
};

standin::PluginModule* FaultInjection::plugin_ = nullptr;

TEST_P(FaultInjection, ActionReturnsAndTellsTheUserWhatHappened)
{
    const Row& row = GetParam();
    const bool binds = PermissionBinds(row.faults.permission);
#if defined(_WIN32)
    if (!binds) {
        GTEST_SKIP() << "file permissions do not bind here";
    }
#endif
    Prepare(row);
    if (binds) {
        RunRow(row);
        return;
    }
#if !defined(_WIN32)
    // Tests run as root here; run the row as an ordinary user, so that the
    // permissions it plants bind.
    EXPECT_TRUE(testing_host::RunAsOrdinaryUser([&row] {
        RunRow(row);
        return !::testing::Test::HasFailure();
    })) << "row failed as an ordinary user";
#endif
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultInjection, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& row) {
                             return std::string(row.param.name);
                         });

} // namespace
