// Has the host export the open project as a binary glTF (GLB) file.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace orvel {

// What the host left at the GLB's path.
enum class GlbWrite {
    NotAsked,   // no export service: there was nothing to check
    Complete,   // a file written in this run, whole as far as its chunks tell
    Nothing,    // no file there, the one from before unchanged, or no file at all
                // (a folder, a FIFO, a device)
    Incomplete, // a file written in this run that is cut short or no GLB
    Unchecked,  // the path could not be looked at, before or after the
                // export, or a file written in this run could not be read or
                // has more chunks than are read: ExportedGlb::error tells why
};

// What came of asking the host for the GLB file.
struct ExportedGlb {
    // folder + baseName + ".glb"; empty when the host has no export service.
    std::string path;
    GlbWrite written = GlbWrite::NotAsked;
    std::error_code error; // the system's reason for Unchecked
};

// Asks the host's export service to write the open project to
// folder + baseName + ".glb", with the plug-in's fixed export options, and
// tells what the host left there. The check only looks: the file's state
// before and after the export, and a few bytes of a file that changed.
// A file already there is never deleted, moved, rewritten or given another
// time. Without an export service the user is told so (when the host can show
// messages) and the empty path is returned.
ExportedGlb ExportSceneToGlb(std::string folder, std::string baseName);

// Reads the clock that stamps file writes (platform::FileClockNow), in the
// units of platform::FileState::lastWrite.
using FileClock = std::int64_t (*)();

// Before an export over a file last written at `lastWrite`: waits until
// `fileClock` has moved past that time, so that the export's write leaves a
// different time even where that clock ticks coarsely. Waits only for a file
// written in the clock's current tick or up to 50 ms ahead of it, and never
// longer than 50 ms by a steady clock, whatever the file clock (a wall clock,
// which can be set back) does meanwhile.
void WaitForNewerFileTime(std::int64_t lastWrite, FileClock fileClock);

} // namespace orvel
