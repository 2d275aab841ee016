#include "settings_file.h"

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <iostream>
#include <streambuf>
#include <utility>

#include <nlohmann/json.hpp>

#include "platform/file_replace.h"
#include "platform/pipe_signal.h"
#include "platform/stream_lock.h"

namespace orvel {
namespace {

constexpr char kConsoleLine[] = "Destroying OrvelImportInterface\n";

// std::cout belongs to the host as much as to the plug-in, and another thread
// of the host may be writing to it: the line goes straight to its stream
// buffer in one write and is synced, so the stream's state flags and
// exception mask are never touched. A failure is dropped; the host finds no
// error flag on the C stream that the line set, and no SIGPIPE.
void WriteConsoleLine() noexcept
{
    // A stream the host has already failed is not written past its failure.
    std::streambuf* const buffer = std::cout.good() ? std::cout.rdbuf() : nullptr;
    if (buffer == nullptr) {
        return;
    }
    // With std::cout synchronised with stdio (the default) the line goes
    // through the C stream stdout. Held across the look at its error flag,
    // the write and the clear, stdout's own lock keeps the host's threads out,
    // and what they left in its buffer goes out first: a failure of their
    // bytes sets the flag before the look, and is left for them to find.
    const platform::StreamLock lock(stdout);
    platform::PipeSignalGuard pipeSignal;
    if (std::fflush(stdout) != 0) {
        pipeSignal.WriteFailed();
    }
    const bool streamErrorBefore = std::ferror(stdout) != 0;
    try {
        constexpr std::streamsize kLength = sizeof(kConsoleLine) - 1;
        if (buffer->sputn(kConsoleLine, kLength) != kLength || buffer->pubsync() != 0) {
            pipeSignal.WriteFailed();
        }
    } catch (...) {
        pipeSignal.WriteFailed();
    }
    if (!streamErrorBefore && std::ferror(stdout) != 0) {
        std::clearerr(stdout);
    }
}

// Temporaries are left behind only by a host that ended between creating one
// and the rename, which ends its session too: what earlier sessions left is
// all there at this session's first write. The folder is looked through then,
// and again at each write until no temporary was left in it (one too young to
// tell from another export's), not at every export, since listing the folder
// costs more than the write itself on some systems. One that another instance
// of the host leaves while this one runs waits for the next session. The path
// whose folder was last found clean is remembered by its hash (never 0):
// another path gets a look of its own.
std::atomic<std::size_t> gFolderFoundClean{0};

// The settings document, safe when memory runs out. It is an object from the
// start: a null value turned into an object by assigning a member is left
// half made, and crashes when destroyed, if that allocation fails. And its
// members are taken apart before it goes, since destroying an object that
// still has members allocates memory, which must not fail in a destructor.
struct Document {
    Document() = default;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;
    ~Document() { json.get_ptr<nlohmann::json::object_t*>()->clear(); }

    nlohmann::json json = nlohmann::json::object();
};

} // namespace

OrvelImportInterface::OrvelImportInterface(std::string modelFile)
    : modelFilePath(std::move(modelFile))
{
}

OrvelImportInterface::~OrvelImportInterface() { WriteConsoleLine(); }

// The path is taken by value, as a copy, by contract with the export action.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
std::error_code OrvelImportInterface::WriteSettingsFile(std::string path) const
{
    Document settings;
    settings.json["modelFile"] = modelFilePath;
    // Serialise first: a rejected path must not cost the user the previous file.
    const std::string text = settings.json.dump(4);
    const std::size_t key = std::hash<std::string>{}(path) | 1U;
    if (gFolderFoundClean.load() != key && !platform::RemoveStaleTemporaries(path)) {
        gFolderFoundClean.store(key);
    }
    return platform::ReplaceWholeFile(path, text);
}

} // namespace orvel
