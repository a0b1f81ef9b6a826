// Extending an .xls another program made loses nothing: each producer (python3-xlwt, LibreOffice,
// gnumeric) makes a small workbook of one kind of content during the test, the live log extends it
// by one row, and python3-xlrd (with formatting) and LibreOffice then see every original value, formula,
// cached result, sheet name and state, date and colour as the producer wrote them, plus the row.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "core/live_log.h"
#include "tests/core/peer_lines.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "text/cp1251.h"

namespace linograf {
namespace {

namespace fs = std::filesystem;
using test::ExpectOnlyAdded;
using test::Lines;
using test::PythonView;

// The whole workbook as xlrd sees it with formatting: the date system, the palette, each sheet's
// name and visibility, and every cell's type and value (numbers with 17 significant digits, errors
// as their codes). Opening fails on a file with two PALETTE records.
constexpr const char* kXlrdView = R"PY(
import sys, xlrd
book = xlrd.open_workbook(sys.argv[1], formatting_info=True)
print("datemode", book.datemode)
for i in range(8, 64):
    print("colour", i, book.colour_map.get(i))
for si, sh in enumerate(book.sheets()):
    print("sheet", si, sh.name, sh.visibility)
    for r in range(sh.nrows):
        for c in range(sh.ncols):
            cell = sh.cell(r, c)
            if cell.ctype == xlrd.XL_CELL_EMPTY:
                continue
            v = cell.value
            if cell.ctype in (xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_DATE):
                v = "%.17g" % v
            elif cell.ctype == xlrd.XL_CELL_ERROR:
                v = xlrd.error_text_from_code[v]
            print("cell", si, r, c, cell.ctype, repr(v))
)PY";

// The workbook as LibreOffice sees it, through its Open XML conversion: each sheet's state, every
// formula's text (and an array formula's range), and every cell's value as LibreOffice calculated
// and stored it.
constexpr const char* kOfficeView = R"PY(
import sys, openpyxl
formulas = openpyxl.load_workbook(sys.argv[1])
values = openpyxl.load_workbook(sys.argv[1], data_only=True)
for si, (fs, vs) in enumerate(zip(formulas.worksheets, values.worksheets)):
    print("sheet", si, fs.title, fs.sheet_state)
    for row in fs.iter_rows():
        for cell in row:
            if cell.value is None:
                continue
            value = vs[cell.coordinate].value
            if isinstance(value, float):
                value = "%.17g" % value
            print("cell", si, cell.coordinate, repr(cell.value), repr(value),
                  repr(fs.formula_attributes.get(cell.coordinate)))
)PY";

// Every FORMULA record's option bits as [MS-XLS] defines them (fAlwaysCalc 0x0001, fFill 0x0004,
// fShrFmla 0x0008, fClearErrors 0x0020), by sheet, row and column, read from the Workbook stream
// with olefile. Bit 0x0002, which readers ignore, is our writer's calculate-on-load mark (the
// sheet's RecalcFormulas) and left out.
constexpr const char* kFormulaOptions = R"PY(
import sys, struct, olefile
data = olefile.OleFileIO(sys.argv[1]).openstream('Workbook').read()
at, sheet = 0, -1
while at + 4 <= len(data):
    rid, size = struct.unpack_from('<HH', data, at)
    if rid == 0x0809 and struct.unpack_from('<H', data, at + 6)[0] == 0x0010: sheet += 1
    if rid == 0x0006:
        row, col = struct.unpack_from('<HH', data, at + 4)
        print('formula', sheet, row, col, hex(struct.unpack_from('<H', data, at + 18)[0] & ~0x0002))
    at += 4 + size
)PY";

class LiveLogXlsFidelity : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::PythonHasModule("xlrd")) GTEST_SKIP() << "python3-xlrd missing";
        test::WriteFileBytes(dir.File("format.ini"),
                             "[app]\nformat=2\n[format]\nname1=Name\nsize1=6\n"
                             "name2=Value\nsize2=4\n");
        tables.LoadFormat(TIniFile(dir.File("format.ini")));
        log.FileTemplate = [this] { return Utf8ToCp1251(file_template); };
        tables.cdata.AfterPost = [this](TMemTable& journal) { log.cdataAfterPost(journal); };
        log.CaptureStarting(LogVersionForTemplate(".xls"));
    }

    // One logged line, through the live log, into the existing file.
    void LogOneRow(const std::string& path) {
        file_template = path;
        tables.cdata.Append();
        tables.cdata.Fields(1).SetAsString(Utf8ToCp1251("новая"));
        tables.cdata.Fields(2).SetAsString("2,5");
        tables.cdata.Post();
        log.WaitIdle();
        ASSERT_EQ(log.FilesWritten(), Lines{path});
    }

    // What xlrd shows of the row the log added as sheet row `row`.
    static Lines AddedRow(int row) {
        const std::string r = std::to_string(row);
        return {"cell 0 " + r + " 0 1 'новая'", "cell 0 " + r + " 1 1 '2,5'"};
    }

    bool HaveLibreOffice() const {
        return !test::FindProgram("soffice").empty() && test::PythonHasModule("openpyxl");
    }

    // LibreOffice converts `path` into a file of `filter` in a folder of its own.
    std::string Convert(const std::string& path, const std::string& filter, const std::string& ext) {
        const std::string out = dir.File("converted-" + std::to_string(++conversions));
        const test::CommandResult r = test::RunCommand(
            {test::FindProgram("soffice"), "-env:UserInstallation=file://" + dir.File("profile"),
             "--headless", "--norestore", "--convert-to", filter, "--outdir", out, path});
        const std::string converted = out + "/" + fs::path(path).stem().string() + ext;
        EXPECT_TRUE(fs::exists(converted)) << r.output << r.errors;
        return converted;
    }

    // The producer's file, saved aside before the log extends it.
    std::string Keep(const std::string& path) {
        const std::string copy = dir.File("original-" + fs::path(path).filename().string());
        fs::copy_file(path, copy);
        return copy;
    }

    test::TempDir dir;
    TFormatJournal tables;
    workbook::TTabulon4 book;
    TJournalLogColumns columns{tables};
    TLiveLog log{book, columns};
    std::string file_template;
    int conversions = 0;
};

// xlwt: numbers that need all 17 digits, dates in the 1904 date system, a hidden and a very
// hidden sheet, and formulas with their operands.
constexpr const char* kXlwtBook = R"PY(
import sys, datetime, xlwt
wb = xlwt.Workbook(encoding="utf-8")
wb.dates_1904 = True
s = wb.add_sheet("Числа")
s.write(0, 0, 0.30000000000000004)
s.write(0, 1, 123456789.12345678)
s.write(0, 2, 1.0 / 3)
s.write(0, 3, -2.2250738585072014e-308)
date = xlwt.easyxf(num_format_str="YYYY-MM-DD hh:mm")
s.write(1, 0, datetime.datetime(2024, 2, 29, 13, 45), date)
s.write(1, 1, datetime.datetime(1904, 1, 2), date)
s.write(2, 0, xlwt.Formula("A1*2"))
s.write(2, 1, xlwt.Formula('"ab"&"cd"'))
h = wb.add_sheet("Скрытый")
h.write(0, 0, "hidden")
h.visibility = 1
v = wb.add_sheet("VeryHidden")
v.write(0, 0, "very hidden")
v.visibility = 2
wb.add_sheet("Last").write(0, 0, xlwt.Formula("A1+1"))
wb.save(sys.argv[1])
)PY";

TEST_F(LiveLogXlsFidelity, XlwtNumbersDatesAndSheetStatesSurviveALoggedRow) {
    if (!test::PythonHasModule("xlwt")) GTEST_SKIP() << "python3-xlwt missing";
    const std::string path = dir.File("xlwt.xls");
    const test::CommandResult made = test::RunPython(kXlwtBook, {path});
    ASSERT_EQ(made.exit_code, 0) << made.errors;
    const Lines before = PythonView(kXlrdView, path);
    // The producer's file has what the checks rely on.
    ASSERT_NE(std::find(before.begin(), before.end(), "datemode 1"), before.end());
    ASSERT_NE(std::find(before.begin(), before.end(), "sheet 2 VeryHidden 2"), before.end());
    ASSERT_NE(std::find(before.begin(), before.end(), "cell 0 0 0 2 '0.30000000000000004'"), before.end());

    LogOneRow(path);
    ExpectOnlyAdded(before, PythonView(kXlrdView, path), AddedRow(3));
}

// LibreOffice: formulas whose cached results are errors, an array formula, array constants (of
// numbers and of texts), a formula with a text result, a colour outside the default palette
// (LibreOffice then writes a PALETTE record), a date, a volatile formula and a hidden sheet.
constexpr const char* kOfficeSource = R"PY(
import sys, datetime, openpyxl
from openpyxl.styles import Font, PatternFill
wb = openpyxl.Workbook()
s = wb.active
s.title = "Итоги"
s["A1"] = 1
s["A2"] = 2
s["A3"] = 3
s["B1"] = "=1/0"
s["B2"] = "=NA()"
s["B3"] = "=SUM({1,2,3})"
s["B4"] = '=INDEX({"a","b";"c","d"},2,1)'
s["B5"] = '=A1&" шт."'
s["C1"] = "=A1:A3*2"
s.formula_attributes["C1"] = {"t": "array", "ref": "C1:C3"}
s["D1"] = "colour"
s["D1"].font = Font(color="FF123456")
s["D1"].fill = PatternFill("solid", fgColor="FF9A3B5C")
s["E1"] = datetime.datetime(2024, 2, 29, 13, 45)
s["E1"].number_format = "DD.MM.YYYY hh:mm"
s["F1"] = '=INDIRECT("A1")'
h = wb.create_sheet("Hidden")
h["A1"] = "=Итоги!A1*10"
h.sheet_state = "hidden"
wb.save(sys.argv[1])
)PY";

TEST_F(LiveLogXlsFidelity, LibreOfficeFormulasColoursAndSheetsSurviveALoggedRow) {
    if (!HaveLibreOffice()) GTEST_SKIP() << "LibreOffice or python3-openpyxl missing";
    const std::string source = dir.File("office.xlsx");
    const test::CommandResult made = test::RunPython(kOfficeSource, {source});
    ASSERT_EQ(made.exit_code, 0) << made.errors;
    const std::string path = dir.File("office.xls");
    fs::copy_file(Convert(source, "xls:MS Excel 97", ".xls"), path);
    const std::string original = Keep(path);
    const Lines before = PythonView(kXlrdView, path);
    ASSERT_NE(std::find(before.begin(), before.end(), "cell 0 0 1 5 '#DIV/0!'"), before.end());
    ASSERT_NE(std::find(before.begin(), before.end(), "cell 0 1 1 5 '#N/A'"), before.end());
    ASSERT_NE(std::find(before.begin(), before.end(), "colour 8 (0, 0, 0)"), before.end());

    // LibreOffice marks the volatile INDIRECT to be calculated always (fAlwaysCalc).
    const Lines options_before = PythonView(kFormulaOptions, path);
    ASSERT_NE(std::find(options_before.begin(), options_before.end(), "formula 0 0 5 0x1"),
              options_before.end())
        << ::testing::PrintToString(options_before);

    LogOneRow(path);
    ExpectOnlyAdded(before, PythonView(kXlrdView, path), AddedRow(5));
    ExpectOnlyAdded(options_before, PythonView(kFormulaOptions, path), {});

    // LibreOffice reads the same formulas, results and sheets from both files.
    const Lines office_before = PythonView(kOfficeView, Convert(original, "xlsx", ".xlsx"));
    const Lines office_after = PythonView(kOfficeView, Convert(path, "xlsx", ".xlsx"));
    ASSERT_NE(std::find(office_before.begin(), office_before.end(), "cell 0 B3 '=SUM({1,2,3})' 6 None"),
              office_before.end())
        << ::testing::PrintToString(office_before);
    ExpectOnlyAdded(office_before, office_after,
                    {"cell 0 A6 'новая' 'новая' None", "cell 0 B6 '2,5' '2,5' None"});
}

// gnumeric (ssconvert) converts an openpyxl workbook into an .xls of its own: a PALETTE record,
// error and text results it calculated, a date, a hidden sheet.
constexpr const char* kGnumericSource = R"PY(
import sys, datetime, openpyxl
from openpyxl.styles import Font
wb = openpyxl.Workbook()
s = wb.active
s.title = 'Итоги'
s['A1'] = '  два пробела  '
s['B1'] = 0.30000000000000004
s['C1'] = 'colour'
s['C1'].font = Font(color='FF123456')
s['A2'] = datetime.datetime(2024, 2, 29, 13, 45)
s['A2'].number_format = 'DD.MM.YYYY hh:mm'
s['B2'] = '=B1*2'
s['C2'] = '=1/0'
s['D2'] = '=NA()'
s['E2'] = '=A1&"!"'
h = wb.create_sheet('Hidden')
h['A1'] = 'hidden'
h.sheet_state = 'hidden'
wb.save(sys.argv[1])
)PY";

TEST_F(LiveLogXlsFidelity, GnumericPaletteResultsAndSheetsSurviveALoggedRow) {
    const std::string ssconvert = test::FindProgram("ssconvert");
    if (ssconvert.empty()) GTEST_SKIP() << "gnumeric is not installed (scripts/setup.sh --tests installs it)";
    if (!HaveLibreOffice()) GTEST_SKIP() << "LibreOffice or python3-openpyxl missing";
    const std::string source = dir.File("gnumeric-source.xlsx");
    const test::CommandResult made = test::RunPython(kGnumericSource, {source});
    ASSERT_EQ(made.exit_code, 0) << made.errors;
    const std::string path = dir.File("gnumeric.xls");
    const test::CommandResult converted = test::RunCommand({ssconvert, source, path});
    ASSERT_EQ(converted.exit_code, 0) << converted.errors;
    const std::string original = Keep(path);
    const Lines before = PythonView(kXlrdView, path);
    ASSERT_NE(std::find(before.begin(), before.end(), "sheet 1 Hidden 1"), before.end())
        << ::testing::PrintToString(before);
    ASSERT_NE(std::find(before.begin(), before.end(), "cell 0 1 2 5 '#DIV/0!'"), before.end());
    ASSERT_NE(std::find(before.begin(), before.end(), "cell 0 1 4 1 '  два пробела  !'"), before.end());
    // The font colour went into the file's PALETTE.
    ASSERT_TRUE(std::any_of(before.begin(), before.end(), [](const std::string& line) {
        return line.starts_with("colour") && line.ends_with(" (18, 52, 86)");
    }));
    const Lines options_before = PythonView(kFormulaOptions, path);

    LogOneRow(path);
    ExpectOnlyAdded(before, PythonView(kXlrdView, path), AddedRow(2));
    ExpectOnlyAdded(options_before, PythonView(kFormulaOptions, path), {});
    ExpectOnlyAdded(PythonView(kOfficeView, Convert(original, "xlsx", ".xlsx")),
                    PythonView(kOfficeView, Convert(path, "xlsx", ".xlsx")),
                    {"cell 0 A3 'новая' 'новая' None", "cell 0 B3 '2,5' '2,5' None"});
}

}  // namespace
}  // namespace linograf
