#pragma once
// A peer's printed view of a workbook, one line per fact, and the check that a logged row
// only added lines to it.
#include <string>
#include <vector>

namespace linograf::test {

using Lines = std::vector<std::string>;

Lines SplitLines(const std::string& text);
// The view that `script` (run by Debian's python3 with `path` as its argument) prints.
Lines PythonView(const char* script, const std::string& path);
bool Has(const Lines& lines, const std::string& line);
// Lines of `after` must be those of `before` plus `added`: each line lost and each line changed
// or new is a failure of its own.
void ExpectOnlyAdded(const Lines& before, const Lines& after, const Lines& added);

}  // namespace linograf::test
