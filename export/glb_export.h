// Has the host export the open project as a binary glTF (GLB) file.
#pragma once

#include <string>

namespace orvel {

// Asks the host's export service to write the open project to
// folder + baseName + ".glb", with the plug-in's fixed export options, and
// returns that path. What the host writes, or whether it writes anything, is
// not examined. Without an export service the user is told so (when the host
// can show messages) and the empty text is returned.
std::string ExportSceneToGlb(std::string folder, std::string baseName);

} // namespace orvel
