#include "workbook/model/range.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "workbook/model/format_changes.h"
#include "workbook/model/process_values.h"
#include "workbook/model/sheet.h"
#include "workbook/model/workbook_model.h"

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
    if (col1 == col2 && row1 == row2)
        shape_ = 0;
    else if (col1 == col2)
        shape_ = 1;
    else if (row1 == row2)
        shape_ = 2;
    else
        shape_ = 3;
    return *this;
}

namespace {

// The formats a pass has already changed, and what each became. A large range holds few distinct
// formats (the outline columns and rows differ from the inside), so nearly every cell only moves
// its reference to a known result instead of searching the font and format lists again.
//
// A remembered source format can only be released to nothing once no cell refers to it, and its
// handle is then reused only by a format made in this pass, which only visited cells get: no cell
// still to come can carry a stale handle.
class TChangeMemo {
  public:
    bool Find(XfId from, XfId& to) const {
        for (int i = 0; i < count_; ++i) {
            if (entries_[i].from == from) {
                to = entries_[i].to;
                return true;
            }
        }
        return false;
    }
    void Add(XfId from, XfId to) {
        entries_[next_] = {from, to};
        next_ = (next_ + 1) % kSize;
        if (count_ < kSize) ++count_;
    }

  private:
    static constexpr int kSize = 16;
    struct Entry {
        XfId from, to;
    };
    Entry entries_[kSize] = {};
    int count_ = 0;
    int next_ = 0;
};

}  // namespace

template <typename Change>
void TXLSRange::ForEachCell(int c1, int r1, int c2, int r2, Change change) {
    TCellFormats& formats = sheet_.Workbook().Formats();
    TChangeMemo memo;
    // Every position of the selection is filled with a blank cell if it has none, in the same
    // walk that changes the cells of the part the setter affects: one look-up per position.
    for (int row = row1_; row <= row2_; ++row) {
        const bool row_changes = row >= r1 && row <= r2;
        for (int col = col1_; col <= col2_; ++col) {
            TCell& cell = sheet_.FillBlank(static_cast<uint32_t>(col), static_cast<uint32_t>(row));
            if (!row_changes || col < c1 || col > c2) continue;
            const XfId from = cell.xf;
            XfId to;
            if (memo.Find(from, to)) {
                if (to != from) {
                    formats.Acquire(to);
                    formats.Release(from);
                }
                cell.xf = to;
                continue;
            }
            to = change(formats, from);
            cell.xf = to;
            memo.Add(from, to);
        }
    }
}

void TXLSRange::Outline(TBorderSide side, TCellBorderStyle style) {
    int c1 = col1_, r1 = row1_, c2 = col2_, r2 = row2_;
    switch (side) {
        case bsTop:
            r2 = r1;
            break;
        case bsBottom:
            r1 = r2;
            break;
        case bsLeft:
            c2 = c1;
            break;
        case bsRight:
            c1 = c2;
            break;
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

void TXLSRange::SetBorderTopStyle(TCellBorderStyle style) {
    Outline(bsTop, style);
}
void TXLSRange::SetBorderBottomStyle(TCellBorderStyle style) {
    Outline(bsBottom, style);
}
void TXLSRange::SetBorderLeftStyle(TCellBorderStyle style) {
    Outline(bsLeft, style);
}
void TXLSRange::SetBorderRightStyle(TCellBorderStyle style) {
    Outline(bsRight, style);
}

void TXLSRange::SetBorderInsideHorizStyle(TCellBorderStyle style) {
    ForEachCell(col1_, row1_, col2_, row2_ - 1,
                [&](TCellFormats& f, XfId xf) { return WithBorderStyle(f, xf, bsBottom, style); });
}

void TXLSRange::SetBorderInsideVertStyle(TCellBorderStyle style) {
    ForEachCell(col1_, row1_, col2_ - 1, row2_,
                [&](TCellFormats& f, XfId xf) { return WithBorderStyle(f, xf, bsRight, style); });
}

void TXLSRange::SetTextFlags(TTextFlags flags) {
    ForEachCell(col1_, row1_, col2_, row2_,
                [&](TCellFormats& f, XfId xf) { return WithTextFlags(f, xf, flags); });
}

void TXLSRange::SetFontName(std::u16string_view name) {
    ForEachCell(col1_, row1_, col2_, row2_,
                [&](TCellFormats& f, XfId xf) { return WithFontName(f, xf, name); });
}

void TXLSRange::SetFontSize(int points) {
    ForEachCell(col1_, row1_, col2_, row2_,
                [&](TCellFormats& f, XfId xf) { return WithFontSize(f, xf, points); });
}

void TXLSRange::SetFontStyle(TXFontStyles style) {
    ForEachCell(col1_, row1_, col2_, row2_,
                [&](TCellFormats& f, XfId xf) { return WithFontStyle(f, xf, style); });
}

void TXLSRange::SetHorizAlignment(THorizAlignment value) {
    ForEachCell(col1_, row1_, col2_, row2_,
                [&](TCellFormats& f, XfId xf) { return WithHorizAlignment(f, xf, value); });
}

void TXLSRange::SetVertAlignment(TVertAlignment value) {
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
