#include "stream_lock.h"

#include <stdio.h>

namespace orvel::platform {

StreamLock::StreamLock(std::FILE* stream) noexcept : stream_(stream) { flockfile(stream_); }

StreamLock::~StreamLock() { funlockfile(stream_); }

} // namespace orvel::platform
