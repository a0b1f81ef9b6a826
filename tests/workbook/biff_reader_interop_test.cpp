// The BIFF reader against independent producers and consumers: files made by python3-xlwt and
// by LibreOffice are read with the same values python3-xlrd reads from them; after a row is
// appended and the workbook written back, python3-xlrd and LibreOffice read the original content
// unchanged plus the new row.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "tests/workbook/biff_reader_test_support.h"
#include "tests/workbook/biff_test_support.h"
#include "text/wide_text.h"
#include "workbook/biff/biff_record_input.h"
#include "workbook/cfb/compound_document.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook {
namespace {

// One line per sheet and per cell, merged area and column width, as xlrd sees the file. Texts
// are their UTF-16LE bytes in hex; numbers (dates too) with 17 significant digits.
constexpr const char* kXlrdDump = R"(
import sys, xlrd
book = xlrd.open_workbook(sys.argv[1], formatting_info=True)
for si, sh in enumerate(book.sheets()):
    print("sheet", si, sh.name.encode("utf-16-le").hex(), sh.visibility)
    for r in range(sh.nrows):
        for c in range(sh.ncols):
            cell = sh.cell(r, c)
            t = cell.ctype
            if t == 0:
                continue
            if t == 1:
                kind, value = "s", cell.value.encode("utf-16-le").hex()
            elif t in (2, 3):
                kind, value = "n", "%.17g" % cell.value
            elif t == 4:
                kind, value = "b", str(int(cell.value))
            elif t == 5:
                kind, value = "e", str(cell.value)
            else:
                kind, value = "blank", ""
            print("cell", si, r, c, kind, value, cell.xf_index)
    for rlo, rhi, clo, chi in sh.merged_cells:
        print("merged", si, clo, rlo, chi - 1, rhi - 1)
    for c, info in sorted(sh.colinfo_map.items()):
        print("width", si, c, info.width)
)";

// Every cell with a value as openpyxl reads the package LibreOffice converted a file to:
// formulas as their text.
constexpr const char* kOpenpyxlDump = R"(
import sys, datetime, openpyxl
book = openpyxl.load_workbook(sys.argv[1])
for si, sh in enumerate(book.worksheets):
    print("sheet", si, sh.title.encode("utf-16-le").hex())
    for row in sh.iter_rows():
        for cell in row:
            v = cell.value
            if v is None:
                continue
            if isinstance(v, bool):
                kind, text = "b", str(int(v))
            elif isinstance(v, (int, float)):
                kind, text = "n", "%.17g" % v
            elif isinstance(v, datetime.datetime):
                kind, text = "d", v.isoformat()
            elif isinstance(v, str) and v.startswith("="):
                kind, text = "f", v.encode("utf-16-le").hex()
            else:
                kind, text = "s", str(v).encode("utf-16-le").hex()
            print("cell", si, cell.row - 1, cell.column - 1, kind, text)
)";

std::string Utf16Hex(std::u16string_view text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return biffreadtest::Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// The records of a stream up to the first one that does not fit: xlwt pads its stream with
// zero bytes after the last EOF.
std::vector<TBiffRecordView> RecordsOf(std::string_view stream) {
    std::vector<TBiffRecordView> records;
    for (size_t at = 0; stream.size() - at >= 4;) {
        const uint16_t id = bifftest::U16(stream, at), length = bifftest::U16(stream, at + 2);
        if (stream.size() - at - 4 < length) break;
        records.push_back({at, id, stream.substr(at + 4, length)});
        at += 4 + length;
    }
    return records;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> DumpWithPython(const char* script, const std::string& path) {
    const test::CommandResult r = test::RunPython(script, {path});
    EXPECT_EQ(r.exit_code, 0) << r.errors;
    return Lines(r.output);
}

// Our workbook in the form of kXlrdDump.
std::vector<std::string> DumpLikeXlrd(TTabulon4& book) {
    static constexpr uint8_t kErrorBytes[] = {0x00, 0x07, 0x0F, 0x17, 0x1D, 0x24, 0x2A};
    std::vector<std::string> lines;
    char number[40];
    for (int s = 0; s < book.Sheets().Count(); ++s) {
        TSheet& sheet = book.Sheet(s);
        const std::string si = std::to_string(s);
        lines.push_back("sheet " + si + " " + Utf16Hex(sheet.Name()) + " " + std::to_string(sheet.Hidden()));
        auto it = sheet.Cells().Cells();
        for (TCellRef c = it.Next(); c; c = it.Next()) {
            const TCell& cell = *c.cell;
            std::string kind, value;
            auto set_number = [&](double v) {
                std::snprintf(number, sizeof number, "%.17g", v);
                kind = "n";
                value = number;
            };
            switch (cell.type) {
                case ctFloat:
                    set_number(cell.value.number);
                    break;
                case ctInteger:
                    set_number(cell.value.integer);
                    break;
                case ctString:
                    kind = "s", value = Utf16Hex(TSST2::Text(cell.value.entry));
                    break;
                case ctBoolean:
                    kind = "b", value = std::to_string(cell.small);
                    break;
                case ctError:
                    kind = "e", value = std::to_string(kErrorBytes[(cell.small - 1) % 7]);
                    break;
                case ctBlank:
                    kind = "blank";
                    break;
                case ctNumberFormula:
                    set_number(cell.value.formula->number);
                    break;
                case ctStringFormula:
                    kind = "s", value = Utf16Hex(cell.value.formula->string_result);
                    break;
                case ctBooleanFormula:
                    kind = "b", value = std::to_string(cell.value.formula->boolean_or_error);
                    break;
                case ctErrorFormula:
                    kind = "e",
                    value = std::to_string(kErrorBytes[(cell.value.formula->boolean_or_error - 1) % 7]);
                    break;
                default:
                    kind = "?";
                    break;
            }
            lines.push_back("cell " + si + " " + std::to_string(c.row) + " " + std::to_string(c.col) + " " +
                            kind + " " + value + " " + std::to_string(sheet.CellFormatIndex(cell)));
        }
        for (int m = 0; m < sheet.MergedCells().Count(); ++m) {
            const TMergedArea& a = sheet.MergedCells().Items(m);
            lines.push_back("merged " + si + " " + std::to_string(a.col1) + " " + std::to_string(a.row1) +
                            " " + std::to_string(a.col2) + " " + std::to_string(a.row2));
        }
        for (int col = 0; col < 256; ++col)
            if (const TXLSColumn* c = sheet.Columns().Items(col))
                lines.push_back("width " + si + " " + std::to_string(col) + " " + std::to_string(c->Width()));
    }
    return lines;
}

// xlrd lists a sheet's cells row by row, merged areas and widths after them; the store iterates
// the same way, so only the merged areas' order may differ.
void ExpectSameView(std::vector<std::string> actual, std::vector<std::string> expected) {
    std::sort(actual.begin(), actual.end());
    std::sort(expected.begin(), expected.end());
    biffreadtest::ExpectSameLines(
        [&] {
            std::string s;
            for (const auto& l : actual) s += l + "\n";
            return s;
        }(),
        [&] {
            std::string s;
            for (const auto& l : expected) s += l + "\n";
            return s;
        }());
}

class BiffReaderInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::PythonHasModule("xlrd")) GTEST_SKIP() << "python3-xlrd is not installed";
    }

    void Read(TTabulon4& book, const std::string& path) {
        book.SetFilename(Utf8ToWide(path));
        book.Read();
    }

    // Appends a row under sheet 0's last row, writes the workbook to `out` and checks that xlrd
    // reads the original view plus the new row.
    void AppendRowAndCheckWithXlrd(TTabulon4& book, const std::vector<std::string>& original, uint32_t row,
                                   const std::string& out) {
        TSheet& sheet = book.Sheet(0);
        sheet.SetAsWideString(0, row, u"новая строка");
        sheet.SetAsFloat(1, row, 2.5);
        book.SetVersion(xvExcel97);
        book.SetFilename(Utf8ToWide(out));
        book.Write();
        std::vector<std::string> expected = original;
        for (uint32_t col : {0u, 1u}) {
            const std::string text = col == 0 ? "s " + Utf16Hex(u"новая строка") : "n 2.5";
            expected.push_back("cell 0 " + std::to_string(row) + " " + std::to_string(col) + " " + text +
                               " " + std::to_string(sheet.CellFormatIndex(*sheet.Cells().Find(col, row))));
        }
        ExpectSameView(DumpWithPython(kXlrdDump, out), expected);
    }

    // LibreOffice's view of a file, through an Open XML copy of it.
    std::map<std::string, std::string> LibreOfficeCells(const std::string& path) {
        const std::string office = test::FindProgram("soffice");
        const std::string outdir = dir.File("lo");
        const test::CommandResult r =
            test::RunCommand({office, "-env:UserInstallation=file://" + dir.File("profile"), "--headless",
                              "--norestore", "--convert-to", "xlsx", "--outdir", outdir, path});
        EXPECT_EQ(r.exit_code, 0) << r.errors;
        std::string name = std::filesystem::path(path).stem().string() + ".xlsx";
        std::map<std::string, std::string> cells;
        for (const std::string& line : DumpWithPython(kOpenpyxlDump, outdir + "/" + name)) {
            std::istringstream in(line);
            std::string tag, s, r2, c, kind, text;
            in >> tag >> s >> r2 >> c >> kind >> text;
            if (tag == "cell")
                cells[s + " " + r2 + " " + c] = kind + " " + text;
            else
                cells["sheet " + s] = r2;
        }
        return cells;
    }

    bool HaveLibreOffice() {
        return !test::FindProgram("soffice").empty() && test::PythonHasModule("openpyxl");
    }

    test::TempDir dir;
};

constexpr const char* kXlwtBook = R"(
import sys, datetime, xlwt
wb = xlwt.Workbook(encoding="utf-8")
s = wb.add_sheet("Тексты")
s.write(0, 0, "Latin text")
s.write(0, 1, "Кириллица и латиница")
s.write(0, 2, "中文字符と日本語")
s.write(1, 0, 42); s.write(1, 1, -3.25); s.write(1, 2, 1234567.891); s.write(1, 3, 1e-7)
s.write(2, 0, True); s.write(2, 1, False)
s.write(3, 0, datetime.datetime(2024, 2, 29, 13, 45), xlwt.easyxf(num_format_str="DD.MM.YYYY hh:mm"))
s.write(4, 0, xlwt.Formula("B2*2"))
s.write(4, 1, xlwt.Formula('"ab"&"cd"'))
s.write_merge(5, 6, 0, 2, "merged area", xlwt.easyxf("font: bold on, height 280; align: horiz center"))
s.col(0).width = 6000
s.col(2).width = 3000
s2 = wb.add_sheet("Strings")
for i in range(1200):
    s2.write(i, 0, "длинная строка номер %d" % i)
s3 = wb.add_sheet("Hidden")
s3.write(0, 0, "x")
s3.visibility = 1
wb.save(sys.argv[1])
)";

TEST_F(BiffReaderInterop, ReadsWhatXlwtWritesAndWritesItBack) {
    if (!test::PythonHasModule("xlwt")) GTEST_SKIP() << "python3-xlwt is not installed";
    const std::string path = dir.File("xlwt.xls");
    const test::CommandResult made = test::RunPython(kXlwtBook, {path});
    ASSERT_EQ(made.exit_code, 0) << made.errors;
    // The shared string table is long enough to go on in CONTINUE records, with a 16-bit string
    // cut in its characters.
    const std::string stream = bifftest::WorkbookStreamOf(path);
    const bifftest::DecodedSST sst = bifftest::DecodeSST(RecordsOf(stream));
    ASSERT_NE(std::count(sst.continuation_options.begin(), sst.continuation_options.end(), 0x01), 0);

    TTabulon4 book;
    Read(book, path);
    const std::vector<std::string> original = DumpWithPython(kXlrdDump, path);
    ExpectSameView(DumpLikeXlrd(book), original);
    // xlwt gives its formulas an empty text as their result.
    ASSERT_EQ(book.Sheet(0).CellType(0, 4), ctStringFormula);
    // The date's number format came along.
    const TCellFormat& date =
        book.Formats().Items(book.Sheet(0).CellFormatIndex(*book.Sheet(0).Cells().Find(0, 3)));
    EXPECT_EQ(book.Formats().NumberFormats().ById(date.NumberFormatIndex()).Text(), u"DD.MM.YYYY hh:mm");
    // So did the bold 14-point font of the merged area.
    const TCellFormat& merged =
        book.Formats().Items(book.Sheet(0).CellFormatIndex(*book.Sheet(0).Cells().Find(0, 5)));
    EXPECT_EQ(book.Fonts().Items(merged.FontIndex()).height, 280u);
    EXPECT_TRUE(book.Fonts().Items(merged.FontIndex()).style.Contains(xfsBold));

    const std::string out = dir.File("xlwt_appended.xls");
    AppendRowAndCheckWithXlrd(book, original, 7, out);

    if (!HaveLibreOffice()) GTEST_SKIP() << "LibreOffice or python3-openpyxl is not installed";
    const std::map<std::string, std::string> office = LibreOfficeCells(out);
    EXPECT_EQ(office.at("0 7 0"), "s " + Utf16Hex(u"новая строка"));
    EXPECT_EQ(office.at("0 7 1"), "n 2.5");
    EXPECT_EQ(office.at("0 4 0"), "f " + Utf16Hex(u"=B2*2"));
    for (const std::string& line : original) {
        std::istringstream in(line);
        std::string tag, s, r, c, kind, value, xf;
        in >> tag >> s >> r >> c >> kind >> value >> xf;
        // LibreOffice writes booleans as TRUE() and FALSE() formulas; empty texts have no cell.
        if (tag != "cell" || kind != "s" || xf.empty()) continue;
        const auto found = office.find(s + " " + r + " " + c);
        ASSERT_NE(found, office.end()) << line;
        EXPECT_EQ(found->second, kind + " " + value) << line;
    }
}

// A record stream several times the reader's window: records, strings of the shared string table
// and a formula with the STRING record after it cross the window's edges somewhere.
constexpr const char* kXlwtLargeBook = R"(
import sys, xlwt
wb = xlwt.Workbook(encoding="utf-8")
s = wb.add_sheet("Large")
for r in range(30000):
    s.write(r, 0, "строка %d" % r)
    s.write(r, 1, r * 0.25)
    s.write(r, 2, "text %d" % (r % 977))
    if r % 7 == 0:
        s.write(r, 3, xlwt.Formula('"f"&"%d"' % r))
wb.save(sys.argv[1])
)";

TEST_F(BiffReaderInterop, ReadsARecordStreamLargerThanTheReadersWindow) {
    if (!test::PythonHasModule("xlwt")) GTEST_SKIP() << "python3-xlwt is not installed";
    const std::string path = dir.File("large.xls");
    const test::CommandResult made = test::RunPython(kXlwtLargeBook, {path});
    ASSERT_EQ(made.exit_code, 0) << made.errors;
    ASSERT_GT(bifftest::WorkbookStreamOf(path).size(), 4 * TBiffRecordInput::kWindow);
    TTabulon4 book;
    Read(book, path);
    ExpectSameView(DumpLikeXlrd(book), DumpWithPython(kXlrdDump, path));
}

// A workbook made by openpyxl and saved by LibreOffice as .xls: shared formulas, its document
// summary streams and LibreOffice's own records.
constexpr const char* kOpenpyxlBook = R"(
import sys, openpyxl
wb = openpyxl.Workbook()
s = wb.active
s.title = "Данные"
for r in range(1, 41):
    s.cell(row=r, column=1, value=r * 1.5)
    s.cell(row=r, column=2, value="=A%d*2" % r)
    s.cell(row=r, column=3, value="текст %d" % r)
s["D1"] = True
s["D2"] = "=1/0"
s.merge_cells("E1:F2")
s.column_dimensions["C"].width = 30
t = wb.create_sheet("Second")
t["A1"] = "second sheet"
wb.save(sys.argv[1])
)";

TEST_F(BiffReaderInterop, ReadsWhatLibreOfficeWritesAndKeepsItsSummaries) {
    if (!HaveLibreOffice()) GTEST_SKIP() << "LibreOffice or python3-openpyxl is not installed";
    const std::string source = dir.File("source.xlsx");
    const test::CommandResult made = test::RunPython(kOpenpyxlBook, {source});
    ASSERT_EQ(made.exit_code, 0) << made.errors;
    const test::CommandResult converted = test::RunCommand(
        {test::FindProgram("soffice"), "-env:UserInstallation=file://" + dir.File("profile"), "--headless",
         "--norestore", "--convert-to", "xls", "--outdir", dir.path().string(), source});
    ASSERT_EQ(converted.exit_code, 0) << converted.errors;
    const std::string path = dir.File("source.xls");
    const std::string stream = bifftest::WorkbookStreamOf(path);
    // LibreOffice groups the column of similar formulas into shared formulas.
    const std::vector<TBiffRecordView> records = RecordsOf(stream);
    ASSERT_TRUE(
        std::any_of(records.begin(), records.end(), [](const TBiffRecordView& r) { return r.id == 0x04BC; }));

    TTabulon4 book;
    Read(book, path);
    const std::vector<std::string> original = DumpWithPython(kXlrdDump, path);
    ExpectSameView(DumpLikeXlrd(book), original);

    const std::string out = dir.File("office_appended.xls");
    AppendRowAndCheckWithXlrd(book, original, 40, out);

    const TCompoundDocument before = TCompoundDocument::LoadFile(path),
                            after = TCompoundDocument::LoadFile(out);
    for (const std::u16string& name : {u'\x05' + std::u16string(u"SummaryInformation"),
                                       u'\x05' + std::u16string(u"DocumentSummaryInformation")}) {
        ASSERT_TRUE(before.Root().Contains(name)) << WideToUtf8(name);
        ASSERT_TRUE(after.Root().Contains(name));
        EXPECT_EQ(after.Root().OpenStream(name).Bytes(), before.Root().OpenStream(name).Bytes());
    }

    // Each cell of the shared formula group is its own formula again, pointing at its own row.
    const std::map<std::string, std::string> office = LibreOfficeCells(out);
    for (int r = 0; r < 40; ++r)
        EXPECT_EQ(office.at("0 " + std::to_string(r) + " 1"),
                  "f " + Utf16Hex(Utf8ToWide("=A" + std::to_string(r + 1) + "*2")))
            << r;
    EXPECT_EQ(office.at("0 40 0"), "s " + Utf16Hex(u"новая строка"));
    EXPECT_EQ(office.at("1 0 0"), "s " + Utf16Hex(u"second sheet"));
}

// A BIFF5 workbook whose 8-bit texts are in the code page its CODEPAGE record names: the user
// name (WRITEACCESS, which comes before CODEPAGE), a user style's name, sheet name, text cells and
// a formula's text result read as xlrd reads them (xlrd honours CODEPAGE too), and the BIFF8 file
// written from it holds the same texts.
constexpr const char* kXlrdTexts = R"(
import sys, xlrd
book = xlrd.open_workbook(sys.argv[1], formatting_info=True)
print("user", book.user_name.encode("utf-16-le").hex())
for name, (built_in, xf) in sorted(book.style_name_map.items()):
    if not built_in: print("style", name.encode("utf-16-le").hex())
for si, sh in enumerate(book.sheets()):
    print("sheet", si, sh.name.encode("utf-16-le").hex())
    for r in range(sh.nrows):
        for c in range(sh.ncols):
            v = sh.cell_value(r, c)
            if v != "":
                print("cell", si, r, c, str(v).encode("utf-16-le").hex())
)";

TEST_F(BiffReaderInterop, Biff5TextsReadInTheirCodePage) {
    using biffreadtest::Bytes;
    using biffreadtest::Records;
    // The same bytes mean other letters in each code page: 0xCF 0xF0 0xE8 0xE2 0xE5 0xF2 is
    // "Привет" in 1251 and "Ïðèâåò" in 1252.
    const std::string word = "\xCF\xF0\xE8\xE2\xE5\xF2";
    for (const uint16_t code_page : {1251, 1252}) {
        auto globals = [&](uint32_t sheet_at) {
            Records r;
            r.Add(0x0809, Bytes().U16(0x0500).U16(0x0005).U16(0).U16(0));
            r.Add(0x005C, Bytes().U8(static_cast<uint32_t>(word.size())).Raw(word).Fill(25, ' '));
            r.Add(0x0042, Bytes().U16(code_page));
            r.Add(0x0293, Bytes().U16(0).U8(static_cast<uint32_t>(word.size())).Raw(word));
            r.Add(0x0085, Bytes().U32(sheet_at).U8(0).U8(0).U8(static_cast<uint32_t>(word.size())).Raw(word));
            r.Add(0x000A, "");
            return r;
        };
        const size_t sheet_at = globals(0).bytes().size();
        Records book5 = globals(static_cast<uint32_t>(sheet_at));
        book5.Add(0x0809, Bytes().U16(0x0500).U16(0x0010).U16(0).U16(0));
        book5.Add(0x0000, Bytes().U16(0).U16(2).U16(0).U16(2));  // DIMENSIONS: rows 0-1, columns 0-1
        book5.Add(0x0204, Bytes().U16(0).U16(0).U16(15).U16(static_cast<uint32_t>(word.size())).Raw(word));
        // A formula with a text result: the text follows in a STRING record.
        book5.Add(0x0006, Bytes()
                              .U16(1)
                              .U16(0)
                              .U16(15)
                              .U8(0)
                              .Fill(5, 0)
                              .U16(0xFFFF)
                              .U16(0)
                              .U32(0)
                              .U16(8)
                              .U8(0x17)
                              .U8(6)
                              .Raw(word));
        book5.Add(0x0207, Bytes().U16(static_cast<uint32_t>(word.size())).Raw(word));
        book5.Add(0x000A, "");
        const std::string path = dir.File("biff5-" + std::to_string(code_page) + ".xls");
        biffreadtest::WriteXls(path, book5.bytes(), u"Book");
        const std::vector<std::string> original = DumpWithPython(kXlrdTexts, path);
        ASSERT_EQ(original.size(), 5u) << code_page;
        const std::string hex = Utf16Hex(code_page == 1251 ? u"Привет" : u"Ïðèâåò");
        EXPECT_EQ(original[0], "user " + hex);
        EXPECT_EQ(original[1], "style " + hex);
        EXPECT_EQ(original[2], "sheet 0 " + hex);

        TTabulon4 book;
        Read(book, path);
        book.Sheet(0).SetAsWideString(0, 2, u"новая строка");
        book.SetVersion(xvExcel97);
        const std::string out = dir.File("biff8-" + std::to_string(code_page) + ".xls");
        book.SetFilename(Utf8ToWide(out));
        book.Write();
        std::vector<std::string> expected = original;
        expected.push_back("cell 0 2 0 " + Utf16Hex(u"новая строка"));
        EXPECT_EQ(DumpWithPython(kXlrdTexts, out), expected) << code_page;
    }
}

// Formulas that need more than their tokens: an array formula (its cells point at the ARRAY
// record after the first), a data table (TABLE), array constants (values after the tokens) in a
// plain and in a shared formula. Written back, each keeps those records and bytes as they were,
// and xlrd and LibreOffice read the same workbook from both files.
TEST_F(BiffReaderInterop, ArrayFormulasDataTablesAndArrayConstantsStayFormulas) {
    using biffreadtest::Bytes;
    using biffreadtest::Records;
    auto formula = [](uint32_t row, uint32_t col, double result, uint16_t options, const std::string& tokens,
                      const std::string& extra = {}) {
        return Bytes()
            .U16(row)
            .U16(col)
            .U16(15)
            .F64(result)
            .U16(options)
            .U32(0)
            .U16(static_cast<uint32_t>(tokens.size()))
            .Raw(tokens)
            .Raw(extra)
            .str();
    };
    const std::string exp_c1 = Bytes().U8(0x01).U16(0).U16(2).str();
    const std::string exp_f1 = Bytes().U8(0x01).U16(0).U16(5).str();
    // {1,2}: one row of two numbers.
    const std::string array_tokens = Bytes().U8(0x60).Fill(7, 0).str();
    const std::string array_values = Bytes().U8(1).U16(0).U8(1).F64(1).U8(1).F64(2).str();
    const std::string sum = Bytes().U8(0x42).U8(1).U16(4).str();
    // C1:C2 = A1:A2*2
    const std::string array_formula =
        Bytes().U8(0x65).U16(0).U16(1).U16(0xC000).U16(0xC000).U8(0x1E).U16(2).U8(0x05).str();
    const std::string array_record = Bytes()
                                         .U16(0)
                                         .U16(1)
                                         .U8(2)
                                         .U8(2)
                                         .U16(0)
                                         .U32(0)
                                         .U16(static_cast<uint32_t>(array_formula.size()))
                                         .Raw(array_formula)
                                         .str();
    const std::string table_record =
        Bytes().U16(1).U16(1).U8(3).U8(3).U8(0x00).U8(0).U16(0).U16(0).U16(0).U16(0).str();
    // Shared: the cell's own column A plus SUM({1,2}).
    const std::string shared_tokens =
        Bytes().U8(0x2C).U16(0).U16(0xC000 | 0xFB).str() + array_tokens + sum + "\x03";
    const std::string shared_record = Bytes()
                                          .U16(0)
                                          .U16(1)
                                          .U8(5)
                                          .U8(5)
                                          .U8(0)
                                          .U8(2)
                                          .U16(static_cast<uint32_t>(shared_tokens.size()))
                                          .Raw(shared_tokens)
                                          .Raw(array_values)
                                          .str();

    auto globals = [&](uint32_t sheet_at) {
        Records r = biffreadtest::MinimalGlobals({});
        r.Add(0x0085, Bytes().U32(sheet_at).U8(0).U8(0).U8(6).U8(0).Raw("Groups"));
        r.Add(0x000A, "");
        return r;
    };
    Records book8 = globals(static_cast<uint32_t>(globals(0).size()));
    book8.Add(0x0809, biffreadtest::BofData(0x0010));
    book8.Add(0x0200, Bytes().U32(0).U32(2).U16(0).U16(6).U16(0).str());
    book8.Add(0x0203, Bytes().U16(0).U16(0).U16(15).F64(3).str());
    book8.Add(0x0203, Bytes().U16(1).U16(0).U16(15).F64(4).str());
    book8.Add(0x0006, formula(0, 2, 6, 0, exp_c1)).Add(0x0221, array_record);
    book8.Add(0x0006, formula(1, 2, 8, 0, exp_c1));
    book8.Add(0x0006, formula(1, 3, 0, 0, Bytes().U8(0x02).U16(1).U16(3).str())).Add(0x0236, table_record);
    book8.Add(0x0006, formula(0, 4, 3, 0, array_tokens + sum, array_values));
    book8.Add(0x0006, formula(0, 5, 6, 0x0008, exp_f1)).Add(0x04BC, shared_record);
    book8.Add(0x0006, formula(1, 5, 7, 0x0008, exp_f1));
    book8.Add(0x000A, "");
    const std::string path = dir.File("groups.xls");
    biffreadtest::WriteXls(path, book8.bytes());
    const std::vector<std::string> original = DumpWithPython(kXlrdDump, path);

    TTabulon4 book;
    Read(book, path);
    const std::string out = dir.File("groups_appended.xls");
    AppendRowAndCheckWithXlrd(book, original, 2, out);

    // The records and bytes that make the formulas what they are went out unchanged.
    const std::string written = bifftest::WorkbookStreamOf(out);
    std::vector<std::string> arrays, tables, formula_tails;
    for (const TBiffRecordView& r : RecordsOf(written)) {
        if (r.id == 0x0221) arrays.emplace_back(r.data);
        if (r.id == 0x0236) tables.emplace_back(r.data);
        if (r.id == 0x0006 && r.data.size() > 22) {
            const size_t count = bifftest::U16(r.data, 20);
            formula_tails.emplace_back(r.data.substr(22 + count));
        }
    }
    EXPECT_EQ(arrays, std::vector<std::string>{array_record});
    EXPECT_EQ(tables, std::vector<std::string>{table_record});
    EXPECT_EQ(std::count(formula_tails.begin(), formula_tails.end(), array_values), 3);

    if (!HaveLibreOffice()) GTEST_SKIP() << "LibreOffice or python3-openpyxl is not installed";
    std::map<std::string, std::string> before = LibreOfficeCells(path), after = LibreOfficeCells(out);
    EXPECT_EQ(after.at("0 2 0"), "s " + Utf16Hex(u"новая строка"));
    after.erase("0 2 0");
    after.erase("0 2 1");
    EXPECT_EQ(after, before);
    EXPECT_EQ(before.at("0 0 4"), "f " + Utf16Hex(u"=SUM({1,2})"));
}

// A chart sheet between two worksheets: the model has no charts, so its substream goes back
// unchanged, in its place, and the sheets after it keep their positions (which formulas and names
// refer to) and their states. Cells put on it cannot be written, and the file is then left alone.
TEST_F(BiffReaderInterop, ChartSheetsStayInTheirPlace) {
    using biffreadtest::Bytes;
    using biffreadtest::Records;
    Records data, chart, after;
    data.Add(0x0809, biffreadtest::BofData(0x0010));
    data.Add(0x0203, Bytes().U16(0).U16(0).U16(15).F64(1.5).str());
    data.Add(0x000A, "");
    chart.Add(0x0809, biffreadtest::BofData(0x0020));
    chart.Add(0x1002, Bytes().U32(0).U32(0).U32(0x01DF0000).U32(0x01340000).str());  // CHART: its frame
    chart.Add(0x1033, "");                                                           // BEGIN
    chart.Add(0x1034, "");                                                           // END
    chart.Add(0x000A, "");
    after.Add(0x0809, biffreadtest::BofData(0x0010));
    after.Add(0x0203, Bytes().U16(0).U16(0).U16(15).F64(2.5).str());
    after.Add(0x000A, "");
    auto globals = [&](uint32_t first) {
        Records r = biffreadtest::MinimalGlobals({});
        const uint32_t at[] = {first, first + static_cast<uint32_t>(data.size()),
                               first + static_cast<uint32_t>(data.size() + chart.size())};
        r.Add(0x0085, Bytes().U32(at[0]).U8(0).U8(0).U8(4).U8(0).Raw("Data"));
        r.Add(0x0085, Bytes().U32(at[1]).U8(0).U8(2).U8(5).U8(0).Raw("Chart"));
        r.Add(0x0085, Bytes().U32(at[2]).U8(1).U8(0).U8(5).U8(0).Raw("After"));
        r.Add(0x000A, "");
        return r;
    };
    const std::string stream = globals(static_cast<uint32_t>(globals(0).size())).bytes() + data.bytes() +
                               chart.bytes() + after.bytes();
    const std::string path = dir.File("chart.xls");
    biffreadtest::WriteXls(path, stream);
    const std::vector<std::string> original = DumpWithPython(kXlrdDump, path);

    TTabulon4 book;
    Read(book, path);
    ASSERT_EQ(book.Sheets().Count(), 3);
    const std::string out = dir.File("chart_appended.xls");
    AppendRowAndCheckWithXlrd(book, original, 1, out);

    // The directory names the same sheets, types and states in the same order, and the chart's
    // records are the ones it was read with.
    auto directory = [](const std::string& bytes) {
        std::vector<std::string> entries;
        for (const TBiffRecordView& r : RecordsOf(bytes))
            if (r.id == 0x0085) entries.emplace_back(r.data.substr(4, 2));
        return entries;
    };
    EXPECT_EQ(directory(bifftest::WorkbookStreamOf(out)), directory(stream));
    const char* names = "import sys, xlrd\nprint(xlrd.open_workbook(sys.argv[1]).sheet_names())";
    EXPECT_EQ(DumpWithPython(names, out), DumpWithPython(names, path));
    EXPECT_NE(bifftest::WorkbookStreamOf(out).find(chart.bytes()), std::string::npos);

    book.Sheet(1).SetAsFloat(0, 0, 1);
    const std::string before = test::ReadFileBytes(out);
    EXPECT_THROW(book.Write(), std::runtime_error);
    EXPECT_EQ(test::ReadFileBytes(out), before);
}

}  // namespace
}  // namespace linograf::workbook
