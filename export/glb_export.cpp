#include "glb_export.h"

#include "CLOAPIInterface.h"
#include "host/host_services.h"

// The host reads the record by its own layout. A debug build of the Microsoft
// runtime has a larger std::string and cannot match it: build in Release.
static_assert(sizeof(Marvelous::ImportExportOption) == 176,
              "option record does not match the host's 176-byte layout");

namespace orvel {
namespace {

constexpr char kGlbExtension[] = ".glb";
constexpr char kNoExportServiceMessage[] =
    "EXPORT_API seems to not be defined. Something is wrong ";

// The option values the viewer's import expects of a GLB export.
Marvelous::ImportExportOption MakeExportOption()
{
    Marvelous::ImportExportOption option;
    option.flag08 = true;
    option.flag09 = false;
    option.flag10 = true;
    option.value12 = 0;
    option.flag16 = false;
    option.flag17 = false;
    option.flag18 = false;
    option.real20 = 2048.0F;
    option.count24 = 4;
    option.real28 = 1.0F;
    option.real32 = 0.01F;
    option.flag36 = true;
    for (bool& flag : option.flags37) {
        flag = false;
    }
    option.real48 = 0.001F;
    option.value52 = 0;
    option.count56 = 1;
    option.count60 = 2;
    option.value64 = 0;
    option.count68 = 1;
    option.value72 = 0;
    option.flags76[0] = false;
    option.flags76[1] = false;
    option.flag78 = false;
    option.flag80 = false;
    option.values84[0] = 0;
    option.values84[1] = 0;
    option.flag92 = true;
    option.real96 = 1.0F;
    option.count100 = 30;
    option.real104 = 1.0F;
    option.flag108 = false;
    option.values112[0] = 0;
    option.values112[1] = 0;
    option.flags120[0] = false;
    option.flags120[1] = false;
    option.value124 = 0;
    option.flag128 = true;
    option.flag129 = true;
    option.text136.clear();
    option.value168 = 0;
    return option;
}

} // namespace

// The texts are taken by value, as copies, by contract with the export action.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
std::string ExportSceneToGlb(std::string folder, std::string baseName)
{
    if (host::ExportService() == nullptr) {
        host::ShowMessage(kNoExportServiceMessage);
        return {};
    }
    Marvelous::ImportExportOption option = MakeExportOption();
    // Obtained afresh for the call; a host that withdrew the service in the
    // meantime is treated like one that never had it.
    CLOAPI::ExportAPIInterface* exporter = host::ExportService();
    if (exporter == nullptr) {
        host::ShowMessage(kNoExportServiceMessage);
        return {};
    }
    std::string target = folder + baseName + kGlbExtension;
    // The host's list of written files is released unread.
    static_cast<void>(exporter->ExportProjectAsGlb(target, option));
    return target;
}

} // namespace orvel
