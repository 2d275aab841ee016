#include "stream_lock.h"

#include <windows.h>

namespace orvel::platform {
namespace {

using StreamLockCall = void(__cdecl*)(std::FILE*);

// The C runtime's own stream lock calls. MinGW-w64's import library for
// msvcrt.dll brings its own _lock_file, which imitates msvcrt's lock table
// rather than calling msvcrt: under Wine it takes another lock than the one
// msvcrt's fwrite, fflush and clearerr take, so it keeps no other thread out.
// msvcrt.dll's own exports do. The Microsoft runtime's _lock_file is its own.
struct StreamLockCalls {
    StreamLockCall lock = &_lock_file;
    StreamLockCall unlock = &_unlock_file;

    StreamLockCalls() noexcept
    {
#if defined(__MINGW32__) && !defined(_UCRT)
        const HMODULE runtime = GetModuleHandleW(L"msvcrt.dll");
        const FARPROC ownLock =
            runtime != nullptr ? GetProcAddress(runtime, "_lock_file") : nullptr;
        const FARPROC ownUnlock =
            runtime != nullptr ? GetProcAddress(runtime, "_unlock_file") : nullptr;
        if (ownLock != nullptr && ownUnlock != nullptr) {
            lock = reinterpret_cast<StreamLockCall>(reinterpret_cast<void (*)()>(ownLock));
            unlock = reinterpret_cast<StreamLockCall>(reinterpret_cast<void (*)()>(ownUnlock));
        }
#endif
    }
};

const StreamLockCalls& Calls() noexcept
{
    static const StreamLockCalls calls;
    return calls;
}

} // namespace

StreamLock::StreamLock(std::FILE* stream) noexcept : stream_(stream) { Calls().lock(stream_); }

StreamLock::~StreamLock() { Calls().unlock(stream_); }

} // namespace orvel::platform
