#include "workbook/model/range.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <tuple>

#include "workbook/model/process_values.h"
#include "workbook/model/workbook_model.h"

namespace linograf::workbook {
namespace {

std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no exception";
}

class RangeTest : public ::testing::Test {
  protected:
    void SetUp() override { SetSheetLimits(xvExcel97); }
    void TearDown() override { SetSheetLimits(xvExcel97); }
    TWorkbookModel book;
    TSheet& sheet = book.Sheet(0);
    TXLSRange& range = sheet.Range();

    int CountCells() {
        int n = 0;
        auto it = sheet.Cells().Cells();
        while (it.Next()) ++n;
        return n;
    }
    const TCellFormat& FormatAt(uint32_t col, uint32_t row) {
        const TCell* c = sheet.Cells().Find(col, row);
        EXPECT_NE(c, nullptr) << col << ":" << row;
        return book.Formats().ById(c->xf);
    }
    int IndexAt(uint32_t col, uint32_t row) { return FormatAt(col, row).Position(); }
};

TEST_F(RangeTest, SelectionIsClampedOrderedAndShaped) {
    struct Case {
        int c1, r1, c2, r2;
        int col1, row1, col2, row2, shape;
    };
    const Case cases[] = {
        {-1, 3, 2, 0, 0, 0, 2, 3, 3},
        {0, 0, 0, 0, 0, 0, 0, 0, 0},
        {2, 1, 2, 5, 2, 1, 2, 5, 1},
        {5, 2, 1, 2, 1, 2, 5, 2, 2},
        {250, 0, 300, 70000, 250, 0, 255, 65535, 3},
    };
    for (const Case& c : cases) {
        TXLSRange& r = range.Items(c.c1, c.r1, c.c2, c.r2);
        EXPECT_EQ(&r, &range);
        EXPECT_EQ(r.Col1(), c.col1);
        EXPECT_EQ(r.Row1(), c.row1);
        EXPECT_EQ(r.Col2(), c.col2);
        EXPECT_EQ(r.Row2(), c.row2);
        EXPECT_EQ(r.Shape(), c.shape) << c.c1 << "," << c.r1 << "," << c.c2 << "," << c.r2;
    }
}

TEST_F(RangeTest, SelectionOutsideTheSheetLimitsFailsAndKeepsThePreviousOne) {
    range.Items(1, 1, 2, 2);
    for (auto bad : {std::tuple{300, 0, 305, 0}, std::tuple{0, 65536, 0, 65540}, std::tuple{-5, 0, -1, 0},
                     std::tuple{0, -3, 0, -1}}) {
        EXPECT_EQ(Message([&] { std::apply([&](auto... at) { range.Items(at...); }, bad); }),
                  "Range is outside sheet limits");
        EXPECT_EQ(range.Col1(), 1);
        EXPECT_EQ(range.Row2(), 2);
    }
    SetSheetLimits(xvExcel2007);
    range.Items(300, 0, 305, 0);
    EXPECT_EQ(range.Col1(), 300);
    EXPECT_EQ(range.Col2(), 305);
    EXPECT_EQ(range.Shape(), 2);
}

TEST_F(RangeTest, TopBorderOnAnEmptyRectangle) {
    range.Items(1, 1, 3, 3).SetBorderTopStyle(cbsThin);  // B2:D4
    EXPECT_EQ(CountCells(), 9);
    for (uint32_t row = 1; row <= 3; ++row) {
        for (uint32_t col = 1; col <= 3; ++col) {
            SCOPED_TRACE(std::to_string(col) + ":" + std::to_string(row));
            EXPECT_EQ(sheet.CellType(col, row), ctBlank);
            if (row == 1) {
                EXPECT_EQ(FormatAt(col, row).BorderStyle(bsTop), cbsThin);
                EXPECT_EQ(FormatAt(col, row).BorderColor(bsTop), 64);
                EXPECT_EQ(IndexAt(col, row), 22);
            } else {
                EXPECT_EQ(IndexAt(col, row), kDefaultCellFormat);
            }
        }
    }
    EXPECT_EQ(book.Formats().Count(), 23);
    EXPECT_EQ(book.Formats().Items(22).UseCount(), 3);
}

TEST_F(RangeTest, OutlineAndInsideBordersReachTheRightSides) {
    range.Items(0, 0, 2, 2);
    range.SetBorderTopStyle(cbsMedium);
    range.SetBorderBottomStyle(cbsThick);
    range.SetBorderLeftStyle(cbsDashed);
    range.SetBorderRightStyle(cbsDotted);
    range.SetBorderInsideHorizStyle(cbsThin);
    range.SetBorderInsideVertStyle(cbsHair);
    for (uint32_t row = 0; row <= 2; ++row) {
        for (uint32_t col = 0; col <= 2; ++col) {
            SCOPED_TRACE(std::to_string(col) + ":" + std::to_string(row));
            const TCellFormat& f = FormatAt(col, row);
            EXPECT_EQ(f.BorderStyle(bsTop), row == 0 ? cbsMedium : cbsNone);
            EXPECT_EQ(f.BorderStyle(bsBottom), row == 2 ? cbsThick : cbsThin);
            EXPECT_EQ(f.BorderStyle(bsLeft), col == 0 ? cbsDashed : cbsNone);
            EXPECT_EQ(f.BorderStyle(bsRight), col == 2 ? cbsDotted : cbsHair);
            // Outline sides get the automatic colour; inside borders leave colours alone.
            EXPECT_EQ(f.BorderColor(bsTop), row == 0 ? 64 : 0);
            EXPECT_EQ(f.BorderColor(bsLeft), col == 0 ? 64 : 0);
            EXPECT_EQ(f.BorderColor(bsBottom), row == 2 ? 64 : 0);
        }
    }
}

// More distinct formats along each row than a pass keeps results for, each column with its own:
// every cell keeps its own attributes and gains the new ones, and the formats' use counts still
// add up to the cells that refer to them.
TEST_F(RangeTest, ManyFormatsAlongTheRowsEachKeepTheirOwnAttributes) {
    constexpr int kColumns = 40, kRows = 6;
    auto horiz = [](int col) { return static_cast<THorizAlignment>(col % 8); };
    auto vert = [](int col) { return static_cast<TVertAlignment>((col / 8) % 5); };
    for (int col = 0; col < kColumns; ++col) {
        range.Items(col, 0, col, kRows - 1).SetHorizAlignment(horiz(col));
        range.SetVertAlignment(vert(col));
    }
    range.Items(0, 0, kColumns - 1, kRows - 1);
    range.SetBorderLeftStyle(cbsThick);
    range.SetBorderInsideVertStyle(cbsThin);
    range.SetTextFlags({tfWrapText});
    int counted = 0;
    for (int i = book.Formats().Boundary(); i < book.Formats().Count(); ++i) {
        EXPECT_EQ(book.Formats().Find(book.Formats().Items(i)), i) << "one format of each kind";
        counted += book.Formats().Items(i).UseCount();
    }
    int non_default = 0;
    for (uint32_t row = 0; row < kRows; ++row) {
        for (uint32_t col = 0; col < kColumns; ++col) {
            SCOPED_TRACE(std::to_string(col) + ":" + std::to_string(row));
            const TCellFormat& f = FormatAt(col, row);
            EXPECT_EQ(f.HorizAlignment(), horiz(static_cast<int>(col)));
            EXPECT_EQ(f.VertAlignment(), vert(static_cast<int>(col)));
            EXPECT_EQ(f.BorderStyle(bsLeft), col == 0 ? cbsThick : cbsNone);
            EXPECT_EQ(f.BorderStyle(bsRight), col + 1 < kColumns ? cbsThin : cbsNone);
            EXPECT_EQ(f.TextFlags(), TTextFlags{tfWrapText});
            if (IndexAt(col, row) >= book.Formats().Boundary()) ++non_default;
        }
    }
    EXPECT_EQ(counted, non_default);
    EXPECT_EQ(non_default, kColumns * kRows);
}

TEST_F(RangeTest, InsideBordersOfASingleCellOnlyFillIt) {
    range.Items(4, 4, 4, 4).SetBorderInsideVertStyle(cbsThin);
    EXPECT_EQ(CountCells(), 1);
    EXPECT_EQ(IndexAt(4, 4), kDefaultCellFormat);
    range.Items(0, 0, 3, 0).SetBorderInsideHorizStyle(cbsThin);  // one row: no inside rows
    EXPECT_EQ(CountCells(), 5);
    EXPECT_EQ(book.Formats().Count(), 22);
}

TEST_F(RangeTest, CentreThenGeneralAlignment) {
    range.Items(0, 0, 3, 1).SetHorizAlignment(haCenter);
    for (uint32_t col = 0; col <= 3; ++col) EXPECT_EQ(IndexAt(col, 1), 22);
    EXPECT_EQ(FormatAt(0, 0).HorizAlignment(), haCenter);
    EXPECT_EQ(book.Formats().Items(22).UseCount(), 8);

    range.SetHorizAlignment(haGeneral);
    EXPECT_EQ(book.Formats().Count(), 23);
    for (uint32_t col = 0; col <= 3; ++col) {
        EXPECT_EQ(IndexAt(col, 0), 22);
        EXPECT_EQ(FormatAt(col, 0).HorizAlignment(), haGeneral);
        EXPECT_NE(FormatAt(col, 0).UsedAttributesWord() & 0x1000, 0);
    }
}

TEST_F(RangeTest, BoldOnARectangleAddsOneFontAndOneFormat) {
    sheet.SetAsWideString(1, 1, u"title");
    range.Items(0, 0, 2, 2).SetFontStyle({xfsBold});
    EXPECT_EQ(book.Fonts().Count(), 6);
    EXPECT_EQ(book.Formats().Count(), 23);
    for (uint32_t row = 0; row <= 2; ++row)
        for (uint32_t col = 0; col <= 2; ++col) EXPECT_EQ(IndexAt(col, row), 22);
    EXPECT_EQ(sheet.AsString(1, 1), u"title");  // values stay
    const TXFont& font = book.Fonts().Items(5);
    EXPECT_TRUE(font.style.Contains(xfsBold));
    EXPECT_EQ(font.name, u"Arial");
    EXPECT_EQ(font.height, 200u);

    range.SetFontSize(0);
    EXPECT_EQ(book.Fonts().Count(), 6);
    range.SetFontSize(14);
    range.SetFontName(u"Courier New");
    const TXFont& big = book.Fonts().Items(FormatAt(0, 0).FontIndex());
    EXPECT_EQ(big.height, 280u);
    EXPECT_EQ(big.name, u"Courier New");
    EXPECT_TRUE(big.style.Contains(xfsBold));
    // Fonts and formats nothing uses any more are gone again.
    EXPECT_EQ(book.Fonts().Count(), 6);
    EXPECT_EQ(book.Formats().Count(), 23);
}

TEST_F(RangeTest, WrapAndVerticalAlignment) {
    range.Items(0, 0, 1, 0);
    range.SetTextFlags({tfWrapText});
    range.SetVertAlignment(vaCenter);
    EXPECT_EQ(FormatAt(1, 0).TextFlags(), TTextFlags{tfWrapText});
    EXPECT_EQ(FormatAt(1, 0).VertAlignment(), vaCenter);
    EXPECT_EQ(IndexAt(0, 0), IndexAt(1, 0));
}

TEST_F(RangeTest, FilledBlanksTakeTheColumnFormat) {
    sheet.Columns().AddIfNone(1, 1);
    sheet.Columns().Items(1)->SetHorizAlignment(haRight);
    range.Items(0, 0, 1, 0).SetVertAlignment(vaTop);
    EXPECT_EQ(FormatAt(1, 0).HorizAlignment(), haRight);
    EXPECT_EQ(FormatAt(1, 0).VertAlignment(), vaTop);
    EXPECT_EQ(FormatAt(0, 0).HorizAlignment(), haGeneral);
}

TEST_F(RangeTest, MergingAndUnmerging) {
    sheet.SetAsInteger(1, 0, 5);
    range.Items(0, 0, 2, 0).SetMerged(true);
    EXPECT_EQ(sheet.MergedCells().Count(), 1);
    EXPECT_EQ(CountCells(), 1);  // merging touches no cells
    EXPECT_EQ(Message([&] { range.SetMerged(true); }), "Can not change part of a merged cell");
    EXPECT_EQ(Message([&] { range.Items(2, 0, 4, 3).SetMerged(true); }),
              "Can not change part of a merged cell");
    EXPECT_EQ(Message([&] { range.Items(1, 0, 1, 0).SetMerged(false); }),
              "Can not change part of a merged cell");
    EXPECT_EQ(sheet.MergedCells().Count(), 1);
    range.Items(0, 0, 0, 0).SetMerged(false);  // trims the left cell off
    ASSERT_EQ(sheet.MergedCells().Count(), 1);
    EXPECT_EQ(sheet.MergedCells().Items(0).col1, 1);
    range.Items(0, 0, 10, 10).SetMerged(false);
    EXPECT_EQ(sheet.MergedCells().Count(), 0);
    EXPECT_EQ(sheet.AsFloat(1, 0), 5);
}

}  // namespace
}  // namespace linograf::workbook
