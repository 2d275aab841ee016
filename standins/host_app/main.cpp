// Stand-in for the host application: loads the plug-in module by file name,
// places its action, sends the after-load notification and prints every
// message the plug-in shows.
#include <cstring>
#include <iostream>
#include <string>

#include "CLOAPIInterface.h"
#include "console_services.h"
#include "plugin_module.h"

namespace {

#if defined(_WIN32)
constexpr char kDefaultModule[] = "ORVELPlugin.dll";
#else
constexpr char kDefaultModule[] = "./ORVELPlugin.so";
#endif

void PrintUsage()
{
    std::cout
        << "usage: orvel_host [--plugin FILE] [--file-type TEXT] [--no-utility-service]\n"
           "  --plugin FILE        plug-in module to load (default "
        << kDefaultModule
        << ")\n"
           "  --file-type TEXT     file type sent with the after-load notification (default ZPRJ)\n"
           "  --no-utility-service offer no message service to the plug-in\n";
}

} // namespace

int main(int argc, char** argv)
{
    std::string module = kDefaultModule;
    std::string fileType = "ZPRJ";
    bool utilityService = true;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--plugin" && i + 1 < argc) {
            module = argv[++i];
        } else if (option == "--file-type" && i + 1 < argc) {
            fileType = argv[++i];
        } else if (option == "--no-utility-service") {
            utilityService = false;
        } else {
            PrintUsage();
            return option == "--help" ? 0 : 2;
        }
    }

    standin::ConsoleUtility utility;
    CLOAPI::APICommand& command = CLOAPI::APICommand::getInstance();
    command.SetUtilityAPI(utilityService ? &utility : nullptr);

    standin::PluginModule plugin(module);
    if (!plugin.ok()) {
        std::cerr << "[host] " << plugin.error() << std::endl;
        return 1;
    }
    std::cout << "[host] loaded " << module << std::endl;
    std::cout << "[host] action \"" << plugin.GetActionName() << "\" at position "
              << plugin.GetPositionIndexToAddAction() << std::endl;

    std::cout << "[host] after-load notification, file type \"" << fileType << "\"" << std::endl;
    plugin.DoFunctionAfterLoadingCLOFile(fileType.c_str());

    command.SetUtilityAPI(nullptr);
    return 0;
}
