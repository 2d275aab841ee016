// The benchmark's own stand-in for the viewer. It exits at once, so that a
// measured export pays only for starting it. On Linux, when
// ORVEL_BENCH_VIEWER_SECONDS is set, it instead writes its process id to
// C:/bench-viewer.pid, stays that many seconds, and then writes
// C:/bench-viewer.done.
#if defined(_WIN32)

int main() { return 0; }

#else

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main()
{
    const char* seconds = std::getenv("ORVEL_BENCH_VIEWER_SECONDS");
    if (seconds == nullptr || *seconds == '\0') {
        return 0;
    }
    if (std::FILE* pid = std::fopen("C:/bench-viewer.pid", "w")) {
        std::fprintf(pid, "%ld\n", static_cast<long>(getpid()));
        std::fclose(pid);
    }
    sleep(static_cast<unsigned>(std::atoi(seconds)));
    if (std::FILE* done = std::fopen("C:/bench-viewer.done", "w")) {
        std::fclose(done);
    }
    return 0;
}

#endif
