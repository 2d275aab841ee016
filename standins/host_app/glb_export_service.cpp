#include "glb_export_service.h"

#include <cstdlib>
#include <iostream>
#include <system_error>
#include <utility>

#include "gltf_support.h"

namespace standin {

GlbExportService::GlbExportService(tinygltf::Model project, Fault fault)
    : project_(std::move(project)), fault_(fault)
{
}

std::vector<std::string>
GlbExportService::ExportProjectAsGlb(const std::string& path,
                                     Marvelous::ImportExportOption& /*option*/)
{
    ++calls_;
    std::cout << "[host] export service: asked to write the project as GLB to \"" << path << "\""
              << std::endl;
    if (fault_ == Fault::EndsHost) {
        std::cout << "[host] export service: ends the host process (--export-ends-host)"
                  << std::endl;
        std::_Exit(kEndedExitCode);
    }
    if (fault_ == Fault::WritesNothing) {
        std::cout << "[host] export service: writes nothing (--export-writes-nothing)" << std::endl;
        return {};
    }
    std::string error;
    if (!WriteGlbFile(project_, path, error)) {
        std::cout << "[host] export service: could not write " << path << ": " << error
                  << std::endl;
        return {};
    }
    std::error_code sizeError;
    const std::uintmax_t bytes = std::filesystem::file_size(PathFromUtf8(path), sizeError);
    std::cout << "[host] export service: wrote " << path << " ("
              << DescribeModel(Summarize(project_), sizeError ? 0 : bytes) << ")" << std::endl;
    return {path};
}

} // namespace standin
