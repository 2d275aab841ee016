// Starts the ORVEL viewer on the settings file.
#pragma once

#include <string>

namespace orvel {

// Tells the user that the viewer is being opened, then starts
// "C:\Program Files\ORVEL\ORVEL.exe" with the command line
//   C:\Program Files\ORVEL\ORVEL.exe -Settings="<settingsPath>"
// without waiting for it. When the viewer cannot be started, the user is told
// where the exported files are (`folder`).
void LaunchViewer(const std::string& settingsPath, const std::string& folder);

} // namespace orvel
