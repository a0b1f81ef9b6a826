#pragma once
// `linograf cat FILE [--sheet N]`: the cells of one sheet of a .xls or .xlsx workbook as
// tab-separated lines, one per row from row 0 to the last used row, each cell as the workbook
// model's AsString gives it. Tab, CR, LF and backslash inside a cell are written as \t, \r, \n
// and \\, so every row is one line and the output splits back into the cells.
// `linograf cat --records FILE.xls` lists the file's BIFF records instead (offset, name, id,
// length, first bytes), so a format problem can be seen and two files compared with diff.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace linograf {

// A cell text (UTF-8) with its tab, CR, LF and backslash escaped.
std::string EscapeCellText(std::string_view text);

// Runs the command with the arguments after "cat"; returns the exit status (0 done, 1 the file
// could not be read or its records are cut off, 2 wrong arguments).
int RunCatCommand(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);

}  // namespace linograf
