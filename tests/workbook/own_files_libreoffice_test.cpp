// New workbooks of our own, shaped like a journal (a header, Cyrillic texts, numbers that need
// every digit, arrival dates and a formula left for the reader to calculate), keep every cell
// when LibreOffice converts them to the other format and back: each file on the way is read by
// the independent reader of its format (python3-xlrd for .xls, python3-openpyxl for .xlsx), and
// every cell must be what the test put in, the formula's value as calculated by LibreOffice.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/date_time.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "text/wide_text.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// One line per cell of the first sheet: its address, its value (numbers with 17 significant
// digits, dates as ISO text, texts as Python's repr) and, for .xlsx, its formula. Warnings are
// errors, so a file openpyxl has to repair fails.
constexpr const char* kCells = R"PY(
import sys, datetime, warnings
warnings.simplefilter('error')
path = sys.argv[1]
def show(v):
    if isinstance(v, datetime.datetime): return v.isoformat()
    if isinstance(v, (int, float)) and not isinstance(v, bool): return '%.17g' % v
    return repr(v)
if path.endswith('.xls'):
    import xlrd
    book = xlrd.open_workbook(path)
    sh = book.sheet_by_index(0)
    print('sheet', sh.name)
    for r in range(sh.nrows):
        for c in range(sh.ncols):
            cell = sh.cell(r, c)
            if cell.ctype == xlrd.XL_CELL_EMPTY: continue
            v = cell.value
            if cell.ctype == xlrd.XL_CELL_DATE: v = xlrd.xldate_as_datetime(v, book.datemode)
            print('cell', xlrd.formula.cellname(r, c), show(v))
else:
    import openpyxl
    formulas = openpyxl.load_workbook(path)
    values = openpyxl.load_workbook(path, data_only=True)
    ws = formulas.worksheets[0]
    print('sheet', ws.title)
    for row in ws.iter_rows():
        for c in row:
            if c.value is None: continue
            v = values.worksheets[0][c.coordinate].value
            print('cell', c.coordinate, show(v))
            if isinstance(c.value, str) and c.value.startswith('='): print('formula', c.coordinate, c.value)
)PY";

// Each FORMULA record's row, column and fAlwaysCalc bit ([MS-XLS]: 0x0001 of the options at
// offset 14 of the record), read from the Workbook stream with olefile.
constexpr const char* kAlwaysCalc = R"PY(
import sys, struct, olefile
data = olefile.OleFileIO(sys.argv[1]).openstream('Workbook').read()
at = 0
while at + 4 <= len(data):
    rid, size = struct.unpack_from('<HH', data, at)
    if rid == 0x0006:
        row, col = struct.unpack_from('<HH', data, at + 4)
        print('formula', row, col, struct.unpack_from('<H', data, at + 18)[0] & 1)
    at += 4 + size
)PY";

Lines CellLines(const std::string& path) {
    const test::CommandResult r = test::RunPython(kCells, {path});
    EXPECT_EQ(r.exit_code, 0) << path << ": " << r.errors;
    Lines lines;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct Row {
    DateTimeParts arrival;
    std::u16string name;
    double weight;
    // What the readers show of the arrival and the name.
    std::string arrival_text, name_repr;
};

const Row kRows[] = {
    {{2024, 5, 17, 13, 45, 30, 0}, u"Болт М8", 2.5, "2024-05-17T13:45:30", "'Болт М8'"},
    {{2024, 5, 17, 13, 46, 0, 0},
     u"Гайка «М8» №2",
     0.30000000000000004,
     "2024-05-17T13:46:00",
     "'Гайка «М8» №2'"},
    {{2024, 12, 31, 23, 59, 59, 0},
     u"  ёлка, 100% ",
     123456789.12345678,
     "2024-12-31T23:59:59",
     "'  ёлка, 100% '"},
};

// LibreOffice 7.4 writes the numbers of its .xlsx files with 15 significant digits (0.3 for
// 0.30000000000000004), so a file that went through one holds each number so rounded, and the
// formulas calculated from the rounded numbers.
enum class Digits { kAll, kFifteen };

double AsWritten(double value, Digits digits) {
    if (digits == Digits::kAll) return value;
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return std::strtod(text, nullptr);
}

// A number as the readers' lines show it: 17 significant digits.
std::string Shown(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

const char16_t* const kHeader[] = {u"Время поступления", u"Наименование", u"Вес, кг", u"Двойной вес"};
const char* const kHeaderRepr[] = {"'Время поступления'", "'Наименование'", "'Вес, кг'", "'Двойной вес'"};

// BIFF8 tokens of C<row>*2 (ptgRef with relative row and column, ptgInt 2, ptgMul).
std::vector<uint8_t> DoubleOfWeightTokens(uint16_t row) {
    return {0x24, static_cast<uint8_t>(row), static_cast<uint8_t>(row >> 8), 0x02, 0xC0, 0x1E, 0x02, 0x00,
            0x05};
}

// The journal as the live log makes it, with a formula beside each row. The formulas carry no
// result, so whoever opens the file has to calculate them.
void WriteJournal(const std::string& path, TExcelVersion version) {
    TTabulon4 book;
    book.Sheets().Add();
    book.Clear();
    TSheet& sheet = book.Sheet(0);
    for (uint32_t c = 0; c < 4; ++c) sheet.SetAsWideString(c, 0, kHeader[c]);
    uint32_t r = 1;
    for (const Row& row : kRows) {
        sheet.SetAsDateTime(0, r, EncodeDateTime(row.arrival));
        sheet.SetAsWideString(1, r, row.name);
        sheet.SetAsFloat(2, r, row.weight);
        auto formula = std::make_unique<TFormulaData>();
        formula->text = u"=C" + Utf8ToWide(std::to_string(r + 1)) + u"*2";
        formula->tokens = DoubleOfWeightTokens(static_cast<uint16_t>(r));
        formula->result_known = false;
        sheet.SetFormula(3, r, kDefaultCellFormat, ctNumberFormula, std::move(formula));
        ++r;
    }
    book.SetVersion(version);
    book.SetFilename(Utf8ToWide(path));
    book.Write();
}

// What each reader must show of the journal; `formulas` when the reader shows formula texts. The
// formula's value is the weight doubled, calculated here.
Lines Expected(bool formulas, Digits digits = Digits::kAll) {
    Lines lines = {"sheet Sheet1"};
    const char* columns = "ABCD";
    for (int c = 0; c < 4; ++c) lines.push_back(std::string("cell ") + columns[c] + "1 " + kHeaderRepr[c]);
    int r = 2;
    for (const Row& row : kRows) {
        const std::string at = std::to_string(r);
        const double weight = AsWritten(row.weight, digits);
        lines.push_back("cell A" + at + " " + row.arrival_text);
        lines.push_back("cell B" + at + " " + row.name_repr);
        lines.push_back("cell C" + at + " " + Shown(weight));
        lines.push_back("cell D" + at + " " + Shown(AsWritten(weight * 2, digits)));
        if (formulas) lines.push_back("formula D" + at + " =C" + at + "*2");
        ++r;
    }
    return lines;
}

class OwnFilesThroughLibreOffice : public ::testing::Test {
  protected:
    void SetUp() override {
        soffice_ = test::FindProgram("soffice");
        if (soffice_.empty()) GTEST_SKIP() << "LibreOffice is not installed";
        for (const char* module : {"xlrd", "openpyxl", "olefile"})
            if (!test::PythonHasModule(module)) GTEST_SKIP() << "python3-" << module << " is not installed";
    }

    // LibreOffice converts `path` to the format of `ext` in a folder of its own (with a profile
    // of its own, so parallel runs and other instances do not interfere).
    std::string Convert(const std::string& path, const std::string& filter, const std::string& ext) {
        const std::string out = dir_.File("step-" + std::to_string(++steps_));
        const test::CommandResult r =
            test::RunCommand({soffice_, "-env:UserInstallation=file://" + dir_.File("profile"), "--headless",
                              "--norestore", "--convert-to", filter, "--outdir", out, path});
        const std::string converted = out + "/" + fs::path(path).stem().string() + ext;
        EXPECT_TRUE(fs::exists(converted)) << r.output << r.errors;
        return converted;
    }

    std::string soffice_;
    test::TempDir dir_;
    int steps_ = 0;
};

TEST_F(OwnFilesThroughLibreOffice, XlsToXlsxAndBackKeepsEveryCell) {
    const std::string ours = dir_.File("journal.xls");
    WriteJournal(ours, xvExcel97);
    // The formulas without a result ask to be calculated, so no program shows the cached 0.
    const test::CommandResult always = test::RunPython(kAlwaysCalc, {ours});
    ASSERT_EQ(always.exit_code, 0) << always.errors;
    EXPECT_EQ(always.output, "formula 1 3 1\nformula 2 3 1\nformula 3 3 1\n");
    // LibreOffice's .xls keeps every digit it read from ours.
    EXPECT_EQ(CellLines(Convert(ours, "xls:MS Excel 97", ".xls")), Expected(false));
    const std::string xlsx = Convert(ours, "xlsx", ".xlsx");
    EXPECT_EQ(CellLines(xlsx), Expected(true, Digits::kFifteen));
    EXPECT_EQ(CellLines(Convert(xlsx, "xls:MS Excel 97", ".xls")), Expected(false, Digits::kFifteen));
}

TEST_F(OwnFilesThroughLibreOffice, XlsxToXlsAndBackKeepsEveryCell) {
    const std::string ours = dir_.File("journal.xlsx");
    WriteJournal(ours, xvExcel2007);
    // Our own file as openpyxl reads it, without a warning: the formulas carry no result yet.
    Lines own = Expected(true);
    for (std::string& line : own)
        if (line.starts_with("cell D") && line != "cell D1 'Двойной вес'") line = line.substr(0, 7) + " None";
    EXPECT_EQ(CellLines(ours), own);
    const std::string xls = Convert(ours, "xls:MS Excel 97", ".xls");
    EXPECT_EQ(CellLines(xls), Expected(false));
    EXPECT_EQ(CellLines(Convert(xls, "xlsx", ".xlsx")), Expected(true, Digits::kFifteen));
}

}  // namespace
}  // namespace linograf::workbook
