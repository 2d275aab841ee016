#include "glb_export.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>

#include "CLOAPIInterface.h"
#include "export/export_option.h"
#include "host/host_services.h"
#include "platform/file_probe.h"

namespace orvel {
namespace {

constexpr char kGlbExtension[] = ".glb";
constexpr char kNoExportServiceMessage[] =
    "EXPORT_API seems to not be defined. Something is wrong ";

// A binary glTF begins with a 12-byte header (magic "glTF", version, total
// length) and the header of its first chunk (length, type), each a
// little-endian 32-bit number; the first chunk is the JSON one.
constexpr std::size_t kGlbHeadSize = 20;
constexpr std::uint32_t kGlbVersion = 2;
constexpr std::uint32_t kJsonChunk = 0x4E4F534A;

std::uint32_t LittleEndianAt(const char* bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 4; i > 0; --i) {
        value = (value << 8U) | static_cast<unsigned char>(bytes[offset + i - 1]);
    }
    return value;
}

// Whether the file at `path` is whole as far as its header tells: a write cut
// short (a full disk, a size limit) leaves a file shorter than its header says.
bool IsCompleteGlb(const std::string& path)
{
    char bytes[kGlbHeadSize];
    platform::FileHead head;
    if (!platform::ReadHead(path, bytes, kGlbHeadSize, head) || head.length < kGlbHeadSize) {
        return false;
    }
    const std::uint64_t jsonEnd = kGlbHeadSize + std::uint64_t{LittleEndianAt(bytes, 12)};
    return std::memcmp(bytes, "glTF", 4) == 0 && LittleEndianAt(bytes, 4) == kGlbVersion &&
           LittleEndianAt(bytes, 8) == head.size && LittleEndianAt(bytes, 16) == kJsonChunk &&
           jsonEnd <= head.size;
}

// Waits until the clock that stamps file writes has moved past the time of a
// file written moments ago, so that any write from now on leaves a different
// time even where that clock ticks coarsely. Never longer than 50 ms, and not
// at all for a file dated further ahead.
void WaitForNewerFileTime(const platform::FileState& state)
{
    const std::int64_t longest = 50 * platform::FileTimeUnitsPerMillisecond();
    const std::int64_t start = platform::FileClockNow();
    if (state.kind != platform::FileState::Kind::Regular || state.lastWrite < start ||
        state.lastWrite - start > longest) {
        return;
    }
    while (platform::FileClockNow() <= state.lastWrite) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// What the host did at `path`, from the file's state before and after the
// export: a regular file that is not the same file in the same state was
// written in this run, and is then checked for being whole.
GlbWrite Judge(const std::string& path, const platform::FileState& before)
{
    using Kind = platform::FileState::Kind;
    const platform::FileState after = platform::StateOf(path);
    if (after.kind == Kind::Missing || after.kind == Kind::Other ||
        (after.kind == Kind::Regular && after == before)) {
        return GlbWrite::Nothing;
    }
    // Unknown: the file may be there but cannot be looked at, let alone read.
    return after.kind == Kind::Regular && IsCompleteGlb(path) ? GlbWrite::Complete
                                                              : GlbWrite::Incomplete;
}

} // namespace

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
    ExportedGlb exported{folder + baseName + kGlbExtension};
    const platform::FileState before = platform::StateOf(exported.path);
    // A file written moments ago (the last of quick exports) could be
    // rewritten within the same tick of the file clock and look untouched.
    WaitForNewerFileTime(before);
    // The host's list of written files is released unread: the file itself
    // tells whether it was written.
    static_cast<void>(exporter->ExportProjectAsGlb(exported.path, option));
    exported.written = Judge(exported.path, before);
    return exported;
}

} // namespace orvel
