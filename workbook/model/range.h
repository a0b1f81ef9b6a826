#pragma once
// Formatting of a rectangle of cells. Items selects the rectangle; each setter first fills its
// empty positions with blank cells so every position carries the formatting, then changes one
// attribute of each affected cell's format.
#include <cstdint>
#include <string_view>

#include "workbook/model/cell_format.h"
#include "workbook/model/fonts.h"

namespace linograf::workbook {

class TSheet;

class TXLSRange {
  public:
    explicit TXLSRange(TSheet& sheet);

    // Selects the rectangle, clamped to the sheet limits and put in order. Throws "Range is
    // outside sheet limits" (the previous selection stays) when it lies wholly outside.
    TXLSRange& Items(int col1, int row1, int col2, int row2);

    int Col1() const { return col1_; }
    int Row1() const { return row1_; }
    int Col2() const { return col2_; }
    int Row2() const { return row2_; }
    // 0 one cell, 1 one column, 2 one row, 3 a larger area.
    int Shape() const { return shape_; }

    void SetBorderTopStyle(TCellBorderStyle style);
    void SetBorderBottomStyle(TCellBorderStyle style);
    void SetBorderLeftStyle(TCellBorderStyle style);
    void SetBorderRightStyle(TCellBorderStyle style);
    void SetBorderInsideHorizStyle(TCellBorderStyle style);
    void SetBorderInsideVertStyle(TCellBorderStyle style);
    void SetTextFlags(TTextFlags flags);
    void SetFontName(std::u16string_view name);
    void SetFontSize(int points);
    void SetFontStyle(TXFontStyles style);
    void SetHorizAlignment(THorizAlignment value);
    void SetVertAlignment(TVertAlignment value);
    // True merges the rectangle (throws "Can not change part of a merged cell" over an existing
    // merged area); False removes or trims the merged areas in it.
    void SetMerged(bool merged);

  private:
    // Fills every empty position of the selection with a blank cell and changes the format of the
    // cells in columns c1..c2 of rows r1..r2 (part of the selection) with `change`.
    template <typename Change>
    void ForEachCell(int c1, int r1, int c2, int r2, Change change);
    void Outline(TBorderSide side, TCellBorderStyle style);

    TSheet& sheet_;
    int col1_ = 0, row1_ = 0, col2_ = 0, row2_ = 0;
    int shape_ = 0;
};

}  // namespace linograf::workbook
