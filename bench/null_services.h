// The host services both export benchmarks install: they cost next to nothing,
// so that what is timed is the plug-in's own work. The export service writes
// the smallest valid GLB; both arms of a pair call it the same way, so the
// host's own write weighs the same on both sides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#endif

#include "CLOAPIInterface.h"
#include "support/test_drive.h"

namespace orvel_bench {

// Message service that keeps nothing but whether the viewer failed to start
// and whether the GLB was taken for anything but a complete new one.
class SilentUtility : public CLOAPI::UtilityAPIInterface {
public:
    void ShowMessage(std::string message) override
    {
        if (message.rfind("Failed to open ORVEL.", 0) == 0) {
            viewerFailed = true;
        } else if (message.rfind("The host ", 0) == 0) {
            glbNotTakenAsWritten = true;
        }
    }
    bool viewerFailed = false;
    bool glbNotTakenAsWritten = false;
};

// Export service that writes the smallest valid GLB (a header and a JSON
// chunk, 48 bytes) to a new file beside the path and renames it over the
// path. A new file each time is a changed file for the GLB check however
// coarse the file system's clock is, so every export takes the check's read
// of the header; rewriting the same bytes in place could leave the same size
// and time, and the plug-in would then (rightly) say the host wrote nothing.
class GlbWriter : public CLOAPI::ExportAPIInterface {
public:
    std::vector<std::string> ExportProjectAsGlb(const std::string& path,
                                                Marvelous::ImportExportOption& /*option*/) override
    {
        if (!WriteByRename(path)) {
            failures += 1;
        }
        return {};
    }
    std::size_t failures = 0;

private:
    bool WriteByRename(const std::string& path) const
    {
        const std::string temporary = path + ".writing";
#if defined(_WIN32)
        const std::wstring wideTemporary(temporary.begin(), temporary.end());
        const std::wstring widePath(path.begin(), path.end());
        const HANDLE file = CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        DWORD written = 0;
        const bool wrote = WriteFile(file, bytes_.data(), static_cast<DWORD>(bytes_.size()),
                                     &written, nullptr) != FALSE &&
                           written == bytes_.size();
        return (CloseHandle(file) != FALSE) && wrote &&
               MoveFileExW(wideTemporary.c_str(), widePath.c_str(), MOVEFILE_REPLACE_EXISTING) !=
                   FALSE;
#else
        const int file = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (file < 0) {
            return false;
        }
        const bool wrote =
            write(file, bytes_.data(), bytes_.size()) == static_cast<ssize_t>(bytes_.size());
        return close(file) == 0 && wrote && std::rename(temporary.c_str(), path.c_str()) == 0;
#endif
    }

    const std::string bytes_ = testing_host::MinimalGlb();
};

// The size of a binary glTF's header and its first chunk's header.
constexpr std::size_t kGlbHeadSize = 20;

// The plug-in's check of a GLB's first 20 bytes against the file's size:
// magic "glTF", version 2, the total length equal to the size, and a first
// chunk of type JSON that fits inside it (little-endian 32-bit numbers).
inline bool IsWholeGlb(const char* head, std::uint64_t size)
{
    const auto word = [head](std::size_t offset) {
        std::uint32_t value = 0;
        for (std::size_t i = 4; i > 0; --i) {
            value = (value << 8U) | static_cast<unsigned char>(head[offset + i - 1]);
        }
        return value;
    };
    return std::memcmp(head, "glTF", 4) == 0 && word(4) == 2 && word(8) == size &&
           word(16) == 0x4E4F534A && kGlbHeadSize + std::uint64_t{word(12)} <= size;
}

} // namespace orvel_bench
