#include "viewer.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include <nlohmann/json.hpp>

#include "gltf_support.h"

namespace standin::viewer {
namespace {

constexpr char kSettingsPrefix[] = "-Settings=";

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Says what is wrong with a file that should be there, or nothing.
std::string MissingFile(const std::string& what, const std::string& path)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(PathFromUtf8(path), error);
    if (!std::filesystem::exists(status)) {
        return what + " " + path + " not found";
    }
    if (!std::filesystem::is_regular_file(status)) {
        return what + " " + path + " is not a file";
    }
    return {};
}

// The "modelFile" string of the settings document, or an error.
bool ReadModelPath(const std::string& settingsPath, std::string& modelPath, std::string& error)
{
    std::ifstream file(PathFromUtf8(settingsPath), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    if (!file) {
        error = "settings file " + settingsPath + " cannot be read";
        return false;
    }
    nlohmann::json settings;
    try {
        settings = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& parseError) {
        error = "settings file " + settingsPath + " is not valid JSON: " + parseError.what();
        return false;
    }
    const std::string noModelFile =
        "settings file " + settingsPath + " has no \"modelFile\" string";
    if (!settings.is_object()) {
        error = noModelFile + " (it holds a JSON " + settings.type_name() + ", not an object)";
        return false;
    }
    const auto member = settings.find("modelFile");
    if (member == settings.end()) {
        error = noModelFile + " (no such member)";
        return false;
    }
    if (!member->is_string()) {
        error = noModelFile + " (\"modelFile\" is a " + member->type_name() + ")";
        return false;
    }
    modelPath = member->get<std::string>();
    if (modelPath.empty()) {
        error = "settings file " + settingsPath + " names no model (\"modelFile\" is empty)";
        return false;
    }
    return true;
}

} // namespace

std::string Report::Text() const
{
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    if (!ok()) {
        text += "error: " + error + "\n";
    }
    return text;
}

Report ReceiveHandoff(const std::string& commandLine, const std::vector<std::string>& arguments)
{
    Report report;
    report.lines.push_back("command line: " + commandLine);

    // The viewer's own path may hold spaces and arrive in pieces, so the
    // argument is looked for, never counted.
    const std::string* settingsArgument = nullptr;
    for (const std::string& argument : arguments) {
        if (StartsWith(argument, kSettingsPrefix)) {
            settingsArgument = &argument;
            break;
        }
    }
    if (settingsArgument == nullptr) {
        report.error = std::string("no ") + kSettingsPrefix + " argument on the command line";
        return report;
    }
    const std::string settingsPath = settingsArgument->substr(sizeof(kSettingsPrefix) - 1);
    report.lines.push_back("settings: " + settingsPath);
    if (settingsPath.empty()) {
        report.error = std::string("the ") + kSettingsPrefix + " argument names no file";
        return report;
    }
    report.error = MissingFile("settings file", settingsPath);
    if (!report.ok()) {
        return report;
    }

    std::string modelPath;
    if (!ReadModelPath(settingsPath, modelPath, report.error)) {
        return report;
    }
    report.lines.push_back("model: " + modelPath);
    report.error = MissingFile("model file", modelPath);
    if (!report.ok()) {
        return report;
    }

    tinygltf::Model model;
    std::string why;
    if (!LoadGlbFile(modelPath, model, why)) {
        report.error = "model file " + modelPath + " is not a valid glTF 2.0 binary: " + why;
        return report;
    }
    std::error_code sizeError;
    const std::uintmax_t bytes = std::filesystem::file_size(PathFromUtf8(modelPath), sizeError);
    report.lines.push_back("summary: " + DescribeModel(Summarize(model), sizeError ? 0 : bytes));
    return report;
}

} // namespace standin::viewer
