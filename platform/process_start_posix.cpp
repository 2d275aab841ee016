// POSIX stand-in for CreateProcessW, so the plug-in can be run and tested on
// Linux. The Windows path of the program is mapped onto the working folder,
// which stands in for the drive's parent: "C:\Program Files\ORVEL\ORVEL.exe"
// becomes "./C:/Program Files/ORVEL/ORVEL.exe". The command line is split into
// arguments the way Windows programs split theirs.
#include "process_start.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

// POSIX has the program declare it; glibc's <unistd.h> does only under _GNU_SOURCE.
extern char** environ; // NOLINT(readability-redundant-declaration)

namespace orvel::platform {
namespace {

// Environment variable through which the started program can read its
// unsplit command line, as a Windows program would with GetCommandLineW.
constexpr char kCommandLineVariable[] = "ORVEL_STANDIN_COMMAND_LINE=";

std::string MapExecutablePath(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits a command line as the Microsoft C runtime does: the program name ends
// at the first blank outside quotes and takes no escapes; in the arguments,
// 2n backslashes before a quote give n backslashes and toggle quoting, 2n+1
// give n backslashes and a literal quote, and "" inside quotes is a quote.
std::vector<std::string> SplitCommandLine(const std::string& line)
{
    std::vector<std::string> arguments;
    std::size_t i = 0;
    std::string program;
    bool quoted = false;
    for (; i < line.size() && (quoted || !IsBlank(line[i])); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else {
            program += line[i];
        }
    }
    arguments.push_back(program);

    while (true) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        std::string argument;
        quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\') {
                ++backslashes;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                argument.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    argument += '"';
                } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    argument += '"';
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                argument.append(backslashes, '\\');
                if (i < line.size() && (quoted || !IsBlank(line[i]))) {
                    argument += line[i];
                    ++i;
                }
            }
        }
        arguments.push_back(argument);
    }
    return arguments;
}

// How the program is started: in a session of its own, with default signal
// handling, keeping standard input, output and error and no other descriptor
// (like a Windows start without handle inheritance).
class SpawnSettings {
public:
    SpawnSettings()
    {
        posix_spawnattr_init(&attributes_);
        // Nothing of the host's signal handling carries over: no signal
        // blocked, every signal's action the default.
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes_, &none);
        sigset_t all;
        sigfillset(&all);
        posix_spawnattr_setsigdefault(&attributes_, &all);
        posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                   POSIX_SPAWN_SETSIGDEF);
        posix_spawn_file_actions_init(&actions_);
        posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;
    ~SpawnSettings()
    {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }

    const posix_spawnattr_t* attributes() const { return &attributes_; }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }

private:
    posix_spawnattr_t attributes_{};
    posix_spawn_file_actions_t actions_{};
};

std::vector<char*> PointersTo(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Reads the whole pipe; the started program's errno arrives here when exec
// failed, and nothing (end of file) when it succeeded.
bool ReadExecError(int fd, int& error)
{
    char* out = reinterpret_cast<char*>(&error);
    std::size_t got = 0;
    while (got < sizeof(error)) {
        const ssize_t n = read(fd, out + got, sizeof(error) - got);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return got == sizeof(error);
}

} // namespace

bool StartProcess(const std::string& executable, const std::string& commandLine)
{
    // Everything the children need is prepared before fork: after it, the
    // intermediate child takes no lock and touches no heap (posix_spawn,
    // write and _exit only), which is safe even in a host with other threads.
    const std::string path = MapExecutablePath(executable);
    std::vector<std::string> arguments = SplitCommandLine(commandLine);
    std::vector<char*> argv = PointersTo(arguments);
    // The caller's environment is passed on by pointer, not copied (a host may
    // hold thousands of variables), minus any command line variable of its own;
    // the program's command line variable is added last. The caller's strings
    // stay valid: nothing here changes the environment before the start.
    std::string commandLineEntry = kCommandLineVariable + commandLine;
    std::vector<char*> envp;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, kCommandLineVariable, sizeof(kCommandLineVariable) - 1) != 0) {
            envp.push_back(*entry);
        }
    }
    envp.push_back(commandLineEntry.data());
    envp.push_back(nullptr);

    const SpawnSettings settings;

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return false;
    }
    // An intermediate child starts the program and exits at once; the program
    // is then adopted by init, and no zombie is left for the host to reap.
    // posix_spawn does not copy the intermediate's memory the way a second
    // fork would, and returns only once the program's exec has succeeded or
    // failed.
    const pid_t intermediate = fork();
    if (intermediate < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (intermediate == 0) {
        close(report[0]);
        pid_t program = 0;
        const int error = posix_spawn(&program, path.c_str(), settings.actions(),
                                      settings.attributes(), argv.data(), envp.data());
        if (error != 0) {
            static_cast<void>(write(report[1], &error, sizeof(error)));
        }
        _exit(0);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    const bool failed = ReadExecError(report[0], error);
    close(report[0]);
    return !failed;
}

} // namespace orvel::platform
