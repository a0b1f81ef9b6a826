#include "workbook/model/merged_cells.h"

#include <algorithm>
#include <stdexcept>

namespace linograf::workbook {

void TMergedCells::Add(int32_t col1, int32_t row1, int32_t col2, int32_t row2) {
    areas_.push_back(
        {std::min(col1, col2), std::min(row1, row2), std::max(col1, col2), std::max(row1, row2)});
}

bool TMergedCells::Intersects(int32_t col1, int32_t row1, int32_t col2, int32_t row2) const {
    for (const TMergedArea& a : areas_)
        if (a.col1 <= col2 && col1 <= a.col2 && a.row1 <= row2 && row1 <= a.row2) return true;
    return false;
}

void TMergedCells::DeleteIn(int32_t col1, int32_t row1, int32_t col2, int32_t row2) {
    for (size_t i = 0; i < areas_.size();) {
        TMergedArea& a = areas_[i];
        bool overlaps = a.col1 <= col2 && col1 <= a.col2 && a.row1 <= row2 && row1 <= a.row2;
        if (!overlaps) {
            ++i;
            continue;
        }
        bool covers_cols = col1 <= a.col1 && a.col2 <= col2;
        bool covers_rows = row1 <= a.row1 && a.row2 <= row2;
        if (covers_cols && covers_rows) {
            areas_.erase(areas_.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        // What is left is one rectangle only when the cut spans the area in one direction and
        // takes one end of it in the other.
        if (covers_cols && row1 <= a.row1) {
            a.row1 = row2 + 1;
        } else if (covers_cols && a.row2 <= row2) {
            a.row2 = row1 - 1;
        } else if (covers_rows && col1 <= a.col1) {
            a.col1 = col2 + 1;
        } else if (covers_rows && a.col2 <= col2) {
            a.col2 = col1 - 1;
        } else {
            throw std::runtime_error("Can not change part of a merged cell");
        }
        ++i;
    }
}

}  // namespace linograf::workbook
