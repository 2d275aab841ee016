#include "glb_export.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <system_error>

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

namespace fs = std::filesystem;

// 1 January 2000, 00:00 UTC, as the file system's clock counts: no export
// writes a file with this time. Whole minutes, so every file system can hold
// it exactly (FAT counts in 2-second steps) and it never depends on when the
// conversion ran.
fs::file_time_type MarkTime()
{
    using namespace std::chrono;
    constexpr std::time_t kMark = 946684800;
    const auto sinceMark = system_clock::now() - system_clock::from_time_t(kMark);
    const auto mark = fs::file_time_type::clock::now().time_since_epoch() -
                      duration_cast<fs::file_time_type::duration>(sinceMark);
    return fs::file_time_type(duration_cast<fs::file_time_type::duration>(round<minutes>(mark)));
}

// Tells whether the host wrote the file at a path, by its last-write time and
// without reading it: a file already there is marked with a time long past
// before the export; afterwards the host wrote it if a file is there and no
// longer has that time. Clocks too coarse to tell two quick exports apart do
// not matter, since every export starts from the mark. A file the host left
// alone gets its own time back.
class WriteCheck {
public:
    explicit WriteCheck(const std::string& path) : path_(path)
    {
        std::error_code error;
        const fs::file_status status = fs::status(path_, error);
        if (status.type() == fs::file_type::not_found) {
            checkable_ = true;
            return;
        }
        if (error || status.type() != fs::file_type::regular) {
            // A folder in the way is no export the host could have written;
            // anything unreadable cannot be judged.
            checkable_ = !error;
            return;
        }
        const fs::file_time_type previous = fs::last_write_time(path_, error);
        if (error) {
            return;
        }
        fs::last_write_time(path_, MarkTime(), error);
        if (error) {
            return;
        }
        // As the file system stored it, which may round the time given.
        const fs::file_time_type marked = fs::last_write_time(path_, error);
        if (error) {
            Restore(previous);
            return;
        }
        previous_ = previous;
        marked_ = marked;
        watching_ = true;
        checkable_ = true;
    }
    WriteCheck(const WriteCheck&) = delete;
    WriteCheck& operator=(const WriteCheck&) = delete;

    // An export that ended by an error leaves the file's time as it found it.
    ~WriteCheck()
    {
        if (watching_ && StillMarked()) {
            Restore(previous_);
        }
    }

    // True only when the host certainly wrote nothing at the path.
    bool NothingWritten()
    {
        if (!checkable_) {
            return false;
        }
        std::error_code error;
        const fs::file_status status = fs::status(path_, error);
        if (status.type() == fs::file_type::not_found) {
            return true;
        }
        if (error) {
            return false;
        }
        if (status.type() != fs::file_type::regular) {
            return true; // still the folder (or other non-file) that was in the way
        }
        if (!watching_) {
            return false; // a file where there was none
        }
        watching_ = false;
        if (!StillMarked()) {
            return false;
        }
        Restore(previous_);
        return true;
    }

private:
    bool StillMarked() const
    {
        std::error_code error;
        const fs::file_time_type now = fs::last_write_time(path_, error);
        return !error && now == marked_;
    }

    void Restore(fs::file_time_type time) const
    {
        std::error_code ignored;
        fs::last_write_time(path_, time, ignored);
    }

    fs::path path_;
    fs::file_time_type previous_{};
    fs::file_time_type marked_{};
    bool watching_ = false;  // the file carries the mark
    bool checkable_ = false; // the outcome can be told at all
};

} // namespace

// The texts are taken by value, as copies, by contract with the export action.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
ExportedGlb ExportSceneToGlb(std::string folder, std::string baseName)
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
    ExportedGlb exported{folder + baseName + kGlbExtension};
    WriteCheck check(exported.path);
    // The host's list of written files is released unread: the file itself
    // tells whether it was written.
    static_cast<void>(exporter->ExportProjectAsGlb(exported.path, option));
    exported.hostWroteNothing = check.NothingWritten();
    return exported;
}

} // namespace orvel
