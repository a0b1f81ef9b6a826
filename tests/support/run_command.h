#pragma once
#include <string>
#include <vector>

namespace linograf::test {

// Debian's python modules (xlrd, openpyxl, olefile) are seen by this interpreter only; another
// python3 may stand first on PATH.
inline constexpr const char* kPython = "/usr/bin/python3";

struct CommandResult {
    int exit_code = -1;  // -1 when the program could not be started or was killed
    std::string output;  // standard output
    std::string errors;  // standard error
};

// Runs a program with arguments (no shell), optionally feeding `input` on standard input.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input = {});

// Runs a python script given as text with arguments on /usr/bin/python3.
CommandResult RunPython(const std::string& script, const std::vector<std::string>& args = {});

// True when /usr/bin/python3 can import the module; tests of peers they need skip otherwise.
bool PythonHasModule(const std::string& module);

// Path of an executable found on PATH, or empty.
std::string FindProgram(const std::string& name);

}  // namespace linograf::test
