// The host services both export benchmarks install: they cost next to nothing,
// so that what is timed is the plug-in's own work.
#pragma once

#include <string>
#include <vector>

#include "CLOAPIInterface.h"

namespace orvel_bench {

// Message service that keeps nothing but whether the viewer failed to start.
class SilentUtility : public CLOAPI::UtilityAPIInterface {
public:
    void ShowMessage(std::string message) override
    {
        if (message.rfind("Failed to open ORVEL.", 0) == 0) {
            viewerFailed = true;
        }
    }
    bool viewerFailed = false;
};

// Export service that writes nothing: the host's own export is not the
// plug-in's cost.
class NullExporter : public CLOAPI::ExportAPIInterface {
public:
    std::vector<std::string> ExportProjectAsGlb(const std::string& /*path*/,
                                                Marvelous::ImportExportOption& /*option*/) override
    {
        return {};
    }
};

} // namespace orvel_bench
