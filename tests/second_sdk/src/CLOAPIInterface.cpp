#include "CLOAPIInterface.h"

#include <cstring>

namespace Marvelous {

ImportExportOption::ImportExportOption()
    : exportLabel("a default label longer than any short-string buffer holds")
{
    std::memset(settingsBlock, kFill, sizeof settingsBlock);
    std::memset(tailBlock, kFill, sizeof tailBlock);
}

ImportExportOption::~ImportExportOption() = default;

} // namespace Marvelous

static_assert(sizeof(Marvelous::ImportExportOption) == 176, "not the host's layout");

namespace CLOAPI {

APICommand& APICommand::getInstance()
{
    static APICommand instance;
    return instance;
}

UtilityAPIInterface* APICommand::GetUtilityAPI() { return utilityService_; }

ExportAPIInterface* APICommand::GetExportAPI() { return exportService_; }

void APICommand::ProvideServices(UtilityAPIInterface* utility, ExportAPIInterface* exporter)
{
    utilityService_ = utility;
    exportService_ = exporter;
}

} // namespace CLOAPI
