#include "CLOAPIInterface.h"

namespace CLOAPI {

APICommand& APICommand::getInstance()
{
    static APICommand instance;
    instance.calls_.emplace_back("getInstance");
    return instance;
}

UtilityAPIInterface* APICommand::GetUtilityAPI()
{
    calls_.emplace_back("GetUtilityAPI");
    return utility_;
}

ExportAPIInterface* APICommand::GetExportAPI()
{
    calls_.emplace_back("GetExportAPI");
    return export_;
}

void APICommand::SetUtilityAPI(UtilityAPIInterface* service) { utility_ = service; }

void APICommand::SetExportAPI(ExportAPIInterface* service) { export_ = service; }

std::vector<std::string> APICommand::CallRecord() const { return calls_; }

void APICommand::ClearCallRecord() { calls_.clear(); }

} // namespace CLOAPI
