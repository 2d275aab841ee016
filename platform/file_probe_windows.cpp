#include "file_probe.h"

#include <windows.h>
#include <winternl.h>

#include "wide_path_windows.h"

namespace orvel::platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::int64_t Ticks(const FILETIME& time)
{
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32U) |
                                     time.dwLowDateTime);
}

std::error_code LastError() { return {static_cast<int>(GetLastError()), std::system_category()}; }

// NtQueryInformationFile's FileInternalInformation: the file's 64-bit index,
// which tells it from every other file on its volume. The Windows SDK's
// winternl.h names neither the class nor its record.
constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
struct FileIndex {
    LARGE_INTEGER number;
};

// ntdll's NtQueryInformationFile and RtlNtStatusToDosError.
#if defined(_MSC_VER)
// MSVC's linker searches the libraries named on its command line before the
// C runtime's, and ntdll.lib also names ntdll's own copies of C runtime
// functions (mbstowcs, memcpy, strlen, ...): linked, it would bind the
// plug-in's calls to those, whose mbstowcs ignores the runtime's locale. So
// this build links no ntdll.lib and asks ntdll, which every process has
// loaded, for the two functions. GNU linkers take them from libntdll.a alone.
template <typename Function>
Function FromNtdll(const char* name)
{
    const FARPROC found = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

NTSTATUS QueryFile(HANDLE file, IO_STATUS_BLOCK& status, void* information, ULONG length)
{
    const auto query = FromNtdll<decltype(&NtQueryInformationFile)>("NtQueryInformationFile");
    constexpr auto kNotImplemented = static_cast<NTSTATUS>(0xC0000002);
    return query == nullptr ? kNotImplemented
                            : query(file, &status, information, length, kFileInternalInformation);
}

ULONG DosError(NTSTATUS status)
{
    const auto convert = FromNtdll<decltype(&RtlNtStatusToDosError)>("RtlNtStatusToDosError");
    return convert == nullptr ? ERROR_INVALID_FUNCTION : convert(status);
}
#else
NTSTATUS QueryFile(HANDLE file, IO_STATUS_BLOCK& status, void* information, ULONG length)
{
    return NtQueryInformationFile(file, &status, information, length, kFileInternalInformation);
}

ULONG DosError(NTSTATUS status) { return RtlNtStatusToDosError(status); }
#endif

// The index of the open `file`; false, with the thread's last error set, when
// the system would not tell it.
bool IndexOf(HANDLE file, std::uint64_t& index)
{
    IO_STATUS_BLOCK status{};
    FileIndex found{};
    const NTSTATUS result = QueryFile(file, status, &found, sizeof(found));
    if (result < 0) {
        SetLastError(DosError(result));
        return false;
    }
    index = static_cast<std::uint64_t>(found.number.QuadPart);
    return true;
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

namespace {

// StateOf for the path in the system's own characters.
FileState StateOfWide(const std::wstring& wide)
{
    FileState state;
    // Asks for the attributes alone: sharing rules cover only reading,
    // writing and deleting, so this handle neither waits for a program that
    // holds the file open, whatever it shares, nor stops one from opening it.
    // Folders open too.
    const OpenFile file(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file.handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
            state.kind = FileState::Kind::Unknown;
            state.error = {static_cast<int>(code), std::system_category()};
        }
        return state;
    }
    // A pipe or a device (which Wine shows for a Unix FIFO or device) tells
    // nothing more about itself, and is no written file.
    if (GetFileType(file.handle) != FILE_TYPE_DISK) {
        state.kind = FileState::Kind::Other;
        return state;
    }
    // Each of these is answered from the open handle alone. The volume's
    // serial number is not asked for: both looks at the GLB are at the same
    // path within one export, so a file from another volume would have to
    // bear the same index, size and last-write time (to 100 ns) to pass for
    // the earlier one; and asking for it costs a round trip to another
    // process under Wine (its mount manager), several times the rest.
    FILE_BASIC_INFO basic{};
    LARGE_INTEGER size{};
    if (GetFileInformationByHandleEx(file.handle, FileBasicInfo, &basic, sizeof(basic)) == FALSE ||
        GetFileSizeEx(file.handle, &size) == FALSE || !IndexOf(file.handle, state.file)) {
        state.kind = FileState::Kind::Unknown;
        state.error = LastError();
        return state;
    }
    state.kind = (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? FileState::Kind::Regular
                                                                        : FileState::Kind::Other;
    state.size = static_cast<std::uint64_t>(size.QuadPart);
    state.lastWrite = basic.LastWriteTime.QuadPart;
    return state;
}

// The state of a path that cannot be put in the system's characters.
FileState Unconvertible(const std::error_code& error)
{
    FileState state;
    state.kind = FileState::Kind::Unknown;
    state.error = error;
    return state;
}

} // namespace

FileState StateOf(const std::string& path)
{
    std::wstring wide;
    const std::error_code error = WidePath(path, wide);
    return error ? Unconvertible(error) : StateOfWide(wide);
}

FileState StateOf(const std::string& path, const FileState& before)
{
    std::wstring wide;
    const std::error_code error = WidePath(path, wide);
    if (error) {
        return Unconvertible(error);
    }
    WIN32_FILE_ATTRIBUTE_DATA record{};
    // A link or another reparse point is described by itself, not by the file
    // it leads to; and what is no plain file of the disk (under Wine a FIFO or
    // a device, which this call refuses) is left to StateOf too.
    constexpr DWORD kNoPlainFile =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if (GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &record) != FALSE &&
        (record.dwFileAttributes & kNoPlainFile) == 0) {
        FileState state;
        state.kind = FileState::Kind::Regular;
        state.size =
            (static_cast<std::uint64_t>(record.nFileSizeHigh) << 32U) | record.nFileSizeLow;
        state.lastWrite = Ticks(record.ftLastWriteTime);
        // Taken as written only where no cache could explain the difference:
        // nothing was there before, or its time has moved on (the export waits
        // for the file clock to pass the earlier time). A drive of another
        // computer may answer a look by path from an older record than a look
        // through a handle; an older time or a changed size alone is left to
        // the handle.
        const bool noFileBefore =
            before.kind == FileState::Kind::Missing || before.kind == FileState::Kind::Other;
        if (noFileBefore || state.lastWrite > before.lastWrite) {
            return state;
        }
    }
    return StateOfWide(wide);
}

FileReader::FileReader(const std::string& path) : handle_(INVALID_HANDLE_VALUE)
{
    std::wstring wide;
    error_ = WidePath(path, wide);
    if (error_) {
        return;
    }
    handle_ = CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        error_ = LastError();
        return;
    }
    if (GetFileType(handle_) != FILE_TYPE_DISK) {
        return;
    }
    LARGE_INTEGER size{};
    if (GetFileSizeEx(handle_, &size) == FALSE) {
        error_ = LastError();
        return;
    }
    regular_ = true;
    size_ = static_cast<std::uint64_t>(size.QuadPart);
}

FileReader::~FileReader()
{
    if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);
    }
}

std::size_t FileReader::ReadAt(std::uint64_t offset, char* buffer, std::size_t count)
{
    std::size_t length = 0;
    while (!error_ && regular_ && length < count) {
        // Placed by the handle's own file pointer, not by an OVERLAPPED
        // offset: Wine makes each read given an OVERLAPPED a round trip to its
        // server, to queue a completion that no one waits for.
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(offset + length);
        DWORD got = 0;
        if (SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN) == FALSE ||
            ReadFile(handle_, buffer + length, static_cast<DWORD>(count - length), &got, nullptr) ==
                FALSE) {
            error_ = LastError();
            return 0;
        }
        if (got == 0) {
            break;
        }
        length += got;
    }
    return length;
}

} // namespace orvel::platform
