// A host whose standard output is broken, closed or missing: it runs one whole
// export through the plug-in module and then checks that what the host owns,
// std::cout and (on POSIX) its signal state, is as it was before.
//
//   console_probe [--exceptions] [--block-pipe-signal] [--pipe-signal-pending]
//                 [--exit-at-once] [--writer-thread] [--stream-error]
//                 [--pending-host-bytes] [--host-buffer-mutex] [--host-buffer-worker]
//                 [--host-buffer] [--unbuffered] [--cout-over-stderr]
//
// --exceptions          the host has enabled exceptions on std::cout
// --writer-thread       another thread of the host writes to std::cout, with
//                       exceptions on for failed writes, while 100 exports run
//                       (standard output must fail; SIGPIPE is ignored); how
//                       many of its failed writes left stdout's error flag
//                       clear goes to C:/writer-thread.txt
// --stream-error        the host's own failed write has set stdout's error
//                       flag before the action (standard output must fail;
//                       SIGPIPE is ignored)
// --pending-host-bytes  the host's own bytes wait in stdout's buffer, unflushed,
//                       when the action starts (standard output must fail):
//                       their failure must leave stdout's error flag set
// --host-buffer-mutex   std::cout writes through the host's own buffer, which
//                       copies to stdout under the host's mutex, while another
//                       host thread logs to stdout under that mutex; 50 exports
// --host-buffer-worker  std::cout writes through the host's own buffer, whose
//                       sync waits for a worker thread that writes to stdout;
//                       50 exports
// --host-buffer         the host's own buffer alone, no other thread (with a
//                       broken pipe: its failed writes raise no SIGPIPE that
//                       ends the host); 50 exports
// --unbuffered          the host has made stdout unbuffered: a failing write
//                       fails at once, and a flush after it finds nothing
// --cout-over-stderr    the host has given std::cout std::cerr's buffer, so
//                       the line goes to stderr (standard error must fail)
// --block-pipe-signal   the host blocks SIGPIPE itself
// --pipe-signal-pending ... and one is already pending, which must stay so
// --exit-at-once        _Exit right after the action: what the plug-in wrote
//                       reaches standard output only if it was flushed
//
// Exit code: 0 all as before; 1 std::cout's state or exception mask changed;
// 2 the signal mask, SIGPIPE's disposition or pending SIGPIPE changed; 4 the
// plug-in module could not be loaded; 5 the error flag of the C stream that
// std::cout writes to (stdout, or stderr) changed; 6 a failed write of the host's own thread did
// not throw; 7 that thread's writes never failed; 8 the host could not fail a write of its own (to
// stdout, or to stderr); 9 the exports did not end within two minutes (a deadlock). Killed by a
// signal: the host died.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include <signal.h>
#include <unistd.h>
#endif

#include "plugin_module.h"
#include "support/fake_host.h"
#include "support/test_drive.h"

namespace {

#if !defined(_WIN32)
// What the host owns of the process's signal handling.
struct SignalState {
    sigset_t mask;
    struct sigaction pipeAction;
    bool pipePending;
};

SignalState CurrentSignalState()
{
    SignalState state{};
    sigprocmask(SIG_SETMASK, nullptr, &state.mask);
    sigaction(SIGPIPE, nullptr, &state.pipeAction);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    state.pipePending = sigismember(&pending, SIGPIPE) == 1;
    return state;
}

bool Same(const SignalState& a, const SignalState& b)
{
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&a.mask, signal) != sigismember(&b.mask, signal)) {
            return false;
        }
    }
    return a.pipeAction.sa_handler == b.pipeAction.sa_handler &&
           a.pipeAction.sa_flags == b.pipeAction.sa_flags && a.pipePending == b.pipePending;
}
#endif

// Runs 100 exports while another thread of the host writes to the failing
// std::cout, with exceptions on for a bad stream: every one of its failed
// writes must throw, however the plug-in's lines fall between them. Each
// must also leave stdout's error flag set, whoever's flush took its bytes;
// the count of those that did not goes to C:/writer-thread.txt.
int RunBesideAWriterThread(standin::PluginModule& plugin)
{
    std::atomic<bool> stop{false};
    long writes = 0;
    long failed = 0;
    long silent = 0;
    long flagLost = 0;
    std::thread writer([&] {
        while (!stop) {
            try {
                // Its bytes wait in stdout's buffer a moment before its flush.
                std::cout.write("host\n", 5);
                std::this_thread::yield();
                std::cout.flush();
                if (!std::cout.good()) {
                    ++silent;
                }
            } catch (const std::ios_base::failure&) {
                ++failed;
            }
            ++writes;
            if (std::ferror(stdout) == 0) {
                ++flagLost;
            }
            std::clearerr(stdout);
            std::cout.clear();
        }
    });
    for (int run = 0; run < 100; ++run) {
        plugin.DoFunction();
    }
    stop = true;
    writer.join();
    std::ofstream("C:/writer-thread.txt") << flagLost << " of " << writes << "\n";
    return silent > 0 ? 6 : failed == 0 ? 7 : 0;
}

// How the host's own buffer behind std::cout writes to stdout.
enum class HostBufferMode {
    Alone,   // under a lock of the host's that nothing else takes
    Logging, // under the lock another host thread logs under
    Worker,  // its sync waits for a worker thread that writes to stdout
};

// A buffer of the host's own behind std::cout: every piece goes to stdout,
// under `mutex`, as a host that serialises its logging does; its sync in
// Worker mode waits for a worker thread, as a host that hands its output to
// another thread does.
class HostBuffer : public std::streambuf {
public:
    HostBuffer(std::mutex& mutex, HostBufferMode mode) : mutex_(mutex), mode_(mode) {}

protected:
    int_type overflow(int_type c) override
    {
        const char text = traits_type::to_char_type(c);
        return traits_type::eq_int_type(c, traits_type::eof()) || xsputn(&text, 1) == 1
                   ? traits_type::not_eof(c)
                   : traits_type::eof();
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<std::streamsize>(
            std::fwrite(text, 1, static_cast<std::size_t>(count), stdout));
    }
    int sync() override
    {
        if (mode_ == HostBufferMode::Worker) {
            std::thread([] {
                std::fputs("worker\n", stdout);
                std::fflush(stdout);
            }).join();
            return 0;
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        return std::fflush(stdout);
    }

private:
    std::mutex& mutex_;
    HostBufferMode mode_;
};

// Runs 50 exports with std::cout writing through a HostBuffer (a logging
// thread beside it in Logging mode), and ends the probe with 9 when they have
// not ended within two minutes.
int RunWithHostBuffer(standin::PluginModule& plugin, HostBufferMode mode)
{
    const bool logging = mode == HostBufferMode::Logging;
    std::mutex logLock;
    HostBuffer buffer(logLock, mode);
    std::mutex doneLock;
    std::condition_variable doneChanged;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(doneLock);
        if (!doneChanged.wait_for(lock, std::chrono::minutes(2), [&done] { return done; })) {
            std::_Exit(9);
        }
    });
    std::atomic<bool> stop{false};
    std::thread logger([&] {
        while (logging && !stop) {
            {
                const std::lock_guard<std::mutex> lock(logLock);
                std::fputs("host log\n", stdout);
                std::fflush(stdout);
            }
            // Mutexes are not fair: without a pause the exports could wait
            // for the lock almost forever.
            std::this_thread::yield();
        }
    });
    std::streambuf* const previous = std::cout.rdbuf(&buffer);
    for (int run = 0; run < 50; ++run) {
        plugin.DoFunction();
    }
    std::cout.rdbuf(previous);
    stop = true;
    logger.join();
    {
        const std::lock_guard<std::mutex> lock(doneLock);
        done = true;
    }
    doneChanged.notify_one();
    watchdog.join();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    bool exitAtOnce = false;
    bool writerThread = false;
    bool streamError = false;
    bool pendingHostBytes = false;
    bool coutOverStderr = false;
    std::string hostBuffer;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--exceptions") {
            std::cout.exceptions(std::ios_base::badbit | std::ios_base::failbit);
        } else if (option == "--unbuffered") {
            std::setvbuf(stdout, nullptr, _IONBF, 0);
        } else if (option == "--cout-over-stderr") {
            coutOverStderr = true;
            std::cout.rdbuf(std::cerr.rdbuf());
        } else if (option == "--exit-at-once") {
            exitAtOnce = true;
        } else if (option == "--writer-thread") {
            writerThread = true;
            std::cout.exceptions(std::ios_base::badbit);
#if !defined(_WIN32)
            signal(SIGPIPE, SIG_IGN);
#endif
        } else if (option.rfind("--host-buffer", 0) == 0) {
            hostBuffer = option;
        } else if (option == "--pending-host-bytes") {
            pendingHostBytes = true; // and SIGPIPE as the system has it: it ends the host
        } else if (option == "--stream-error") {
            streamError = true;
#if !defined(_WIN32)
            signal(SIGPIPE, SIG_IGN);
#endif
#if !defined(_WIN32)
        } else if (option == "--block-pipe-signal" || option == "--pipe-signal-pending") {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            sigprocmask(SIG_BLOCK, &pipe, nullptr);
            if (option == "--pipe-signal-pending") {
                raise(SIGPIPE);
            }
#endif
        }
    }

    standin::PluginModule plugin(ORVEL_PLUGIN_FILE);
    if (!plugin.ok()) {
        return 4;
    }
    testing_host::RecordingExporter exporter;
    exporter.write = [](const std::string& path) {
        testing_host::WriteFile(path, testing_host::MinimalGlb());
    };
    // Messages go to the recording only: standard output is the plug-in's here.
    testing_host::RecordingUtility utility;
    utility.echo = false;
    testing_host::InstalledServices services(&utility, &exporter);

    const std::ios_base::iostate mask = std::cout.exceptions();
    const std::ios_base::iostate state = std::cout.rdstate();
#if !defined(_WIN32)
    const SignalState signals = CurrentSignalState();
#endif
    if (writerThread) {
        return RunBesideAWriterThread(plugin);
    }
    if (!hostBuffer.empty()) {
        return RunWithHostBuffer(plugin,
                                 hostBuffer == "--host-buffer-mutex"    ? HostBufferMode::Logging
                                 : hostBuffer == "--host-buffer-worker" ? HostBufferMode::Worker
                                                                        : HostBufferMode::Alone);
    }
    if (streamError || pendingHostBytes) {
        std::fputs("host\n", stdout);
    }
    if (streamError && (std::fflush(stdout) == 0 || std::ferror(stdout) == 0)) {
        return 8;
    }
    // The host's unflushed bytes fail when the line flushes them.
    std::FILE* const hostStream = coutOverStderr ? stderr : stdout;
    const bool streamErrorBefore = std::ferror(hostStream) != 0 || pendingHostBytes;
    plugin.DoFunction();
    if (exitAtOnce) {
        std::_Exit(0);
    }
    if (std::cout.exceptions() != mask || std::cout.rdstate() != state) {
        return 1;
    }
    if ((std::ferror(hostStream) != 0) != streamErrorBefore) {
        return 5;
    }
#if !defined(_WIN32)
    if (!Same(signals, CurrentSignalState())) {
        return 2;
    }
#endif
    // The line went to standard error, where the host's own write fails too
    // (SIGPIPE blocked now that the checks are done).
    if (coutOverStderr) {
#if !defined(_WIN32)
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigprocmask(SIG_BLOCK, &pipe, nullptr);
#endif
        if (std::fputs("host\n", stderr) >= 0 && std::fflush(stderr) == 0) {
            return 8;
        }
    }
    return 0;
}
