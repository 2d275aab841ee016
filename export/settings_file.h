// The settings file through which the viewer learns which model to import.
#pragma once

#include <string>

namespace orvel {

// Settings handed to the viewer for one export run. Destroying the record
// writes "Destroying OrvelImportInterface" and a line end to standard output.
struct OrvelImportInterface {
    explicit OrvelImportInterface(std::string modelFile);
    OrvelImportInterface(const OrvelImportInterface&) = delete;
    OrvelImportInterface& operator=(const OrvelImportInterface&) = delete;
    ~OrvelImportInterface();

    // Writes the settings as a JSON document {"modelFile": <path>} at `path`,
    // indented by 4 spaces, in text mode, without a line end after the closing
    // brace. The document is formed before the file is opened, so a model path
    // that is not valid UTF-8 throws nlohmann::json::type_error and leaves any
    // existing file as it was. A file that cannot be opened or written is
    // silently skipped.
    void WriteSettingsFile(std::string path) const;

    // Path of the exported GLB file; may be empty.
    std::string modelFilePath;
};

} // namespace orvel
