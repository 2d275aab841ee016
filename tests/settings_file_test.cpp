#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#if defined(_WIN32)
#include <windows.h>

#include <process.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "export/settings_file.h"
#include "platform/file_replace.h"
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

#if defined(_WIN32)
// SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE, which not every SDK's headers
// name: a link made without the privilege, in developer mode.
constexpr DWORD kUnprivilegedLink = 0x2;

bool UnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Under Wine: runs the Unix program `program` with `arguments` in `folder`,
// then waits until `done` says it has had its effect (Wine starts a Unix
// program without a handle to wait on). False when it does not start or
// `done` is still false after a minute.
template <typename Done>
bool RunUnixProgram(const wchar_t* program, const std::wstring& arguments,
                    const std::filesystem::path& folder, Done done)
{
    std::wstring command = std::wstring(program) + L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (CreateProcessW((L"Z:\\bin\\" + std::wstring(program)).c_str(), command.data(), nullptr,
                       nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &started) == FALSE) {
        return false;
    }
    if (started.hProcess != nullptr) {
        CloseHandle(started.hProcess);
        CloseHandle(started.hThread);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
#endif

// A symbolic link `name` in `folder` to `target` (relative to `folder`), for
// one test. Natively on Windows making one takes a privilege or developer
// mode, and may be refused. Under Wine, whose CreateSymbolicLinkW makes
// nothing, a Unix program makes a Unix link, and another removes it as itself
// at the end (Windows programs there remove the file it points to, and cannot
// see or remove a link left pointing to nothing).
class SymbolicLink {
public:
    SymbolicLink(const std::string& folder, const std::string& target, std::string name)
        : folder_(std::filesystem::path(folder).make_preferred()), name_(std::move(name))
    {
#if defined(_WIN32)
        const std::filesystem::path link = folder_ / name_;
        if (!UnderWine()) {
            made_ = CreateSymbolicLinkW(link.c_str(),
                                        std::filesystem::path(target).make_preferred().c_str(),
                                        kUnprivilegedLink) != FALSE;
            return;
        }
        made_ = RunUnixProgram(
            L"ln",
            L"-s " + std::filesystem::path(target).wstring() + L" " + link.filename().wstring(),
            folder_,
            [&link] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
#else
        std::error_code error;
        std::filesystem::create_symlink(target, folder_ / name_, error);
        made_ = !error;
#endif
    }
    SymbolicLink(const SymbolicLink&) = delete;
    SymbolicLink& operator=(const SymbolicLink&) = delete;
    ~SymbolicLink()
    {
#if defined(_WIN32)
        if (made_ && UnderWine()) {
            const std::filesystem::path link = folder_ / name_;
            RunUnixProgram(L"rm", L"-f " + link.filename().wstring(), folder_, [&link] {
                return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES;
            });
        }
#endif
    }

    bool made() const { return made_; }

private:
    std::filesystem::path folder_;
    std::string name_;
    bool made_ = false;
};

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

// Temporaries that a killed host left beside API.json are removed once they
// are old enough that no export can still be writing them; nothing else in
// the folder is touched, however old.
TEST_F(SettingsFile, RemovesOnlyItsOwnStaleTemporaries)
{
    struct Planted {
        const char* name;
        bool old;
        bool removed;
    };
    const Planted planted[] = {
        {"API.json.4242-7.tmp", true, true},
        {"API.json.1-0.tmp", true, true},
        {"API.json.4242-8.tmp", false, false}, // another export may be writing it
        {"API.json.tmp", true, false},
        {"API.json.4242-7.tmp.bak", true, false},
        {"API.json.42x-7.tmp", true, false},
        {"API.json.4242-.tmp", true, false},
        {"API.json.-7.tmp", true, false},
        {"API.json.1-2-3.tmp", true, false},
        {"API.json.4242-7.TMP.txt", true, false},
        {"API.json.1-2.bak", true, false},
        {"APIxjson.1-2.tmp", true, false},
        {"other.json.4242-7.tmp", true, false},
        {"Prepped_For_ORVEL.glb", true, false},
    };
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(11);
    const auto fresh = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(9);
    for (const Planted& file : planted) {
        const std::string path = std::string("C:/ORVEL/CLO3D_Plugin/") + file.name;
        WriteFile(path, "left behind");
        std::filesystem::last_write_time(path, file.old ? old : fresh);
    }
    std::filesystem::create_directories("C:/ORVEL/CLO3D_Plugin/API.json.9-9.tmp");
    std::error_code noTimeForFolders; // the MinGW runtime cannot set a folder's time
    std::filesystem::last_write_time("C:/ORVEL/CLO3D_Plugin/API.json.9-9.tmp", old,
                                     noTimeForFolders);
    // Links of that name are not ours either: neither an old one to nowhere,
    // nor a new one to an old file of the user's, which is old only when the
    // link is followed. Under Wine such a link looks like that file itself,
    // and removing it would remove the user's file.
    WriteFile("C:/ORVEL/old.txt", "the user's own");
    std::filesystem::last_write_time("C:/ORVEL/old.txt", old);
    const SymbolicLink linkToOld("C:/ORVEL/CLO3D_Plugin", "../old.txt", "API.json.6-6.tmp");
    // Nor one to an old API.json beside it, nor to an old temporary of the
    // same name in another folder: under Wine the file opened through such a
    // link bears the name of the folder's own file, or the entry's own name.
    WriteFile(kSettings, "the last export's");
    std::filesystem::last_write_time(kSettings, old);
    const SymbolicLink linkToSettings("C:/ORVEL/CLO3D_Plugin", "API.json", "API.json.2-2.tmp");
    const std::string othersTemporary = "C:/ORVEL/Other/API.json.3-3.tmp";
    std::filesystem::create_directories("C:/ORVEL/Other");
    WriteFile(othersTemporary, "another folder's");
    std::filesystem::last_write_time(othersTemporary, old);
    const SymbolicLink linkToOthers("C:/ORVEL/CLO3D_Plugin", "../Other/API.json.3-3.tmp",
                                    "API.json.3-3.tmp");
#if defined(_WIN32)
    ASSERT_TRUE((linkToOld.made() && linkToSettings.made() && linkToOthers.made()) || !UnderWine());
#else
    ASSERT_TRUE(linkToOld.made() && linkToSettings.made() && linkToOthers.made());
    const char* const link = "C:/ORVEL/CLO3D_Plugin/API.json.5-5.tmp";
    std::filesystem::create_symlink("/nowhere", link);
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, link, times, AT_SYMLINK_NOFOLLOW), 0);
#endif

    orvel::platform::RemoveStaleTemporaries(kSettings);
    for (const Planted& file : planted) {
        const std::string path = std::string("C:/ORVEL/CLO3D_Plugin/") + file.name;
        EXPECT_EQ(std::filesystem::exists(path), !file.removed) << file.name;
    }
    EXPECT_TRUE(std::filesystem::is_directory("C:/ORVEL/CLO3D_Plugin/API.json.9-9.tmp"));
    EXPECT_EQ(ReadFile("C:/ORVEL/old.txt"), "the user's own");
    if (linkToOld.made()) {
        EXPECT_TRUE(std::filesystem::exists("C:/ORVEL/CLO3D_Plugin/API.json.6-6.tmp"));
    }
    EXPECT_EQ(ReadFile(kSettings), "the last export's");
    EXPECT_EQ(ReadFile(othersTemporary), "another folder's");
    if (linkToSettings.made() && linkToOthers.made()) {
        EXPECT_TRUE(std::filesystem::exists("C:/ORVEL/CLO3D_Plugin/API.json.2-2.tmp"));
        EXPECT_TRUE(std::filesystem::exists("C:/ORVEL/CLO3D_Plugin/API.json.3-3.tmp"));
    }
#if !defined(_WIN32)
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(std::filesystem::is_symlink("C:/ORVEL/CLO3D_Plugin/API.json.6-6.tmp"));
    EXPECT_TRUE(std::filesystem::is_symlink("C:/ORVEL/CLO3D_Plugin/API.json.2-2.tmp"));
    EXPECT_TRUE(std::filesystem::is_symlink("C:/ORVEL/CLO3D_Plugin/API.json.3-3.tmp"));
#endif
    // Only the path's own folder is looked in: when it is missing, a stale
    // temporary of that name beside it stays.
    const std::string besideTheFolder = "C:/ORVEL/API.json.4242-7.tmp";
    WriteFile(besideTheFolder, "left behind");
    std::filesystem::last_write_time(besideTheFolder, old);
    orvel::platform::RemoveStaleTemporaries("C:/ORVEL/NoSuchFolder/API.json");
    EXPECT_TRUE(std::filesystem::exists(besideTheFolder));
#if !defined(_WIN32)
    // A folder the user may enter and write but not list: its stale temporary
    // is left for a later look that can list it.
    const std::string unlisted = "C:/ORVEL/Unlisted/API.json.4242-7.tmp";
    std::filesystem::create_directories("C:/ORVEL/Unlisted");
    WriteFile(unlisted, "left behind");
    std::filesystem::last_write_time(unlisted, old);
    std::filesystem::permissions("C:/ORVEL/Unlisted", std::filesystem::perms::owner_write |
                                                          std::filesystem::perms::owner_exec);
    EXPECT_TRUE(testing_host::RunAsOrdinaryUser([&unlisted] {
        orvel::platform::RemoveStaleTemporaries("C:/ORVEL/Unlisted/API.json");
        return std::filesystem::exists(unlisted);
    })) << "a temporary in a folder that cannot be listed went";
    std::filesystem::permissions("C:/ORVEL/Unlisted", std::filesystem::perms::owner_all);
    orvel::platform::RemoveStaleTemporaries("C:/ORVEL/Unlisted/API.json");
    EXPECT_FALSE(std::filesystem::exists(unlisted));
#endif
}

// Every write of the settings looks for leftovers, however often the folder
// was found clean before: nothing is remembered between exports.
TEST_F(SettingsFile, LooksForLeftoversAtEveryWrite)
{
    const std::string left = "C:/ORVEL/CLO3D_Plugin/API.json.7-";
    const auto plant = [&left](int number, int minutesOld) {
        WriteFile(left + std::to_string(number) + ".tmp", "left behind");
        std::filesystem::last_write_time(left + std::to_string(number) + ".tmp",
                                         std::filesystem::file_time_type::clock::now() -
                                             std::chrono::minutes(minutesOld));
    };
    const auto exists = [&left](int number) {
        return std::filesystem::exists(left + std::to_string(number) + ".tmp");
    };
    Written("model.glb"); // found clean
    plant(1, 0);
    plant(2, 11);
    Written("model.glb");
    EXPECT_TRUE(exists(1));
    EXPECT_FALSE(exists(2));
    plant(1, 11); // the young one has aged
    plant(3, 11);
    Written("model.glb");
    EXPECT_FALSE(exists(1));
    EXPECT_FALSE(exists(3));
}

// Files in the workspace folder besides API.json: a failed or finished
// write leaves no temporary file behind.
std::vector<std::string> OtherFiles()
{
    std::vector<std::string> others;
    for (const auto& entry : std::filesystem::directory_iterator("C:/ORVEL/CLO3D_Plugin")) {
        if (entry.path().filename() != "API.json") {
            others.push_back(entry.path().filename().string());
        }
    }
    return others;
}

// Another program reads API.json over and over while it is replaced again
// and again: whenever it can open the file, it finds one whole document or
// the other, never a part.
TEST_F(SettingsFile, AReaderOnlyEverSeesAWholeFile)
{
    const std::string first = Written("C:/first.glb");
    const std::string second = SettingsWithJsonValue("\"C:/the/second/model.glb\"");
    std::atomic<bool> writing{true};
    std::vector<std::string> partial;
    int unopened = 0;
    std::thread reader([&] {
        while (writing) {
            {
                std::ifstream file(kSettings, std::ios::binary);
                if (!file.is_open()) {
                    ++unopened;
                    continue;
                }
                const std::string seen{std::istreambuf_iterator<char>(file), {}};
                if (seen != first && seen != second) {
                    partial.push_back(seen);
                }
            }
#if defined(_WIN32)
            // An open reader holds up a replacement there (and the instant
            // of a replacement refuses an open); a viewer reads only once.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
#endif
        }
    });
    int refused = 0;
    for (int round = 0; round < 150; ++round) {
        const orvel::OrvelImportInterface settings(round % 2 == 0 ? "C:/the/second/model.glb"
                                                                  : "C:/first.glb");
        if (settings.WriteSettingsFile(kSettings)) {
            ++refused;
        }
    }
    writing = false;
    reader.join();
    EXPECT_EQ(partial, std::vector<std::string>{});
    EXPECT_EQ(OtherFiles(), std::vector<std::string>{});
#if !defined(_WIN32)
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(unopened, 0);
#else
    EXPECT_LT(refused, 150);
#endif
}

TEST_F(SettingsFile, FolderInThePlaceOfTheFileIsReportedAndLeftAlone)
{
    std::filesystem::create_directories(kSettings);
    const orvel::OrvelImportInterface settings("model.glb");
    EXPECT_TRUE(settings.WriteSettingsFile(kSettings));
    EXPECT_TRUE(std::filesystem::is_directory(kSettings));
    EXPECT_EQ(OtherFiles(), std::vector<std::string>{});
}

#if defined(_WIN32)
// A viewer that has API.json open holds up its replacement on Windows: the
// write waits a little for it, and gives up, leaving the file as it was.
TEST_F(SettingsFile, ReplaceWaitsBrieflyForAReaderToLetGo)
{
    const std::string previous = Written("C:/old.glb");
    std::atomic<bool> isOpen{false};
    // Holds API.json open for the given time, counted from when it is open.
    const auto holdOpenFor = [&isOpen](std::chrono::milliseconds time) {
        std::ifstream held(kSettings, std::ios::binary);
        EXPECT_TRUE(held.is_open());
        isOpen = true;
        std::this_thread::sleep_for(time);
    };
    const auto waitUntilOpen = [&isOpen] {
        while (!isOpen) {
            std::this_thread::yield();
        }
        isOpen = false;
    };
    std::thread briefly(holdOpenFor, std::chrono::milliseconds(40));
    waitUntilOpen();
    EXPECT_EQ(Written("C:/new.glb"), SettingsWithJsonValue("\"C:/new.glb\""));
    briefly.join();

    const std::string now = ReadFile(kSettings);
    std::thread long_(holdOpenFor, std::chrono::milliseconds(1500));
    waitUntilOpen();
    const orvel::OrvelImportInterface settings("C:/refused.glb");
    EXPECT_TRUE(settings.WriteSettingsFile(kSettings));
    long_.join();
    EXPECT_EQ(ReadFile(kSettings), now);
    EXPECT_EQ(OtherFiles(), std::vector<std::string>{});
}
#endif

TEST(SettingsRecord, DestroyingItWritesTheConsoleLineOnceAndFlushed)
{
    ::testing::internal::CaptureStdout();
    {
        const orvel::OrvelImportInterface settings("model.glb");
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Destroying OrvelImportInterface\n");
}

// The temporary file behind each replace, written straight through the
// platform's replace (no console line to capture).
class TemporaryFile : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories("C:/ORVEL/CLO3D_Plugin"); }

    TestDrive drive_;
};

// The temporary is always a new file, and a name is passed over only because
// it is taken: whatever stands at the next temporary names (links to a file
// of the user's; on Windows, where links need a privilege, plain files) is
// never written through, and a folder that does not exist is reported as
// such at once rather than after trying the other names.
TEST_F(TemporaryFile, TakenNamesAreSkippedAndOtherErrorsReportedAtOnce)
{
#if defined(_WIN32)
    const int process = _getpid();
#else
    const int process = static_cast<int>(getpid());
#endif
    // The names are numbered from 0 in each process; under Wine all tests run
    // in one process, so the planted names reach well past those used before.
    constexpr int kPlanted = 1000;
    const std::string victim = "C:/ORVEL/victim.txt";
    WriteFile(victim, "the user's own");
    std::vector<std::string> planted;
    for (int n = 0; n < kPlanted; ++n) {
        planted.push_back(kSettings + "." + std::to_string(process) + "-" + std::to_string(n) +
                          ".tmp");
#if defined(_WIN32)
        WriteFile(planted.back(), "planted");
#else
        std::filesystem::create_symlink(std::filesystem::absolute(victim), planted.back());
#endif
    }

    const std::error_code taken = orvel::platform::ReplaceWholeFile(kSettings, "new");
    EXPECT_TRUE(taken == std::errc::file_exists)
        << taken.message() << ": every name it tried should have been a planted one";
    EXPECT_EQ(ReadFile(victim), "the user's own");
    for (const std::string& name : planted) {
#if defined(_WIN32)
        ASSERT_EQ(ReadFile(name), "planted") << name;
#else
        ASSERT_TRUE(std::filesystem::is_symlink(name)) << name;
#endif
    }
    EXPECT_FALSE(std::filesystem::exists(kSettings));

    const std::error_code missing =
        orvel::platform::ReplaceWholeFile("C:/ORVEL/missing/API.json", "new");
    EXPECT_TRUE(missing == std::errc::no_such_file_or_directory) << missing.message();
}

} // namespace
