#include "glb_export.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>

#include "CLOAPIInterface.h"
#include "export/export_option.h"
#include "host/host_services.h"
#include "platform/file_probe.h"

namespace orvel {
namespace {

constexpr char kGlbExtension[] = ".glb";
constexpr char kNoExportServiceMessage[] =
    "EXPORT_API seems to not be defined. Something is wrong ";

// A binary glTF is a 12-byte header (magic "glTF", version, total length)
// followed by chunks, each an 8-byte header (length, type) and its bytes: the
// JSON chunk first, then at most one BIN chunk. Every number is a
// little-endian 32-bit one.
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::uint32_t kGlbVersion = 2;
constexpr std::uint32_t kJsonChunk = 0x4E4F534A;
constexpr std::uint32_t kBinChunk = 0x004E4942;
// How much of the JSON chunk is read to find its opening brace.
constexpr std::size_t kJsonLookahead = 64;

std::uint32_t LittleEndianAt(const char* bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 4; i > 0; --i) {
        value = (value << 8U) | static_cast<unsigned char>(bytes[offset + i - 1]);
    }
    return value;
}

// Whether the JSON chunk's text, of which `length` bytes are at hand, begins
// with "{" after JSON's white space.
bool OpensAnObject(const char* text, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n') {
            return text[i] == '{';
        }
    }
    return false;
}

// Whether the file is whole as far as a few of its bytes tell: the header
// with its magic, version and the file's own size; a JSON chunk that opens an
// object; and chunks that end exactly where the file does, the JSON chunk
// alone or followed by one BIN chunk. A write cut short (a full disk, a size
// limit) leaves a file shorter than its header says; a file whose size was
// set before its bytes were written holds zeros where the JSON belongs.
bool IsCompleteGlb(platform::FileReader& file)
{
    char head[kHeaderSize + kChunkHeaderSize];
    if (file.ReadAt(0, head, sizeof(head)) != sizeof(head) || std::memcmp(head, "glTF", 4) != 0 ||
        LittleEndianAt(head, 4) != kGlbVersion || LittleEndianAt(head, 8) != file.size() ||
        LittleEndianAt(head, 16) != kJsonChunk) {
        return false;
    }
    const std::uint64_t jsonLength = LittleEndianAt(head, 12);
    const std::uint64_t jsonEnd = sizeof(head) + jsonLength;
    // A JSON chunk cut short by the file's end fails the last test below.
    char json[kJsonLookahead];
    const std::size_t wanted = jsonLength < sizeof(json) ? jsonLength : sizeof(json);
    if (!OpensAnObject(json, file.ReadAt(sizeof(head), json, wanted))) {
        return false;
    }
    if (jsonEnd == file.size()) {
        return true;
    }
    char bin[kChunkHeaderSize];
    return file.ReadAt(jsonEnd, bin, sizeof(bin)) == sizeof(bin) &&
           LittleEndianAt(bin, 4) == kBinChunk &&
           jsonEnd + sizeof(bin) + LittleEndianAt(bin, 0) == file.size();
}

// What the host did at `path`, from the file's state before and after the
// export. A regular file that is not the same file, of the same size and
// last-write time, as before was written in this run, and is read to tell
// whether it is whole. A path that cannot be looked at, and a written file
// that cannot be read, are not guessed at: the system's reason is kept.
ExportedGlb Judge(std::string path, const platform::FileState& before)
{
    using Kind = platform::FileState::Kind;
    ExportedGlb exported;
    exported.path = std::move(path);
    const platform::FileState after = platform::StateOf(exported.path, before);
    if (after.kind == Kind::Unknown) {
        exported.written = GlbWrite::Unchecked;
        exported.error = after.error;
        return exported;
    }
    if (after.kind != Kind::Regular || after == before) {
        exported.written = GlbWrite::Nothing;
        return exported;
    }
    platform::FileReader file(exported.path);
    const bool whole = IsCompleteGlb(file);
    if (file.error()) {
        exported.written = GlbWrite::Unchecked;
        exported.error = file.error();
    } else {
        exported.written = whole ? GlbWrite::Complete : GlbWrite::Incomplete;
    }
    return exported;
}

} // namespace

void WaitForNewerFileTime(std::int64_t lastWrite, FileClock fileClock)
{
    constexpr std::chrono::milliseconds kLongest(50);
    const std::int64_t start = fileClock();
    if (lastWrite < start ||
        lastWrite - start > kLongest.count() * platform::FileTimeUnitsPerMillisecond()) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + kLongest;
    while (fileClock() <= lastWrite && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The texts are taken by value, as copies, by contract with the export action.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
ExportedGlb ExportSceneToGlb(std::string folder, std::string baseName)
{
    if (host::ExportService() == nullptr) {
        host::ShowMessage(kNoExportServiceMessage);
        return {};
    }
    Marvelous::ImportExportOption option;
    FillExportOption(option);
    // Obtained afresh for the call; a host that withdrew the service in the
    // meantime is treated like one that never had it.
    CLOAPI::ExportAPIInterface* exporter = host::ExportService();
    if (exporter == nullptr) {
        host::ShowMessage(kNoExportServiceMessage);
        return {};
    }
    std::string path = folder + baseName + kGlbExtension;
    const platform::FileState before = platform::StateOf(path);
    // A file written moments ago (the last of quick exports) could be
    // rewritten within the same tick of the file clock and look untouched.
    if (before.kind == platform::FileState::Kind::Regular) {
        WaitForNewerFileTime(before.lastWrite, &platform::FileClockNow);
    }
    // The host's list of written files is released unread: the file itself
    // tells whether it was written.
    static_cast<void>(exporter->ExportProjectAsGlb(path, option));
    return Judge(std::move(path), before);
}

} // namespace orvel
