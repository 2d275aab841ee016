#include "test_drive.h"

#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace testing_host {
namespace {

void RemoveDriveFolders()
{
    std::error_code ignored;
    std::filesystem::permissions("C:/ORVEL", std::filesystem::perms::all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::permissions("C:/ORVEL/CLO3D_Plugin", std::filesystem::perms::all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all("C:/ORVEL", ignored);
    std::filesystem::remove_all("C:/Program Files/ORVEL", ignored);
    std::filesystem::remove("C:/Program.exe", ignored);
}

} // namespace

TestDrive::TestDrive() : previous_(std::filesystem::current_path())
{
#if !defined(_WIN32)
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    do {
        folder_ =
            base / ("orvel-test-" + std::to_string(getpid()) + "-" + std::to_string(random()));
    } while (std::filesystem::exists(folder_));
    std::filesystem::create_directories(folder_ / "C:");
    std::filesystem::current_path(folder_);
#endif
    RemoveDriveFolders();
}

TestDrive::~TestDrive()
{
    RemoveDriveFolders();
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    if (!folder_.empty()) {
        std::filesystem::remove_all(folder_, ignored);
    }
}

void TestDrive::InstallViewer() const
{
    std::filesystem::create_directories("C:/Program Files/ORVEL");
    std::filesystem::copy_file(ORVEL_STANDIN_VIEWER, "C:/Program Files/ORVEL/ORVEL.exe",
                               std::filesystem::copy_options::overwrite_existing);
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
}

} // namespace testing_host
