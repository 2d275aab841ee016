// The fixed workspace folder that every export writes into.
#pragma once

#include <string>

namespace orvel {

// Makes sure C:/ORVEL and C:/ORVEL/CLO3D_Plugin exist, creating each with a
// single-level directory creation, and returns "C:/ORVEL/CLO3D_Plugin/" (with
// the trailing slash, so file names can be appended). Folders already present
// are left untouched. Any other outcome throws std::filesystem::filesystem_error
// naming "create_directory" and the folder that failed; nothing further is
// attempted then.
std::string PrepareWorkspaceFolder();

} // namespace orvel
