// Workbooks written as .xlsx through the workbook component, read by independent consumers:
// unzip -t, python3-openpyxl (values, types, styles, alignment, merges, widths, page setup) and
// LibreOffice headless (CSV of the values).
#include <filesystem>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/date_time.h"
#include "tests/ooxml/xlsx_test_support.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "text/wide_text.h"
#include "workbook/model/cell.h"
#include "workbook/model/format_changes.h"
#include "workbook/model/palette.h"
#include "workbook/model/range.h"

namespace linograf::workbook::test {
namespace {

using ::testing::HasSubstr;

class XlsxPeers : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!linograf::test::PythonHasModule("openpyxl")) GTEST_SKIP() << "python3-openpyxl missing";
    }

    std::string Save(TTabulon4& book, const std::string& name) {
        const std::string path = dir_.File(name);
        book.SetFilename(Utf8ToWide(path));
        book.Write();
        const auto test = linograf::test::RunCommand({"unzip", "-t", path});
        EXPECT_EQ(test.exit_code, 0) << test.output;
        EXPECT_THAT(test.output, HasSubstr("No errors detected"));
        return path;
    }

    linograf::test::TempDir dir_;
};

void SetFill(TSheet& sheet, uint32_t col, uint32_t row, uint8_t pattern, uint8_t color) {
    sheet.FillBlank(col, row);
    TCell* cell = sheet.Cells().Find(col, row);
    cell->xf = sheet.Workbook().Formats().Change(
        cell->xf, [&](const TCellFormat& f) { return f.FillPattern() == pattern && f.FillColor() == color; },
        [&](TCellFormat& f) {
            f.SetFillPattern(pattern);
            f.SetFillColor(color);
        });
}

// The cell at (0, row) holding a text and the format `change` makes of the default one.
template <typename Change>
void SetFormatted(TSheet& sheet, uint32_t row, Change change) {
    sheet.SetAsWideString(0, row, u"x");
    TCell* cell = sheet.Cells().Find(0, row);
    cell->xf = change(sheet.Workbook().Formats(), cell->xf);
}

// Alignment of formats made in memory, one cell per case, and the page setup of each sheet.
TEST_F(XlsxPeers, OpenpyxlReadsAlignmentAndPageSetup) {
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    TSheet& s = book.Sheet(0);
    using F = TCellFormats;
    SetFormatted(s, 0, [](F&, XfId xf) { return xf; });  // the default: no alignment written
    SetFormatted(s, 1, [](F& f, XfId xf) {
        return WithTextFlags(f, WithHorizAlignment(f, xf, haCenter), {tfWrapText});
    });
    SetFormatted(
        s, 2, [](F& f, XfId xf) { return WithVertAlignment(f, WithHorizAlignment(f, xf, haRight), vaTop); });
    SetFormatted(s, 3, [](F& f, XfId xf) { return WithVertAlignment(f, xf, vaCenter); });
    SetFormatted(s, 4, [](F& f, XfId xf) { return WithRotation(f, xf, 45); });
    SetFormatted(s, 5, [](F& f, XfId xf) { return WithRotation(f, xf, -30); });
    SetFormatted(s, 6, [](F& f, XfId xf) { return WithIndent(f, WithHorizAlignment(f, xf, haLeft), 3); });
    SetFormatted(s, 7, [](F& f, XfId xf) { return WithTextFlags(f, xf, {tfShrinkToFit}); });
    SetFormatted(s, 8, [](F& f, XfId xf) { return WithHorizAlignment(f, xf, haCenterAcross); });
    // A bold cell whose alignment is the default keeps a plain xf beside the aligned ones.
    SetFormatted(s, 9, [](F& f, XfId xf) { return WithFontStyle(f, xf, {xfsBold}); });
    s.PrintSettings().SetOptions({});  // landscape
    s.PrintSettings().SetPaperSize(psA3);
    TSheet& upright = book.Sheets().Add();
    upright.PrintSettings().SetOptions({psoPortrait});
    upright.PrintSettings().SetPaperSize(psLetter);
    TSheet& printer_paper = book.Sheets().Add();
    printer_paper.PrintSettings().SetOptions({});
    printer_paper.PrintSettings().SetPaperSize(psDefault);

    const std::string path = Save(book, "aligned.xlsx");
    const std::string out = RunOpenpyxl(path, R"PY(
ws = wb.worksheets[0]
for row in range(1, 11):
    a = ws.cell(row=row, column=1).alignment
    print(row, a.horizontal, a.vertical, a.wrap_text, a.shrink_to_fit, a.text_rotation, a.indent,
          ws.cell(row=row, column=1).font.b)
for ws in wb.worksheets:
    print(ws.title, ws.page_setup.orientation, ws.page_setup.paperSize)
)PY");
    EXPECT_EQ(out,
              "1 None None None None 0 0.0 False\n"
              "2 center None True None 0 0.0 False\n"
              "3 right top None None 0 0.0 False\n"
              "4 None center None None 0 0.0 False\n"
              "5 None None None None 45 0.0 False\n"
              "6 None None None None 120 0.0 False\n"
              "7 left None None None 0 3.0 False\n"
              "8 None None None True 0 0.0 False\n"
              "9 centerContinuous None None None 0 0.0 False\n"
              "10 None None None None 0 0.0 True\n"
              "Sheet1 landscape 8\n"
              "Sheet2 portrait 1\n"
              "Sheet3 landscape None\n");
}

// One sheet with every kind of value and formatting the program produces.
TEST_F(XlsxPeers, OpenpyxlReadsValuesAndFormatting) {
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    TSheet& s = book.Sheet(0);
    s.SetName(u"Журнал");
    s.SetAsWideString(0, 0, u"Заголовок & <итог>");
    s.Range().Items(0, 0, 2, 0).SetMerged(true);
    s.Range().Items(0, 0, 2, 0).SetFontStyle({xfsBold});
    s.SetAsWideString(0, 1, u" text with blanks ");
    s.SetAsInteger(1, 1, -42);
    s.SetAsFloat(2, 1, 0.1);
    s.SetAsFloat(3, 1, 1e20);
    s.SetAsFloat(4, 1, 0.000001);
    s.SetAsDateTime(5, 1, EncodeDateTime({2024, 5, 17, 13, 45, 30, 0}));
    s.SetAsDateTime(6, 1, EncodeDateTime({2023, 12, 31, 0, 0, 0, 0}));
    s.SetAsBoolean(7, 1, true);
    s.SetAsBoolean(8, 1, false);
    s.SetAsWideString(0, 2, u"ctl\x01\x02 _x0041_");
    s.Range().Items(1, 3, 2, 4).SetBorderTopStyle(cbsThin);
    s.Range().Items(1, 3, 2, 4).SetBorderBottomStyle(cbsDouble);
    SetFill(s, 3, 3, 1, xcYellow);
    SetFill(s, 4, 3, 1, xcRed);
    s.Columns().AddIfNone(0, 1);
    s.Columns().Items(0)->SetWidth(20 * 256);
    s.Columns().AddIfNone(27, 1);
    s.Columns().Items(27)->SetWidth(5 * 256 + 128);
    TSheet& second = book.Sheets().Add();
    second.SetName(u"Second");
    second.SetAsWideString(2, 4, u"Заголовок & <итог>");

    const std::string path = Save(book, "peers.xlsx");
    const std::string out = RunOpenpyxl(path, R"PY(
import datetime
print(wb.sheetnames)
ws = wb.worksheets[0]
for row in ws.iter_rows(min_row=1, max_row=3):
    for c in row:
        if c.value is not None:
            print(c.coordinate, type(c.value).__name__, repr(c.value), c.number_format if c.is_date else '')
print('merged', [str(r) for r in ws.merged_cells.ranges])
print('bold', ws['A1'].font.b, ws['B2'].font.b)
print('width', ws.column_dimensions['A'].width, ws.column_dimensions['AB'].width)
print('fills', ws['D4'].fill.patternType, ws['D4'].fill.fgColor.indexed, ws['E4'].fill.fgColor.indexed, ws['B4'].fill.patternType, ws['A2'].fill.patternType)
print('borders', ws['B4'].border.top.style, ws['C5'].border.bottom.style, ws['B5'].border.top.style, ws['D4'].border.top.style)
print('second', repr(wb['Second']['C5'].value))
)PY");
    EXPECT_EQ(out,
              "['Журнал', 'Second']\n"
              "A1 str 'Заголовок & <итог>' \n"
              "A2 str ' text with blanks ' \n"
              "B2 int -42 \n"
              "C2 float 0.1 \n"
              "D2 float 1e+20 \n"
              "E2 float 1e-06 \n"
              "F2 datetime datetime.datetime(2024, 5, 17, 13, 45, 30) dd.mm.yyyy hh:mm:ss\n"
              "G2 datetime datetime.datetime(2023, 12, 31, 0, 0) dd.mm.yyyy\n"
              "H2 bool True \n"
              "I2 bool False \n"
              // openpyxl keeps control characters in their escaped form (it cannot hold them);
              // the literal "_x0041_" must not come back as "A".
              "A3 str 'ctl_x0001__x0002_ _x0041_' \n"
              "merged ['A1:C1']\n"
              "bold True False\n"
              "width 20.0 5.5\n"
              "fills solid 13 10 None None\n"
              "borders thin double None None\n"
              "second 'Заголовок & <итог>'\n");
}

TEST_F(XlsxPeers, LibreOfficeConvertsToTheSameValues) {
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    TSheet& s = book.Sheet(0);
    s.SetAsWideString(0, 0, u"Имя");
    s.SetAsWideString(1, 0, u"a, \"b\" & <c>");
    s.SetAsInteger(0, 1, 12345);
    s.SetAsFloat(1, 1, 2.5);
    s.SetAsBoolean(2, 1, true);
    s.SetAsWideString(0, 3, u"after a gap");
    s.SetAsDateTime(1, 3, EncodeDateTime({2024, 5, 17, 13, 45, 30, 0}));
    s.SetAsFloat(2, 3, 1e-6);
    s.Range().Items(0, 0, 2, 0).SetFontStyle({xfsBold});
    const std::string path = Save(book, "lo.xlsx");
    bool skipped = false;
    const std::string csv = ConvertToCsvWithLibreOffice(path, skipped);
    if (skipped) GTEST_SKIP() << "LibreOffice missing";
    EXPECT_EQ(csv,
              "Имя,\"a, \"\"b\"\" & <c>\",\n"
              "12345,2.5,TRUE\n"
              ",,\n"
              "after a gap,17.05.2024 13:45:30,0.000001\n");
}

// A workbook read from .xls and saved as .xlsx: the default fills, border and xf go first, so
// every style index moves up by one.
TEST_F(XlsxPeers, WorkbookReadFromBiffKeepsItsFormatting) {
    const std::string xls = dir_.File("source.xls");
    {
        TTabulon4 book;
        TSheet& s = book.Sheet(0);
        s.SetAsWideString(0, 0, u"жирный");
        s.Range().Items(0, 0, 0, 0).SetFontStyle({xfsBold});
        s.SetAsInteger(1, 0, 7);
        SetFill(s, 1, 0, 1, xcYellow);
        s.SetAsFloat(0, 1, 2.25);
        s.Range().Items(0, 1, 0, 1).SetBorderBottomStyle(cbsMedium);
        s.SetAsDateTime(1, 1, EncodeDateTime({2024, 2, 29, 0, 0, 0, 0}));
        s.SetAsWideString(2, 0, u"по центру");
        s.Range().Items(2, 0, 2, 0).SetHorizAlignment(haCenter);
        s.Range().Items(2, 0, 2, 0).SetTextFlags({tfWrapText});
        s.PrintSettings().SetOptions({});  // landscape
        book.SetFilename(Utf8ToWide(xls));
        book.Write();
    }
    TTabulon4 book;
    book.SetFilename(Utf8ToWide(xls));
    book.Read();
    ASSERT_EQ(book.OrigVersion(), xvExcel97);
    TSheet& s = book.Sheet(0);
    const int bold_format = s.CellFormatIndex(*s.Cells().Find(0, 0));
    ASSERT_GT(bold_format, 21);
    book.SetVersion(xvExcel2007);
    const std::string path = Save(book, "from_biff.xlsx");
    EXPECT_THAT(PartText(linograf::test::ReadFileBytes(path), "xl/worksheets/sheet1.xml"),
                HasSubstr("<c r=\"A1\" s=\"" + std::to_string(bold_format - 20) + "\" t=\"s\" >"));
    const std::string out = RunOpenpyxl(path, R"PY(
ws = wb.active
print(ws['A1'].value, ws['A1'].font.b, ws['A1'].fill.patternType, ws['A1'].border.bottom.style)
print(ws['B1'].value, ws['B1'].font.b, ws['B1'].fill.patternType, ws['B1'].fill.fgColor.indexed)
print(ws['A2'].value, ws['A2'].border.bottom.style, ws['A2'].fill.patternType)
print(ws['B2'].value, ws['B2'].number_format)
print(ws['C1'].value, ws['C1'].alignment.horizontal, ws['C1'].alignment.wrap_text, ws['A1'].alignment.horizontal)
print(ws.page_setup.orientation)
)PY");
    EXPECT_EQ(out,
              "жирный True None None\n"
              "7 False solid 13\n"
              "2.25 medium None\n"
              "2024-02-29 00:00:00 dd.mm.yyyy\n"
              "по центру center True None\n"
              "landscape\n");
}

// More rows than BIFF8 can hold, up to the last row of the format.
TEST_F(XlsxPeers, RowsBeyondBiffLimits) {
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    TSheet& s = book.Sheet(0);
    constexpr uint32_t kRows = 70000;
    for (uint32_t r = 0; r < kRows; ++r) {
        s.SetAsWideString(0, r, u"строка " + Utf8ToWide(std::to_string(r)));
        s.SetAsInteger(1, r, static_cast<int32_t>(r));
    }
    s.SetAsWideString(16383, 1048575, u"last");
    const std::string path = Save(book, "rows.xlsx");
    const auto result = linograf::test::RunPython(R"PY(
import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1], read_only=True)
ws = wb.active
n = 0
bad = 0
for row in ws.iter_rows(min_row=1, max_row=70000, max_col=2, values_only=True):
    if row != ('строка %d' % n, n):
        bad += 1
    n += 1
print(n, bad)
for row in ws.iter_rows(min_row=1048576, max_row=1048576, min_col=16384, max_col=16384, values_only=True):
    print(row)
)PY",
                                                  {path});
    ASSERT_EQ(result.exit_code, 0) << result.errors;
    EXPECT_EQ(result.output, "70000 0\n('last',)\n");
}

// A worksheet of several MB of XML and a shared strings part of about 1 MB leave the writer in
// many pieces of deflated text: every value must come back, in openpyxl and in our own reader,
// and no piece may be lost, doubled or cut at its seams (which fall inside texts and elements).
namespace large_part {

constexpr uint32_t kRows = 40000;

std::string Text(uint32_t row) {
    return "line " + std::to_string(row) + (row % 7 == 0 ? " <&> \"q\"" : "") + " \xD0\xB2\xD0\xB5\xD1\x81";
}
std::string Group(uint32_t row) {
    return "group " + std::to_string(row % 10);
}
int32_t Integer(uint32_t row) {
    return static_cast<int32_t>(row) * 3 - 1000;
}
double Float(uint32_t row) {
    return row + 0.5;
}

}  // namespace large_part

TEST_F(XlsxPeers, LargePartsStreamedInPiecesReadBackWhole) {
    using namespace large_part;
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    TSheet& s = book.Sheet(0);
    for (uint32_t row = 0; row < kRows; ++row) {
        s.SetAsWideString(0, row, Utf8ToWide(Text(row)));
        s.SetAsInteger(1, row, Integer(row));
        s.SetAsFloat(2, row, Float(row));
        s.SetAsWideString(3, row, Utf8ToWide(Group(row)));
    }
    const std::string path = Save(book, "large.xlsx");
    const std::string package = linograf::test::ReadFileBytes(path);
    // Each part is far larger than one piece the writer hands on (a few hundred KB).
    EXPECT_GT(PartText(package, "xl/worksheets/sheet1.xml").size(), 5'000'000u);
    EXPECT_GT(PartText(package, "xl/sharedStrings.xml").size(), 1'000'000u);

    const std::string out = RunOpenpyxl(path, R"PY(
ws = wb.active
print(ws.max_row, ws.max_column)
for row in ws.iter_rows(values_only=True):
    print(*row, sep='\t')
)PY");
    // Compared line by line: one report of the first difference, not two texts of 2 MB.
    std::istringstream lines(out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, std::to_string(kRows) + " 4");
    uint32_t openpyxl_wrong = 0;
    for (uint32_t row = 0; row < kRows; ++row) {
        std::ostringstream expected;
        expected << Text(row) << '\t' << Integer(row) << '\t' << row << ".5\t" << Group(row);
        if (!std::getline(lines, line)) line = "(missing)";
        if (line != expected.str() && openpyxl_wrong++ == 0)
            ADD_FAILURE() << "row " << row << ": openpyxl read \"" << line << "\", expected \""
                          << expected.str() << '"';
    }
    EXPECT_EQ(openpyxl_wrong, 0u);
    EXPECT_FALSE(std::getline(lines, line)) << "beyond the last row: " << line;

    TTabulon4 back;
    back.SetFilename(Utf8ToWide(path));
    back.Read();
    TSheet& r = back.Sheet(0);
    uint32_t wrong = 0;
    for (uint32_t row = 0; row < kRows; ++row) {
        const bool same = r.AsString(0, row) == Utf8ToWide(Text(row)) && r.CellType(1, row) != ctNone &&
                          r.AsFloat(1, row) == Integer(row) && r.AsFloat(2, row) == Float(row) &&
                          r.AsString(3, row) == Utf8ToWide(Group(row));
        if (!same && wrong++ == 0) ADD_FAILURE() << "first wrong row " << row;
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(r.CellType(0, kRows), ctNone);
}

}  // namespace
}  // namespace linograf::workbook::test
