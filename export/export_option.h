// The option record of the host's GLB export, filled with the plug-in's values.
#pragma once

#include "CLOAPIInterface.h"

namespace orvel {

// Writes the values the viewer's import expects into a record the SDK has just
// made, each at its byte offset in the host's layout, and empties the record's
// text. Every other byte stays as the SDK's constructor left it. No member of
// the record is named, so this builds against any SDK with that layout.
void FillExportOption(Marvelous::ImportExportOption& option);

} // namespace orvel
