#include "file_probe.h"

#include <windows.h>

#include "wide_path_windows.h"

namespace orvel::platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::int64_t Ticks(const FILETIME& time)
{
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32U) |
                                     time.dwLowDateTime);
}

std::uint64_t Join(DWORD high, DWORD low)
{
    return (static_cast<std::uint64_t>(high) << 32U) | low;
}

// Closes a handle when it goes out of scope.
struct OpenFile {
    explicit OpenFile(HANDLE opened) : handle(opened) {}
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile()
    {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    HANDLE handle;
};

} // namespace

std::int64_t FileClockNow()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return Ticks(now);
}

std::int64_t FileTimeUnitsPerMillisecond() { return 10000; }

FileState StateOf(const std::string& path)
{
    FileState state;
    std::wstring wide;
    if (WidePath(path, wide)) {
        state.kind = FileState::Kind::Unknown;
        return state;
    }
    // Asks for the attributes alone: sharing rules cover only reading,
    // writing and deleting, so this handle neither waits for a program that
    // holds the file open nor stops one from opening it. Folders open too.
    const OpenFile file(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file.handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        state.kind = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                         ? FileState::Kind::Missing
                         : FileState::Kind::Unknown;
        return state;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandle(file.handle, &info) == FALSE ||
        GetFileInformationByHandleEx(file.handle, FileBasicInfo, &basic, sizeof(basic)) == FALSE) {
        state.kind = FileState::Kind::Unknown;
        return state;
    }
    state.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                         GetFileType(file.handle) == FILE_TYPE_DISK
                     ? FileState::Kind::Regular
                     : FileState::Kind::Other;
    state.volume = info.dwVolumeSerialNumber;
    state.file = Join(info.nFileIndexHigh, info.nFileIndexLow);
    state.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    state.lastWrite = Ticks(info.ftLastWriteTime);
    state.change = basic.ChangeTime.QuadPart;
    return state;
}

bool ReadHead(const std::string& path, char* buffer, std::size_t count, FileHead& head)
{
    std::wstring wide;
    if (WidePath(path, wide)) {
        return false;
    }
    const OpenFile file(CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (file.handle == INVALID_HANDLE_VALUE || GetFileType(file.handle) != FILE_TYPE_DISK ||
        GetFileSizeEx(file.handle, &size) == FALSE) {
        return false;
    }
    head = FileHead{0, static_cast<std::uint64_t>(size.QuadPart)};
    while (head.length < count) {
        DWORD got = 0;
        if (ReadFile(file.handle, buffer + head.length, static_cast<DWORD>(count - head.length),
                     &got, nullptr) == FALSE) {
            return false;
        }
        if (got == 0) {
            break;
        }
        head.length += got;
    }
    return true;
}

} // namespace orvel::platform
