// Host services for tests: they record what the plug-in asks of them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "CLOAPIInterface.h"

namespace testing_host {

class RecordingUtility : public CLOAPI::UtilityAPIInterface {
public:
    // Also echoes each message to standard output, so tests can see its order
    // against the plug-in's console line.
    void ShowMessage(std::string message) override;

    std::vector<std::string> messages;
    bool throws = false;
    bool echo = true; // echo each message to standard output
    // Called with each message as it arrives, before it is recorded: lets a
    // test look at the disk at that very moment.
    std::function<void(const std::string&)> onMessage;
};

class RecordingExporter : public CLOAPI::ExportAPIInterface {
public:
    struct Call {
        std::string path;
        std::vector<unsigned char> option; // the record's bytes as received
        std::string optionText;            // its text field
    };

    std::vector<std::string> ExportProjectAsGlb(const std::string& path,
                                                Marvelous::ImportExportOption& option) override;

    std::vector<Call> calls;
    // Writes the "project" at the requested path; by default nothing is written.
    std::function<void(const std::string&)> write;
    bool throws = false;
    bool throwsFilesystemError = false; // as a host whose disk is full might
};

// Installs the given services (null for none) for the lifetime of the object
// and starts the SDK's call record afresh.
class InstalledServices {
public:
    InstalledServices(CLOAPI::UtilityAPIInterface* utility, CLOAPI::ExportAPIInterface* exporter);
    InstalledServices(const InstalledServices&) = delete;
    InstalledServices& operator=(const InstalledServices&) = delete;
    ~InstalledServices();
};

// The SDK's record of service look-ups so far.
std::vector<std::string> CallRecord();

} // namespace testing_host
