// The plug-in's one action: export the open project for the ORVEL viewer.
#pragma once

namespace orvel {

// Makes sure the workspace folder exists, has the host export the open project
// into it as Prepped_For_ORVEL.glb, writes API.json naming that file, tells the
// user, and starts the viewer on the settings file. Never throws: an error
// that stops the action is shown to the user instead.
void ExportAction() noexcept;

} // namespace orvel
