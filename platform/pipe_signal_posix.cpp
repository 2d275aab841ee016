#include "pipe_signal.h"

#include <pthread.h>
#include <time.h>

namespace orvel::platform {
namespace {

sigset_t PipeOnly()
{
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    return pipe;
}

bool PipePending()
{
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

} // namespace

PipeSignalGuard::PipeSignalGuard() noexcept
{
    const sigset_t pipe = PipeOnly();
    blocked_ = pthread_sigmask(SIG_BLOCK, &pipe, &previousMask_) == 0;
    pendingBefore_ = PipePending();
}

PipeSignalGuard::~PipeSignalGuard()
{
    if (!blocked_) {
        return;
    }
    if (writeFailed_ && !pendingBefore_ && PipePending()) {
        const sigset_t pipe = PipeOnly();
        const timespec now{};
        static_cast<void>(sigtimedwait(&pipe, nullptr, &now));
    }
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

} // namespace orvel::platform
