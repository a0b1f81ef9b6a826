// Packages made by independent producers (python3-openpyxl, python3-xlsxwriter, LibreOffice),
// generated at test time, are read by ours; python3-openpyxl reads the same file and both
// readings are compared cell by cell: values, formulas with their cached results, fonts, fills,
// number formats, merged areas and column widths.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <tuple>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "text/wide_text.h"
#include "workbook/model/open_xml_model.h"
#include "workbook/model/shared_strings.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook::test {
namespace {

using linograf::test::PythonHasModule;
using linograf::test::RunPython;
using Facts = std::map<std::string, std::string>;

// What openpyxl sees, as "key -> value" lines. Texts are hex-encoded UTF-8 so any character
// passes; numbers use %.17g on both sides, so every bit of a double counts. Dates are the one
// exception: openpyxl turns them into datetime values (to the microsecond) and back, which moves
// the last digits, so they are marked "D" and compared at 15 digits.
constexpr const char* kDumpScript = R"PY(
import sys, openpyxl
from openpyxl.utils.datetime import to_excel
path = sys.argv[1]
wb = openpyxl.load_workbook(path)
cached = openpyxl.load_workbook(path, data_only=True)
def hx(s): return s.encode('utf-8').hex()
def colour(c):
    if c is None: return '-'
    if c.type == 'rgb': return c.rgb.upper()
    if c.type == 'theme': return 'theme:%d' % c.theme
    if c.type == 'indexed': return 'indexed:%d' % c.indexed
    return '-'
def value(v):
    if v is None: return 'none'
    if isinstance(v, bool): return 'B %d' % v
    if isinstance(v, (int, float)): return 'N %.17g' % v
    if hasattr(v, 'year'): return 'D %.15g' % to_excel(v)
    if isinstance(v, str) and v.startswith('#') and v in ('#NULL!','#DIV/0!','#VALUE!','#REF!','#NAME?','#NUM!','#N/A'):
        return 'E ' + v
    return 'S ' + hx(str(v))
for si, ws in enumerate(wb.worksheets):
    print('sheet %d\t%s' % (si, hx(ws.title)))
    cws = cached.worksheets[si]
    for row in ws.iter_rows():
        for c in row:
            if c.value is None: continue
            key = '%d %d %d' % (si, c.row - 1, c.column - 1)
            v = c.value
            if c.data_type == 'f':
                print('formula %s\t%s' % (key, hx(str(v)[1:])))
                print('cell %s\t%s' % (key, value(cws.cell(c.row, c.column).value)))
            elif c.data_type == 'e':
                print('cell %s\tE %s' % (key, v))
            else:
                print('cell %s\t%s' % (key, value(v)))
            f = c.font
            print('font %s\t%d %g %s' % (key, bool(f.b), f.sz or 0, colour(f.color)))
            p = c.fill.patternType or 'none'
            print('fill %s\t%s' % (key, p if p == 'none' else p + ' ' + colour(c.fill.fgColor)))
            if c.number_format != 'General': print('numfmt %s\t%s' % (key, hx(c.number_format)))
    for r in ws.merged_cells.ranges:
        print('merge %d %d %d\t%d %d' % (si, r.min_col - 1, r.min_row - 1, r.max_col - 1, r.max_row - 1))
    for d in ws.column_dimensions.values():
        if d.customWidth and d.min:
            for col in range(d.min, d.max + 1): print('width %d %d\t%.4f' % (si, col - 1, d.width))
)PY";

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string Number(double v, int digits = 17) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

// Our "N" fact as the peer states a date: 15 digits.
std::string AsDateFact(const std::string& ours) {
    if (!ours.starts_with("N ")) return ours;
    return "D " + Number(std::strtod(ours.c_str() + 2, nullptr), 15);
}

std::string Colour(const TXc12Color& c) {
    char buf[32];
    switch (c.kind) {
        case ckRgb:
            std::snprintf(buf, sizeof buf, "%08X", c.value);
            return buf;
        case ckTheme:
            return "theme:" + std::to_string(c.value);
        case ckIndexed:
            return "indexed:" + std::to_string(c.value);
        default:
            return "-";
    }
}

Facts ParseFacts(const std::string& text) {
    Facts facts;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        if (tab != std::string::npos) facts[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return facts;
}

Facts PeerFacts(const std::string& path) {
    const auto result = RunPython(kDumpScript, {path});
    EXPECT_EQ(result.exit_code, 0) << result.errors;
    return ParseFacts(result.output);
}

// The same facts from our reading of the file.
Facts OurFacts(const std::string& path) {
    TTabulon4 book;
    book.SetFilename(Utf8ToWide(path));
    book.Read();
    Facts facts;
    TOpenXmlBook& ox = book.OpenXml();
    static const char* kPatterns[] = {"none",          "solid",          "mediumGray",   "darkGray",
                                      "lightGray",     "darkHorizontal", "darkVertical", "darkDown",
                                      "darkUp",        "darkGrid",       "darkTrellis",  "lightHorizontal",
                                      "lightVertical", "lightDown",      "lightUp",      "lightGrid",
                                      "lightTrellis",  "gray125",        "gray0625"};
    for (int si = 0; si < book.Sheets().Count(); ++si) {
        TSheet& sheet = book.Sheet(si);
        facts["sheet " + std::to_string(si)] = Hex(WideToUtf8(sheet.Name()));
        auto it = sheet.Cells().Cells();
        for (TCellRef ref = it.Next(); ref; ref = it.Next()) {
            const TCell& c = *ref.cell;
            const std::string key =
                std::to_string(si) + " " + std::to_string(ref.row) + " " + std::to_string(ref.col);
            std::string value;
            switch (c.type) {
                case ctBlank:
                    continue;
                case ctInteger:
                    value = "N " + Number(c.value.integer);
                    break;
                case ctFloat:
                    value = "N " + Number(c.value.number);
                    break;
                case ctString:
                    value = "S " + Hex(WideToUtf8(TSST2::Text(c.value.entry)));
                    break;
                case ctBoolean:
                    value = "B " + std::to_string(c.small);
                    break;
                case ctError:
                    value = std::string("E ") + WideToUtf8(CellErrorText(c.small));
                    break;
                default: {
                    const TFormulaData& f = *c.value.formula;
                    facts["formula " + key] = Hex(WideToUtf8(f.text));
                    if (!f.result_known)
                        value = "none";
                    else if (c.type == ctNumberFormula)
                        value = "N " + Number(f.number);
                    else if (c.type == ctStringFormula)
                        value = "S " + Hex(WideToUtf8(f.string_result));
                    else if (c.type == ctBooleanFormula)
                        value = "B " + std::to_string(f.boolean_or_error);
                    else
                        value = std::string("E ") + WideToUtf8(CellErrorText(f.boolean_or_error));
                }
            }
            facts["cell " + key] = value;
            const TCellFormat& format = book.Formats().ById(c.xf);
            const int font_index = format.FontIndex();
            const TXFont& font = book.Fonts().Items(font_index);
            char size[32];
            std::snprintf(size, sizeof size, "%g", font.height / 20.0);
            facts["font " + key] =
                std::string(font.style.Contains(xfsBold) ? "1 " : "0 ") + size + " " +
                (ox.Fonts().count(font_index) ? Colour(ox.Fonts()[font_index].color) : "-");
            std::string fill = "none";
            if (auto x = ox.MasterFormats().find(c.xf); x != ox.MasterFormats().end()) {
                const TFill& f = ox.Fills().at(static_cast<size_t>(x->second.fill));
                if (f.pattern != 0) fill = std::string(kPatterns[f.pattern]) + " " + Colour(f.foreground);
            }
            facts["fill " + key] = fill;
            const std::u16string& code =
                book.Formats().NumberFormats().ById(format.NumberFormatIndex()).Text();
            if (code != u"General") facts["numfmt " + key] = Hex(WideToUtf8(code));
        }
        for (int m = 0; m < sheet.MergedCells().Count(); ++m) {
            const TMergedArea& a = sheet.MergedCells().Items(m);
            facts["merge " + std::to_string(si) + " " + std::to_string(a.col1) + " " +
                  std::to_string(a.row1)] = std::to_string(a.col2) + " " + std::to_string(a.row2);
        }
        for (int col = 0; col < 16384; ++col) {
            const TXLSColumn* column = sheet.Columns().Items(col);
            if (!column || !column->UserSet()) continue;
            char width[32];
            std::snprintf(width, sizeof width, "%.4f", column->Width() / 256.0);
            facts["width " + std::to_string(si) + " " + std::to_string(col)] = width;
        }
    }
    return facts;
}

// The texts every producer writes: several scripts, characters outside the BMP, markup
// characters and blanks at the ends.
constexpr const char* kTexts = R"PY(
TEXTS = ['Latin text', 'Кириллица: съешь же ещё', '中文字符', 'emoji 😀 and 𝄞', 'Ελληνικά',
         'a < b & c > "d"', '  padded  ', 'tab\there']
)PY";

class XlsxReadInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!PythonHasModule("openpyxl")) GTEST_SKIP() << "python3-openpyxl is not installed";
    }
    void Make(const std::string& script, const std::string& path) {
        const auto result = RunPython(std::string(kTexts) + script, {path});
        ASSERT_EQ(result.exit_code, 0) << result.errors;
    }
    void ExpectSameReading(const std::string& path) {
        Facts peer = PeerFacts(path);
        ASSERT_FALSE(peer.empty());
        const Facts ours = OurFacts(path);
        for (const auto& [key, value] : peer) {
            auto it = ours.find(key);
            const std::string mine = it == ours.end()          ? "(none)"
                                     : value.starts_with("D ") ? AsDateFact(it->second)
                                                               : it->second;
            EXPECT_EQ(mine, value) << key << ": openpyxl " << value << ", ours " << mine;
        }
        for (const auto& [key, value] : ours) EXPECT_TRUE(peer.count(key)) << key << ": only ours, " << value;
    }
    linograf::test::TempDir dir_;
};

TEST_F(XlsxReadInterop, OpenpyxlWorkbook) {
    const std::string path = dir_.File("openpyxl.xlsx");
    Make(R"PY(
import sys, datetime, openpyxl
from openpyxl.styles import Font, PatternFill
wb = openpyxl.Workbook()
ws = wb.active
ws.title = 'Данные'
for i, t in enumerate(TEXTS): ws.cell(1, i + 1, t)
for i, v in enumerate([0, 1, -2.5, 0.1, 1e20, 1e-7, 123456789012345, -0.0001]): ws.cell(2, i + 1, v)
ws['A3'] = True
ws['B3'] = False
ws['C3'] = datetime.datetime(2024, 5, 17, 13, 45, 30)
ws['D3'] = datetime.date(1999, 12, 31)
ws['E3'] = '=SUM(A2:C2)'
ws['F3'] = '#N/A'
ws['G3'] = 0.25
ws['G3'].number_format = '0.00%;[Red]-0.00%'
ws['A1'].font = Font(bold=True, size=14, color='FFFF0000')
ws['B1'].font = Font(italic=True, name='Times New Roman', size=9)
ws['A2'].fill = PatternFill('solid', fgColor='FFFFFF00')
ws['B2'].fill = PatternFill('darkGrid', fgColor='FF00B050', bgColor='FF0000FF')
ws.merge_cells('A5:C6')
ws['A5'] = 'merged'
ws.column_dimensions['B'].width = 30
ws.column_dimensions['D'].width = 7.5
ws.row_dimensions[1].height = 28
second = wb.create_sheet('Second sheet')
for r in range(1, 40):
    second.cell(r, 1, 'row %d' % r)
    second.cell(r, 2, r * 1.5)
wb.create_sheet('Empty')
wb.save(sys.argv[1])
)PY",
         path);
    ExpectSameReading(path);
}

TEST_F(XlsxReadInterop, XlsxwriterWorkbookWithCachedFormulasAndRichText) {
    if (!PythonHasModule("xlsxwriter")) GTEST_SKIP() << "python3-xlsxwriter is not installed";
    const std::string path = dir_.File("xlsxwriter.xlsx");
    Make(R"PY(
import sys, datetime, xlsxwriter
wb = xlsxwriter.Workbook(sys.argv[1])
ws = wb.add_worksheet('Лист1')
bold = wb.add_format({'bold': True, 'font_color': '#0000FF', 'font_size': 12})
filled = wb.add_format({'bg_color': '#C6EFCE', 'num_format': '#,##0.000'})
date = wb.add_format({'num_format': 'dd.mm.yyyy hh:mm'})
italic = wb.add_format({'italic': True})
for i, t in enumerate(TEXTS): ws.write_string(0, i, t)
ws.write_number(1, 0, 3.25, filled)
ws.write_number(1, 1, -17)
ws.write_boolean(1, 2, True)
ws.write_datetime(1, 3, datetime.datetime(2023, 1, 31, 8, 30), date)
ws.write_formula(2, 0, '=A2*2', None, 6.5)
ws.write_formula(2, 1, '=A1&"!"', None, 'Latin text!')
ws.write_formula(2, 2, '=1/0', None, '#DIV/0!')
ws.write_formula(2, 3, '=C2', None, True)
ws.write_string(3, 0, 'header', bold)
ws.write_rich_string(4, 0, 'plain ', bold, 'bold blue', ' and ', italic, 'italic')
ws.merge_range('B5:D6', 'merged range', bold)
ws.set_column(1, 1, 25)
ws.set_column(4, 6, 12.5)
ws2 = wb.add_worksheet('Numbers')
for r in range(200): ws2.write_row(r, 0, [r, r / 7.0, 'text %d' % (r % 13)])
wb.close()
)PY",
         path);
    ExpectSameReading(path);
}

TEST_F(XlsxReadInterop, LibreOfficeWorkbook) {
    const std::string soffice = linograf::test::FindProgram("soffice");
    if (soffice.empty()) GTEST_SKIP() << "LibreOffice is not installed";
    const std::string source = dir_.File("source.xlsx");
    Make(R"PY(
import sys, openpyxl
from openpyxl.styles import Font, PatternFill
wb = openpyxl.Workbook()
ws = wb.active
ws.title = 'Calc'
for i, t in enumerate(TEXTS): ws.cell(1, i + 1, t)
for r in range(2, 12):
    ws.cell(r, 1, r * 0.5)
    ws.cell(r, 2, '=A%d*3' % r)
ws['C2'] = True
ws['A1'].font = Font(bold=True, size=16)
ws['A2'].fill = PatternFill('solid', fgColor='FF92D050')
ws.merge_cells('D2:E3')
ws['D2'] = 'merged'
ws.column_dimensions['A'].width = 22
wb.create_sheet('Zweite')['A1'] = 'second sheet'
wb.save(sys.argv[1])
)PY",
         source);
    const std::string out = dir_.File("out");
    const auto converted = linograf::test::RunCommand(
        {soffice, "-env:UserInstallation=file://" + dir_.File("profile"), "--headless", "--norestore",
         "--convert-to", "xlsx:Calc MS Excel 2007 XML", "--outdir", out, source});
    ASSERT_EQ(converted.exit_code, 0) << converted.errors;
    ExpectSameReading(out + "/source.xlsx");
}

// What openpyxl sees of the elements the model keeps as saved XML.
constexpr const char* kSavedDumpScript = R"PY(
import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
for si, ws in enumerate(wb.worksheets):
    print('freeze %d\t%s' % (si, ws.freeze_panes))
    print('margins %d\t%g %g' % (si, ws.page_margins.left, ws.page_margins.top))
    print('validations %d\t%s' % (si, ';'.join(dv.sqref.coord if hasattr(dv.sqref, 'coord') else str(dv.sqref) for dv in ws.data_validations.dataValidation)))
    print('orientation %d\t%s' % (si, ws.page_setup.orientation))
    tab = ws.sheet_properties.tabColor
    print('tab %d\t%s' % (si, tab.rgb if tab is not None else '-'))
    print('autofilter %d\t%s' % (si, ws.auto_filter.ref))
)PY";

Facts SavedFacts(const std::string& path) {
    const auto result = RunPython(kSavedDumpScript, {path});
    EXPECT_EQ(result.exit_code, 0) << result.errors;
    return ParseFacts(result.output);
}

TEST_F(XlsxReadInterop, AppendedRowWrittenBackKeepsTheOpenpyxlContent) {
    const std::string source = dir_.File("source.xlsx");
    Make(R"PY(
import sys, datetime, openpyxl
from openpyxl.styles import Font, PatternFill
from openpyxl.worksheet.datavalidation import DataValidation
wb = openpyxl.Workbook()
ws = wb.active
ws.title = 'Журнал'
for i, t in enumerate(TEXTS): ws.cell(1, i + 1, t)
for r in range(2, 30):
    ws.cell(r, 1, 'строка %d' % r)
    ws.cell(r, 2, r * 0.25)
    ws.cell(r, 3, datetime.datetime(2024, 1, 1) + datetime.timedelta(hours=r))
ws['D2'] = True
ws['E2'] = '=B2+B3'
ws['A1'].font = Font(bold=True, size=12, color='FF0000FF')
ws['B2'].fill = PatternFill('solid', fgColor='FFFFC000')
ws.merge_cells('F3:H4')
ws.column_dimensions['A'].width = 24
ws.freeze_panes = 'B2'
ws.page_margins.left = 1.25
ws.page_setup.orientation = 'landscape'
ws.sheet_properties.tabColor = 'FF00B050'
ws.auto_filter.ref = 'A1:C29'
dv = DataValidation(type='list', formula1='"yes,no"')
ws.add_data_validation(dv)
dv.add('D2:D29')
other = wb.create_sheet('Other')
other['A1'] = 'kept'
wb.save(sys.argv[1])
)PY",
         source);
    Facts before = PeerFacts(source);
    const Facts saved_before = SavedFacts(source);
    ASSERT_FALSE(before.empty());

    const std::string target = dir_.File("target.xlsx");
    uint32_t appended_row = 0;
    {
        TTabulon4 book;
        book.SetFilename(Utf8ToWide(source));
        book.Read();
        TSheet& sheet = book.Sheet(0);
        sheet.CalcDimensions();
        appended_row = sheet.LastRow() + 1;
        sheet.SetAsWideString(0, appended_row, u"новая строка");
        sheet.SetAsFloat(1, appended_row, 42.5);
        book.SetVersion(xvExcel2007);
        book.SetFilename(Utf8ToWide(target));
        book.Write();
    }
    // A formula saved without a result stays without one, so the program that opens the file
    // calculates it.
    const Facts after = PeerFacts(target);
    for (const auto& [key, value] : before) {
        auto it = after.find(key);
        EXPECT_TRUE(it != after.end() && it->second == value)
            << key << ": before " << value << ", after " << (it == after.end() ? "(none)" : it->second);
    }
    const std::string row = std::to_string(appended_row);
    EXPECT_EQ(after.count("cell 0 " + row + " 0") ? after.at("cell 0 " + row + " 0") : "",
              "S " + Hex("новая строка"));
    EXPECT_EQ(after.count("cell 0 " + row + " 1") ? after.at("cell 0 " + row + " 1") : "", "N 42.5");
    EXPECT_EQ(SavedFacts(target), saved_before);

    // LibreOffice reads the written package too, with the new row in it.
    const std::string soffice = linograf::test::FindProgram("soffice");
    ASSERT_FALSE(soffice.empty()) << "LibreOffice (soffice) is not installed";
    const std::string out = dir_.File("csv");
    const auto converted = linograf::test::RunCommand(
        {soffice, "-env:UserInstallation=file://" + dir_.File("profile"), "--headless", "--norestore",
         "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1", "--outdir", out, target});
    ASSERT_EQ(converted.exit_code, 0) << converted.errors;
    const std::string csv = linograf::test::ReadFileBytes(out + "/target.csv");
    EXPECT_NE(csv.find("\"новая строка\",42.5"), std::string::npos) << csv;
    EXPECT_NE(csv.find("Кириллица: съешь же ещё"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\"строка 29\",7.25"), std::string::npos) << csv;
}

// Ours written, ours read, written and read again: the same cells, and the saved elements of the
// first reading come back unchanged and in order.
TEST_F(XlsxReadInterop, OwnPackagesReadBackAndSavedElementsKeepTheirOrder) {
    const std::string first = dir_.File("first.xlsx"), second = dir_.File("second.xlsx");
    {
        TTabulon4 book;
        book.SetVersion(xvExcel2007);
        TSheet& s = book.Sheet(0);
        s.SetName(u"Первый");
        for (uint32_t r = 0; r < 50; ++r) {
            s.SetAsWideString(0, r, u"текст " + Utf8ToWide(std::to_string(r)));
            s.SetAsFloat(1, r, r * 0.25 - 3);
        }
        s.SetAsBoolean(2, 0, true);
        s.MergedCells().Add(3, 0, 4, 1);
        s.Columns().AddIfNone(0, 1);
        s.Columns().Items(0)->SetWidth(6000);
        book.Sheets().Add(0).SetAsWideString(5, 5, u"second");
        book.SetFilename(Utf8ToWide(first));
        book.Write();
    }
    auto read = [](const std::string& path, TTabulon4& book) {
        book.SetFilename(Utf8ToWide(path));
        book.Read();
    };
    TTabulon4 a;
    read(first, a);
    ASSERT_EQ(a.Sheets().Count(), 2);
    EXPECT_EQ(WideToUtf8(a.Sheet(0).Name()), "Первый");
    EXPECT_EQ(WideToUtf8(a.Sheet(0).AsString(0, 49)), "текст 49");
    EXPECT_EQ(a.Sheet(0).AsFloat(1, 49), 49 * 0.25 - 3);
    EXPECT_EQ(a.Sheet(0).CellType(2, 0), ctBoolean);
    ASSERT_EQ(a.Sheet(0).MergedCells().Count(), 1);
    EXPECT_EQ(a.Sheet(0).MergedCells().Items(0).col2, 4);
    ASSERT_NE(a.Sheet(0).Columns().Items(0), nullptr);
    EXPECT_EQ(a.Sheet(0).Columns().Items(0)->Width(), 6000);
    EXPECT_EQ(WideToUtf8(a.Sheet(1).AsString(5, 5)), "second");

    a.SetFilename(Utf8ToWide(second));
    a.Write();
    TTabulon4 b;
    read(second, b);
    auto tags = [](TXLSSavedTags& list) {
        std::vector<std::pair<int, std::string>> out;
        for (const TXLSSavedTag& t : list) out.emplace_back(t.element, t.xml);
        return out;
    };
    EXPECT_FALSE(a.OpenXml().SavedTags().empty());
    EXPECT_EQ(tags(b.OpenXml().SavedTags()), tags(a.OpenXml().SavedTags()));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(tags(b.OpenXml().Sheet(i).saved_tags), tags(a.OpenXml().Sheet(i).saved_tags)) << i;
    EXPECT_EQ(OurFacts(second), OurFacts(first));
}

}  // namespace
}  // namespace linograf::workbook::test
