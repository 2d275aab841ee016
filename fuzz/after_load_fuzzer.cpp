// Fuzzes the host's after-load notification with arbitrary file-type bytes.
//
// Whatever the bytes, the plug-in must show exactly one message: the fixed
// prefix followed by the bytes up to the first NUL, looking the message
// service up exactly twice and nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "CLOAPIInterface.h"
#include "plugin/entry_points.h"

namespace {

const std::string kPrefix = "DoFunctionAferLoadingProject starts... for file type -  ";

class RecordingUtility : public CLOAPI::UtilityAPIInterface {
public:
    void ShowMessage(std::string message) override { messages.push_back(std::move(message)); }
    std::vector<std::string> messages;
};

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "after-load fuzzer: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The host hands over a NUL-terminated text; the input may hold NULs of
    // its own, and the plug-in must stop at the first.
    std::vector<char> fileType(data, data + size);
    fileType.push_back('\0');
    const std::string expected = kPrefix + std::string(fileType.data());

    RecordingUtility utility;
    CLOAPI::APICommand& command = CLOAPI::APICommand::getInstance();
    command.SetUtilityAPI(&utility);
    command.SetExportAPI(nullptr);
    command.ClearCallRecord();

    DoFunctionAfterLoadingCLOFile(fileType.data());

    const std::vector<std::string> calls = command.CallRecord();
    command.SetUtilityAPI(nullptr);
    command.ClearCallRecord();

    Require(kPrefix.size() == 56, "the prefix is not 56 characters long");
    Require(utility.messages.size() == 1, "not exactly one message shown");
    Require(utility.messages[0] == expected, "message is not the prefix and the file type");
    const std::vector<std::string> lookups = {"getInstance", "GetUtilityAPI", "getInstance",
                                              "GetUtilityAPI"};
    Require(calls == lookups, "service look-ups other than two of the message service");
    return 0;
}
