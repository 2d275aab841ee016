#include "file_replace.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "temporary_name.h"

#include "wide_path_windows.h"

namespace orvel::platform {
namespace {

// How often, and how long apart, a replace refused because another program
// has the file open (a viewer reading it) is tried again: about 100 ms in all.
constexpr int kReplaceTries = 6;
constexpr DWORD kReplacePauseMs = 20;

std::error_code Error(DWORD code) { return {static_cast<int>(code), std::system_category()}; }

std::error_code LastError() { return Error(GetLastError()); }

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

// A new, empty file opened for writing, and for renaming through the same
// handle; never one that exists already.
HANDLE CreateTemporary(const std::wstring& path, std::wstring& temporary, std::error_code& error)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = path + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                    std::to_wstring(gTemporaryCount.fetch_add(1)) + L".tmp";
        const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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

// What renaming a file over `path` asks of the system: FILE_RENAME_INFO,
// which ends in the new name, of any length. Made before the temporary is
// created, so that memory running out here leaves no file and no handle.
std::vector<char> RenameOver(const std::wstring& path)
{
    const std::size_t nameBytes = path.size() * sizeof(wchar_t);
    std::vector<char> record(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(record.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(rename->FileName, path.c_str(), nameBytes + sizeof(wchar_t));
    return record;
}

// Renames the open `file` over `path` with `record` (RenameOver(path)).
// Through the handle already open, where MoveFileExW would open the file again
// (under Wine two more round trips to its server, each a wait for another
// process).
std::error_code Replace(HANDLE file, const std::wstring& path, std::vector<char>& record)
{
    for (int attempt = 1;; ++attempt) {
        if (SetFileInformationByHandle(file, FileRenameInfo, record.data(),
                                       static_cast<DWORD>(record.size())) != FALSE) {
            return {};
        }
        const DWORD code = GetLastError();
        if (attempt == kReplaceTries || !MayPass(code, path)) {
            return Error(code);
        }
        Sleep(kReplacePauseMs);
    }
}

// How old a temporary must be before it counts as left behind, in the 100 ns
// steps of file times: no write of a few bytes takes that long, so no other
// export can still be busy with it.
constexpr std::uint64_t kStaleTicks = 10ULL * 60 * 10000000;

std::uint64_t Ticks(const FILETIME& time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32U) | time.dwLowDateTime;
}

// The name of the file or folder open as `handle` as the system resolves it,
// every link on the way followed; empty when the system cannot say.
std::wstring FinalName(HANDLE handle)
{
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
        if (length == 0) {
            return {};
        }
        const bool fits = length < name.size();
        name.resize(length); // too small: the length asked for, with the null
        if (fits) {
            return name;
        }
    }
}

// The final name that an entry `name` of the folder `folder` (the path's own
// text, up to its last separator) has when it is itself a file of that folder.
std::wstring FinalNameInFolder(const std::wstring& folder, const wchar_t* name)
{
    const HANDLE handle = CreateFileW((folder + L".").c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return {};
    }
    const std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)> owned(handle, &CloseHandle);
    std::wstring entry = FinalName(handle);
    if (entry.empty()) {
        return {};
    }
    if (entry.back() != L'\\') {
        entry += L'\\';
    }
    return entry + name;
}

// Removes the entry `name` of `folder` when it is a file of that folder
// itself. Windows opens a link as itself here (FILE_FLAG_OPEN_REPARSE_POINT),
// so removing it removes only the link. Wine follows a Unix symbolic link
// whatever the flags and shows it as a plain file, and removing it would
// remove the file it points to; but Wine names the open file after the link's
// target, so a handle whose final name is not the entry's own is left. The
// file is removed through the handle that was looked at: whatever is put at
// that name meanwhile is never followed.
void RemoveIfItself(const std::wstring& folder, const wchar_t* name)
{
    const HANDLE file = CreateFileW((folder + name).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)> owned(file, &CloseHandle);
    const std::wstring own = FinalNameInFolder(folder, name);
    if (own.empty() || FinalName(file) != own) {
        return;
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
}

// RemoveStaleTemporaries for the path in the system's own characters. Only
// plain files of exactly that name pattern and age: a link or a folder of
// that name was not made here.
void RemoveStaleTemporariesOf(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"/\\");
    const std::wstring folder = slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
    const std::wstring_view target = slash == std::wstring::npos
                                         ? std::wstring_view(path)
                                         : std::wstring_view(path).substr(slash + 1);
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileExW((path + L".*-*.tmp").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)> listing(find, &FindClose);
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t staleBefore = Ticks(now) - kStaleTicks;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                0 &&
            IsTemporaryOf(std::wstring_view(found.cFileName), target) &&
            Ticks(found.ftLastWriteTime) < staleBefore) {
            RemoveIfItself(folder, found.cFileName);
        }
    } while (FindNextFileW(listing.get(), &found) != FALSE);
}

} // namespace

void RemoveStaleTemporaries(const std::string& path)
{
    std::wstring widePath;
    if (!WidePath(path, widePath)) {
        RemoveStaleTemporariesOf(widePath);
    }
}

std::error_code ReplaceWholeFile(const std::string& path, const std::string& text)
{
    std::wstring widePath;
    std::error_code error = WidePath(path, widePath);
    if (error) {
        return error;
    }
    const std::string bytes = WithCrLf(text);
    std::vector<char> rename = RenameOver(widePath);
    std::wstring temporary;
    const HANDLE file = CreateTemporary(widePath, temporary, error);
    if (file == INVALID_HANDLE_VALUE) {
        return error;
    }
    error = WriteAll(file, bytes);
    if (!error) {
        error = Replace(file, widePath, rename);
    }
    // Once renamed, the file holds every byte written, whatever the close
    // says.
    CloseHandle(file);
    if (error) {
        DeleteFileW(temporary.c_str());
    }
    return error;
}

} // namespace orvel::platform
