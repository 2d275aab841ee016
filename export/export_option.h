// The option record of the host's GLB export, filled with the plug-in's values.
#pragma once

#include <string>

// Only a Release build can pass the host its record: the host's record holds
// a std::string of its Release runtime, 32 bytes at offset 136. A debugging
// runtime's string is larger and checks iterators the host's does not, and the
// record then cannot match the host's. Checked here, before the record's own
// size (export_option.cpp), so that a Debug build is told this first.
static_assert(sizeof(std::string) == 32,
              "std::string is not the 32 bytes of the host's runtime: build Release");
#if defined(_ITERATOR_DEBUG_LEVEL)
static_assert(_ITERATOR_DEBUG_LEVEL == 0,
              "_ITERATOR_DEBUG_LEVEL is not 0, as it is in the host's runtime: build Release");
#endif

#include "CLOAPIInterface.h"

namespace orvel {

// Writes the values the viewer's import expects into a record the SDK has just
// made, each at its byte offset in the host's layout, and empties the record's
// text. Every other byte stays as the SDK's constructor left it. No member of
// the record is named, so this builds against any SDK with that layout.
void FillExportOption(Marvelous::ImportExportOption& option);

} // namespace orvel
