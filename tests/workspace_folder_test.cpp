#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "export/workspace_folder.h"
#include "support/test_drive.h"

namespace {

namespace fs = std::filesystem;
using testing_host::TestDrive;

class WorkspaceFolder : public ::testing::Test {
protected:
    TestDrive drive_;
};

TEST_F(WorkspaceFolder, CreatesParentThenFolderAndReturnsItWithTrailingSlash)
{
    EXPECT_EQ(orvel::PrepareWorkspaceFolder(), "C:/ORVEL/CLO3D_Plugin/");
    EXPECT_TRUE(fs::is_directory("C:/ORVEL/CLO3D_Plugin"));
}

TEST_F(WorkspaceFolder, LeavesExistingFoldersAndTheirFilesUntouched)
{
    fs::create_directories("C:/ORVEL/CLO3D_Plugin");
    testing_host::WriteFile("C:/ORVEL/CLO3D_Plugin/keep.txt", "kept");
    EXPECT_EQ(orvel::PrepareWorkspaceFolder(), "C:/ORVEL/CLO3D_Plugin/");
    EXPECT_EQ(orvel::PrepareWorkspaceFolder(), "C:/ORVEL/CLO3D_Plugin/");
    EXPECT_EQ(testing_host::ReadFile("C:/ORVEL/CLO3D_Plugin/keep.txt"), "kept");
}

// A plain file where a folder must be: the error names the operation and the
// path that failed, and the folder below is not attempted.
TEST_F(WorkspaceFolder, PlainFileInTheWayRaisesTheFilesystemError)
{
    testing_host::WriteFile("C:/ORVEL", "not a folder");
    try {
        orvel::PrepareWorkspaceFolder();
        FAIL() << "no error raised";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.path1().generic_string(), "C:/ORVEL");
        EXPECT_NE(std::string(error.what()).find("create_directory"), std::string::npos)
            << error.what();
        EXPECT_TRUE(error.code());
    }
    EXPECT_TRUE(fs::is_regular_file("C:/ORVEL"));
}

TEST_F(WorkspaceFolder, PlainFileInPlaceOfTheWorkspaceFolderNamesThatFolder)
{
    fs::create_directories("C:/ORVEL");
    testing_host::WriteFile("C:/ORVEL/CLO3D_Plugin", "not a folder");
    try {
        orvel::PrepareWorkspaceFolder();
        FAIL() << "no error raised";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.path1().generic_string(), "C:/ORVEL/CLO3D_Plugin");
    }
}

#if !defined(_WIN32)
// Each folder is made on its own, never with its parents: without the drive
// itself nothing is created, and the error names the first folder.
TEST_F(WorkspaceFolder, MissingDriveRootCreatesNothingAndNamesTheProductFolder)
{
    fs::remove_all("C:");
    try {
        orvel::PrepareWorkspaceFolder();
        FAIL() << "no error raised";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.path1().generic_string(), "C:/ORVEL");
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    }
    EXPECT_FALSE(fs::exists("C:"));
}
#endif

} // namespace
