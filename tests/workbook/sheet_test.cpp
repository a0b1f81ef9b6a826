#include "workbook/model/sheet.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "workbook/model/date_formats.h"
#include "workbook/model/format_changes.h"
#include "workbook/model/process_values.h"
#include "workbook/model/workbook_model.h"

namespace linograf::workbook {
namespace {

class SheetTest : public ::testing::Test {
  protected:
    void SetUp() override { SetSheetLimits(xvExcel97); }
    TWorkbookModel book;
    TSheet& sheet = book.Sheet(0);

    std::u16string NumberFormatOf(uint32_t col, uint32_t row) {
        const TCell* c = sheet.Cells().Find(col, row);
        const TCellFormat& f = book.Formats().ById(c->xf);
        return book.Formats().NumberFormats().ById(f.NumberFormatIndex()).Text();
    }
    int FormatIndexOf(uint32_t col, uint32_t row) {
        return sheet.CellFormatIndex(*sheet.Cells().Find(col, row));
    }
};

std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no exception";
}

TEST_F(SheetTest, SheetsAreNamedByTheirCreationNumberFromOneAfterAClear) {
    EXPECT_EQ(book.Sheets().Count(), 1);
    EXPECT_EQ(sheet.Name(), u"Sheet1");
    EXPECT_EQ(book.Sheets().Add().Name(), u"Sheet2");
    book.Sheets().Clear();
    EXPECT_EQ(book.Sheets().Count(), 0);
    // Cleared, the collection counts from 1 again: a new workbook's only sheet is "Sheet1".
    EXPECT_EQ(book.Sheets().Add().Name(), u"Sheet1");

    TWorkbookModel other;
    other.Sheets().Add();
    other.ClearModel();
    EXPECT_EQ(other.Sheet(0).Name(), u"Sheet1");
}

TEST_F(SheetTest, RenamingChecksTheOtherSheetsWithoutRegardToCase) {
    TSheet& second = book.Sheets().Add();
    second.SetName(u"\u0416\u0443\u0440\u043D\u0430\u043B");  // "Журнал"
    EXPECT_EQ(book.Sheets().Find(u"\u0436\u0423\u0440\u043D\u0430\u043B"), &second);
    EXPECT_EQ(book.Sheets().Find(u"SHEET1"), &sheet);
    EXPECT_EQ(book.Sheets().Find(u"Sheet9"), nullptr);

    EXPECT_EQ(Message([&] { second.SetName(u"sheet1"); }), "Sheet name \"sheet1\" allready exists");
    EXPECT_EQ(second.Name(), u"\u0416\u0443\u0440\u043D\u0430\u043B");
    sheet.SetName(u"SHEET1");  // its own name in other letters: nothing happens
    EXPECT_EQ(sheet.Name(), u"Sheet1");
    sheet.SetName(u"Data");
    EXPECT_EQ(book.Sheets().Names(), (std::vector<std::u16string>{u"Data", second.Name()}));
}

TEST_F(SheetTest, ValuesReadBackAsTextAndNumber) {
    SetStrTRUE(u"YES");
    sheet.SetAsInteger(0, 0, -42);
    sheet.SetAsFloat(1, 0, 0.1 + 0.2);
    sheet.SetAsFloat(2, 0, 1e20);
    sheet.SetAsFloat(3, 0, 1.5e-7);
    sheet.SetAsFloat(4, 0, 123456.789);
    sheet.SetAsBoolean(5, 0, true);
    sheet.SetAsBoolean(6, 0, false);
    sheet.SetAsWideString(7, 0, u"\u0442\u0435\u043A\u0441\u0442");
    sheet.SetError(8, 0, 15, ceDiv0);
    sheet.SetBlank(9, 0, 15);

    struct Case {
        uint32_t col;
        TCellType type;
        std::u16string text;
        double number;
    };
    const Case cases[] = {
        {0, ctInteger, u"-42", -42},
        {1, ctFloat, u"0.3", 0.1 + 0.2},
        {2, ctFloat, u"1E20", 1e20},
        {3, ctFloat, u"1.5E-7", 1.5e-7},
        {4, ctFloat, u"123456.789", 123456.789},
        {5, ctBoolean, u"YES", 0},
        {6, ctBoolean, u"FALSE", 0},
        {7, ctString, u"\u0442\u0435\u043A\u0441\u0442", 0},
        {8, ctError, u"#DIV/0!", 0},
        {9, ctBlank, u"", 0},
        {10, ctNone, u"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.col);
        EXPECT_EQ(sheet.CellType(c.col, 0), c.type);
        EXPECT_EQ(sheet.AsString(c.col, 0), c.text);
        EXPECT_EQ(sheet.AsFloat(c.col, 0), c.number);
    }
    SetStrTRUE(u"TRUE");
}

TEST_F(SheetTest, EmptyTextIsATextCell) {
    sheet.SetAsWideString(0, 0, u"");
    EXPECT_EQ(sheet.CellType(0, 0), ctString);
    EXPECT_EQ(book.SST().Count(), 1u);
}

TEST_F(SheetTest, OneTextInAThousandCellsIsOneEntry) {
    for (uint32_t row = 0; row < 1000; ++row) sheet.SetAsWideString(0, row, u"OK");
    EXPECT_EQ(book.SST().Count(), 1u);
    EXPECT_EQ(book.SST().RefTotal(), 1000u);
    EXPECT_EQ(sheet.Cells().Find(0, 999)->value.entry->UseCount(), 1000u);
}

TEST_F(SheetTest, ReplacingAndDeletingTextCellsReleasesTheirText) {
    sheet.SetAsWideString(0, 0, u"gone");
    sheet.SetAsWideString(1, 0, u"kept");
    sheet.SetAsInteger(0, 0, 5);
    sheet.DeleteCell(1, 0);
    sheet.DeleteCell(3, 3);  // nothing there
    EXPECT_EQ(book.SST().Count(), 0u);
    EXPECT_EQ(sheet.CellType(1, 0), ctNone);
    sheet.SetAsWideString(2, 0, u"same");
    sheet.SetAsWideString(2, 0, u"same");
    EXPECT_EQ(book.SST().Count(), 1u);
    EXPECT_EQ(sheet.Cells().Find(2, 0)->value.entry->UseCount(), 1u);
}

TEST_F(SheetTest, NewCellsTakeTheColumnFormatThenTheRowFormat) {
    sheet.Columns().AddIfNone(2, 1);
    sheet.Columns().Items(2)->SetHorizAlignment(haRight);
    sheet.Rows().AddIfNone(5).SetHorizAlignment(haCenter);
    int column_format = sheet.Columns().Items(2)->FormatIndex();
    int row_format = sheet.Rows().Find(5)->FormatIndex();
    ASSERT_NE(column_format, kDefaultCellFormat);
    ASSERT_NE(row_format, kDefaultCellFormat);

    sheet.SetAsInteger(2, 0, 1);
    sheet.SetAsInteger(2, 5, 1);  // the column wins over the row
    sheet.SetAsInteger(3, 5, 1);
    sheet.SetAsInteger(3, 6, 1);
    EXPECT_EQ(FormatIndexOf(2, 0), column_format);
    EXPECT_EQ(FormatIndexOf(2, 5), column_format);
    EXPECT_EQ(FormatIndexOf(3, 5), row_format);
    EXPECT_EQ(FormatIndexOf(3, 6), kDefaultCellFormat);
    // Counted once for the column object and once per cell.
    EXPECT_EQ(book.Formats().Items(column_format).UseCount(), 3);
}

TEST_F(SheetTest, ANewValueKeepsTheFormatOfTheCellItReplaces) {
    sheet.SetAsWideString(0, 0, u"x");
    TCell* c = sheet.Cells().Find(0, 0);
    c->xf = WithHorizAlignment(book.Formats(), c->xf, haCenter);
    int formatted = FormatIndexOf(0, 0);
    sheet.SetAsInteger(0, 0, 7);
    EXPECT_EQ(FormatIndexOf(0, 0), formatted);
    EXPECT_EQ(book.Formats().Items(formatted).UseCount(), 1);
    sheet.SetAsFloat(0, 0, 7.5);
    sheet.SetAsBoolean(0, 0, true);
    EXPECT_EQ(FormatIndexOf(0, 0), formatted);
    EXPECT_EQ(book.Formats().Count(), 23);
}

TEST_F(SheetTest, DateTimeValuesGetADateTimeOrBothFormats) {
    struct Case {
        double value;
        std::u16string format;
    };
    const Case cases[] = {
        {0.5, u"hh:mm:ss"}, {40000.0, u"dd.mm.yyyy"}, {40000.25, u"dd.mm.yyyy hh:mm:ss"},
        {0, u"General"},    {-1.5, u"General"},
    };
    uint32_t row = 0;
    for (const Case& c : cases) {
        sheet.SetAsDateTime(0, row, c.value);
        EXPECT_EQ(sheet.CellType(0, row), ctFloat);
        EXPECT_EQ(sheet.AsFloat(0, row), c.value);
        EXPECT_EQ(NumberFormatOf(0, row), c.format) << c.value;
        ++row;
    }
    // Two date cells share one format.
    sheet.SetAsDateTime(1, 0, 41000.0);
    EXPECT_EQ(sheet.Cells().Find(1, 0)->xf, sheet.Cells().Find(0, 1)->xf);
}

TEST(DateFormats, AmPmMarkersGetTheirSlash) {
    EXPECT_EQ(ExcelTimeFormat(u"h:mm AMPM"), u"h:mm AM/PM");
    EXPECT_EQ(ExcelTimeFormat(u"hh:mm:ss ampm"), u"hh:mm:ss am/pm");
    EXPECT_EQ(ExcelTimeFormat(u"HH:mm"), u"HH:mm");
}

TEST_F(SheetTest, VariantsMakeTheMatchingCellKind) {
    struct Case {
        TCellVariant value;
        TCellType type;
        std::u16string text;
    };
    const Case cases[] = {
        {int8_t{-5}, ctInteger, u"-5"},
        {uint16_t{65535}, ctInteger, u"65535"},
        {uint32_t{4000000000u}, ctFloat, u"4000000000"},
        {int64_t{1} << 40, ctFloat, u"1099511627776"},
        {2.5f, ctFloat, u"2.5"},
        {TVariantCurrency{12345}, ctFloat, u"1.2345"},
        {TVariantDate{40000.5}, ctFloat, u"40000.5"},
        {true, ctBoolean, u"TRUE"},
        {std::u16string(u"w"), ctString, u"w"},
        {std::string("\xD0\xB4"), ctString, u"\u0434"},
    };
    uint32_t row = 0;
    for (const Case& c : cases) {
        sheet.SetAsVariant(0, row, c.value);
        EXPECT_EQ(sheet.CellType(0, row), c.type) << row;
        EXPECT_EQ(sheet.AsString(0, row), c.text) << row;
        ++row;
    }
    // A date variant is a plain number: no date format.
    EXPECT_EQ(NumberFormatOf(0, 6), u"General");

    sheet.SetAsInteger(1, 0, 9);
    for (const TCellVariant& nothing :
         {TCellVariant{}, TCellVariant{TVariantNull{}}, TCellVariant{TVariantError{}}}) {
        sheet.SetAsVariant(1, 0, nothing);
        EXPECT_EQ(sheet.AsString(1, 0), u"9");
        sheet.SetAsVariant(1, 1, nothing);
        EXPECT_EQ(sheet.CellType(1, 1), ctNone);
    }
}

TEST_F(SheetTest, ReaderSettersUseTheGivenFormatOrFifteen) {
    book.Formats().Add();  // position 22
    sheet.SetFloat(0, 0, 22, 1.0);
    sheet.SetFloat(1, 0, 23, 1.0);
    sheet.SetBoolean(2, 0, 500, true);
    EXPECT_EQ(FormatIndexOf(0, 0), 22);
    EXPECT_EQ(FormatIndexOf(1, 0), kDefaultCellFormat);
    EXPECT_EQ(FormatIndexOf(2, 0), kDefaultCellFormat);

    TSST2& sst = book.SST();
    sst.AddLoaded(sst.Add(u"first"));
    sst.AddLoaded(sst.Add(u"second"));
    sheet.SetSSTString(0, 1, 15, 1);
    sheet.SetSSTString(1, 1, 15, 1);
    EXPECT_EQ(sheet.AsString(1, 1), u"second");
    EXPECT_THROW(sheet.SetSSTString(2, 1, 15, 2), std::out_of_range);
    EXPECT_EQ(sheet.CellType(2, 1), ctNone);
    // The cells' references reach the entry when the read ends.
    TSSTEntry* second = sst.LoadedEntry(1);
    sst.ClearLoadIndex();
    EXPECT_EQ(second->UseCount(), 3u);
}

TEST_F(SheetTest, ACellOfASharedFormulaCannotBeReplaced) {
    auto formula = std::make_unique<TFormulaData>();
    formula->number = 3;
    formula->text = u"=A1+A2";
    formula->in_shared_group = true;
    sheet.SetFormula(0, 0, 15, ctNumberFormula, std::move(formula));
    EXPECT_EQ(sheet.AsFloat(0, 0), 3);
    EXPECT_EQ(sheet.AsString(0, 0), u"3");
    book.SetShowFormulas(true);
    EXPECT_EQ(sheet.AsString(0, 0), u"=A1+A2");

    EXPECT_EQ(Message([&] { sheet.SetAsWideString(0, 0, u"over"); }), "Can not delete shared formula");
    EXPECT_EQ(sheet.CellType(0, 0), ctNumberFormula);
    EXPECT_EQ(book.SST().Count(), 0u);  // the text of the failed write is not left behind
}

TEST_F(SheetTest, UsedAreaAndDimensions) {
    struct Case {
        std::vector<std::pair<uint32_t, uint32_t>> cells;  // (col, row)
        uint32_t dims[4];                                  // first row, last row + 1, first col, last col + 1
    };
    const Case cases[] = {
        {{}, {0, 1, 0, 1}},
        {{{2, 5}, {7, 3}}, {3, 6, 2, 8}},
        {{{300, 70000}}, {65535, 65535, 255, 255}},
        {{{254, 65534}}, {65534, 65535, 254, 255}},
    };
    for (const Case& c : cases) {
        sheet.Clear();
        for (auto [col, row] : c.cells) sheet.SetAsInteger(col, row, 1);
        sheet.CalcDimensions();
        TRecordStorageSheet& r = sheet.Records();
        EXPECT_EQ(r.U32(rec::DIMENSIONS, 0), c.dims[0]);
        EXPECT_EQ(r.U32(rec::DIMENSIONS, 4), c.dims[1]);
        EXPECT_EQ(r.U16(rec::DIMENSIONS, 8), c.dims[2]);
        EXPECT_EQ(r.U16(rec::DIMENSIONS, 10), c.dims[3]);
    }
    EXPECT_EQ(sheet.FirstRow(), 65534u);
    EXPECT_EQ(sheet.LastCol(), 254u);
}

TEST_F(SheetTest, SheetPropertiesAreViewsOfItsRecords) {
    TRecordStorageSheet& r = sheet.Records();
    EXPECT_EQ(sheet.Options(), (TSheetOptions{soGridlines, soRowColHeadings, soShowZeros}));
    EXPECT_EQ(sheet.WorkspaceOptions(),
              (TWorkspaceOptions{woShowAutoBreaks, woRowSumsBelow, woColSumsRight, woOutlineSymbols}));
    sheet.SetOptions({});
    EXPECT_EQ(r.U16(rec::WINDOW2, 0), 0x04A0);
    sheet.SetOptions({soGridlines, soFrozenPanes, soShowZeros, soProtected});
    EXPECT_EQ(r.U16(rec::WINDOW2, 0), 0x04BA);
    sheet.SetWorkspaceOptions({woApplyStyles, woFitToPage});
    EXPECT_EQ(r.U16(rec::WSBOOL, 0), 0x0120);

    sheet.SetDefaultRowHeight(300);
    EXPECT_EQ(r.U16(rec::DEFAULTROWHEIGHT, 0), 1);
    EXPECT_EQ(r.U16(rec::DEFAULTROWHEIGHT, 2), 300);
    sheet.SetDefaultRowHeight(255);
    EXPECT_EQ(r.U16(rec::DEFAULTROWHEIGHT, 0), 0);
    sheet.SetDefaultColWidth(12);
    sheet.SetZoom(150);
    sheet.SetZoomPreview(60);
    EXPECT_EQ(r.U16(rec::DEFCOLWIDTH, 0), 12);
    EXPECT_EQ(r.U16(rec::WINDOW2, 12), 150);
    EXPECT_EQ(r.U16(rec::WINDOW2, 10), 60);

    // The views keep working on the records the writer walks.
    r.CopyDefaults();
    sheet.SetZoom(80);
    bool found = false;
    for (int i = 0; i < r.Count(); ++i)
        if (r.Items(i).id == rec::WINDOW2) found = r.Items(i).data[12] == 80;
    EXPECT_TRUE(found);
}

TEST_F(SheetTest, ClearingASheetStartsItOver) {
    sheet.SetTabColor(10);
    sheet.SetSheetProtection({spFormatCells});
    sheet.SetAsWideString(0, 0, u"x");
    sheet.MergedCells().Add(0, 0, 1, 1);
    sheet.Columns().AddIfNone(0, 3);
    sheet.Rows().AddIfNone(4);
    sheet.SetZoom(120);
    sheet.Clear();
    EXPECT_EQ(sheet.TabColor(), 64);
    EXPECT_EQ(sheet.SheetProtection(), kAllSheetProtections);
    EXPECT_EQ(sheet.CellType(0, 0), ctNone);
    EXPECT_EQ(book.SST().Count(), 0u);
    EXPECT_EQ(sheet.MergedCells().Count(), 0);
    EXPECT_EQ(sheet.Columns().Items(1), nullptr);
    EXPECT_EQ(sheet.Rows().Count(), 0);
    EXPECT_EQ(sheet.Zoom(), 0);
    EXPECT_EQ(sheet.PrintSettings().PaperSize(), psA4);
    EXPECT_FALSE(sheet.Records().DefaultsCopied());
}

}  // namespace
}  // namespace linograf::workbook
