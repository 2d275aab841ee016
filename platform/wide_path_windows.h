// Narrow paths as the Windows file functions take them.
#pragma once

#include <windows.h>

#include <string>
#include <system_error>

namespace orvel::platform {

// Narrow text as the runtime's file functions take it: in the ANSI code page.
inline std::error_code WidePath(const std::string& text, std::wstring& wide)
{
    if (text.empty()) {
        wide.clear();
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int length =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) {
        return {static_cast<int>(GetLastError()), std::system_category()};
    }
    wide.assign(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length) !=
        length) {
        return {static_cast<int>(GetLastError()), std::system_category()};
    }
    return {};
}

} // namespace orvel::platform
