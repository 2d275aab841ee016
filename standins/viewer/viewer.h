// The stand-in viewer's side of the handoff: find the settings file named on
// the command line, read the model file it names, and report what arrived.
#pragma once

#include <string>
#include <vector>

namespace standin::viewer {

// What the viewer received, as lines of the form "name: value":
//   command line: <the exact command line>
//   settings: <path from the -Settings= argument>
//   model: <path from the settings' "modelFile">
//   summary: <meshes>, <vertices>, <file bytes>
// Lines stop where the handoff went wrong; `error` then says what was wrong.
struct Report {
    std::vector<std::string> lines;
    std::string error;

    bool ok() const { return error.empty(); }
    // The lines, then "error: ..." when there is an error; each line ends in "\n".
    std::string Text() const;
};

// `arguments` are the program's arguments after its name (split as the
// platform splits them), `commandLine` the line it was started with.
Report ReceiveHandoff(const std::string& commandLine, const std::vector<std::string>& arguments);

} // namespace standin::viewer
