#include "process_start.h"

#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace orvel::platform {
namespace {

static_assert(sizeof(STARTUPINFOW) == 104, "STARTUPINFOW of x86-64 Windows");

// Converts narrow text to wide characters under the runtime's current locale.
// Returns nothing for text the locale cannot convert: mbstowcs then reports
// (size_t)-1, and no buffer size may be derived from that.
std::optional<std::wstring> Widen(const std::string& text)
{
#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4996) // mbstowcs: the checked variant reports errors differently
#endif
    const std::size_t length = std::mbstowcs(nullptr, text.c_str(), 0);
    if (length == static_cast<std::size_t>(-1)) {
        return std::nullopt;
    }
    // Zero-filled, one more than the converted length: the conversion writes
    // at most `length` characters and the last one stays the terminator.
    std::wstring wide(length + 1, L'\0');
    if (std::mbstowcs(wide.data(), text.c_str(), length) != length) {
        return std::nullopt;
    }
#if defined(_MSC_VER)
#pragma warning(pop)
#endif
    wide.resize(length);
    return wide;
}

} // namespace

bool StartProcess(const std::string& executable, const std::string& commandLine)
{
    const std::optional<std::wstring> application = Widen(executable);
    std::optional<std::wstring> command = Widen(commandLine);
    if (!application || !command) {
        return false;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // The application name is given as well as the command line: otherwise
    // Windows splits the unquoted "C:\Program Files\..." at its space and may
    // start C:\Program.exe instead. The command line itself stays as formed,
    // so the program sees exactly the same arguments.
    const BOOL started = CreateProcessW(application->c_str(), command->data(), nullptr, nullptr,
                                        FALSE, 0, nullptr, nullptr, &startup, &process);
    if (started == FALSE) {
        return false;
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return true;
}

} // namespace orvel::platform
