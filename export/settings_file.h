// The settings file through which the viewer learns which model to import.
#pragma once

#include <string>
#include <system_error>

namespace orvel {

// Settings handed to the viewer for one export run. Destroying the record
// writes "Destroying OrvelImportInterface" and a line end to standard output
// and flushes it; that write never harms the host (see the destructor).
struct OrvelImportInterface {
    explicit OrvelImportInterface(std::string modelFile);
    OrvelImportInterface(const OrvelImportInterface&) = delete;
    OrvelImportInterface& operator=(const OrvelImportInterface&) = delete;
    // Writes the console line to the stream buffer behind the host's
    // std::cout, never touching the stream's state or exception mask, and
    // raising no signal; a line that cannot be written is dropped.
    ~OrvelImportInterface();

    // Writes the settings as a JSON document {"modelFile": <path>} at `path`,
    // indented by 4 spaces, in text mode, without a line end after the closing
    // brace. The file is replaced as a whole (a reader never sees part of it),
    // and only once the document is complete: a model path that is not valid
    // UTF-8 throws nlohmann::json::type_error, and a file that cannot be
    // written returns the system's error; either way an existing file is left
    // byte for byte as it was.
    [[nodiscard]] std::error_code WriteSettingsFile(std::string path) const;

    // Path of the exported GLB file; may be empty.
    std::string modelFilePath;
};

} // namespace orvel
