#include "program_environment.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#endif

namespace standin {

#if defined(_WIN32)
std::string Utf8FromWide(const std::wstring& text)
{
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::wstring WideFromUtf8(const std::string& text)
{
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), size);
    return wide;
}
#endif

std::vector<std::string> ProgramArguments([[maybe_unused]] int argc, [[maybe_unused]] char** argv)
{
    std::vector<std::string> arguments;
#if defined(_WIN32)
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide != nullptr) {
        for (int i = 1; i < count; ++i) {
            arguments.push_back(Utf8FromWide(wide[i]));
        }
        LocalFree(wide);
    }
#else
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
#endif
    return arguments;
}

std::string GetEnvironment(const std::string& name)
{
#if defined(_WIN32)
    const std::wstring wideName = WideFromUtf8(name);
    const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    value.resize(length < size ? length : 0);
    return Utf8FromWide(value);
#else
    const char* value = std::getenv(name.c_str());
    return value == nullptr ? std::string() : std::string(value);
#endif
}

void SetEnvironment(const std::string& name, const std::string& value)
{
#if defined(_WIN32)
    // The process's environment block, which CreateProcess hands on.
    SetEnvironmentVariableW(WideFromUtf8(name).c_str(), WideFromUtf8(value).c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

} // namespace standin
