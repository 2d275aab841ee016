// Starting another program without waiting for it.
#pragma once

#include <string>

namespace orvel::platform {

// Starts the program at `executable` (a Windows path such as
// "C:\Program Files\ORVEL\ORVEL.exe") with the complete Windows command line
// `commandLine`, which the program receives unchanged. The program gets the
// caller's environment and current folder and inherits no handles. Returns
// true once it has started; never waits for it, and leaves nothing of it
// behind in the caller (no handles, no zombie process).
bool StartProcess(const std::string& executable, const std::string& commandLine);

} // namespace orvel::platform
