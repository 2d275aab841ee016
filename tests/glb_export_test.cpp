#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/stat.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "export/glb_export.h"
#include "platform/file_probe.h"
#include "support/failing_look.h"
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

std::string Word(std::uint32_t value)
{
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) {
        bytes += static_cast<char>((value >> shift) & 0xFFU);
    }
    return bytes;
}

// The GLB with its 32-bit little-endian word at `offset` replaced.
std::string GlbWithWord(std::size_t offset, std::uint32_t value)
{
    std::string bytes = testing_host::MinimalGlb();
    bytes.replace(offset, 4, Word(value));
    return bytes;
}

constexpr std::size_t kJsonStart = 20; // after the header and the JSON chunk's header
constexpr std::uint32_t kJsonChunk = 0x4E4F534A;
constexpr std::uint32_t kBinChunk = 0x004E4942;
constexpr std::uint32_t kExtensionChunk = 0x41525458; // "XTRA", a type readers skip

// A GLB whose JSON text is `json`, padded with spaces as the format pads it.
std::string GlbWithJson(std::string json)
{
    json.append((4 - json.size() % 4) % 4, ' ');
    const auto length = static_cast<std::uint32_t>(json.size());
    return "glTF" + Word(2) + Word(kJsonStart + length) + Word(length) + "JSON" + json;
}

// `glb` (the minimal GLB by default) followed by `extra`, as one more chunk
// of `type` whose header says `length` bytes, with the header's total length
// made the file's size.
std::string GlbWithChunk(std::uint32_t type, std::uint32_t length, const std::string& extra,
                         std::string glb = testing_host::MinimalGlb())
{
    glb += Word(length) + Word(type) + extra;
    glb.replace(8, 4, Word(static_cast<std::uint32_t>(glb.size())));
    return glb;
}

const std::string kEarlier = testing_host::MinimalGlb();
const std::string kGlbBytes = testing_host::MinimalGlb();
const std::string kBinBytes = std::string(12, '\x01');
const std::string kWithBin =
    GlbWithChunk(kBinChunk, static_cast<std::uint32_t>(kBinBytes.size()), kBinBytes);
const auto kAsset = std::string(R"({"asset":{"version":"2.0"}})");

// `glb` followed by chunks of types readers skip, 8 bytes each, `count` of them.
std::string WithExtensionChunks(std::string glb, int count)
{
    for (int chunk = 0; chunk < count; ++chunk) {
        glb = GlbWithChunk(kExtensionChunk, 8, "8 bytes.", glb);
    }
    return glb;
}

// What an exporter writes: a JSON chunk far longer than the first bytes the
// check reads of it, and a BIN chunk.
std::string TypicalGlb()
{
    const std::string json =
        R"({"asset":{"version":"2.0","generator":"an exporter"},"buffers":[{"byteLength":12}],)"
        R"("bufferViews":[{"buffer":0,"byteLength":12}],"scene":0,"scenes":[{"nodes":[]}]})";
    return GlbWithChunk(kBinChunk, static_cast<std::uint32_t>(kBinBytes.size()), kBinBytes,
                        GlbWithJson(json));
}
const std::string kOthersFile = "C:/users-own.glb";

// Runs `script` with the Unix shell of the system the test runs on (natively,
// or the one below Wine), with $1, $2 ... the Unix names of `paths`, and
// returns once it has ended. False where there is no such shell (natively on
// Windows) or the script failed.
bool RunUnixShell(const std::string& script, const std::vector<std::string>& paths);

#if defined(_WIN32)
// Wine's name for a Windows path on the Unix system below it; empty outside Wine.
std::string UnixName(const std::string& path)
{
    using UnixFileName = char*(__cdecl*)(const wchar_t*);
    const FARPROC found =
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (found == nullptr) {
        return {};
    }
    const auto convert = reinterpret_cast<UnixFileName>(reinterpret_cast<void (*)()>(found));
    const std::wstring wide(path.begin(), path.end());
    char* const name = convert(wide.c_str());
    if (name == nullptr) {
        return {};
    }
    std::string unixName = name;
    HeapFree(GetProcessHeap(), 0, name);
    return unixName;
}

bool UnixShellAvailable() { return !UnixName("C:/").empty(); }

// Under Wine a Unix program is started like a Windows one, but its end cannot
// be waited for: the script leaves a mark ($0) when done.
bool RunUnixShell(const std::string& script, const std::vector<std::string>& paths)
{
    const std::string done = "C:/unix-shell-done";
    std::error_code ignored;
    fs::remove(done, ignored);
    const auto quoted = [](const std::string& text) {
        std::string argument = "\"";
        for (const char c : text) {
            argument += c == '"' ? std::string("\\\"") : std::string(1, c);
        }
        return argument + "\"";
    };
    std::string command =
        "sh -c " + quoted("(" + script + ") && touch \"$0\"") + " " + quoted(UnixName(done));
    for (const std::string& path : paths) {
        command += " " + quoted(UnixName(path));
    }
    std::wstring wide(command.begin(), command.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!UnixShellAvailable() ||
        CreateProcessW(L"Z:\\bin\\sh", wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process) == FALSE) {
        return false;
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    const bool ended = testing_host::WaitForFile(done, 20);
    fs::remove(done, ignored);
    return ended;
}
#else
bool UnixShellAvailable() { return true; }

bool RunUnixShell(const std::string& script, const std::vector<std::string>& paths)
{
    std::vector<std::string> arguments = {"sh", "-c", script, "sh"};
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t child = -1;
    if (posix_spawn(&child, "/bin/sh", nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

#if defined(_WIN32)
// Another program's handle on the GLB, held while the row's export is judged.
HANDLE gHeld = INVALID_HANDLE_VALUE;

void Hold(const std::string& path, DWORD access, DWORD share)
{
    const std::wstring wide(path.begin(), path.end());
    gHeld = CreateFileW(wide.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
    ASSERT_NE(gHeld, INVALID_HANDLE_VALUE);
}

void HoldSharingNothing(const std::string& path) { Hold(path, GENERIC_READ, 0); }

void LetGo()
{
    if (gHeld != INVALID_HANDLE_VALUE) {
        CloseHandle(gHeld);
        gHeld = INVALID_HANDLE_VALUE;
    }
}
#else
void LetGo() {}
#endif

// What stands at the GLB's path before the export.
enum class Before {
    None,                   // nothing
    Earlier,                // an earlier export, an hour old
    EarlierLookRefusedOnce, // the same, but the first look at it fails
    LinkToEarlier,          // a symbolic link to the user's own earlier export
};

// What the row needs beyond the test program itself.
enum class Needs {
    Nothing,
    UnixShell,    // to make what Windows programs cannot (a FIFO, a link)
    OrdinaryUser, // permissions that bind, as they do not for root
    RootsFile,    // an ordinary user, and a GLB of root's that others may read
};

#if !defined(_WIN32)
// The GLB of root's that a Needs::RootsFile row reaches, outside the test's
// drive (which is handed to the ordinary user).
std::string gRootsGlb;
#endif

struct CheckRow {
    const char* name;
    Before before;
    std::function<void(const std::string& path)> host;
    orvel::GlbWrite expected;
    Needs needs = Needs::Nothing;
    const char* reason = nullptr; // words the reason for Unchecked must hold
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

// Has the Unix shell leave something at the GLB's path.
std::function<void(const std::string& path)> ShellLeaves(const std::string& script)
{
    return [script](const std::string& path) { ASSERT_TRUE(RunUnixShell(script, {path})); };
}

using orvel::GlbWrite;
const CheckRow kCheckRows[] = {
    {"NothingWhereNoFileWas", Before::None, [](const std::string&) {}, GlbWrite::Nothing},
    {"NothingOverAnEarlierExport", Before::Earlier, [](const std::string&) {}, GlbWrite::Nothing},
    {"EarlierExportRemoved", Before::Earlier, [](const std::string& p) { fs::remove(p); },
     GlbWrite::Nothing},
    // Only the change time moves: no byte of the earlier export is new.
    {"EarlierExportMovedAsideAndBack", Before::Earlier,
     [](const std::string& p) {
         fs::rename(p, p + ".aside");
         fs::rename(p + ".aside", p);
     },
     GlbWrite::Nothing},
    {"EarlierExportsAttributesOnly", Before::Earlier,
     [](const std::string& p) {
         fs::permissions(p, fs::perms::owner_write, fs::perm_options::remove);
     },
     GlbWrite::Nothing},
    // The same bytes with the old time put back leave nothing to tell the
    // write by, and the file holds what a new export would.
    {"SameBytesAndTimePutBack", Before::Earlier,
     [](const std::string& p) {
         const fs::file_time_type time = fs::last_write_time(p);
         Writes(p, kGlbBytes);
         fs::last_write_time(p, time);
     },
     GlbWrite::Nothing},
    {"NewFile", Before::None, [](const std::string& p) { Writes(p, kGlbBytes); },
     GlbWrite::Complete},
    {"SameBytesOverAnEarlierExport", Before::Earlier,
     [](const std::string& p) { Writes(p, kGlbBytes); }, GlbWrite::Complete},
    {"SavedByRename", Before::Earlier, [](const std::string& p) { SaveByRename(p, kGlbBytes); },
     GlbWrite::Complete},
    // A new file, or other bytes, with the old time put back: still a write.
    {"SavedByRenameWithTheTimePutBack", Before::Earlier,
     [](const std::string& p) {
         const fs::file_time_type time = fs::last_write_time(p);
         Writes(p + ".new", kGlbBytes);
         fs::last_write_time(p + ".new", time);
         fs::rename(p + ".new", p);
     },
     GlbWrite::Complete},
    {"OtherBytesAndTimePutBack", Before::Earlier,
     [](const std::string& p) {
         const fs::file_time_type time = fs::last_write_time(p);
         Writes(p,
                GlbWithChunk(kBinChunk, static_cast<std::uint32_t>(kBinBytes.size()), kBinBytes));
         fs::last_write_time(p, time);
     },
     GlbWrite::Complete},
    {"WithABinChunk", Before::None, [](const std::string& p) { Writes(p, kWithBin); },
     GlbWrite::Complete},
    // Each chunk is read where it begins, not where the last read ended.
    {"LongJsonChunkAndABinChunk", Before::None,
     [](const std::string& p) { Writes(p, TypicalGlb()); }, GlbWrite::Complete},
    {"JsonAfterWhiteSpace", Before::None,
     [](const std::string& p) { Writes(p, GlbWithJson(" \t\r\n" + kAsset)); }, GlbWrite::Complete},
    {"JsonAfterAByteOrderMark", Before::None,
     [](const std::string& p) { Writes(p, GlbWithJson("\xEF\xBB\xBF" + kAsset)); },
     GlbWrite::Complete},
    {"JsonAfterAByteOrderMarkAndWhiteSpace", Before::None,
     [](const std::string& p) { Writes(p, GlbWithJson("\xEF\xBB\xBF \r\n" + kAsset)); },
     GlbWrite::Complete},
    // White space up to the check's last byte of the JSON chunk: the brace
    // may follow, unread. Legal, so not "incomplete", but not seen either;
    // unless the chunks do not tile the file.
    {"JsonAfter63BytesOfWhiteSpace", Before::None,
     [](const std::string& p) { Writes(p, GlbWithJson(std::string(63, ' ') + kAsset)); },
     GlbWrite::Complete},
    {"JsonAfterAByteOrderMarkAnd60Spaces", Before::None,
     [](const std::string& p) {
         Writes(p, GlbWithJson("\xEF\xBB\xBF" + std::string(60, ' ') + kAsset));
     },
     GlbWrite::Complete},
    {"JsonAfter64BytesOfWhiteSpace", Before::None,
     [](const std::string& p) { Writes(p, GlbWithJson(std::string(64, ' ') + kAsset)); },
     GlbWrite::Unchecked, Needs::Nothing, "white space"},
    {"JsonAfterAByteOrderMarkAnd61Spaces", Before::None,
     [](const std::string& p) {
         Writes(p, GlbWithJson("\xEF\xBB\xBF" + std::string(61, ' ') + kAsset));
     },
     GlbWrite::Unchecked, Needs::Nothing, "white space"},
    {"JsonAfter64BytesOfWhiteSpaceCutShort", Before::None,
     [](const std::string& p) {
         const std::string whole = GlbWithJson(std::string(64, ' ') + kAsset);
         Writes(p, whole.substr(0, whole.size() - 4));
     },
     GlbWrite::Incomplete},
    {"JsonAfter64BytesOfWhiteSpaceAndBytesAfterIt", Before::None,
     [](const std::string& p) {
         std::string bytes = GlbWithJson(std::string(64, ' ') + kAsset) + "    ";
         bytes.replace(8, 4, Word(static_cast<std::uint32_t>(bytes.size())));
         Writes(p, bytes);
     },
     GlbWrite::Incomplete},
    // The header's total is the file's size, but the last chunk runs past it.
    {"JsonAfter64BytesOfWhiteSpaceThenAChunkPastTheEnd", Before::None,
     [](const std::string& p) {
         const std::string json = GlbWithJson(std::string(64, ' ') + kAsset);
         Writes(p, GlbWithChunk(kBinChunk, 16, kBinBytes, json));
     },
     GlbWrite::Incomplete},
    // Chunks of other types follow the JSON and BIN chunks, and readers skip them.
    {"ExtensionChunkAfterJsonAndBin", Before::None,
     [](const std::string& p) { Writes(p, WithExtensionChunks(kWithBin, 1)); },
     GlbWrite::Complete},
    {"ExtensionChunkAfterJson", Before::None,
     [](const std::string& p) { Writes(p, WithExtensionChunks(kGlbBytes, 1)); },
     GlbWrite::Complete},
    {"EmptyExtensionChunk", Before::None,
     [](const std::string& p) { Writes(p, GlbWithChunk(kExtensionChunk, 0, "", kWithBin)); },
     GlbWrite::Complete},
    {"AsManyChunksAsTheCheckReads", Before::None,
     [](const std::string& p) { Writes(p, WithExtensionChunks(kWithBin, 62)); },
     GlbWrite::Complete},
    // One chunk more: its header tells whether it ends where the file does,
    // or runs past the file's end, however far.
    {"OneChunkMoreThanTheCheckFollowsEndingAtTheEnd", Before::None,
     [](const std::string& p) { Writes(p, WithExtensionChunks(kWithBin, 63)); },
     GlbWrite::Complete},
    {"OneChunkMoreThanTheCheckFollowsCutBy4Bytes", Before::None,
     [](const std::string& p) {
         const std::string whole = WithExtensionChunks(kWithBin, 63);
         std::string bytes = whole.substr(0, whole.size() - 4);
         bytes.replace(8, 4, Word(static_cast<std::uint32_t>(bytes.size())));
         Writes(p, bytes);
     },
     GlbWrite::Incomplete},
    {"OneChunkMoreThanTheCheckFollowsWithALengthNear4GiB", Before::None,
     [](const std::string& p) {
         Writes(p, GlbWithChunk(kExtensionChunk, 0xFFFFFFF8U, "8 bytes.",
                                WithExtensionChunks(kWithBin, 62)));
     },
     GlbWrite::Incomplete},
    // Two chunks more, the first ending inside the file: the check cannot
    // tell whether the file is whole; unless what follows is no chunk at all
    // (zeros, or too few bytes).
    {"MoreChunksThanTheCheckReads", Before::None,
     [](const std::string& p) { Writes(p, WithExtensionChunks(kWithBin, 64)); },
     GlbWrite::Unchecked, Needs::Nothing, "chunks"},
    {"AsManyChunksAsTheCheckReadsThenZeros", Before::None,
     [](const std::string& p) {
         Writes(p, GlbWithChunk(0, 0, "", WithExtensionChunks(kWithBin, 62)));
     },
     GlbWrite::Incomplete},
    {"AsManyChunksAsTheCheckReadsThen16Zeros", Before::None,
     [](const std::string& p) {
         Writes(p, GlbWithChunk(0, 0, std::string(8, '\0'), WithExtensionChunks(kWithBin, 62)));
     },
     GlbWrite::Incomplete},
    {"AsManyChunksAsTheCheckReadsThenTooFewBytes", Before::None,
     [](const std::string& p) {
         std::string bytes = WithExtensionChunks(kWithBin, 62) + "abcd";
         bytes.replace(8, 4, Word(static_cast<std::uint32_t>(bytes.size())));
         Writes(p, bytes);
     },
     GlbWrite::Incomplete},
    // The host writes through the link: the user's file it points to is new.
    {"LinkThroughWhichTheHostWrites", Before::LinkToEarlier,
     [](const std::string& p) { Writes(p, kGlbBytes); }, GlbWrite::Complete, Needs::UnixShell},
    {"CutShort", Before::None,
     [](const std::string& p) { Writes(p, kGlbBytes.substr(0, kGlbBytes.size() - 4)); },
     GlbWrite::Incomplete},
    {"CutShortOverAnEarlierExport", Before::Earlier,
     [](const std::string& p) { Writes(p, kGlbBytes.substr(0, kGlbBytes.size() - 4)); },
     GlbWrite::Incomplete},
    {"CutInsideTheHeader", Before::Earlier,
     [](const std::string& p) { Writes(p, kGlbBytes.substr(0, 19)); }, GlbWrite::Incomplete},
    {"Empty", Before::Earlier, [](const std::string& p) { Writes(p, ""); }, GlbWrite::Incomplete},
    // The size set first and only the headers written: the rest is zeros.
    {"SizedButUnwritten", Before::Earlier,
     [](const std::string& p) {
         Writes(p, kGlbBytes.substr(0, kJsonStart));
         fs::resize_file(p, kGlbBytes.size());
     },
     GlbWrite::Incomplete},
    // Zeros after the JSON chunk read as empty chunks of type 0 and tile the
    // rest: no chunk has that type.
    {"SizedButWrittenOnlyUpToTheBinChunk", Before::Earlier,
     [](const std::string& p) {
         const std::string whole = GlbWithChunk(kBinChunk, 16, std::string(16, '\x01'));
         Writes(p, whole.substr(0, kGlbBytes.size()));
         fs::resize_file(p, whole.size());
     },
     GlbWrite::Incomplete},
    {"EmptyChunkOfTypeZero", Before::None,
     [](const std::string& p) { Writes(p, GlbWithChunk(0, 0, "")); }, GlbWrite::Incomplete},
    {"NoGlbAtAll", Before::None,
     [](const std::string& p) { Writes(p, "not a model, but long enough"); }, GlbWrite::Incomplete},
    {"WrongMagic", Before::None,
     [](const std::string& p) { Writes(p, GlbWithWord(0, 0x58546C67)); }, GlbWrite::Incomplete},
    {"TotalLengthNotTheFilesSize", Before::None,
     [](const std::string& p) {
         Writes(p, GlbWithWord(8, static_cast<std::uint32_t>(kGlbBytes.size() + 4)));
     },
     GlbWrite::Incomplete},
    // The chunks tile the file, but the header counts only the first.
    {"TotalLengthShortOfTheFilesSize", Before::None,
     [](const std::string& p) {
         std::string bytes = kWithBin;
         bytes.replace(8, 4, Word(static_cast<std::uint32_t>(kGlbBytes.size())));
         Writes(p, bytes);
     },
     GlbWrite::Incomplete},
    {"Version1", Before::None, [](const std::string& p) { Writes(p, GlbWithWord(4, 1)); },
     GlbWrite::Incomplete},
    {"LongerThanItsHeaderSays", Before::None,
     [](const std::string& p) { Writes(p, kGlbBytes + "    "); }, GlbWrite::Incomplete},
    {"FirstChunkNotJson", Before::None,
     [](const std::string& p) { Writes(p, GlbWithWord(16, kBinChunk)); }, GlbWrite::Incomplete},
    {"FirstChunkLongerThanTheFile", Before::None,
     [](const std::string& p) { Writes(p, GlbWithWord(12, 0x10000)); }, GlbWrite::Incomplete},
    {"JsonChunkNotAnObject", Before::None,
     [](const std::string& p) { Writes(p, GlbWithJson("[" + kAsset + "]")); },
     GlbWrite::Incomplete},
    {"ByteOrderMarkBeforeNoObject", Before::None,
     [](const std::string& p) { Writes(p, GlbWithJson("\xEF\xBB\xBF[" + kAsset + "]")); },
     GlbWrite::Incomplete},
    {"PartOfAByteOrderMark", Before::None,
     [](const std::string& p) { Writes(p, GlbWithJson("\xEF\xBB" + kAsset)); },
     GlbWrite::Incomplete},
    // A mark is told by all three of its bytes, not by its first two.
    {"ByteOrderMarksFirstTwoBytesAndAnother", Before::None,
     [](const std::string& p) { Writes(p, GlbWithJson("\xEF\xBB\xBE" + kAsset)); },
     GlbWrite::Incomplete},
    {"ByteOrderMarkAfterWhiteSpace", Before::None,
     [](const std::string& p) { Writes(p, GlbWithJson(" \xEF\xBB\xBF" + kAsset)); },
     GlbWrite::Incomplete},
    // All of it read: no brace at all.
    {"JsonChunkOnlyWhiteSpace", Before::None,
     [](const std::string& p) { Writes(p, GlbWithJson(std::string(64, ' '))); },
     GlbWrite::Incomplete},
    // Longer than the check reads: the rest is not looked at.
    {"JsonChunkOnlyWhiteSpacePastWhatTheCheckReads", Before::None,
     [](const std::string& p) { Writes(p, GlbWithJson(std::string(100, ' '))); },
     GlbWrite::Unchecked, Needs::Nothing, "white space"},
    // The brace is looked for in the JSON chunk alone: here the next chunk's
    // first byte, its length, is that of "{".
    {"JsonChunkOnlyWhiteSpaceBeforeABinChunk", Before::None,
     [](const std::string& p) {
         Writes(p, GlbWithChunk(kBinChunk, '{', std::string('{', '\0'),
                                GlbWithJson(std::string(8, ' '))));
     },
     GlbWrite::Incomplete},
    {"BytesAfterTheJsonChunk", Before::None,
     [](const std::string& p) {
         std::string bytes = kGlbBytes + "    ";
         bytes.replace(8, 4, Word(static_cast<std::uint32_t>(bytes.size())));
         Writes(p, bytes);
     },
     GlbWrite::Incomplete},
    // One JSON chunk, first; one BIN chunk at most, right after it.
    {"SecondJsonChunk", Before::None,
     [](const std::string& p) { Writes(p, GlbWithChunk(kJsonChunk, 12, kBinBytes)); },
     GlbWrite::Incomplete},
    {"JsonChunkAfterAnExtensionChunk", Before::None,
     [](const std::string& p) {
         Writes(p, GlbWithChunk(kJsonChunk, 12, kBinBytes, WithExtensionChunks(kWithBin, 1)));
     },
     GlbWrite::Incomplete},
    {"BinChunkAfterAnExtensionChunk", Before::None,
     [](const std::string& p) {
         Writes(p, GlbWithChunk(kBinChunk, 12, kBinBytes, WithExtensionChunks(kGlbBytes, 1)));
     },
     GlbWrite::Incomplete},
    {"SecondBinChunk", Before::None,
     [](const std::string& p) { Writes(p, GlbWithChunk(kBinChunk, 12, kBinBytes, kWithBin)); },
     GlbWrite::Incomplete},
    {"ExtensionChunkPastTheEnd", Before::None,
     [](const std::string& p) { Writes(p, GlbWithChunk(kExtensionChunk, 16, "8 bytes.")); },
     GlbWrite::Incomplete},
    {"BytesAfterTheExtensionChunk", Before::None,
     [](const std::string& p) { Writes(p, GlbWithChunk(kExtensionChunk, 4, "8 bytes.")); },
     GlbWrite::Incomplete},
    {"BinChunkShortOfTheEnd", Before::None,
     [](const std::string& p) { Writes(p, GlbWithChunk(kBinChunk, 8, kBinBytes)); },
     GlbWrite::Incomplete},
    {"BinChunkPastTheEnd", Before::None,
     [](const std::string& p) { Writes(p, GlbWithChunk(kBinChunk, 16, kBinBytes)); },
     GlbWrite::Incomplete},
    {"BytesAfterTheBinChunk", Before::None,
     [](const std::string& p) { Writes(p, GlbWithChunk(kBinChunk, 12, kBinBytes + "    ")); },
     GlbWrite::Incomplete},
    // A look before the export that fails leaves nothing to tell a write by,
    // whatever the look after finds.
    {"FirstLookRefusedOverAnEarlierExport", Before::EarlierLookRefusedOnce,
     [](const std::string&) {}, GlbWrite::Unchecked, Needs::Nothing,
     testing_host::kRefusedLookReason},
    {"FirstLookRefusedThenANewFile", Before::EarlierLookRefusedOnce,
     [](const std::string& p) { SaveByRename(p, kGlbBytes); }, GlbWrite::Unchecked, Needs::Nothing,
     testing_host::kRefusedLookReason},
    // What is no file written by the host: "did not write".
    {"FifoLeft", Before::None, ShellLeaves("mkfifo \"$1\""), GlbWrite::Nothing, Needs::UnixShell},
    // Paths that cannot be looked at, and a written file that cannot be read:
    // the system's reason is told instead.
    {"LinkLoopLeft", Before::None, ShellLeaves("ln -s Prepped_For_ORVEL.glb \"$1\""),
     GlbWrite::Unchecked, Needs::UnixShell},
    // Natively a socket is seen for what it is; Wine cannot look at one.
    // Bound by its name in its own folder: a socket's whole path holds at
    // most 107 bytes, and a longer one would be cut short silently.
    {"SocketLeft", Before::None,
     ShellLeaves("cd \"$(dirname \"$1\")\" && perl -MIO::Socket::UNIX -e "
                 "'IO::Socket::UNIX->new(Local => $ARGV[0], Listen => 1) or exit 1' "
                 "\"$(basename \"$1\")\""),
#if defined(_WIN32)
     GlbWrite::Unchecked,
#else
     GlbWrite::Nothing,
#endif
     Needs::UnixShell},
#if defined(_WIN32)
    // The host keeps what it wrote open, sharing nothing.
    {"WrittenButUnreadable", Before::Earlier,
     [](const std::string& p) {
         Writes(p, kGlbBytes);
         HoldSharingNothing(p);
     },
     GlbWrite::Unchecked},
    // A viewer of the last export holds it open, sharing nothing: the host
    // cannot write it, and the check, asking for attributes only, still looks.
    {"EarlierExportHeldOpenByAReaderThatSharesNothing", Before::Earlier,
     [](const std::string& p) {
         HoldSharingNothing(p);
         Writes(p, kGlbBytes);
     },
     GlbWrite::Nothing},
    // The host still holds what it wrote open for writing and deletion,
    // sharing all: the check's reader shares writing and deletion in turn.
    {"WrittenAndHeldOpenForWritingAndDeletion", Before::Earlier,
     [](const std::string& p) {
         Writes(p, kGlbBytes);
         Hold(p, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
     },
     GlbWrite::Complete},
#else
    {"WrittenButUnreadable", Before::Earlier,
     [](const std::string& p) {
         Writes(p, kGlbBytes);
         fs::permissions(p, fs::perms::owner_write);
     },
     GlbWrite::Unchecked, Needs::OrdinaryUser},
    {"LinkIntoAFolderTheUserMayNotEnter", Before::None,
     [](const std::string& p) {
         fs::create_directories("C:/ORVEL/closed");
         Writes("C:/ORVEL/closed/model.glb", kGlbBytes);
         fs::create_symlink(fs::absolute("C:/ORVEL/closed/model.glb"), p);
         fs::permissions("C:/ORVEL/closed", fs::perms::none);
     },
     GlbWrite::Unchecked, Needs::OrdinaryUser},
    // A file the user does not own is read all the same, though its time of
    // last access may then change.
    {"LinkToAFileOfRootsThatOthersMayRead", Before::None,
     [](const std::string& p) { fs::create_symlink(gRootsGlb, p); }, GlbWrite::Complete,
     Needs::RootsFile},
#endif
};

void PrintTo(const CheckRow& row, std::ostream* out) { *out << row.name; }

#if !defined(_WIN32)
// A complete GLB of root's, which others may read, in a folder of its own
// outside the test's drive; removed with the folder.
class RootsFile {
public:
    RootsFile()
    {
        std::string folder = (fs::temp_directory_path() / "orvel-roots-XXXXXX").string();
        if (mkdtemp(folder.data()) == nullptr) {
            ADD_FAILURE() << "no folder for root's file";
            return;
        }
        folder_ = folder;
        gRootsGlb = (folder_ / "model.glb").string();
        Writes(gRootsGlb, kGlbBytes);
        fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
        fs::permissions(gRootsGlb, fs::perms::owner_read | fs::perms::owner_write |
                                       fs::perms::group_read | fs::perms::others_read);
    }
    RootsFile(const RootsFile&) = delete;
    RootsFile& operator=(const RootsFile&) = delete;
    ~RootsFile()
    {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

private:
    fs::path folder_;
};
#endif

class GlbWriteCheckRows : public GlbWriteCheck, public ::testing::WithParamInterface<CheckRow> {
protected:
    void Run(const CheckRow& row)
    {
        fs::file_time_type earlier{};
        if (row.before == Before::Earlier || row.before == Before::EarlierLookRefusedOnce) {
            earlier = PlantOld(kGlb, kEarlier);
        } else if (row.before == Before::LinkToEarlier) {
            earlier = PlantOld(kOthersFile, kEarlier);
            ASSERT_TRUE(
                RunUnixShell("ln -s \"$2\" \"$1\"", {kGlb, fs::absolute(kOthersFile).string()}));
        }
        // What the host left, as the file system records it when the host is done.
        struct stat left {};
        exporter_.write = [&row, &left](const std::string& path) {
            row.host(path);
            static_cast<void>(stat(path.c_str(), &left));
        };
        if (row.before == Before::EarlierLookRefusedOnce) {
            testing_host::FailNextLookAt(kGlb);
        }
        const orvel::ExportedGlb exported = Export();
        testing_host::StopFailingLooks();
        LetGo();
        EXPECT_EQ(exported.written, row.expected);
        // The system's reason comes with Unchecked, and only with it.
        EXPECT_EQ(static_cast<bool>(exported.error), row.expected == GlbWrite::Unchecked)
            << exported.error.message();
        if (row.reason != nullptr) {
            EXPECT_NE(exported.error.message().find(row.reason), std::string::npos)
                << exported.error.message();
        }
#if !defined(_WIN32)
        // Reading the GLB does not even change its time of last access, where
        // the system lets the reader keep it (the file is the user's own).
        struct stat after {};
        if (stat(kGlb, &after) == 0 && after.st_uid == geteuid()) {
            EXPECT_EQ(after.st_atim.tv_sec, left.st_atim.tv_sec);
            EXPECT_EQ(after.st_atim.tv_nsec, left.st_atim.tv_nsec);
        }
#endif
        if (row.before == Before::Earlier && row.expected == GlbWrite::Nothing &&
            fs::exists(kGlb)) {
            EXPECT_EQ(testing_host::ReadFile(kGlb), kEarlier);
            EXPECT_EQ(fs::last_write_time(kGlb), earlier);
        }
    }
};

TEST_P(GlbWriteCheckRows, TellsWhatTheHostLeft)
{
    const CheckRow& row = GetParam();
    if (row.needs == Needs::UnixShell && !UnixShellAvailable()) {
        GTEST_SKIP() << "it needs a Unix shell to make what Windows programs cannot";
    }
    if (row.before == Before::EarlierLookRefusedOnce && !testing_host::LooksCanFail()) {
        GTEST_SKIP() << "the MSVC ABI's linkers cannot wrap a call (GNU ld's --wrap), so no look "
                        "at a file can be made to fail";
    }
    if (row.needs == Needs::UnixShell) {
        Run(row);
        // Whatever the row left in the workspace folder, even after a failure.
        // Wine takes a Unix link for the file it points to, and would remove
        // that file instead of the link; it spins on a socket for ever.
        EXPECT_TRUE(RunUnixShell("rm -rf \"$1\"", {"C:/ORVEL/CLO3D_Plugin"}));
        return;
    }
#if !defined(_WIN32)
    if (row.needs == Needs::RootsFile) {
        if (geteuid() != 0) {
            GTEST_SKIP() << "it needs root, to own a file that an ordinary user reads";
        }
        const RootsFile file;
        EXPECT_TRUE(testing_host::RunAsOrdinaryUser([this, &row] {
            Run(row);
            return !HasFailure();
        })) << "row failed as an ordinary user";
        return;
    }
    if (row.needs == Needs::OrdinaryUser) {
        EXPECT_TRUE(testing_host::RunAsOrdinaryUser([this, &row] {
            Run(row);
            return !HasFailure();
        })) << "row failed as an ordinary user";
        return;
    }
#endif
    Run(row);
}

INSTANTIATE_TEST_SUITE_P(Rows, GlbWriteCheckRows, ::testing::ValuesIn(kCheckRows),
                         [](const ::testing::TestParamInfo<CheckRow>& row) {
                             return std::string(row.param.name);
                         });

// How many descriptors (on Windows handles) this process holds open.
int OpenDescriptors()
{
    int count = 0;
#if defined(_WIN32)
    // Wine's GetProcessHandleCount always answers 0: each possible handle
    // value is asked about instead.
    for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        // NOLINTNEXTLINE(performance-no-int-to-ptr): a handle is a number
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != FALSE ? 1 : 0;
    }
#else
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        static_cast<void>(entry);
        ++count;
    }
#endif
    return count;
}

TEST_F(GlbWriteCheck, QuickExportsOfTheSameBytesAllCountAsWrittenAndLeaveNothingOpen)
{
    exporter_.write = [](const std::string& path) { Writes(path, kGlbBytes); };
    constexpr int kRuns = 50;
    const int open = OpenDescriptors();
    for (int run = 0; run < kRuns; ++run) {
        EXPECT_EQ(Export().written, GlbWrite::Complete) << "run " << run;
    }
    // One left open by each export would be kRuns.
    EXPECT_LT(OpenDescriptors() - open, kRuns / 2);
    // The host's own time stays on the file.
    EXPECT_LT(fs::file_time_type::clock::now() - fs::last_write_time(kGlb),
              std::chrono::minutes(5));
}

// The file clock as a test drives it: each reading is the row's function of
// the file's time and of how many readings came before.
struct FakeFileClock {
    std::int64_t lastWrite = 0;
    std::int64_t (*reading)(std::int64_t lastWrite, int read) = nullptr;
    int reads = 0;
    std::int64_t last = 0; // the latest reading
};
FakeFileClock gFileClock;

std::int64_t ReadFakeFileClock()
{
    gFileClock.last = gFileClock.reading(gFileClock.lastWrite, gFileClock.reads++);
    return gFileClock.last;
}

std::int64_t Milliseconds(std::int64_t count)
{
    return count * orvel::platform::FileTimeUnitsPerMillisecond();
}

// A file written moments ago may be rewritten within the same tick of a
// coarse file clock: the check waits until that clock has moved past the
// file's time, briefly, and not at all for a time far off. The file clock is
// a wall clock, which can be set back at any moment; the wait still ends
// within its bound.
TEST(GlbFileClock, WaitsOnlyForAFileWrittenMomentsAgoAndNeverLong)
{
    // Far more readings than 50 ms of 1 ms pauses can take; a clock that
    // never passes the file's time moves on after this many.
    constexpr int kMostReads = 500;
    constexpr int kGiveUp = 2000;
    struct WaitRow {
        const char* name;
        std::int64_t (*reading)(std::int64_t lastWrite, int read);
        bool waits;
    };
    const WaitRow rows[] = {
        {"written an hour ago", [](std::int64_t t, int) { return t + Milliseconds(3600000); },
         false},
        {"dated 1 s ahead", [](std::int64_t t, int) { return t - Milliseconds(1000); }, false},
        {"dated an hour ahead", [](std::int64_t t, int) { return t - Milliseconds(3600000); },
         false},
        {"stamped in the current tick", [](std::int64_t t, int n) { return n < 3 ? t : t + 1; },
         true},
        {"clock reaching the file's time and staying there",
         [](std::int64_t t, int n) { return n == 0  ? t - 1
                                            : n < 5 ? t
                                                    : t + 1; }, true},
        {"dated 10 ms ahead", [](std::int64_t t, int n) { return t - Milliseconds(10 - n); }, true},
        {"clock standing still", [](std::int64_t t, int n) { return n < kGiveUp ? t : t + 1; },
         true},
        {"clock set back 30 s during the wait",
         [](std::int64_t t, int n) {
             return n == 0 ? t - Milliseconds(1) : n < kGiveUp ? t - Milliseconds(30000) : t + 1;
         },
         true},
    };
    const std::int64_t fileTime = orvel::platform::FileClockNow();
    for (const WaitRow& row : rows) {
        gFileClock = FakeFileClock{fileTime, row.reading, 0, 0};
        const auto start = std::chrono::steady_clock::now();
        orvel::WaitForNewerFileTime(fileTime, &ReadFakeFileClock);
        const auto waited = std::chrono::steady_clock::now() - start;
        if (row.waits) {
            EXPECT_GT(gFileClock.reads, 1) << row.name << ": no wait";
            EXPECT_LE(gFileClock.reads, kMostReads) << row.name << ": waited past its bound";
            // Only a clock past the file's time, or the full 50 ms by the
            // steady clock, ends the wait.
            EXPECT_TRUE(gFileClock.last > fileTime || waited >= std::chrono::milliseconds(50))
                << row.name << ": ended after "
                << std::chrono::duration_cast<std::chrono::microseconds>(waited).count()
                << " us at a reading " << gFileClock.last - fileTime << " from the file's time";
        } else {
            EXPECT_EQ(gFileClock.reads, 1) << row.name;
        }
    }
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
    for (const Link& link : links) {
        for (const bool hostWrites : {false, true}) {
            fs::remove(kGlb);
            const fs::file_time_type time = PlantOld(kOthersFile, kEarlier);
            link.make(kOthersFile);
            exporter_.write = [hostWrites](const std::string& path) {
                if (hostWrites) {
                    SaveByRename(path, kGlbBytes);
                }
            };
            EXPECT_EQ(Export().written, hostWrites ? GlbWrite::Complete : GlbWrite::Nothing)
                << link.name;
            EXPECT_EQ(fs::last_write_time(kOthersFile), time) << link.name;
            EXPECT_EQ(testing_host::ReadFile(kOthersFile), kEarlier) << link.name;
        }
    }
}

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

// The option record check reads the text at 136 as this runtime's std::string
// from its 32 bytes alone, before anything is written: strings the runtime
// makes are consistent; other bytes of a 176-byte record (a pointer to the
// text, then the text; a text class left zero), an inline string missing its
// terminator, and characters at an address the heap never has or inside the
// string's own bytes are not. An address in the bytes is never followed, so
// neither do such addresses end the test, nor is a heap string's terminator
// looked at.
TEST(OptionRecordText, AStringIsJudgedByItsOwnBytes)
{
    struct Row {
        const char* name;
        // Puts the row's bytes at `at` (zeroed, 40 bytes); returns the string
        // it made there, if any, or null.
        std::function<std::string*(unsigned char* at)> make;
        bool consistent;
    };
    // Puts a heap string's bytes at `at` with its characters' address (their
    // first 8, in both runtimes) made `address`; no string lives there.
    const auto heapBytes = [](unsigned char* at, std::uint64_t address) -> std::string* {
        const std::string heap(40, 'x');
        std::memcpy(at, reinterpret_cast<const unsigned char*>(&heap), sizeof heap);
        std::memcpy(at, &address, sizeof address);
        return nullptr;
    };
    const auto breakTerminator = [](std::string* text) {
        (&(*text)[0])[text->size()] = 'x';
        return text;
    };
    const Row rows[] = {
        {"empty", [](unsigned char* at) { return ::new (at) std::string; }, true},
        {"15 characters", [](unsigned char* at) { return ::new (at) std::string(15, 'x'); }, true},
        {"on the heap", [](unsigned char* at) { return ::new (at) std::string(40, 'x'); }, true},
        {"zero bytes", [](unsigned char*) { return nullptr; }, false},
        {"a pointer, then the text",
         [](unsigned char* at) {
             auto* const text = ::new (at + sizeof(void*)) std::string("label");
             std::memcpy(at, &text, sizeof text);
             return text;
         },
         false},
        {"no terminator, inline",
         [&](unsigned char* at) { return breakTerminator(::new (at) std::string("abc")); }, false},
        {"no terminator, on the heap, where the check does not look",
         [&](unsigned char* at) { return breakTerminator(::new (at) std::string(40, 'x')); }, true},
        {"characters at an address beyond user memory",
         [&](unsigned char* at) { return heapBytes(at, 0xDEAD'0000'0000'0000U); }, false},
        {"characters in the first 64 KiB", [&](unsigned char* at) { return heapBytes(at, 0x10U); },
         false},
        {"characters at 0xFFFF, the last byte of the first 64 KiB",
         [&](unsigned char* at) { return heapBytes(at, 0xFFFFU); }, false},
        {"characters at 0x10000, past the first 64 KiB",
         [&](unsigned char* at) { return heapBytes(at, 0x10000U); }, true},
        {"characters at 2^47", [&](unsigned char* at) { return heapBytes(at, 0x8000'0000'0000U); },
         false},
        {"characters just below 2^47",
         [&](unsigned char* at) { return heapBytes(at, 0x7FFF'FFFF'FFF0U); }, true},
        {"characters at its own address",
         [&](unsigned char* at) { return heapBytes(at, reinterpret_cast<std::uintptr_t>(at)); },
         false},
        {"characters inside its own bytes, not at its buffer",
         [&](unsigned char* at) { return heapBytes(at, reinterpret_cast<std::uintptr_t>(at + 4)); },
         false},
    };
    for (const Row& row : rows) {
        alignas(std::string) unsigned char bytes[40] = {};
        std::string* const text = row.make(bytes);
        EXPECT_EQ(testing_host::StringFault(bytes).empty(), row.consistent)
            << row.name << ": " << testing_host::StringFault(bytes);
        if (text != nullptr) {
            (&(*text)[0])[text->size()] = '\0';
            text->~basic_string();
        }
    }
}

} // namespace
