// Extending an .xlsx that libxlsxwriter made loses nothing: a small program of ours built on the
// library (xlsxwriter_fixture.c) makes the workbook during the test, the live log extends it by
// one logged row, and python3-openpyxl and LibreOffice then see every original value, formula,
// cached result, sheet name and state, date and text as libxlsxwriter wrote them, plus the row.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "core/live_log.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "text/cp1251.h"

namespace linograf {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

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
    const test::CommandResult r = test::RunPython(kView, {path});
    EXPECT_EQ(r.exit_code, 0) << path << ": " << r.errors;
    Lines lines;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool Has(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Lines of `after` must be those of `before` plus `added`, nothing lost or changed.
void ExpectOnlyAdded(const Lines& before, const Lines& after, const Lines& added) {
    Lines expected = before;
    expected.insert(expected.end(), added.begin(), added.end());
    Lines actual = after;
    std::sort(expected.begin(), expected.end());
    std::sort(actual.begin(), actual.end());
    Lines missing, extra;
    std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(),
                        std::back_inserter(missing));
    std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    for (const std::string& line : missing) ADD_FAILURE() << "lost: " << line;
    for (const std::string& line : extra) ADD_FAILURE() << "changed or new: " << line;
}

TEST(LiveLogXlsxwriter, EverythingLibxlsxwriterWroteSurvivesALoggedRow) {
#ifndef LINOGRAF_XLSXWRITER_FIXTURE
    GTEST_SKIP() << "libxlsxwriter-dev is not installed (scripts/setup.sh --tests installs it)";
#else
    if (!test::PythonHasModule("openpyxl")) GTEST_SKIP() << "python3-openpyxl is not installed";
    const std::string soffice = test::FindProgram("soffice");
    if (soffice.empty()) GTEST_SKIP() << "LibreOffice is not installed";
    test::TempDir dir;
    const std::string path = dir.File("libxlsxwriter.xlsx");
    const test::CommandResult made = test::RunCommand({LINOGRAF_XLSXWRITER_FIXTURE, path});
    ASSERT_EQ(made.exit_code, 0) << made.errors;
    const std::string original = dir.File("original.xlsx");
    fs::copy_file(path, original);

    // LibreOffice's own reading, through its conversion to .xlsx: the values it calculated.
    int conversions = 0;
    auto office_view = [&](const std::string& file) {
        const std::string out = dir.File("converted-" + std::to_string(++conversions));
        const test::CommandResult r =
            test::RunCommand({soffice, "-env:UserInstallation=file://" + dir.File("profile"), "--headless",
                              "--norestore", "--convert-to", "xlsx", "--outdir", out, file});
        const std::string converted = out + "/" + fs::path(file).filename().string();
        EXPECT_TRUE(fs::exists(converted)) << r.output << r.errors;
        return View(converted);
    };

    const Lines before = View(path);
    // The producer's file has the shapes the check relies on.
    ASSERT_TRUE(Has(before, "calc True")) << ::testing::PrintToString(before);
    ASSERT_TRUE(Has(before, "sheet 1 Helper hidden"));
    ASSERT_TRUE(Has(before, "cell 0 A2 '  два пробела  ' '  два пробела  ' None"));
    ASSERT_TRUE(Has(before, "cell 0 C2 '=B2*2' 0 None"));
    ASSERT_TRUE(Has(before,
                    "cell 0 A3 datetime.datetime(2024, 2, 29, 13, 45, 30, 500000) "
                    "datetime.datetime(2024, 2, 29, 13, 45, 30, 500000) None"));

    TFormatJournal tables;
    test::WriteFileBytes(dir.File("format.ini"),
                         "[app]\nformat=2\n[format]\nname1=Name\nsize1=6\nname2=Value\nsize2=4\n");
    tables.LoadFormat(TIniFile(dir.File("format.ini")));
    workbook::TTabulon4 book;
    TJournalLogColumns columns{tables};
    TLiveLog log{book, columns};
    log.FileTemplate = [&] { return Utf8ToCp1251(path); };
    tables.cdata.AfterPost = [&](TMemTable& journal) { log.cdataAfterPost(journal); };
    log.CaptureStarting(LogVersionForTemplate(".xlsx"));
    tables.cdata.Append();
    tables.cdata.Fields(1).SetAsString(Utf8ToCp1251("новая"));
    tables.cdata.Fields(2).SetAsString("2,5");
    tables.cdata.Post();
    log.WaitIdle();
    ASSERT_EQ(log.FilesWritten(), Lines{path});

    ExpectOnlyAdded(before, View(path), {"cell 0 A4 'новая' 'новая' None", "cell 0 B4 '2,5' '2,5' None"});

    // LibreOffice reads the same sheets, formulas and values from both files (its .xlsx has
    // numbers of 15 significant digits, and it shows the results libxlsxwriter stored).
    const Lines office_before = office_view(original);
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
    ExpectOnlyAdded(office_expected, office_view(path),
                    {"cell 0 A4 'новая' 'новая' None", "cell 0 B4 '2,5' '2,5' None"});
#endif
}

}  // namespace
}  // namespace linograf
