// Has the host export the open project as a binary glTF (GLB) file.
#pragma once

#include <string>

namespace orvel {

// What came of asking the host for the GLB file.
struct ExportedGlb {
    // folder + baseName + ".glb"; empty when the host has no export service.
    std::string path;
    // The host was asked and demonstrably wrote nothing at `path` in this
    // run. False whenever that cannot be told (no export service, file times
    // that cannot be read or set): only a certain failure is reported.
    bool hostWroteNothing = false;
};

// Asks the host's export service to write the open project to
// folder + baseName + ".glb", with the plug-in's fixed export options, and
// tells whether the host wrote that file. The file's content is never read,
// and a file already there is never deleted, moved or rewritten: only its
// last-write time is used as a mark, and put back when the host left the file
// alone. Without an export service the user is told so (when the host can
// show messages) and the empty path is returned.
ExportedGlb ExportSceneToGlb(std::string folder, std::string baseName);

} // namespace orvel
