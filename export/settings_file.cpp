#include "settings_file.h"

#include <fstream>
#include <iostream>
#include <utility>

#include <nlohmann/json.hpp>

namespace orvel {

OrvelImportInterface::OrvelImportInterface(std::string modelFile)
    : modelFilePath(std::move(modelFile))
{
}

OrvelImportInterface::~OrvelImportInterface()
{
    std::cout << "Destroying OrvelImportInterface" << std::endl;
}

// The path is taken by value, as a copy, by contract with the export action.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void OrvelImportInterface::WriteSettingsFile(std::string path) const
{
    nlohmann::json settings;
    settings["modelFile"] = modelFilePath;
    // Serialise first: a rejected path must not cost the user the previous file.
    const std::string text = settings.dump(4);
    std::ofstream file(path);
    file << text;
}

} // namespace orvel
