// Makes the system's look at a file fail once, as a network drive's hiccup or
// a file system that will not tell a file's index does. The test program's
// link wraps the call that asks the file system about a file: `stat`, and on
// Windows NtQueryInformationFile (which tells the file's index). Only linkers
// that can wrap a call (not MSVC's) give a test program this.
#pragma once

#include <string>

namespace testing_host {

// Whether this test program can make a look fail.
bool LooksCanFail();

// The next look at `path` fails once: natively `stat` of that path, with EIO;
// on Windows the next question for a file's index, whatever the file (the
// plug-in asks only of the GLB), refused as an invalid request.
void FailNextLookAt(const std::string& path);

// Takes back a failure that no look has met yet.
void StopFailingLooks();

// Words of the system's text for the planted failure, which the reason given
// for it holds: EIO's natively; on Windows that of the error the refused
// request's NT status stands for, ERROR_INVALID_FUNCTION ("Incorrect
// function.", under Wine "Invalid function"), never the status itself.
#if defined(_WIN32)
constexpr char kRefusedLookReason[] = "function";
#else
constexpr char kRefusedLookReason[] = "Input/output error";
#endif

} // namespace testing_host
