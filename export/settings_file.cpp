#include "settings_file.h"

#include <cstdio>
#include <iostream>
#include <optional>
#include <streambuf>
#include <utility>

#include <nlohmann/json.hpp>

#include "platform/file_replace.h"
#include "platform/pipe_signal.h"
#include "platform/stream_lock.h"

namespace orvel {
namespace {

constexpr char kConsoleLine[] = "Destroying OrvelImportInterface\n";

// Writes the line to `buffer` in one call and syncs it. A failure, thrown or
// returned, is dropped.
void WriteLineTo(std::streambuf& buffer, platform::PipeSignalGuard& pipeSignal) noexcept
{
    try {
        constexpr std::streamsize kLength = sizeof(kConsoleLine) - 1;
        if (buffer.sputn(kConsoleLine, kLength) != kLength || buffer.pubsync() != 0) {
            pipeSignal.WriteFailed();
        }
    } catch (...) {
        pipeSignal.WriteFailed();
    }
}

// std::cout belongs to the host as much as to the plug-in, and another thread
// of the host may be writing to it: the line goes straight to its stream
// buffer, so the stream's state flags and exception mask are never touched,
// and a broken pipe raises no SIGPIPE.
void WriteConsoleLine() noexcept
{
    // A stream the host has already failed is not written past its failure.
    std::streambuf* const buffer = std::cout.good() ? std::cout.rdbuf() : nullptr;
    if (buffer == nullptr) {
        return;
    }
    // A buffer that cannot be told may be the runtime's, which must not be
    // written without its stream's lock, or the host's, which must not be
    // written under it: the line is dropped.
    const std::optional<std::FILE*> runtimeStream = platform::RuntimeBufferStream(*buffer);
    if (!runtimeStream) {
        return;
    }
    // A buffer of the host's own runs the host's code, which may wait for
    // another of its threads: no lock is held around it, and what it does
    // with a C stream is the host's own doing.
    std::FILE* const stream = *runtimeStream;
    if (stream == nullptr) {
        platform::PipeSignalGuard pipeSignal;
        WriteLineTo(*buffer, pipeSignal);
        return;
    }
    // The runtime's own buffer writes through a C stream, stdout unless the
    // host gave std::cout another's buffer (std::cerr's, over stderr), and a
    // failed write sets that stream's error flag, which the host checks. Held
    // across the look at the flag, the write and the clear, the stream's own
    // lock keeps the host's threads out, and what they left in its buffer
    // goes out first: a failure of their bytes sets the flag before the look,
    // and is left for them.
    const platform::StreamLock lock(stream);
    // A stream the host reads as well, and has read to its end, is not
    // written to: a failed line's error flag could not be cleared there, for
    // clearerr clears the end-of-file flag with it, and the C library has no
    // call that clears one alone.
    if (std::feof(stream) != 0) {
        return;
    }
    platform::PipeSignalGuard pipeSignal;
    if (std::fflush(stream) != 0) {
        pipeSignal.WriteFailed();
    }
    const bool streamErrorBefore = std::ferror(stream) != 0;
    WriteLineTo(*buffer, pipeSignal);
    if (!streamErrorBefore && std::ferror(stream) != 0) {
        std::clearerr(stream);
    }
}

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
    // Temporaries are left behind only by a host that ended between creating
    // one and the rename; each write looks for old ones to remove.
    platform::RemoveStaleTemporaries(path);
    return platform::ReplaceWholeFile(path, text);
}

} // namespace orvel
