// The stand-in viewer's report, for tests that start it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/test_drive.h"

namespace testing_host {

// Waits for the report of the viewer started in this test and returns it; a
// report that never comes fails the test.
inline std::string ViewerReport()
{
    EXPECT_TRUE(WaitForFile(TestDrive::kViewerReport, 20)) << "the viewer never reported";
    return ReadFile(TestDrive::kViewerReport);
}

} // namespace testing_host
