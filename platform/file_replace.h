// Replacing a file so that readers see either the old file or the new one.
#pragma once

#include <string>
#include <system_error>

namespace orvel::platform {

// Writes `text` to `path` in text mode (CR LF line ends on Windows) through a
// new temporary file beside it, with a name no other process uses, and then
// renames the temporary over `path`. Whatever stands at `path` is replaced,
// never written through: a symbolic link is replaced itself and a FIFO is
// never opened. A program that reads `path` meanwhile sees the complete old
// file or the complete new one. An existing file the user may not write
// (read-only) is left as it is, on every system. Returns the system's error
// when any step fails; the temporary file is then removed and `path` is left
// byte for byte as it was.
std::error_code ReplaceWholeFile(const std::string& path, const std::string& text);

// Removes, from the folder of `path`, the temporary files that
// ReplaceWholeFile names for `path` whose last write is more than 10 minutes
// old: a process that ended between creating one and the rename left it
// behind. Younger ones (another process may be writing one), a link or a
// folder of such a name (never followed), and every other file are left. A
// folder that cannot be listed, or a temporary that cannot be removed, is left
// for a later look.
void RemoveStaleTemporaries(const std::string& path);

} // namespace orvel::platform
