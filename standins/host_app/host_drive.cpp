#include "host_drive.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace standin {
namespace {

#if defined(_WIN32)
constexpr char kViewerBuildName[] = "ORVEL.exe";
#else
constexpr char kViewerBuildName[] = "ORVEL";
#endif

// The whole file, or nothing when it does not open.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

} // namespace

bool PrepareDrive([[maybe_unused]] std::string& error)
{
#if !defined(_WIN32)
    std::error_code failure;
    std::filesystem::create_directory("C:", failure);
    if (failure) {
        error = "cannot make the drive folder \"C:\" in " +
                std::filesystem::current_path().string() + ": " + failure.message();
        return false;
    }
#endif
    return true;
}

std::filesystem::path ProgramFolder()
{
#if defined(_WIN32)
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return std::filesystem::path(path).parent_path();
#else
    std::error_code failure;
    return std::filesystem::read_symlink("/proc/self/exe", failure).parent_path();
#endif
}

bool InstallViewer(std::string& message)
{
    const std::filesystem::path source = ProgramFolder() / kViewerBuildName;
    std::error_code failure;
    if (!std::filesystem::is_regular_file(source, failure)) {
        message = "no stand-in viewer beside the host program (" + source.string() +
                  "), so none is installed";
        return false;
    }
    std::filesystem::create_directories(kViewerFolder, failure);
    if (!failure) {
        std::filesystem::copy_file(source, kViewerPath,
                                   std::filesystem::copy_options::overwrite_existing, failure);
    }
    if (failure) {
        message = std::string("cannot install the stand-in viewer at ") + kViewerPath + ": " +
                  failure.message();
        return false;
    }
    message = std::string("installed the stand-in viewer at ") + kViewerPath + " (from " +
              source.string() + ")";
    return true;
}

std::string RemoveViewer()
{
    std::error_code failure;
    if (!std::filesystem::exists(kViewerPath, failure)) {
        return std::string("no viewer installed at ") + kViewerPath;
    }
    std::filesystem::remove(kViewerPath, failure);
    if (failure) {
        return std::string("cannot remove the viewer at ") + kViewerPath + ": " + failure.message();
    }
    return std::string("removed the viewer at ") + kViewerPath;
}

void PrintWorkspace(std::ostream& out, const std::string& prefix)
{
    std::error_code failure;
    if (!std::filesystem::is_directory(kWorkspaceFolder, failure)) {
        out << prefix << "workspace folder " << kWorkspaceFolder << " does not exist" << std::endl;
        return;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(kWorkspaceFolder, failure)) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    out << prefix << "workspace folder " << kWorkspaceFolder << " holds " << files.size()
        << (files.size() == 1 ? " file" : " files") << ":" << std::endl;
    for (const std::filesystem::path& file : files) {
        out << prefix << "  " << file.filename().string();
        if (std::filesystem::is_regular_file(file, failure)) {
            out << " (" << std::filesystem::file_size(file, failure) << " bytes)";
        } else {
            out << " (folder)";
        }
        out << std::endl;
    }
    const std::filesystem::path settings = std::filesystem::path(kWorkspaceFolder) / "API.json";
    if (std::filesystem::is_regular_file(settings, failure)) {
        out << prefix << settings.generic_string() << " holds:" << std::endl;
        std::istringstream lines(ReadWholeFile(settings).value_or(std::string()));
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            out << prefix << "  " << line << std::endl;
        }
    }
}

std::optional<std::string> WaitForFile(const std::filesystem::path& path,
                                       std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        // On Windows a file just renamed into place can refuse to open for a
        // moment, so a refused open is waited out like a missing file.
        if (std::optional<std::string> text = ReadWholeFile(path)) {
            return text;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace standin
