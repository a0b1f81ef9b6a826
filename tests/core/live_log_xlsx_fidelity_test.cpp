// Extending an .xlsx another program made loses nothing: each producer (libxlsxwriter through a
// small program of ours, xlsxwriter_fixture.c; gnumeric's ssconvert) makes the workbook during the
// test, the live log extends it by one logged row, and python3-openpyxl and LibreOffice then see
// every original value, formula, cached result, sheet name and state, date and text as the
// producer wrote them, plus the row.
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
using test::Has;
using test::Lines;

// openpyxl's view: its warnings, the date system and the calculation the workbook asks for, each
// sheet's name and state, every cell's value (formulas as text) with its cached result and the
// formula's attributes. Numbers have 17 significant digits.
constexpr const char* kView = R"PY(
import sys, warnings, openpyxl
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter('always')
    formulas = openpyxl.load_workbook(sys.argv[1])
    values = openpyxl.load_workbook(sys.argv[1], data_only=True)
for w in caught: print('warning', w.message)
print('epoch', formulas.epoch.isoformat())
calc = formulas.calculation
print('calc', calc.fullCalcOnLoad if calc is not None else None)
def show(v):
    if isinstance(v, float): return '%.17g' % v
    if type(v).__name__ == 'ArrayFormula': return 'array %s %s' % (v.ref, v.text)
    return repr(v)
for si, (fs, vs) in enumerate(zip(formulas.worksheets, values.worksheets)):
    print('sheet', si, fs.title, fs.sheet_state)
    for row in fs.iter_rows():
        for cell in row:
            if cell.value is None: continue
            print('cell', si, cell.coordinate, show(cell.value), show(vs[cell.coordinate].value),
                  repr(fs.formula_attributes.get(cell.coordinate)))
)PY";

Lines View(const std::string& path) {
    return test::PythonView(kView, path);
}

class LiveLogXlsxFidelity : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::PythonHasModule("openpyxl")) GTEST_SKIP() << "python3-openpyxl is not installed";
        soffice_ = test::FindProgram("soffice");
        if (soffice_.empty()) GTEST_SKIP() << "LibreOffice is not installed";
    }

    // The producer's file, saved aside before the log extends it.
    void Keep() { fs::copy_file(path_, original_); }

    // One logged line, through the live log, into the existing file.
    void LogOneRow() {
        TFormatJournal tables;
        test::WriteFileBytes(dir_.File("format.ini"),
                             "[app]\nformat=2\n[format]\nname1=Name\nsize1=6\nname2=Value\nsize2=4\n");
        tables.LoadFormat(TIniFile(dir_.File("format.ini")));
        workbook::TTabulon4 book;
        TJournalLogColumns columns{tables};
        TLiveLog log{book, columns};
        log.FileTemplate = [&] { return Utf8ToCp1251(path_); };
        tables.cdata.AfterPost = [&](TMemTable& journal) { log.cdataAfterPost(journal); };
        log.CaptureStarting(LogVersionForTemplate(".xlsx"));
        tables.cdata.Append();
        tables.cdata.Fields(1).SetAsString(Utf8ToCp1251("новая"));
        tables.cdata.Fields(2).SetAsString("2,5");
        tables.cdata.Post();
        log.WaitIdle();
        ASSERT_EQ(log.FilesWritten(), Lines{path_});
    }

    // What openpyxl shows of the row the log added as sheet row `row` (1-based).
    static Lines AddedRow(int row) {
        const std::string r = std::to_string(row);
        return {"cell 0 A" + r + " 'новая' 'новая' None", "cell 0 B" + r + " '2,5' '2,5' None"};
    }

    // LibreOffice's own reading, through its conversion to .xlsx: the values it calculated.
    Lines OfficeView(const std::string& file) {
        const std::string out = dir_.File("converted-" + std::to_string(++conversions_));
        const test::CommandResult r =
            test::RunCommand({soffice_, "-env:UserInstallation=file://" + dir_.File("profile"), "--headless",
                              "--norestore", "--convert-to", "xlsx", "--outdir", out, file});
        const std::string converted = out + "/" + fs::path(file).filename().string();
        EXPECT_TRUE(fs::exists(converted)) << r.output << r.errors;
        return View(converted);
    }

    test::TempDir dir_;
    std::string soffice_;
    std::string path_ = dir_.File("book.xlsx");
    std::string original_ = dir_.File("original.xlsx");
    int conversions_ = 0;
};

TEST_F(LiveLogXlsxFidelity, EverythingLibxlsxwriterWroteSurvivesALoggedRow) {
#ifndef LINOGRAF_XLSXWRITER_FIXTURE
    GTEST_SKIP() << "libxlsxwriter-dev is not installed (scripts/setup.sh --tests installs it)";
#else
    const test::CommandResult made = test::RunCommand({LINOGRAF_XLSXWRITER_FIXTURE, path_});
    ASSERT_EQ(made.exit_code, 0) << made.errors;
    Keep();
    const Lines before = View(path_);
    // The producer's file has the shapes the check relies on.
    ASSERT_TRUE(Has(before, "calc True")) << ::testing::PrintToString(before);
    ASSERT_TRUE(Has(before, "sheet 1 Helper hidden"));
    ASSERT_TRUE(Has(before, "cell 0 A2 '  два пробела  ' '  два пробела  ' None"));
    ASSERT_TRUE(Has(before, "cell 0 C2 '=B2*2' 0 None"));
    ASSERT_TRUE(Has(before,
                    "cell 0 A3 datetime.datetime(2024, 2, 29, 13, 45, 30, 500000) "
                    "datetime.datetime(2024, 2, 29, 13, 45, 30, 500000) None"));

    LogOneRow();
    ExpectOnlyAdded(before, View(path_), AddedRow(4));

    // LibreOffice reads the same sheets, formulas and values from both files (its .xlsx has
    // numbers of 15 significant digits, and it shows the results libxlsxwriter stored).
    const Lines office_before = OfficeView(original_);
    ASSERT_TRUE(Has(office_before, "sheet 1 Helper hidden")) << ::testing::PrintToString(office_before);
    ASSERT_TRUE(Has(office_before,
                    "cell 0 D3 '=SUM(B2:B3*2)' 246913578.84691399 {'aca': 'false', 't': 'array', "
                    "'ref': 'D3:D3'}"));
    // libxlsxwriter stores the text result "  два пробела  !" in a <v> without xml:space, and
    // LibreOffice drops its leading blanks; ours says xml:space="preserve", so LibreOffice reads
    // the text openpyxl reads from both files.
    const std::string trimmed = "cell 0 D2 '=A2&\"!\"' 'два пробела  !' None";
    ASSERT_TRUE(Has(before, "cell 0 D2 '=A2&\"!\"' '  два пробела  !' None"));
    ASSERT_TRUE(Has(office_before, trimmed));
    Lines office_expected = office_before;
    std::replace(office_expected.begin(), office_expected.end(), trimmed,
                 std::string("cell 0 D2 '=A2&\"!\"' '  два пробела  !' None"));
    ExpectOnlyAdded(office_expected, OfficeView(path_), AddedRow(4));
#endif
}

// gnumeric converts an openpyxl workbook (formulas without results, error results, a text result
// with blanks, a date, a second sheet, numbers that need many digits) into an .xlsx of its own:
// inline strings with blanks and no xml:space, numbers with up to 21 digits, results it
// calculated.
constexpr const char* kGnumericSource = R"PY(
import sys, datetime, openpyxl
wb = openpyxl.Workbook()
s = wb.active
s.title = 'Итоги'
s['A1'] = '  два пробела  '
s['B1'] = 0.30000000000000004
s['C1'] = 123456789.12345678
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

TEST_F(LiveLogXlsxFidelity, EverythingGnumericWroteSurvivesALoggedRow) {
    const std::string ssconvert = test::FindProgram("ssconvert");
    if (ssconvert.empty()) GTEST_SKIP() << "gnumeric is not installed (scripts/setup.sh --tests installs it)";
    const std::string source = dir_.File("source.xlsx");
    const test::CommandResult made = test::RunPython(kGnumericSource, {source});
    ASSERT_EQ(made.exit_code, 0) << made.errors;
    const test::CommandResult converted = test::RunCommand({ssconvert, source, path_});
    ASSERT_EQ(converted.exit_code, 0) << converted.errors;
    Keep();
    Lines before = View(path_);
    ASSERT_TRUE(Has(before, "cell 0 A1 '  два пробела  ' '  два пробела  ' None"))
        << ::testing::PrintToString(before);
    ASSERT_TRUE(Has(before, "cell 0 C2 '=1/0' '#DIV/0!' None"));
    ASSERT_TRUE(Has(before, "cell 0 D2 '=NA()' '#N/A' None"));
    // gnumeric's styles part has no cell style, which openpyxl warns about; ours has one, so the
    // extended file must read without the warning.
    std::erase_if(before, [](const std::string& line) { return line.starts_with("warning"); });

    LogOneRow();
    ExpectOnlyAdded(before, View(path_), AddedRow(3));
    ExpectOnlyAdded(OfficeView(original_), OfficeView(path_), AddedRow(3));
}

}  // namespace
}  // namespace linograf
