// The native side of the benchmark: the minimal arm with Linux's bare calls,
// and what the benchmark needs of the system around it. DoFunction is linked
// in, as the host would call it in the loaded module.
#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "bench/bench.h"
#include "plugin/entry_points.h"

extern char** environ; // NOLINT(readability-redundant-declaration)

namespace orvel_bench {
namespace {

constexpr char kSettingsPath[] = "C:/ORVEL/CLO3D_Plugin/API.json";
// The bytes the plug-in writes into API.json here.
constexpr char kSettingsText[] =
    "{\n    \"modelFile\": \"C:/ORVEL/CLO3D_Plugin/Prepped_For_ORVEL.glb\"\n}";
constexpr char kConsoleLine[] = "Destroying OrvelImportInterface\n";
// The viewer and its arguments as the plug-in's command line gives them.
constexpr char kViewerPath[] = "C:/Program Files/ORVEL/ORVEL.exe";
char gProgram[] = "C:\\Program";
char gFiles[] = "Files\\ORVEL\\ORVEL.exe";
char gSettings[] = "-Settings=C:/ORVEL/CLO3D_Plugin/API.json";
char* const gArguments[] = {gProgram, gFiles, gSettings, nullptr};
posix_spawnattr_t gOwnSession; // set up once, in Setup()

} // namespace

const char kPlatform[] = "native";
const std::size_t kDefaultPairs = 2000;
const std::size_t kDefaultWarmup = 50;
const char kQuietOutput[] = "/dev/null";

EntryPoint Setup()
{
    // Every viewer, once its intermediate child has gone, becomes this
    // process's child, so that the benchmark can wait for it.
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        std::perror("prctl(PR_SET_CHILD_SUBREAPER)");
        return nullptr;
    }
    posix_spawnattr_init(&gOwnSession);
    posix_spawnattr_setflags(&gOwnSession, POSIX_SPAWN_SETSID);
    return &DoFunction;
}

std::size_t WaitForViewers()
{
    std::size_t reaped = 0;
    while (true) {
        if (waitpid(-1, nullptr, 0) > 0) {
            ++reaped;
        } else if (errno != EINTR) {
            return reaped;
        }
    }
}

void FlushToDisk(const char* path)
{
    const int file = open(path, O_WRONLY | O_CLOEXEC);
    fdatasync(file);
    close(file);
}

double CpuMicroseconds()
{
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        for (const timeval& time : {usage.ru_utime, usage.ru_stime}) {
            total += static_cast<double>(time.tv_sec) * 1e6 + static_cast<double>(time.tv_usec);
        }
    }
    return total;
}

namespace minimal {

bool CreateFolders()
{
    const bool product = mkdir("C:/ORVEL", 0777) == 0 || errno == EEXIST;
    return (mkdir("C:/ORVEL/CLO3D_Plugin", 0777) == 0 || errno == EEXIST) && product;
}

bool WriteSettings()
{
    const int file = open(kSettingsPath, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (file < 0) {
        return false;
    }
    constexpr ssize_t kLength = sizeof(kSettingsText) - 1;
    const bool wrote = write(file, kSettingsText, kLength) == kLength;
    return close(file) == 0 && wrote;
}

// An intermediate child spawns the viewer and exits with the spawn's outcome;
// reaping it is the least that leaves the host no zombie. The viewer gets a
// session of its own, for speed, not safety: on Linux a new session is a new
// scheduling group (autogroup), whose first task runs at once, where a child
// in the caller's session can wait a scheduler slice (0.75 ms) behind other
// work, such as the writeback that writing API.json has just queued.
bool StartViewer()
{
    const pid_t intermediate = fork();
    if (intermediate == 0) {
        pid_t viewer = 0;
        _exit(posix_spawn(&viewer, kViewerPath, nullptr, &gOwnSession, gArguments, environ));
    }
    int status = 0;
    return intermediate > 0 && waitpid(intermediate, &status, 0) == intermediate &&
           WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool WriteConsoleLine()
{
    constexpr ssize_t kLength = sizeof(kConsoleLine) - 1;
    return write(STDOUT_FILENO, kConsoleLine, kLength) == kLength;
}

} // namespace minimal
} // namespace orvel_bench
