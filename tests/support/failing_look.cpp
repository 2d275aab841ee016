#include "failing_look.h"

#if defined(ORVEL_LOOKS_CAN_FAIL)
#if defined(_WIN32)
#include <windows.h>
#include <winternl.h>
#else
#include <sys/stat.h>

#include <cerrno>
#endif
#endif

namespace testing_host {
namespace {

bool gArmed = false;
std::string gPath;

#if defined(ORVEL_LOOKS_CAN_FAIL)
// Whether this look is the one to fail; it fails once. Only the wraps below
// call it, and they exist only where the linker can wrap a call.
bool TakeFailure(const char* path)
{
    if (!gArmed || (path != nullptr && gPath != path)) {
        return false;
    }
    gArmed = false;
    return true;
}
#endif

} // namespace

bool LooksCanFail()
{
#if defined(ORVEL_LOOKS_CAN_FAIL)
    return true;
#else
    return false;
#endif
}

void FailNextLookAt(const std::string& path)
{
    gPath = path;
    gArmed = true;
}

void StopFailingLooks() { gArmed = false; }

} // namespace testing_host

#if defined(ORVEL_LOOKS_CAN_FAIL)
// The linker sends every call of the wrapped name here, and __real_ to the
// system's own. NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
#if defined(_WIN32)
extern "C" NTSTATUS NTAPI __real_NtQueryInformationFile(HANDLE file, PIO_STATUS_BLOCK status,
                                                        PVOID information, ULONG length,
                                                        FILE_INFORMATION_CLASS kind);

extern "C" NTSTATUS NTAPI __wrap_NtQueryInformationFile(HANDLE file, PIO_STATUS_BLOCK status,
                                                        PVOID information, ULONG length,
                                                        FILE_INFORMATION_CLASS kind)
{
    constexpr NTSTATUS kInvalidDeviceRequest = static_cast<NTSTATUS>(0xC0000010);
    if (testing_host::TakeFailure(nullptr)) {
        return kInvalidDeviceRequest;
    }
    return __real_NtQueryInformationFile(file, status, information, length, kind);
}
#else
extern "C" int __real_stat(const char* path, struct stat* info);

extern "C" int __wrap_stat(const char* path, struct stat* info)
{
    if (testing_host::TakeFailure(path)) {
        errno = EIO;
        return -1;
    }
    return __real_stat(path, info);
}
#endif
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
#endif
