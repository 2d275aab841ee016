// The plug-in's fixed paths and texts, as the user and the viewer see them,
// written out once for all tests.
#pragma once

#include <string>

namespace testing_host::texts {

inline const std::string kAfterLoadPrefix =
    "DoFunctionAferLoadingProject starts... for file type -  ";
inline const std::string kGlb = "C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb";
inline const std::string kSettings = "C:/ORVEL/CLO3D_Plugin/API.json";
inline const std::string kExported = "Exported project to ";
inline const std::string kOpening = "Attempting to open ORVEL.";
inline const std::string kFailedPrefix =
    "Failed to open ORVEL.  You can access your imported files at ";
inline const std::string kFailed = kFailedPrefix + "C:/ORVEL/CLO3D_Plugin/";
inline const std::string kNoExportService =
    "EXPORT_API seems to not be defined. Something is wrong ";
inline const std::string kConsoleLine = "Destroying OrvelImportInterface\n";
inline const std::string kMayShowEarlier = ". ORVEL may show an earlier export.";
inline const std::string kMayNotOpen = ". ORVEL may not be able to open it.";
inline const std::string kClo3dWroteNothing = "CLO 3D did not write " + kGlb + kMayShowEarlier;
inline const std::string kClo3dWroteIncomplete = "CLO 3D wrote an incomplete " + kGlb + kMayNotOpen;
// Followed by the system's reason, ")" and kMayNotOpen.
inline const std::string kCouldNotCheckGlb = "Could not check " + kGlb + " (";
// Followed by the system's reason, ")" and kMayShowEarlier.
inline const std::string kCouldNotWriteSettings = "Could not write " + kSettings + " (";

// Text-mode line end of the platform the settings file is written on.
#if defined(_WIN32)
inline const std::string kEol = "\r\n";
#else
inline const std::string kEol = "\n";
#endif

// The settings file's bytes for a model path given as a JSON string literal.
inline std::string SettingsWithJsonValue(const std::string& jsonValue)
{
    return "{" + kEol + "    \"modelFile\": " + jsonValue + kEol + "}";
}

// The settings file's bytes for a model path that needs no escaping.
inline std::string SettingsNaming(const std::string& model)
{
    return SettingsWithJsonValue("\"" + model + "\"");
}

} // namespace testing_host::texts
