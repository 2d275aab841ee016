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
    nlohmann::json settings;
    settings["modelFile"] = modelFilePath;
    // Serialise first: a rejected path must not cost the user the previous file.
    const std::string text = settings.dump(4);
    return platform::ReplaceWholeFile(path, text);
}

} // namespace orvel
