#include "entry_points.h"

#include <string>

#include "export/export_action.h"
#include "host/host_services.h"

namespace {

constexpr char kActionName[] = "Export for ORVEL (BETA)";
constexpr std::int32_t kActionPosition = 1;
constexpr char kAfterLoadPrefix[] = "DoFunctionAferLoadingProject starts... for file type -  ";

} // namespace

// None of these may let an exception through: the host calls plain C functions.

extern "C" const char* GetActionName() { return kActionName; }

extern "C" std::int32_t GetPositionIndexToAddAction() { return kActionPosition; }

extern "C" void DoFunctionAfterLoadingCLOFile(const char* fileType)
{
    try {
        if (orvel::host::UtilityService() == nullptr) {
            return;
        }
        std::string message = kAfterLoadPrefix;
        if (fileType != nullptr) {
            message += fileType;
        }
        orvel::host::ShowMessage(message);
    } catch (...) {
        // Out of memory while forming the message: nothing to show.
    }
}

extern "C" void DoFunction() { orvel::ExportAction(); }
