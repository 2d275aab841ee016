// The stand-in host's "C:" drive: the viewer's installation and the
// plug-in's workspace folder.
//
// Under Windows (and Wine) it is the real C: drive. On Linux it is a folder
// named "C:" in the working folder, which is where the plug-in's "C:/..."
// paths lead there.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

namespace standin {

constexpr char kViewerFolder[] = "C:/Program Files/ORVEL";
constexpr char kViewerPath[] = "C:/Program Files/ORVEL/ORVEL.exe";
constexpr char kWorkspaceFolder[] = "C:/ORVEL/CLO3D_Plugin";

// Makes the drive when it is missing (Linux only). Returns false, and says
// why in `error`, when it cannot.
bool PrepareDrive(std::string& error);

// The folder of the running program.
std::filesystem::path ProgramFolder();

// Copies the stand-in viewer built beside the host program to kViewerPath.
// Returns what it did or why it could not, and whether it could.
bool InstallViewer(std::string& message);

// Removes an installed viewer; says what it did.
std::string RemoveViewer();

// Writes one line per file of the workspace folder with its size, and the
// content of its API.json, each line starting with `prefix`.
void PrintWorkspace(std::ostream& out, const std::string& prefix);

// Waits until `path` exists and opens, at most `timeout`, and returns its
// content.
std::optional<std::string> WaitForFile(const std::filesystem::path& path,
                                       std::chrono::milliseconds timeout);

} // namespace standin
