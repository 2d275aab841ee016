#include "console_services.h"

#include <iostream>
#include <utility>

namespace standin {

void ConsoleUtility::ShowMessage(std::string message)
{
    std::cout << "[host] message " << messages_.size() + 1 << ": \"" << message << "\""
              << std::endl;
    messages_.push_back(std::move(message));
}

} // namespace standin
