// What a stand-in program gets from its environment, as UTF-8 text on every
// platform (Windows hands it out as UTF-16, and narrow text there would be in
// the system's code page).
#pragma once

#include <string>
#include <vector>

namespace standin {

// The program's arguments after its name. On Windows they come from the wide
// command line, split as the C runtime splits it; elsewhere they are argv.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The value of an environment variable; empty when it is not set.
std::string GetEnvironment(const std::string& name);

// Sets an environment variable for this process and the programs it starts.
void SetEnvironment(const std::string& name, const std::string& value);

#if defined(_WIN32)
std::string Utf8FromWide(const std::wstring& text);
std::wstring WideFromUtf8(const std::string& text);
#endif

} // namespace standin
