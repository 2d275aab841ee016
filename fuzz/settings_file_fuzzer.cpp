// Fuzzes the settings writer with arbitrary model file paths.
//
// A path that is valid UTF-8 must come back unchanged when the file is read
// and parsed, in the fixed layout. Any other path must be refused with the
// JSON library's type error and leave the previous file byte for byte as it
// was. Validity is judged here independently of the JSON library.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>

#include "export/settings_file.h"
#include "support/test_drive.h"

namespace {

using testing_host::ReadFile;
using testing_host::WriteFile;

// The settings file, in a temporary folder of this run. The working folder
// stays as it is: libFuzzer's corpus and crash paths may be relative to it.
std::filesystem::path gFolder;
std::filesystem::path gSettingsPath;

void RemoveFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(gFolder, ignored);
}

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "settings file fuzzer: %s\n", what);
        std::abort();
    }
}

// Strict UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above
// U+10FFFF, no stray continuation bytes.
bool IsValidUtf8(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto byte = static_cast<unsigned char>(text[i + k]);
            const unsigned char min = k == 1 ? low : 0x80;
            const unsigned char max = k == 1 ? high : 0xBF;
            if (byte < min || byte > max) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    std::string folder = (std::filesystem::temp_directory_path() / "orvel-fuzz-XXXXXX").string();
    Require(mkdtemp(folder.data()) != nullptr, "cannot make a temporary folder");
    gFolder = folder;
    std::atexit(RemoveFolder);
    gSettingsPath = gFolder / "ORVEL" / "CLO3D_Plugin" / "API.json";
    std::filesystem::create_directories(gSettingsPath.parent_path());
    // Each record prints its console line when destroyed; libFuzzer reports
    // on standard error, so standard output can go.
    Require(std::freopen("/dev/null", "w", stdout) != nullptr, "cannot silence standard output");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string modelFile(reinterpret_cast<const char*>(data), size);
    // A previous file that differs from anything the writer could produce.
    const std::string previous = "previous settings, " + std::to_string(size) + " bytes\n";
    WriteFile(gSettingsPath, previous);

    const bool valid = IsValidUtf8(modelFile);
    bool refused = false;
    {
        const orvel::OrvelImportInterface settings(modelFile);
        try {
            Require(!settings.WriteSettingsFile(gSettingsPath.string()),
                    "the settings file could not be written");
        } catch (const nlohmann::json::type_error&) {
            refused = true;
        }
    }
    const std::string written = ReadFile(gSettingsPath);

    if (!valid) {
        Require(refused, "a path that is not UTF-8 was not refused");
        Require(written == previous, "a refused path changed the previous file");
        return 0;
    }
    Require(!refused, "a valid UTF-8 path was refused");
    Require(StartsWith(written, "{\n    \"modelFile\": \"") && EndsWith(written, "\"\n}"),
            "the file is not laid out as one indented member without a final line end");
    const nlohmann::json document = nlohmann::json::parse(written);
    Require(document.is_object() && document.size() == 1, "not an object of one member");
    Require(document.at("modelFile").get<std::string>() == modelFile,
            "the path did not come back unchanged");
    return 0;
}
