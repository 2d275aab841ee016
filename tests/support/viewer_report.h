// The stand-in viewer's report, for tests that start it.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/test_drive.h"

namespace testing_host {

// Waits for the report of the viewer started in this test and returns it; a
// report that never comes fails the test.
inline std::string ViewerReport()
{
    const std::optional<std::string> report = WaitToRead(TestDrive::kViewerReport, 20);
    EXPECT_TRUE(report) << "the viewer never reported";
    return report.value_or(std::string());
}

} // namespace testing_host
