#include "workbook/range.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "workbook/format_changes.h"
#include "workbook/process_values.h"
#include "workbook/sheet.h"
#include "workbook/workbook_model.h"

namespace linograf::workbook {

TXLSRange::TXLSRange(TSheet& sheet) : sheet_(sheet) {}

TXLSRange& TXLSRange::Items(int col1, int row1, int col2, int row2) {
    if (col1 > LastColumn() || row1 > LastRow() || col2 < 0 || row2 < 0)
        throw std::runtime_error("Range is outside sheet limits");
    col1 = std::max(col1, 0);
    row1 = std::max(row1, 0);
    col2 = std::min(col2, LastColumn());
    row2 = std::min(row2, LastRow());
    if (col2 < col1) std::swap(col1, col2);
    if (row2 < row1) std::swap(row1, row2);
    col1_ = col1;
    row1_ = row1;
    col2_ = col2;
    row2_ = row2;
    if (col1 == col2 && row1 == row2) shape_ = 0;
    else if (col1 == col2) shape_ = 1;
    else if (row1 == row2) shape_ = 2;
    else shape_ = 3;
    return *this;
}

void TXLSRange::Fill() {
    for (int row = row1_; row <= row2_; ++row)
        for (int col = col1_; col <= col2_; ++col)
            sheet_.FillBlank(static_cast<uint32_t>(col), static_cast<uint32_t>(row));
}

template <typename Change>
void TXLSRange::ForEachCell(int c1, int r1, int c2, int r2, Change change) {
    TCellFormats& formats = sheet_.Workbook().Formats();
    // A large range holds few distinct formats: once a format's result is known, a further cell
    // with it only moves its reference, instead of searching the font and format lists again.
    XfId last_from = 0, last_to = 0;
    bool known = false;
    for (int row = r1; row <= r2; ++row) {
        for (int col = c1; col <= c2; ++col) {
            TCell* cell = sheet_.Cells().Find(static_cast<uint32_t>(col), static_cast<uint32_t>(row));
            if (!cell) continue;
            if (known && cell->xf == last_from) {
                if (last_to != last_from) {
                    formats.Acquire(last_to);
                    formats.Release(last_from);
                }
                cell->xf = last_to;
                continue;
            }
            last_from = cell->xf;
            last_to = change(formats, cell->xf);
            cell->xf = last_to;
            known = true;
        }
    }
}

void TXLSRange::Outline(TBorderSide side, TCellBorderStyle style) {
    Fill();
    int c1 = col1_, r1 = row1_, c2 = col2_, r2 = row2_;
    switch (side) {
        case bsTop: r2 = r1; break;
        case bsBottom: r1 = r2; break;
        case bsLeft: c2 = c1; break;
        case bsRight: c1 = c2; break;
    }
    // Cells that never had a border on this side have colour 0 there; the border gets the
    // automatic colour instead.
    auto change = [&](TCellFormats& formats, XfId xf) {
        if (formats.ById(xf).BorderColor(side) == 0) xf = WithBorderColor(formats, xf, side, 64);
        return WithBorderStyle(formats, xf, side, style);
    };
    // Left and right go down the column, top and bottom along the row: the same visiting order
    // as cell by cell in rows, since the outline is one row or one column.
    ForEachCell(c1, r1, c2, r2, change);
}

void TXLSRange::SetBorderTopStyle(TCellBorderStyle style) { Outline(bsTop, style); }
void TXLSRange::SetBorderBottomStyle(TCellBorderStyle style) { Outline(bsBottom, style); }
void TXLSRange::SetBorderLeftStyle(TCellBorderStyle style) { Outline(bsLeft, style); }
void TXLSRange::SetBorderRightStyle(TCellBorderStyle style) { Outline(bsRight, style); }

void TXLSRange::SetBorderInsideHorizStyle(TCellBorderStyle style) {
    Fill();
    ForEachCell(col1_, row1_, col2_, row2_ - 1,
                [&](TCellFormats& f, XfId xf) { return WithBorderStyle(f, xf, bsBottom, style); });
}

void TXLSRange::SetBorderInsideVertStyle(TCellBorderStyle style) {
    Fill();
    ForEachCell(col1_, row1_, col2_ - 1, row2_,
                [&](TCellFormats& f, XfId xf) { return WithBorderStyle(f, xf, bsRight, style); });
}

void TXLSRange::SetTextFlags(TTextFlags flags) {
    Fill();
    ForEachCell(col1_, row1_, col2_, row2_, [&](TCellFormats& f, XfId xf) { return WithTextFlags(f, xf, flags); });
}

void TXLSRange::SetFontName(std::u16string_view name) {
    Fill();
    ForEachCell(col1_, row1_, col2_, row2_, [&](TCellFormats& f, XfId xf) { return WithFontName(f, xf, name); });
}

void TXLSRange::SetFontSize(int points) {
    Fill();
    ForEachCell(col1_, row1_, col2_, row2_, [&](TCellFormats& f, XfId xf) { return WithFontSize(f, xf, points); });
}

void TXLSRange::SetFontStyle(TXFontStyles style) {
    Fill();
    ForEachCell(col1_, row1_, col2_, row2_, [&](TCellFormats& f, XfId xf) { return WithFontStyle(f, xf, style); });
}

void TXLSRange::SetHorizAlignment(THorizAlignment value) {
    Fill();
    ForEachCell(col1_, row1_, col2_, row2_,
                [&](TCellFormats& f, XfId xf) { return WithHorizAlignment(f, xf, value); });
}

void TXLSRange::SetVertAlignment(TVertAlignment value) {
    Fill();
    ForEachCell(col1_, row1_, col2_, row2_,
                [&](TCellFormats& f, XfId xf) { return WithVertAlignment(f, xf, value); });
}

void TXLSRange::SetMerged(bool merged) {
    TMergedCells& areas = sheet_.MergedCells();
    if (merged) {
        if (areas.Intersects(col1_, row1_, col2_, row2_))
            throw std::runtime_error("Can not change part of a merged cell");
        areas.Add(col1_, row1_, col2_, row2_);
    } else {
        areas.DeleteIn(col1_, row1_, col2_, row2_);
    }
}

}  // namespace linograf::workbook
