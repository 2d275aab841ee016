#include "settings_file.h"

#include <iostream>
#include <utility>

#include <nlohmann/json.hpp>

#include "platform/file_replace.h"
#include "platform/pipe_signal.h"

namespace orvel {
namespace {

constexpr char kConsoleLine[] = "Destroying OrvelImportInterface\n";

// std::cout belongs to the host as much as to the plug-in. The line goes out
// in one write and is flushed; a failure is dropped and the host finds the
// stream's state and exception mask as they were, and no SIGPIPE.
void WriteConsoleLine() noexcept
{
    std::ostream& out = std::cout;
    const std::ios_base::iostate exceptions = out.exceptions();
    const std::ios_base::iostate state = out.rdstate();
    platform::PipeSignalGuard pipeSignal;
    try {
        out.exceptions(std::ios_base::goodbit);
        out.write(kConsoleLine, sizeof(kConsoleLine) - 1);
        out.flush();
        if (state == std::ios_base::goodbit && out.bad()) {
            pipeSignal.WriteFailed();
        }
    } catch (...) {
        pipeSignal.WriteFailed();
    }
    try {
        out.clear(state);
        out.exceptions(exceptions);
    } catch (...) {
        // The host's mask covers a state the stream already had: the stream
        // has both again, as the host left them.
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
    return platform::ReplaceWholeFile(path, text);
}

} // namespace orvel
