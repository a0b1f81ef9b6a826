#include "tests/core/peer_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>

#include "tests/support/run_command.h"

namespace linograf::test {

Lines SplitLines(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

Lines PythonView(const char* script, const std::string& path) {
    const CommandResult r = RunPython(script, {path});
    EXPECT_EQ(r.exit_code, 0) << path << ": " << r.errors;
    return SplitLines(r.output);
}

bool Has(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void ExpectOnlyAdded(const Lines& before, const Lines& after, const Lines& added) {
    Lines expected = before;
    expected.insert(expected.end(), added.begin(), added.end());
    Lines actual = after;
    std::sort(expected.begin(), expected.end());
    std::sort(actual.begin(), actual.end());
    Lines missing, extra;
    std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(),
                        std::back_inserter(missing));
    std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    for (const std::string& line : missing) ADD_FAILURE() << "lost: " << line;
    for (const std::string& line : extra) ADD_FAILURE() << "changed or new: " << line;
}

}  // namespace linograf::test
