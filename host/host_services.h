// The plug-in's side of the host boundary.
//
// Host services are looked up afresh through the host's command singleton for
// every use and never kept: the host may replace or withdraw them at any time.
#pragma once

#include <string>

#include "CLOAPIInterface.h"

namespace orvel::host {

// The host's message service, or null when the host offers none.
CLOAPI::UtilityAPIInterface* UtilityService();

// The host's export service, or null when the host offers none.
CLOAPI::ExportAPIInterface* ExportService();

// Shows `message` through a freshly obtained message service. Does nothing when
// the host has no message service. An exception thrown by the service is
// swallowed: the message is lost, but the caller carries on.
void ShowMessage(const std::string& message) noexcept;

} // namespace orvel::host
