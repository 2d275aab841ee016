#include "workspace_folder.h"

#include <filesystem>
#include <system_error>

namespace orvel {
namespace {

constexpr char kDriveRoot[] = "C:/";
constexpr char kProductFolder[] = "ORVEL";
constexpr char kWorkspaceFolder[] = "ORVEL/CLO3D_Plugin";

// Creates one folder; an existing folder is success. The error is raised by
// hand so that it names the operation the same way on every standard library.
void CreateFolder(const std::string& folder)
{
    const std::filesystem::path path(folder);
    std::error_code error;
    std::filesystem::create_directory(path, error);
    if (error) {
        throw std::filesystem::filesystem_error("create_directory", path, error);
    }
}

} // namespace

std::string PrepareWorkspaceFolder()
{
    const std::string root = kDriveRoot;
    CreateFolder(root + kProductFolder);
    CreateFolder(root + kWorkspaceFolder);
    return root + kWorkspaceFolder + "/";
}

} // namespace orvel
