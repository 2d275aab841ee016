// Host services of the stand-in host program: messages go to standard output.
#pragma once

#include <string>
#include <vector>

#include "CLOAPIInterface.h"

namespace standin {

// Prints every message the plug-in shows, numbered, and keeps them.
class ConsoleUtility : public CLOAPI::UtilityAPIInterface {
public:
    void ShowMessage(std::string message) override;
    const std::vector<std::string>& messages() const { return messages_; }

private:
    std::vector<std::string> messages_;
};

} // namespace standin
