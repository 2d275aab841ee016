#include "glb_export.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>
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
// JSON chunk first, then an optional BIN chunk, then chunks of other types,
// which readers skip. Every number is a little-endian 32-bit one.
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::uint32_t kGlbVersion = 2;
constexpr std::uint32_t kJsonChunk = 0x4E4F534A;
constexpr std::uint32_t kBinChunk = 0x004E4942;
// How much of the JSON chunk is read to find its opening brace.
constexpr std::size_t kJsonLookahead = 64;
// The most chunks the check follows, the JSON chunk included, before the
// last one whose header it reads. That one's end tells a file cut short (past
// the file's end) or a whole one (at it); of a sound chunk that ends inside
// the file, with more after it, the check cannot tell whether the file is
// whole. Exporters write two chunks, and extensions add a few.
constexpr int kMostChunks = 64;

// The reasons given for a GLB the check reads too little of to judge.
enum class BeyondTheCheck { TooManyChunks = 1, WhiteSpaceOnly };

class GlbCheckCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "GLB check"; }
    std::string message(int condition) const override
    {
        if (condition == static_cast<int>(BeyondTheCheck::WhiteSpaceOnly)) {
            // A byte-order mark is no part of the JSON text.
            return "the JSON text in the first " + std::to_string(kJsonLookahead) +
                   " bytes of its JSON chunk is white space alone, and the plug-in reads no "
                   "further";
        }
        return "it has more than " + std::to_string(kMostChunks) +
               " chunks, more than the plug-in reads";
    }
};

std::error_code Reason(BeyondTheCheck reason)
{
    static const GlbCheckCategory category;
    return {static_cast<int>(reason), category};
}

std::uint32_t LittleEndianAt(const char* bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 4; i > 0; --i) {
        value = (value << 8U) | static_cast<unsigned char>(bytes[offset + i - 1]);
    }
    return value;
}

// What the first bytes of the JSON chunk's text say about it.
enum class JsonStart {
    Object,    // "{" after a byte-order mark and white space
    NoObject,  // another byte first, or nothing but white space in the whole chunk
    Undecided, // white space up to the end of what was read, with more of the chunk unread
};

// How the JSON chunk's text begins, from `length` of its `chunkLength` bytes
// at hand: "{" after a UTF-8 byte-order mark (which exporters should not
// write and readers may skip) and JSON's white space. White space may go on
// past what was read: a legal text, whose brace the check does not see.
JsonStart StartOfJson(const char* text, std::size_t length, std::uint64_t chunkLength)
{
    constexpr unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
    constexpr std::size_t kMarkSize = sizeof(kByteOrderMark);
    std::size_t i =
        length >= kMarkSize && std::memcmp(text, kByteOrderMark, kMarkSize) == 0 ? kMarkSize : 0;
    for (; i < length; ++i) {
        if (text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n') {
            return text[i] == '{' ? JsonStart::Object : JsonStart::NoObject;
        }
    }
    return length < chunkLength ? JsonStart::Undecided : JsonStart::NoObject;
}

// Whether the file is whole as far as its headers tell: the header with its
// magic, version and the file's own size; a JSON chunk that opens an object;
// and chunks that end exactly where the file does: the JSON chunk, at most
// one BIN chunk right after it, then chunks of other types. A write cut short
// (a full disk, a size limit) leaves a file shorter than its header says; a
// file whose size was set before its bytes were written holds zeros where the
// JSON or a chunk's header belongs, and zeros read as an empty chunk of type
// 0, which no chunk has. Unchecked, with the reason in `beyond`, when what
// decides lies past what the check reads: a sound last chunk followed that
// ends short of the file's end, or white space all through the JSON chunk's
// first bytes in a file whose chunks tile it.
GlbWrite CheckContainer(platform::FileReader& file, std::error_code& beyond)
{
    char head[kHeaderSize + kChunkHeaderSize];
    if (file.ReadAt(0, head, sizeof(head)) != sizeof(head) || std::memcmp(head, "glTF", 4) != 0 ||
        LittleEndianAt(head, 4) != kGlbVersion || LittleEndianAt(head, 8) != file.size() ||
        LittleEndianAt(head, 16) != kJsonChunk) {
        return GlbWrite::Incomplete;
    }
    const std::uint64_t jsonLength = LittleEndianAt(head, 12);
    char json[kJsonLookahead];
    const std::size_t wanted = jsonLength < sizeof(json) ? jsonLength : sizeof(json);
    const JsonStart start = StartOfJson(json, file.ReadAt(sizeof(head), json, wanted), jsonLength);
    if (start == JsonStart::NoObject) {
        return GlbWrite::Incomplete;
    }
    // A chunk cut short by the file's end leaves `at` past it.
    std::uint64_t at = sizeof(head) + jsonLength;
    for (int chunk = 1; at < file.size(); ++chunk) {
        char header[kChunkHeaderSize];
        if (file.ReadAt(at, header, sizeof(header)) != sizeof(header)) {
            return GlbWrite::Incomplete;
        }
        const std::uint32_t type = LittleEndianAt(header, 4);
        if (type == 0 || type == kJsonChunk || (type == kBinChunk && chunk != 1)) {
            return GlbWrite::Incomplete;
        }
        at += sizeof(header) + LittleEndianAt(header, 0);
        // A sound chunk past the bound that ends inside the file: whether
        // the rest tiles the file is not known.
        if (chunk == kMostChunks && at < file.size()) {
            beyond = Reason(BeyondTheCheck::TooManyChunks);
            return GlbWrite::Unchecked;
        }
    }
    if (at != file.size()) {
        return GlbWrite::Incomplete;
    }
    // Chunks that tile the file, and a JSON text whose first bytes are all
    // white space: legal, and its brace may well follow, unread.
    if (start == JsonStart::Undecided) {
        beyond = Reason(BeyondTheCheck::WhiteSpaceOnly);
        return GlbWrite::Unchecked;
    }
    return GlbWrite::Complete;
}

// What the host did at `path`, from the file's state before and after the
// export. A regular file that is not the same file, of the same size and
// last-write time, as before was written in this run, and is read to tell
// whether it is whole. A path that cannot be looked at, before or after, and
// a written file that cannot be read or judged, are not guessed at: the
// reason is kept. Without the look before there is nothing to tell a write
// by, whatever the look after finds.
ExportedGlb Judge(std::string path, const platform::FileState& before)
{
    using Kind = platform::FileState::Kind;
    ExportedGlb exported;
    exported.path = std::move(path);
    if (before.kind == Kind::Unknown) {
        exported.written = GlbWrite::Unchecked;
        exported.error = before.error;
        return exported;
    }
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
    std::error_code beyond;
    exported.written = CheckContainer(file, beyond);
    if (file.error()) {
        exported.written = GlbWrite::Unchecked;
        exported.error = file.error();
    } else if (exported.written == GlbWrite::Unchecked) {
        exported.error = beyond;
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
