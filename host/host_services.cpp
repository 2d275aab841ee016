#include "host_services.h"

namespace orvel::host {

CLOAPI::UtilityAPIInterface* UtilityService()
{
    return CLOAPI::APICommand::getInstance().GetUtilityAPI();
}

CLOAPI::ExportAPIInterface* ExportService()
{
    return CLOAPI::APICommand::getInstance().GetExportAPI();
}

void ShowMessage(const std::string& message) noexcept
{
    try {
        if (CLOAPI::UtilityAPIInterface* utility = UtilityService()) {
            utility->ShowMessage(message);
        }
    } catch (...) {
        // The host could not show the message; there is no other channel to
        // the user, and the plug-in must not let the error reach the host.
    }
}

} // namespace orvel::host
