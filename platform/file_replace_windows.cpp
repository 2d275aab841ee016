#include "file_replace.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

namespace orvel::platform {
namespace {

// How often, and how long apart, a replace refused because another program
// has the file open (a viewer reading it) is tried again: about 100 ms in all.
constexpr int kReplaceTries = 6;
constexpr DWORD kReplacePauseMs = 20;

std::error_code Error(DWORD code) { return {static_cast<int>(code), std::system_category()}; }

std::error_code LastError() { return Error(GetLastError()); }

// Narrow text as the runtime's file functions take it: in the ANSI code page.
std::error_code Widen(const std::string& text, std::wstring& wide)
{
    if (text.empty()) {
        wide.clear();
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int length =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) {
        return LastError();
    }
    wide.assign(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length) !=
        length) {
        return LastError();
    }
    return {};
}

// The text as a text-mode stream stores it: every line end as CR LF.
std::string WithCrLf(const std::string& text)
{
    std::string stored;
    stored.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n') {
            stored += '\r';
        }
        stored += c;
    }
    return stored;
}

// Numbers the temporary files of this process; with the process ID, the name
// is one that no other writer uses at the same time.
std::atomic<unsigned> gTemporaryCount{0};

// A new, empty file opened for writing; never one that exists already.
HANDLE CreateTemporary(const std::wstring& path, std::wstring& temporary, std::error_code& error)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = path + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                    std::to_wstring(gTemporaryCount.fetch_add(1)) + L".tmp";
        const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            return file;
        }
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            error = Error(code);
            return INVALID_HANDLE_VALUE;
        }
    }
    error = Error(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

std::error_code WriteAll(HANDLE file, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1U << 20));
        DWORD written = 0;
        if (WriteFile(file, bytes.data() + done, chunk, &written, nullptr) == FALSE) {
            return LastError();
        }
        done += written;
    }
    return {};
}

// A refusal that may pass once another program closes the file. A folder or
// a read-only file at the target refuses the same way, but for good.
bool MayPass(DWORD code, const std::wstring& path)
{
    if (code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED &&
        code != ERROR_LOCK_VIOLATION) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

std::error_code Replace(const std::wstring& temporary, const std::wstring& path)
{
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(temporary.c_str(), path.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE) {
            return {};
        }
        const DWORD code = GetLastError();
        if (attempt == kReplaceTries || !MayPass(code, path)) {
            return Error(code);
        }
        Sleep(kReplacePauseMs);
    }
}

} // namespace

std::error_code ReplaceWholeFile(const std::string& path, const std::string& text)
{
    std::wstring widePath;
    std::error_code error = Widen(path, widePath);
    if (error) {
        return error;
    }
    const std::string bytes = WithCrLf(text);
    std::wstring temporary;
    const HANDLE file = CreateTemporary(widePath, temporary, error);
    if (file == INVALID_HANDLE_VALUE) {
        return error;
    }
    error = WriteAll(file, bytes);
    if (CloseHandle(file) == FALSE && !error) {
        error = LastError();
    }
    if (!error) {
        error = Replace(temporary, widePath);
    }
    if (error) {
        DeleteFileW(temporary.c_str());
    }
    return error;
}

} // namespace orvel::platform
