// TestDrive's guard of a machine's own system drive, built as on native
// Windows. ctest runs it once without the permission (the drive test must be
// skipped, with the reason) and, where the drive is a throwaway folder, once
// with ORVEL_TESTS_MAY_CHANGE_SYSTEM_DRIVE=1 (everything must run).
#include <gtest/gtest.h>

#include <string>

#include "support/test_drive.h"

namespace {

using testing_host::GetEnvironment;
using testing_host::kSystemDriveVariable;
using testing_host::SetEnvironment;
using testing_host::TestDrive;

// Restores the variable as the test found it.
class SavedVariable {
public:
    SavedVariable() : value_(GetEnvironment(kSystemDriveVariable)) {}
    SavedVariable(const SavedVariable&) = delete;
    SavedVariable& operator=(const SavedVariable&) = delete;
    ~SavedVariable() { SetEnvironment(kSystemDriveVariable, value_); }

private:
    std::string value_;
};

TEST(SystemDriveVariable, OnlyExactlyOneAllowsChanges)
{
    const SavedVariable saved;
    for (const char* refused : {"", "0", "yes", "true", "on", " 1", "1 ", "01", "11", "2"}) {
        SetEnvironment(kSystemDriveVariable, refused);
        EXPECT_FALSE(TestDrive::MayChangeDrive()) << "value \"" << refused << "\"";
    }
    SetEnvironment(kSystemDriveVariable, "1");
    EXPECT_TRUE(TestDrive::MayChangeDrive());
}

// A fixture that uses the drive in SetUp and in its body, as the real suites do.
class GuardedDrive : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TestDrive::MayChangeDrive()) << "SetUp ran without the permission";
        testing_host::WriteFile("C:/guard-probe.txt", "probe");
    }

    TestDrive drive_;
};

TEST_F(GuardedDrive, RunsOnlyWithThePermission)
{
    EXPECT_EQ(GetEnvironment(kSystemDriveVariable), "1") << "the body ran without the permission";
    EXPECT_EQ(testing_host::ReadFile("C:/guard-probe.txt"), "probe");
}

} // namespace
