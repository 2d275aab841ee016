// The stand-in host's export service: writes the open project as a GLB file.
#pragma once

#include <string>
#include <vector>

#include <tiny_gltf.h>

#include "CLOAPIInterface.h"

namespace standin {

// Writes `project` as a binary glTF file, every buffer embedded, wherever the
// plug-in asks, and says on standard output what it was asked and what it
// wrote. The export options are the host's business; they do not change what
// the stand-in writes.
class GlbExportService : public CLOAPI::ExportAPIInterface {
public:
    // What the service does when asked, apart from writing the project.
    enum class Fault {
        None,
        WritesNothing, // a host whose export fails inside: no file, an empty list
        EndsHost,      // a host that dies inside the export: the process ends
    };

    // Exit code of the process when the service ends it (Fault::EndsHost).
    static constexpr int kEndedExitCode = 3;

    explicit GlbExportService(tinygltf::Model project, Fault fault = Fault::None);

    // Returns the path written, or nothing when the file could not be written.
    std::vector<std::string> ExportProjectAsGlb(const std::string& path,
                                                Marvelous::ImportExportOption& option) override;

    int calls() const { return calls_; }

private:
    tinygltf::Model project_;
    Fault fault_;
    int calls_ = 0;
};

} // namespace standin
