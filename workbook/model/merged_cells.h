#pragma once
// Merged areas of a sheet, in the order they were added.
#include <cstdint>
#include <vector>

namespace linograf::workbook {

struct TMergedArea {
    int32_t col1, row1, col2, row2;  // col1 <= col2, row1 <= row2
};

class TMergedCells {
  public:
    void Add(int32_t col1, int32_t row1, int32_t col2, int32_t row2);
    int Count() const { return static_cast<int>(areas_.size()); }
    const TMergedArea& Items(int index) const { return areas_.at(index); }
    void Clear() { areas_.clear(); }

    bool Intersects(int32_t col1, int32_t row1, int32_t col2, int32_t row2) const;
    // Removes the areas inside the rectangle and trims the ones it cuts to their part outside
    // it. Throws "Can not change part of a merged cell" for an area whose outside part is not
    // one rectangle; areas handled before it stay changed.
    void DeleteIn(int32_t col1, int32_t row1, int32_t col2, int32_t row2);

  private:
    std::vector<TMergedArea> areas_;
};

}  // namespace linograf::workbook
