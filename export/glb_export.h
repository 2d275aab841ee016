// Has the host export the open project as a binary glTF (GLB) file.
#pragma once

#include <string>

namespace orvel {

// What the host left at the GLB's path.
enum class GlbWrite {
    NotAsked,   // no export service: there was nothing to check
    Complete,   // a file written in this run, whole as far as its header tells
    Nothing,    // no file there, or the one from before, unchanged
    Incomplete, // a file written in this run that is cut short, no GLB, or unreadable
};

// What came of asking the host for the GLB file.
struct ExportedGlb {
    // folder + baseName + ".glb"; empty when the host has no export service.
    std::string path;
    GlbWrite written = GlbWrite::NotAsked;
};

// Asks the host's export service to write the open project to
// folder + baseName + ".glb", with the plug-in's fixed export options, and
// tells what the host left there. The check only looks: the file's state
// before and after the export, and the first bytes of a file that changed.
// A file already there is never deleted, moved, rewritten or given another
// time. Without an export service the user is told so (when the host can show
// messages) and the empty path is returned.
ExportedGlb ExportSceneToGlb(std::string folder, std::string baseName);

} // namespace orvel
