#pragma once
// `linograf ports`: the serial ports present, as a table, found without opening any of them.
#include <cstdio>
#include <string>
#include <vector>

namespace linograf {

// Returns the exit status: 0, or 2 for a wrong command line.
int RunPortsCommand(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);

}  // namespace linograf
