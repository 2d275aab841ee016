// Stand-in for the ORVEL viewer: does the viewer's side of the handoff and
// reports what it received, so the plug-in can be run end to end without the
// real viewer.
//
//   ORVEL[.exe] ... -Settings=<settings file> ...
//
// Prints the report (see viewer.h) to standard output and any error to
// standard error, exiting with 1 on an error. Environment:
//   ORVEL_VIEWER_REPORT     also write the report to this file (replaced
//                           whole, never seen half written)
//   ORVEL_VIEWER_LINGER_MS  after reporting, let go of standard output and
//                           error and stay running this many milliseconds
//   ORVEL_STANDIN_COMMAND_LINE  (Linux) the unsplit command line, as set by
//                           the plug-in's POSIX process start
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "gltf_support.h"
#include "program_environment.h"
#include "viewer.h"

namespace {

std::string CommandLine([[maybe_unused]] int argc, [[maybe_unused]] char** argv)
{
#if defined(_WIN32)
    return standin::Utf8FromWide(GetCommandLineW());
#else
    // The POSIX stand-in for process creation hands the unsplit line over
    // here; started any other way, the arguments are all there is.
    std::string line = standin::GetEnvironment("ORVEL_STANDIN_COMMAND_LINE");
    if (!line.empty()) {
        return line;
    }
    for (int i = 0; i < argc; ++i) {
        line += (i == 0 ? "" : " ") + std::string(argv[i]);
    }
    return line;
#endif
}

// Writes the report beside its final name and renames it into place, so a
// reader polling for the file finds all of it or nothing.
bool WriteReportFile(const std::string& path, const std::string& text, std::string& error)
{
    const std::filesystem::path target = standin::PathFromUtf8(path);
    std::filesystem::path partial = target;
    partial += ".partial";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        file << text;
        file.close();
        if (!file) {
            error = "cannot write the report file " + path + ".partial";
            return false;
        }
    }
    std::error_code renameError;
    std::filesystem::rename(partial, target, renameError);
    if (renameError) {
        error = "cannot rename the report file into " + path + ": " + renameError.message();
        std::filesystem::remove(partial, renameError);
        return false;
    }
    return true;
}

#if defined(_WIN32)
// Points the C runtime's standard output and error and the process's standard
// handles at the null device, closing the handles they had. (The runtime may
// hold copies of the process's handles, so both are closed.)
void ReleaseWindowsStandardStreams()
{
    const HANDLE oldOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE oldError = GetStdHandle(STD_ERROR_HANDLE);
    // freopen_s: the checked form, which the Microsoft runtime asks for.
    std::FILE* reopened = nullptr;
    static_cast<void>(freopen_s(&reopened, "NUL", "w", stdout));
    static_cast<void>(freopen_s(&reopened, "NUL", "w", stderr));
    const HANDLE null =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, null);
    SetStdHandle(STD_ERROR_HANDLE, null);
    // A handle value the runtime closed may have been reused for one of the
    // new ones; those stay open.
    const auto stillInUse = [null](HANDLE handle) {
        return handle == null ||
               handle == reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))) ||
               handle == reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr)));
    };
    const auto closeOld = [&stillInUse](HANDLE handle) {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE && !stillInUse(handle)) {
            CloseHandle(handle);
        }
    };
    closeOld(oldOutput);
    if (oldError != oldOutput) {
        closeOld(oldError);
    }
}
#endif

// Lets go of standard output and error, so that whoever reads them (a test
// runner reading the host's output, which the viewer inherited) sees them end,
// then stays running.
void Linger(const std::string& milliseconds)
{
    char* end = nullptr;
    const unsigned long long duration = std::strtoull(milliseconds.c_str(), &end, 10);
    if (milliseconds.empty() || end == nullptr || *end != '\0' || duration == 0) {
        return;
    }
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
#if defined(_WIN32)
    // Under Wine the program's Unix descriptors still hold the starter's
    // output; only the Windows side is released here.
    ReleaseWindowsStandardStreams();
#else
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        close(null);
    }
#endif
    std::this_thread::sleep_for(std::chrono::milliseconds(duration));
}

} // namespace

int main(int argc, char** argv)
{
    const standin::viewer::Report report = standin::viewer::ReceiveHandoff(
        CommandLine(argc, argv), standin::ProgramArguments(argc, argv));

    std::cout << "ORVEL stand-in viewer\n";
    for (const std::string& line : report.lines) {
        std::cout << line << "\n";
    }
    std::cout.flush();
    if (!report.ok()) {
        std::cerr << "ORVEL: error: " << report.error << std::endl;
    }

    bool written = true;
    const std::string reportPath = standin::GetEnvironment("ORVEL_VIEWER_REPORT");
    if (!reportPath.empty()) {
        std::string error;
        written = WriteReportFile(reportPath, report.Text(), error);
        if (!written) {
            std::cerr << "ORVEL: error: " << error << std::endl;
        }
    }

    Linger(standin::GetEnvironment("ORVEL_VIEWER_LINGER_MS"));
    return report.ok() && written ? 0 : 1;
}
