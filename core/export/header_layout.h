#pragma once
// The header block of an exported grid: the column titles split at "|" into levels, level k in
// sheet row k + 1, and the merged areas that make them a multi-level header.
//
// Merge rule: at each level, a run of adjacent columns whose titles have the same part there is
// merged once across the run (whatever the parts above: "X|A|P" beside "Y|A|Q" merges A across
// both columns); where the titles of the run end at that level the merge reaches down to the last
// header row. That is the merge the run's first column asks for by counting its followers; the
// merges its followers would ask for inside it are not made, and a title that ends is never
// grouped with one that goes on, so no two merged areas ever overlap, whatever the titles.
#include <string>
#include <vector>

namespace linograf {

struct THeaderCell {
    int col, row;
    std::string text;
};

struct THeaderMerge {
    int col1, row1, col2, row2;
    friend bool operator==(const THeaderMerge&, const THeaderMerge&) = default;
};

struct THeaderLayout {
    int levels = 1;  // at least 1
    std::vector<THeaderCell> cells;
    std::vector<THeaderMerge> merges;
};

// `titles` are those of the exported columns, in output order (column c is titles[c]); the
// block starts at sheet row `first_row` (level 1).
THeaderLayout LayoutHeader(const std::vector<std::string>& titles, int first_row = 2);

}  // namespace linograf
