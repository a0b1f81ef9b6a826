#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

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

class ColumnsRowsTest : public ::testing::Test {
  protected:
    void SetUp() override { SetSheetLimits(xvExcel97); }
    void TearDown() override { SetSheetLimits(xvExcel97); }
    TWorkbookModel book;
    TSheet& sheet = book.Sheet(0);
};

TEST_F(ColumnsRowsTest, AddIfNoneKeepsExistingColumns) {
    TXLSColumns& cols = sheet.Columns();
    cols.AddIfNone(2, 1);
    cols.Items(2)->SetWidth(4000);
    cols.AddIfNone(0, 5);
    for (int c = 0; c < 5; ++c) ASSERT_NE(cols.Items(c), nullptr) << c;
    EXPECT_EQ(cols.Items(2)->Width(), 4000);
    EXPECT_EQ(cols.Items(0)->Width(), kDefaultColumnWidth);
    EXPECT_EQ(cols.Items(0)->FormatIndex(), kDefaultCellFormat);
    EXPECT_EQ(cols.Items(5), nullptr);
    cols.AddIfNone(7, 0);
    cols.AddIfNone(7, -3);
    EXPECT_EQ(cols.Items(7), nullptr);
    EXPECT_EQ(cols.Items(-1), nullptr);
    EXPECT_EQ(cols.Items(16384), nullptr);
}

TEST_F(ColumnsRowsTest, ColumnValueChecks) {
    TXLSColumns& cols = sheet.Columns();
    cols.AddIfNone(0, 1);
    TXLSColumn& c = *cols.Items(0);
    EXPECT_EQ(Message([&] { c.SetWidth(65536); }), "Invalid value");
    EXPECT_EQ(Message([&] { c.SetWidth(-1); }), "Invalid value");
    EXPECT_EQ(Message([&] { c.SetOutlineLevel(17); }), "Invalid value");
    c.SetWidth(65535);
    c.SetOutlineLevel(16);
    EXPECT_EQ(c.Width(), 65535);
    for (auto bad : {std::pair{-1, 3}, std::pair{5, 4}, std::pair{0, 16384}})
        EXPECT_EQ(Message([&] { cols.Delete(bad.first, bad.second); }), "Invalid columns");
    cols.AddIfNone(0, 10);
    cols.Delete(3, 5);
    EXPECT_NE(cols.Items(2), nullptr);
    EXPECT_EQ(cols.Items(3), nullptr);
    EXPECT_EQ(cols.Items(5), nullptr);
    EXPECT_NE(cols.Items(6), nullptr);
}

TEST_F(ColumnsRowsTest, PixelWidthGoesThroughTheWidthOfTheDigitEight) {
    EXPECT_EQ(DigitPixelWidth(book.Fonts().Items(0)), 7);
    sheet.Columns().AddIfNone(0, 1);
    TXLSColumn& c = *sheet.Columns().Items(0);
    const std::pair<int, int> cases[] = {{64, 2340}, {7, 256}, {0, 0}, {100, 3657}};
    for (auto [pixels, width] : cases) {
        c.SetPixelWidth(pixels);
        EXPECT_EQ(c.Width(), width) << pixels;
    }
    // A bigger font 0 makes wider digits.
    book.Fonts().Items(0).height = 400;
    c.SetPixelWidth(64);
    EXPECT_EQ(c.Width(), 64 * 256 / DigitPixelWidth(book.Fonts().Items(0)));
    EXPECT_LT(c.Width(), 2340);
}

TEST_F(ColumnsRowsTest, ColumnsFromColInfoRecords) {
    book.Formats().Add();  // position 22
    // Columns 3..5, width 3000, XF 22, hidden + user-set, outline level 2, collapsed.
    const uint8_t body[] = {3, 0, 5, 0, 0xB8, 0x0B, 22, 0, 0x03, 0x12, 0, 0};
    sheet.Columns().LoadFromRecord(body);
    for (int col = 3; col <= 5; ++col) {
        const TXLSColumn* c = sheet.Columns().Items(col);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->Width(), 3000);
        EXPECT_EQ(c->FormatIndex(), 22);
        EXPECT_TRUE(c->Hidden());
        EXPECT_TRUE(c->UserSet());
        EXPECT_EQ(c->OutlineLevel(), 2);
        EXPECT_TRUE(c->Collapsed());
    }
    EXPECT_TRUE(sheet.Columns().Items(3)->SameAs(*sheet.Columns().Items(5)));
    // Column numbers above 255 are cut to 255; a short record is refused.
    const uint8_t wide[] = {0xFE, 0, 0xFF, 0x3F, 0, 1, 15, 0, 0, 0, 0, 0};
    sheet.Columns().LoadFromRecord(wide);
    EXPECT_NE(sheet.Columns().Items(255), nullptr);
    EXPECT_EQ(sheet.Columns().Items(256), nullptr);
    EXPECT_THROW(sheet.Columns().LoadFromRecord(std::span<const uint8_t>(body, 8)), std::runtime_error);
}

TEST_F(ColumnsRowsTest, RowsStaySortedAndAreFoundAgain) {
    TXLSRows& rows = sheet.Rows();
    EXPECT_EQ(rows.Find(0), nullptr);
    TXLSRow& ten = rows.AddIfNone(10);
    TXLSRow& five = rows.AddIfNone(5);
    EXPECT_EQ(rows.Count(), 2);
    EXPECT_EQ(rows.Items(0).Number(), 5u);
    EXPECT_EQ(rows.Items(1).Number(), 10u);
    EXPECT_EQ(&rows.AddIfNone(5), &five);
    EXPECT_EQ(&rows.AddIfNone(10), &ten);
    rows.AddIfNone(7);
    rows.AddIfNone(1);
    rows.AddIfNone(12);
    std::vector<uint32_t> order;
    for (int i = 0; i < rows.Count(); ++i) order.push_back(rows.Items(i).Number());
    EXPECT_EQ(order, (std::vector<uint32_t>{1, 5, 7, 10, 12}));
    EXPECT_EQ(rows.Find(7)->Number(), 7u);
    EXPECT_EQ(rows.Find(8), nullptr);
    EXPECT_EQ(rows.Find(-1), nullptr);
}

TEST_F(ColumnsRowsTest, RowFlagsFollowTheSetters) {
    TXLSRow& r = sheet.Rows().AddIfNone(3);
    EXPECT_EQ(r.LastColumnPlus1(), 255);
    EXPECT_EQ(r.Height(), 255);
    EXPECT_EQ(r.Options(), 0);
    r.SetHeight(400);
    EXPECT_EQ(r.Options(), kRowCustomHeight);
    r.SetHeight(255);
    EXPECT_EQ(r.Options(), 0);
    r.SetHidden(true);
    r.SetCollapsed(true);
    r.SetOutlineLevel(3);
    EXPECT_EQ(r.Options(), kRowHidden | kRowCollapsed | 3);
    r.SetHidden(false);
    EXPECT_EQ(r.Options(), kRowCollapsed | 3);

    SetSheetLimits(xvExcel2007);
    EXPECT_EQ(sheet.Rows().AddIfNone(70000).LastColumnPlus1(), 16383);
    EXPECT_EQ(sheet.Rows().Find(70000)->Number(), 70000u);
}

TEST_F(ColumnsRowsTest, RowsFromRowRecords) {
    book.Formats().Add();  // position 22
    // Row 9, columns 1..4, height 300, options custom height + own format, XF 22.
    const uint8_t formatted[] = {9, 0, 1, 0, 5, 0, 0x2C, 1, 0, 0, 0, 0, 0xC0, 0x01, 22, 0};
    const uint8_t plain[] = {2, 0, 0, 0, 1, 0, 0xFF, 0, 0, 0, 0, 0, 0x00, 0x01, 22, 0};
    sheet.Rows().LoadFromRecord(formatted);
    sheet.Rows().LoadFromRecord(plain);
    sheet.Rows().Sort();
    const TXLSRow* r9 = sheet.Rows().Find(9);
    ASSERT_NE(r9, nullptr);
    EXPECT_EQ(r9->FirstColumn(), 1);
    EXPECT_EQ(r9->LastColumnPlus1(), 5);
    EXPECT_EQ(r9->Height(), 300);
    EXPECT_EQ(r9->FormatIndex(), 22);
    EXPECT_EQ(sheet.Rows().Find(2)->FormatIndex(), kDefaultCellFormat);  // no own-format flag
    EXPECT_THROW(sheet.Rows().LoadFromRecord(std::span<const uint8_t>(plain, 12)), std::runtime_error);
}

TEST_F(ColumnsRowsTest, ColumnAndRowFormatsReachTheCellsOfTheUsedArea) {
    sheet.SetAsInteger(1, 0, 1);
    sheet.SetAsInteger(1, 2, 2);
    sheet.SetAsInteger(0, 2, 3);
    sheet.CalcDimensions();       // used area: columns 0..1, rows 0..2
    sheet.SetAsInteger(1, 9, 4);  // outside the area as last computed
    sheet.Columns().AddIfNone(1, 1);
    sheet.Columns().Items(1)->SetHorizAlignment(haRight);
    int right = sheet.Columns().Items(1)->FormatIndex();
    auto format_of = [&](uint32_t col, uint32_t row) {
        return sheet.CellFormatIndex(*sheet.Cells().Find(col, row));
    };
    EXPECT_EQ(format_of(1, 0), right);
    EXPECT_EQ(format_of(1, 2), right);
    EXPECT_EQ(format_of(1, 9), kDefaultCellFormat);
    EXPECT_EQ(format_of(0, 2), kDefaultCellFormat);
    EXPECT_EQ(sheet.Cells().Find(1, 1), nullptr);  // absent cells stay absent

    sheet.Rows().AddIfNone(2).SetFontStyle({xfsBold});
    int bold = sheet.Rows().Find(2)->FormatIndex();
    EXPECT_EQ(format_of(0, 2), bold);
    EXPECT_EQ(format_of(1, 2), bold);
    EXPECT_EQ(format_of(1, 0), right);
}

TEST(MergedCells, IntersectionAndDeletion) {
    TMergedCells m;
    m.Add(0, 0, 2, 0);  // A1:C1
    m.Add(4, 4, 6, 8);  // E5:G9
    EXPECT_TRUE(m.Intersects(2, 0, 2, 0));
    EXPECT_TRUE(m.Intersects(0, 0, 10, 10));
    EXPECT_FALSE(m.Intersects(3, 0, 3, 3));
    EXPECT_FALSE(m.Intersects(0, 1, 3, 3));

    struct Case {
        TMergedArea cut;
        bool fails;
        std::vector<TMergedArea> left;
    };
    const Case cases[] = {
        {{4, 4, 6, 8}, false, {}},               // exactly the area
        {{0, 0, 10, 20}, false, {}},             // around it
        {{4, 4, 6, 5}, false, {{4, 6, 6, 8}}},   // the top rows
        {{3, 7, 9, 9}, false, {{4, 4, 6, 6}}},   // the bottom rows
        {{4, 0, 4, 20}, false, {{5, 4, 6, 8}}},  // the left column
        {{6, 4, 8, 8}, false, {{4, 4, 5, 8}}},   // the right column
        {{5, 5, 5, 5}, true, {{4, 4, 6, 8}}},    // a hole
        {{5, 0, 5, 20}, true, {{4, 4, 6, 8}}},   // a middle column: two parts
        {{4, 4, 5, 5}, true, {{4, 4, 6, 8}}},    // a corner: an L shape
        {{20, 20, 21, 21}, false, {{4, 4, 6, 8}}},
    };
    for (const Case& c : cases) {
        TMergedCells one;
        one.Add(4, 4, 6, 8);
        if (c.fails) {
            try {
                one.DeleteIn(c.cut.col1, c.cut.row1, c.cut.col2, c.cut.row2);
                ADD_FAILURE() << "no exception";
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "Can not change part of a merged cell");
            }
        } else {
            one.DeleteIn(c.cut.col1, c.cut.row1, c.cut.col2, c.cut.row2);
        }
        ASSERT_EQ(one.Count(), static_cast<int>(c.left.size()));
        for (size_t i = 0; i < c.left.size(); ++i) {
            const TMergedArea& a = one.Items(static_cast<int>(i));
            EXPECT_EQ(a.col1, c.left[i].col1);
            EXPECT_EQ(a.row1, c.left[i].row1);
            EXPECT_EQ(a.col2, c.left[i].col2);
            EXPECT_EQ(a.row2, c.left[i].row2);
        }
    }

    // Areas handled before a failing one stay changed.
    TMergedCells two;
    two.Add(0, 0, 1, 1);
    two.Add(5, 0, 9, 9);
    EXPECT_THROW(two.DeleteIn(0, 0, 6, 6), std::runtime_error);
    ASSERT_EQ(two.Count(), 1);
    EXPECT_EQ(two.Items(0).col1, 5);
}

TEST_F(ColumnsRowsTest, PrintSettingsDefaultsAndViews) {
    TPrintSettings& p = sheet.PrintSettings();
    TRecordStorageSheet& r = sheet.Records();
    EXPECT_EQ(p.PaperSize(), psA4);
    EXPECT_EQ(p.Options(), TPrintSetupOptions{psoPortrait});
    EXPECT_EQ(r.U16(rec::SETUP, 10), 0x0002);
    EXPECT_EQ(p.StartingPage(), 1);
    EXPECT_EQ(p.ScalingFactor(), 100);
    EXPECT_EQ(p.FitWidth(), 1);
    EXPECT_EQ(p.FitHeight(), 1);
    EXPECT_EQ(p.Resolution(), 600);
    EXPECT_EQ(p.Copies(), 0);
    EXPECT_EQ(p.HeaderMargin(), 0.5);
    EXPECT_EQ(p.margin_left, 0.75);
    EXPECT_EQ(p.margin_bottom, 1.0);

    p.SetOptions({});
    EXPECT_EQ(r.U16(rec::SETUP, 10), 0);
    for (uint16_t id : {rec::PRINTHEADERS, rec::PRINTGRIDLINES, rec::HCENTER, rec::VCENTER})
        EXPECT_EQ(r.U16(id, 0), 0);

    const TPrintSetupOptions all{psoLeftToRight,   psoPortrait,  psoNoColor,     psoDraftQuality, psoNotes,
                                 psoRowColHeading, psoGridlines, psoHorizCenter, psoVertCenter};
    p.SetOptions(all);
    EXPECT_EQ(r.U16(rec::SETUP, 10), 0x003B);
    for (uint16_t id : {rec::PRINTHEADERS, rec::PRINTGRIDLINES, rec::HCENTER, rec::VCENTER})
        EXPECT_EQ(r.U16(id, 0), 1);
    EXPECT_EQ(p.Options(), all);

    p.SetStartingPage(3);
    EXPECT_EQ(r.U16(rec::SETUP, 10) & 0x0080, 0x0080);
    p.SetOptions({psoPortrait});  // the starting page stays in use
    EXPECT_EQ(r.U16(rec::SETUP, 10), 0x0082);
    p.SetStartingPage(1);
    EXPECT_EQ(r.U16(rec::SETUP, 10), 0x0002);

    p.SetFitWidth(70000);
    p.SetFitHeight(-2);
    EXPECT_EQ(p.FitWidth(), 0);
    EXPECT_EQ(p.FitHeight(), 0);
    p.SetFitWidth(2);
    EXPECT_EQ(p.FitWidth(), 2);

    p.SetMarginLeftCm(2.54);
    EXPECT_DOUBLE_EQ(p.margin_left, 1.0);
    p.SetHeaderMarginCm(1.27);
    EXPECT_DOUBLE_EQ(p.HeaderMargin(), 0.5);
    EXPECT_DOUBLE_EQ(r.Double(rec::SETUP, 16), 0.5);
    p.margin_top = 2.0;
    EXPECT_DOUBLE_EQ(p.MarginTopCm(), 5.08);
}

TEST_F(ColumnsRowsTest, NewSheetsTakeTheWorkbookPaperSize) {
    book.SetDefaultPaperSize(psLegal);
    TSheet& second = book.Sheets().Add();
    EXPECT_EQ(second.PrintSettings().PaperSize(), psLegal);
    EXPECT_EQ(second.Records().U16(rec::SETUP, 0), 5);
    EXPECT_EQ(sheet.PrintSettings().PaperSize(), psA4);
}

TEST_F(ColumnsRowsTest, AssigningPrintSettingsCopiesTextsMarginsAndBreaks) {
    TSheet& other = book.Sheets().Add();
    TPrintSettings& from = sheet.PrintSettings();
    from.header = u"top";
    from.footer = u"bottom";
    from.margin_right = 0.3;
    from.horiz_pagebreaks.push_back({10, 0, 255});
    from.SetScalingFactor(50);
    other.PrintSettings() = from;
    EXPECT_EQ(other.PrintSettings().header, u"top");
    EXPECT_EQ(other.PrintSettings().footer, u"bottom");
    EXPECT_EQ(other.PrintSettings().margin_right, 0.3);
    ASSERT_EQ(other.PrintSettings().horiz_pagebreaks.size(), 1u);
    EXPECT_EQ(other.PrintSettings().ScalingFactor(), 100);  // a record view, not copied
    sheet.Clear();
    EXPECT_TRUE(from.horiz_pagebreaks.empty());
    EXPECT_EQ(from.margin_right, 0.75);
}

}  // namespace
}  // namespace linograf::workbook
