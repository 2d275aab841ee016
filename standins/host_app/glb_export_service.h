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
    // `writesNothing` makes it a host whose export fails inside: asked, it
    // writes no file at all and returns an empty list.
    explicit GlbExportService(tinygltf::Model project, bool writesNothing = false);

    // Returns the path written, or nothing when the file could not be written.
    std::vector<std::string> ExportProjectAsGlb(const std::string& path,
                                                Marvelous::ImportExportOption& option) override;

    int calls() const { return calls_; }

private:
    tinygltf::Model project_;
    bool writesNothing_;
    int calls_ = 0;
};

} // namespace standin
