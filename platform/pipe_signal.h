// Writing to the host's standard output without the host paying for it.
#pragma once

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace orvel::platform {

// While it lives, a write by this thread to a pipe whose reader has gone
// fails with an error instead of raising SIGPIPE, which by default ends the
// whole process. Only this thread's signal mask changes, and it is put back
// as it was; the process's SIGPIPE disposition is never touched. A SIGPIPE
// that the guarded write raised (the caller says so with WriteFailed) is
// collected before the mask is put back; one that was pending before is left
// for the host. Windows raises no such signal: there the guard does nothing.
class PipeSignalGuard {
public:
    PipeSignalGuard() noexcept;
    PipeSignalGuard(const PipeSignalGuard&) = delete;
    PipeSignalGuard& operator=(const PipeSignalGuard&) = delete;
    ~PipeSignalGuard();

    void WriteFailed() noexcept { writeFailed_ = true; }

private:
    bool writeFailed_ = false;
#if !defined(_WIN32)
    bool blocked_ = false;       // the mask was changed and must be put back
    bool pendingBefore_ = false; // a SIGPIPE was already waiting: not ours
    sigset_t previousMask_{};
#endif
};

#if defined(_WIN32)
inline PipeSignalGuard::PipeSignalGuard() noexcept = default;
inline PipeSignalGuard::~PipeSignalGuard() = default;
#endif

} // namespace orvel::platform
