// Workbooks written by TTabulon4 as independent readers see them: python3-xlrd (with formatting
// information) must find the sheets, values, cell types, fonts, cell formats, number formats,
// merged areas, column widths and row heights that were put in; LibreOffice, converting to CSV,
// must show the same texts and numbers.
#include "workbook/model/tabulon4.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include "base/date_time.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "text/wide_text.h"
#include "workbook/model/columns.h"
#include "workbook/model/range.h"
#include "workbook/model/sheet.h"

namespace linograf::workbook {
namespace {

// One line per fact, fields separated by tabs, texts in UTF-8.
constexpr const char* kXlrdDump = R"(
import sys, xlrd
sys.stdout.reconfigure(encoding="utf-8")
book = xlrd.open_workbook(sys.argv[1], formatting_info=True, ragged_rows=True)
for i, sh in enumerate(book.sheets()):
    print("sheet", i, sh.name, sh.nrows, sh.ncols, sep="\t")
    for rlo, rhi, clo, chi in sh.merged_cells:
        print("merge", i, rlo, rhi - 1, clo, chi - 1, sep="\t")
    for c, info in sorted(sh.colinfo_map.items()):
        print("width", i, c, info.width, sep="\t")
    for r, info in sorted(sh.rowinfo_map.items()):
        print("height", i, r, info.height, sep="\t")
    for r in range(sh.nrows):
        for c in range(sh.row_len(r)):
            cell = sh.cell(r, c)
            if cell.ctype == xlrd.XL_CELL_EMPTY:
                continue
            if cell.ctype == xlrd.XL_CELL_TEXT:
                value = cell.value
            elif cell.ctype == xlrd.XL_CELL_ERROR:
                value = xlrd.error_text_from_code[cell.value]
            elif cell.ctype in (xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_DATE):
                value = repr(float(cell.value))
            else:
                value = repr(cell.value)
            xf = book.xf_list[cell.xf_index]
            font = book.font_list[xf.font_index]
            a, b = xf.alignment, xf.border
            print("cell", i, r, c, cell.ctype, value, sep="\t")
            print("format", i, r, c, font.name, font.height, font.weight, int(font.italic), font.colour_index,
                  a.hor_align, a.vert_align, a.text_wrapped,
                  b.left_line_style, b.right_line_style, b.top_line_style, b.bottom_line_style,
                  book.format_map[xf.format_key].format_str, sep="\t")
)";

// xlrd's cell types.
enum XlrdType { kText = 1, kNumber = 2, kDate = 3, kBoolean = 4, kError = 5, kBlank = 6 };

struct XlrdView {
    std::vector<std::string> sheets;                     // "name\trows\tcols"
    std::map<std::string, std::vector<std::string>> by;  // "kind\tsheet\trow\tcol" -> fields
    std::vector<std::string> merges, widths, heights;    // "sheet\t..." lines

    const std::vector<std::string>* Find(const std::string& kind, int sheet, uint32_t row,
                                         uint32_t col) const {
        const auto it = by.find(kind + "\t" + std::to_string(sheet) + "\t" + std::to_string(row) + "\t" +
                                std::to_string(col));
        return it == by.end() ? nullptr : &it->second;
    }
};

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> out;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t')) out.push_back(field);
    if (!line.empty() && line.back() == '\t') out.emplace_back();
    return out;
}

std::string Join(const std::vector<std::string>& fields, size_t from) {
    std::string out;
    for (size_t i = from; i < fields.size(); ++i) out += (i > from ? "\t" : "") + fields[i];
    return out;
}

XlrdView ReadWithXlrd(const std::string& path) {
    const test::CommandResult r = test::RunPython(kXlrdDump, {path});
    EXPECT_EQ(r.exit_code, 0) << r.errors;
    XlrdView view;
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        const std::vector<std::string> f = SplitTabs(line);
        if (f.empty()) continue;
        if (f[0] == "sheet") view.sheets.push_back(Join(f, 2));
        if (f[0] == "merge") view.merges.push_back(Join(f, 1));
        if (f[0] == "width") view.widths.push_back(Join(f, 1));
        if (f[0] == "height") view.heights.push_back(Join(f, 1));
        if (f[0] == "cell" || f[0] == "format")
            view.by[f[0] + "\t" + f[1] + "\t" + f[2] + "\t" + f[3]] =
                std::vector<std::string>(f.begin() + 4, f.end());
    }
    return view;
}

void RequireXlrd() {
    if (!test::PythonHasModule("xlrd")) GTEST_SKIP() << "python3-xlrd is not installed";
}

// A cell value and what xlrd must report for it.
struct ValueCase {
    uint32_t col, row;
    int type;           // XlrdType
    double number = 0;  // numbers, dates, booleans (0/1)
    std::string text;   // texts (UTF-8), error texts
    uint8_t error = 0;  // error code 1..7 for errors
};

ValueCase Text(uint32_t col, uint32_t row, std::string text) {
    return {col, row, kText, 0, std::move(text), 0};
}
ValueCase Number(uint32_t col, uint32_t row, double value) {
    return {col, row, kNumber, value, {}, 0};
}
ValueCase Date(uint32_t col, uint32_t row, double value) {
    return {col, row, kDate, value, {}, 0};
}
ValueCase Boolean(uint32_t col, uint32_t row, bool value) {
    return {col, row, kBoolean, value ? 1.0 : 0.0, {}, 0};
}
ValueCase Error(uint32_t col, uint32_t row, uint8_t code, std::string text) {
    return {col, row, kError, 0, std::move(text), code};
}
ValueCase Blank(uint32_t col, uint32_t row) {
    return {col, row, kBlank, 0, {}, 0};
}

class Tabulon4XlrdTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RequireXlrd();
        path = dir.File("book.xls");
        book.SetFilename(Utf8ToWide(path));
    }

    // Puts the cases into sheet k.
    void Put(int k, const std::vector<ValueCase>& cases) {
        TSheet& sheet = book.Sheet(k);
        for (const ValueCase& c : cases) {
            switch (c.type) {
                case kText:
                    sheet.SetAsWideString(c.col, c.row, Utf8ToWide(c.text));
                    break;
                case kNumber:
                    if (c.number == std::trunc(c.number) && c.number >= INT32_MIN && c.number <= INT32_MAX)
                        sheet.SetAsInteger(c.col, c.row, static_cast<int32_t>(c.number));
                    else
                        sheet.SetAsFloat(c.col, c.row, c.number);
                    break;
                case kDate:
                    sheet.SetAsDateTime(c.col, c.row, c.number);
                    break;
                case kBoolean:
                    sheet.SetAsBoolean(c.col, c.row, c.number != 0);
                    break;
                case kError:
                    sheet.SetError(c.col, c.row, 15, c.error);
                    break;
                case kBlank:
                    sheet.SetBlank(c.col, c.row, 15);
                    break;
            }
        }
    }

    void ExpectValues(const XlrdView& view, int k, const std::vector<ValueCase>& cases) {
        for (const ValueCase& c : cases) {
            SCOPED_TRACE("sheet " + std::to_string(k) + " cell " + std::to_string(c.col) + ":" +
                         std::to_string(c.row));
            const std::vector<std::string>* cell = view.Find("cell", k, c.row, c.col);
            ASSERT_NE(cell, nullptr);
            ASSERT_EQ(cell->size(), 2u);
            EXPECT_EQ(std::stoi((*cell)[0]), c.type);
            const std::string& value = (*cell)[1];
            switch (c.type) {
                case kText:
                    EXPECT_EQ(value, c.text);
                    break;
                case kNumber:
                case kDate:
                    EXPECT_EQ(std::strtod(value.c_str(), nullptr), c.number) << value;
                    break;
                case kBoolean:
                    EXPECT_EQ(value, c.number != 0 ? "1" : "0");
                    break;
                case kError:
                    EXPECT_EQ(value, c.text);
                    break;
                case kBlank:
                    EXPECT_EQ(value, "''");
                    break;
            }
        }
    }

    test::TempDir dir;
    std::string path;
    TTabulon4 book;
};

std::string Repeat(const std::string& unit, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += unit;
    return out;
}

TEST_F(Tabulon4XlrdTest, ValuesOfEveryKindComeBack) {
    const double date_time = EncodeDateTime({2024, 3, 15, 13, 45, 30});
    const double date_only = EncodeDateTime({1999, 12, 31});
    const std::vector<ValueCase> cases = {
        Text(0, 0, "plain text"),
        Text(1, 0, "Журнал приёма: строка №1"),
        Text(2, 0, ""),
        // Longer than one record: its characters go on in CONTINUE records.
        Text(3, 0, Repeat("ЖжЪъ", 2500)),
        Number(0, 1, 1),
        Number(1, 1, 2),
        Number(2, 1, 3),  // a MULRK run
        Number(4, 1, -7),
        Number(5, 1, 1.23),
        Number(6, 1, 0.1 + 0.2),
        Number(7, 1, 1e300),
        Number(8, 1, -2.5e-10),
        Number(9, 1, 536870911),
        Number(10, 1, 123456789012.0),
        Number(11, 1, 2147483647),
        Number(12, 1, -2147483647 - 1.0),
        Date(0, 2, date_time),
        Date(1, 2, date_only),
        Date(2, 2, EncodeDateTime({1899, 12, 30, 6, 30})),  // a time of day alone
        Boolean(0, 3, true),
        Boolean(1, 3, false),
        Error(0, 4, 1, "#NULL!"),
        Error(1, 4, 2, "#DIV/0!"),
        Error(2, 4, 3, "#VALUE!"),
        Error(3, 4, 4, "#REF!"),
        Error(4, 4, 5, "#NAME?"),
        Error(5, 4, 6, "#NUM!"),
        Error(6, 4, 7, "#N/A"),
        Blank(0, 5),
        Blank(2, 5),
        Blank(3, 5),
        Blank(4, 5),
        Text(255, 6, "last column"),
        Number(0, 65535, 65535),
    };
    Put(0, cases);
    book.Write();
    const XlrdView view = ReadWithXlrd(path);
    ASSERT_EQ(view.sheets.size(), 1u);
    EXPECT_EQ(view.sheets[0], "Sheet1\t65536\t256");
    ExpectValues(view, 0, cases);
    // Nothing that was not put in.
    EXPECT_EQ(view.by.size(), 2 * cases.size());

    // Dates carry a date format; the time of day alone a time format.
    for (uint32_t c = 0; c < 3; ++c) {
        const std::string format = view.Find("format", 0, 2, c)->back();
        EXPECT_NE(format.find(c == 2 ? "hh" : "yy"), std::string::npos) << format;
    }
}

// Many distinct strings, Latin and Cyrillic, fill SST and several CONTINUE records; each cell
// must still name its own string.
TEST_F(Tabulon4XlrdTest, ThousandsOfStringsInTwoSheets) {
    book.Sheets().Add().SetName(u"Данные");
    std::vector<ValueCase> first, second;
    for (uint32_t r = 0; r < 3000; ++r) {
        const std::string n = std::to_string(r);
        first.push_back(
            Text(0, r, (r % 2 ? "запись " : "record ") + n + Repeat("й", static_cast<int>(r % 37))));
        first.push_back(Number(1, r, r * 0.25));
        second.push_back(Text(0, r, "record " + std::to_string(2999 - r)));  // shared with sheet 1
    }
    Put(0, first);
    Put(1, second);
    book.Write();
    const XlrdView view = ReadWithXlrd(path);
    ASSERT_EQ(view.sheets.size(), 2u);
    EXPECT_EQ(view.sheets[1], "Данные\t3000\t1");
    ExpectValues(view, 0, first);
    ExpectValues(view, 1, second);
}

TEST_F(Tabulon4XlrdTest, FontsAlignmentBordersAndNumberFormats) {
    TSheet& sheet = book.Sheet(0);
    for (uint32_t c = 0; c < 3; ++c) sheet.SetAsWideString(c, 0, u"Заголовок");
    sheet.Range().Items(0, 0, 2, 0);
    sheet.Range().SetFontName(u"Courier New");
    sheet.Range().SetFontSize(12);
    sheet.Range().SetFontStyle({xfsBold, xfsItalic});
    sheet.Range().SetHorizAlignment(haCenter);
    sheet.Range().SetVertAlignment(vaCenter);
    sheet.Range().SetTextFlags({tfWrapText});
    sheet.Range().SetBorderTopStyle(cbsThin);
    sheet.Range().SetBorderBottomStyle(cbsMedium);
    sheet.Range().SetBorderLeftStyle(cbsThin);
    sheet.Range().SetBorderRightStyle(cbsThin);
    sheet.Range().SetBorderInsideVertStyle(cbsDashed);

    sheet.Columns().AddIfNone(4, 1);
    sheet.Columns().Items(4)->SetNumberFormat(u"0.000");
    sheet.Columns().Items(4)->SetFontColor(10);
    sheet.SetAsFloat(4, 1, 2.5);  // takes the column's format
    sheet.SetAsInteger(5, 1, 8);  // the default format

    book.Write();
    const XlrdView view = ReadWithXlrd(path);
    // font, height, weight, italic, colour, horizontal, vertical, wrap, left, right, top, bottom, number
    // format
    struct FormatCase {
        uint32_t col, row;
        std::string expected;
    };
    const FormatCase cases[] = {
        {0, 0, "Courier New\t240\t700\t1\t8\t2\t1\t1\t1\t3\t1\t2\tGeneral"},
        // The line between two cells is kept on the left one's right side.
        {1, 0, "Courier New\t240\t700\t1\t8\t2\t1\t1\t0\t3\t1\t2\tGeneral"},
        {2, 0, "Courier New\t240\t700\t1\t8\t2\t1\t1\t0\t1\t1\t2\tGeneral"},
        {4, 1, "Arial\t200\t400\t0\t10\t0\t2\t0\t0\t0\t0\t0\t0.000"},
        {5, 1, "Arial\t200\t400\t0\t8\t0\t2\t0\t0\t0\t0\t0\tGeneral"},
    };
    for (const FormatCase& c : cases) {
        const std::vector<std::string>* format = view.Find("format", 0, c.row, c.col);
        ASSERT_NE(format, nullptr) << c.col << ":" << c.row;
        EXPECT_EQ(Join(*format, 0), c.expected) << c.col << ":" << c.row;
    }
}

TEST_F(Tabulon4XlrdTest, MergedAreasColumnWidthsAndRowHeights) {
    TSheet& sheet = book.Sheet(0);
    sheet.SetAsWideString(0, 0, u"merged title");
    sheet.Range().Items(0, 0, 3, 1).SetMerged(true);
    sheet.Range().Items(5, 2, 5, 6).SetMerged(true);
    sheet.Columns().AddIfNone(0, 3);
    sheet.Columns().Items(0)->SetWidth(5000);
    sheet.Columns().Items(1)->SetPixelWidth(100);
    sheet.Columns().Items(2)->SetHidden(true);
    sheet.Rows().AddIfNone(3).SetHeight(600);

    // A second sheet with more merged areas than one record holds.
    TSheet& many = book.Sheets().Add();
    for (int i = 0; i < 1500; ++i) many.MergedCells().Add(i % 2 * 2, i, i % 2 * 2 + 1, i);

    book.Write();
    const XlrdView view = ReadWithXlrd(path);
    std::vector<std::string> expected = {"0\t0\t1\t0\t3", "0\t2\t6\t5\t5"};
    for (int i = 0; i < 1500; ++i)
        expected.push_back("1\t" + std::to_string(i) + "\t" + std::to_string(i) + "\t" +
                           std::to_string(i % 2 * 2) + "\t" + std::to_string(i % 2 * 2 + 1));
    EXPECT_EQ(view.merges, expected);

    const int pixel_width = 100 * 256 / DigitPixelWidth(*book.Font());
    EXPECT_EQ(view.widths,
              (std::vector<std::string>{"0\t0\t5000", "0\t1\t" + std::to_string(pixel_width), "0\t2\t2500"}));
    EXPECT_EQ(view.heights, std::vector<std::string>{"0\t3\t600"});
}

// The same workbook converted by LibreOffice: its first sheet as CSV.
TEST(Tabulon4LibreOffice, ConvertsOurWorkbookToTheSameTable) {
    const std::string office = test::FindProgram("soffice");
    if (office.empty()) GTEST_SKIP() << "LibreOffice is not installed";
    test::TempDir dir;
    TTabulon4 book;
    TSheet& sheet = book.Sheet(0);
    std::string expected;
    for (uint32_t r = 0; r < 200; ++r) {
        const std::string text = (r % 3 ? "строка " : "line ") + std::to_string(r);
        sheet.SetAsWideString(0, r, Utf8ToWide(text));
        sheet.SetAsInteger(1, r, static_cast<int32_t>(r) - 100);
        sheet.SetAsFloat(2, r, r + 0.5);
        expected += text + "," + std::to_string(static_cast<int>(r) - 100) + "," + std::to_string(r) + ".5\n";
    }
    sheet.Range().Items(0, 0, 2, 0).SetFontStyle({xfsBold});
    const std::string path = dir.File("export.xls");
    book.SetFilename(Utf8ToWide(path));
    book.Write();
    // UTF-8 CSV, comma separated.
    const test::CommandResult r =
        test::RunCommand({office, "-env:UserInstallation=file://" + dir.File("profile"), "--headless",
                          "--norestore", "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76",
                          "--outdir", (dir.path() / "csv").string(), path});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    EXPECT_EQ(test::ReadFileBytes(dir.File("csv/export.csv")), expected);
}

}  // namespace
}  // namespace linograf::workbook
