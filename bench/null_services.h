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
// chunk, 48 bytes) over the start of the file at the path. Between exports
// the benchmark waits, untimed, until the clock that stamps file writes has
// moved past the file's time, so each rewrite leaves a new time: every export
// is a changed file for the GLB check and takes its read of the header.
class GlbWriter : public CLOAPI::ExportAPIInterface {
public:
    std::vector<std::string> ExportProjectAsGlb(const std::string& path,
                                                Marvelous::ImportExportOption& /*option*/) override
    {
        if (!RewriteInPlace(path)) {
            failures += 1;
        }
        return {};
    }
    std::size_t failures = 0;

private:
    // The same bytes over the file's start, without truncating it: a file
    // truncated and rewritten, or renamed over another, is flushed to the
    // disk by ext4 at once, which would swamp both arms with the host's I/O.
    bool RewriteInPlace(const std::string& path) const
    {
#if defined(_WIN32)
        const std::wstring widePath(path.begin(), path.end());
        const HANDLE file = CreateFileW(widePath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        DWORD written = 0;
        const bool wrote = WriteFile(file, bytes_.data(), static_cast<DWORD>(bytes_.size()),
                                     &written, nullptr) != FALSE &&
                           written == bytes_.size();
        return (CloseHandle(file) != FALSE) && wrote;
#else
        const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (file < 0) {
            return false;
        }
        const bool wrote =
            pwrite(file, bytes_.data(), bytes_.size(), 0) == static_cast<ssize_t>(bytes_.size());
        return close(file) == 0 && wrote;
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
