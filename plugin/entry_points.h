// The functions the host looks up in the plug-in module by their plain names.
#pragma once

#include <cstdint>

// On Windows the module-definition file names the exports; elsewhere the
// entry points are the only symbols given default visibility.
#if defined(_WIN32)
#define ORVEL_ENTRY_POINT
#else
#define ORVEL_ENTRY_POINT __attribute__((visibility("default")))
#endif

extern "C" {

// Text of the plug-in's menu action; lives as long as the module is loaded.
ORVEL_ENTRY_POINT const char* GetActionName();

// Position at which the host places the action.
ORVEL_ENTRY_POINT std::int32_t GetPositionIndexToAddAction();

// Notification after the host has loaded a file of type `fileType` (may be null).
ORVEL_ENTRY_POINT void DoFunctionAfterLoadingCLOFile(const char* fileType);

// Runs the export action.
ORVEL_ENTRY_POINT void DoFunction();
}
