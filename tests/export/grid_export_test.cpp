// The grid export end to end: what it writes is read back by python3-xlrd (values, header texts,
// merged areas, fonts, alignment, borders, widths) and by python3-openpyxl for .xlsx; the page
// orientation is read from the SETUP record.
#include "core/export/grid_export.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "core/export/export_tokens.h"
#include "core/export/table_export_source.h"
#include "core/silent_abort.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "tests/workbook/biff_test_support.h"
#include "text/cp1251.h"
#include "text/wide_text.h"
#include "workbook/model/columns.h"
#include "workbook/model/fonts.h"

namespace linograf {
namespace {

namespace fs = std::filesystem;

TDateTime Now() {
    return EncodeDateTime({2024, 3, 15, 9, 5, 40});
}
const std::string kStamp = "Linograf 15.03.24 09:05";

// Sheet 0 as xlrd reads it, one line per fact, fields separated by tabs, texts in UTF-8.
constexpr const char* kXlrdDump = R"(
import sys, xlrd
sys.stdout.reconfigure(encoding="utf-8")
book = xlrd.open_workbook(sys.argv[1], formatting_info=True)
sh = book.sheet_by_index(0)
print("size", sh.nrows, sh.ncols, sep="\t")
for rlo, rhi, clo, chi in sorted(sh.merged_cells):
    print("merge", rlo, rhi - 1, clo, chi - 1, sep="\t")
for c, info in sorted(sh.colinfo_map.items()):
    print("width", c, info.width, sep="\t")
for r in range(sh.nrows):
    for c in range(sh.ncols):
        cell = sh.cell(r, c)
        if cell.ctype == xlrd.XL_CELL_EMPTY:
            continue
        xf = book.xf_list[cell.xf_index]
        font = book.font_list[xf.font_index]
        a, b = xf.alignment, xf.border
        value = cell.value if cell.ctype == xlrd.XL_CELL_TEXT else repr(cell.value)
        print("cell", r, c, cell.ctype, value, sep="\t")
        print("format", r, c, font.name, font.height, font.weight, a.hor_align, a.vert_align, a.text_wrapped,
              b.left_line_style, b.right_line_style, b.top_line_style, b.bottom_line_style, sep="\t")
)";

struct Sheet {
    int rows = 0, cols = 0;
    std::set<std::string> merges;  // "row1 row2 col1 col2"
    std::map<int, int> widths;
    std::map<std::pair<int, int>, std::pair<int, std::string>> cells;  // type, value
    std::map<std::pair<int, int>, std::string> styles;          // font, height, weight, alignment, wrap
    std::map<std::pair<int, int>, std::array<int, 4>> borders;  // left, right, top, bottom

    // A line between two cells may be kept on either of them: each edge counts as drawn when
    // the cell's side or the neighbour's facing side has a thin line.
    bool Framed(int row, int col) const {
        auto side = [&](int r, int c, int i) {
            const auto it = borders.find({r, c});
            return it == borders.end() ? 0 : it->second[i];
        };
        return (side(row, col, 0) == 1 || side(row, col - 1, 1) == 1) &&
               (side(row, col, 1) == 1 || side(row, col + 1, 0) == 1) &&
               (side(row, col, 2) == 1 || side(row - 1, col, 3) == 1) &&
               (side(row, col, 3) == 1 || side(row + 1, col, 2) == 1);
    }
    std::string Style(int row, int col) const {
        const auto it = styles.find({row, col});
        return it == styles.end() ? "(none)" : it->second;
    }

    // "(none)" for a position without a value (absent or blank).
    std::string Text(int row, int col) const {
        const auto it = cells.find({row, col});
        return it == cells.end() || it->second.first == 6 ? "(none)" : it->second.second;
    }
    int Type(int row, int col) const {
        const auto it = cells.find({row, col});
        return it == cells.end() ? 0 : it->second.first;
    }
};

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> out;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t')) out.push_back(field);
    if (!line.empty() && line.back() == '\t') out.emplace_back();
    return out;
}

Sheet ReadWithXlrd(const std::string& path) {
    const test::CommandResult r = test::RunPython(kXlrdDump, {path});
    EXPECT_EQ(r.exit_code, 0) << r.errors;
    Sheet sheet;
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        const std::vector<std::string> f = Fields(line);
        if (f[0] == "size") {
            sheet.rows = std::stoi(f[1]);
            sheet.cols = std::stoi(f[2]);
        } else if (f[0] == "merge") {
            sheet.merges.insert(f[1] + " " + f[2] + " " + f[3] + " " + f[4]);
        } else if (f[0] == "width") {
            sheet.widths[std::stoi(f[1])] = std::stoi(f[2]);
        } else if (f[0] == "cell") {
            sheet.cells[{std::stoi(f[1]), std::stoi(f[2])}] = {std::stoi(f[3]), f[4]};
        } else if (f[0] == "format") {
            std::string style;
            for (size_t i = 3; i < 9; ++i) style += (i > 3 ? " " : "") + f[i];
            sheet.styles[{std::stoi(f[1]), std::stoi(f[2])}] = style;
            sheet.borders[{std::stoi(f[1]), std::stoi(f[2])}] = {std::stoi(f[9]), std::stoi(f[10]),
                                                                 std::stoi(f[11]), std::stoi(f[12])};
        }
    }
    return sheet;
}

bool Portrait(const std::string& path) {
    const workbook::bifftest::WrittenStream s(path);
    return (workbook::bifftest::U16(s.WithId(0x00A1, 1).at(0).data, 10) & 0x0002) != 0;
}

// font, height, weight (bold 700), horizontal (2 centre), vertical (1 centre, 2 bottom), wrap
const std::string kHeaderStyle = "MS Sans Serif 160 700 2 1 1";
const std::string kDataStyle = "MS Sans Serif 160 400 0 2 0";

// A journal-like table: an integer key and text columns named by their order.
class GridExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::PythonHasModule("xlrd")) GTEST_SKIP() << "python3-xlrd is not installed";
        path = dir.File("export.xls");
    }
    // Adds the text columns to what FieldDefs holds (the integer "id" when empty).
    void OpenTable(int text_columns) {
        if (table.FieldDefs().empty()) table.FieldDefs() = {{"id", TFieldType::ftInteger, 0}};
        for (int i = 1; i <= text_columns; ++i)
            table.FieldDefs().push_back({"field" + std::to_string(i), TFieldType::ftString, 255});
        table.CreateDataSet();
    }
    void AddRow(const std::vector<std::string>& texts) {
        table.Append();
        table.FieldByName("id").SetAsInteger(table.RecordCount() + 1);
        for (size_t i = 0; i < texts.size(); ++i)
            table.FieldByName("field" + std::to_string(i + 1)).SetAsString(texts[i]);
        table.Post();
    }
    static TExportColumn Bound(std::string title, std::string field, int width = 90) {
        TExportColumn c;
        c.title = Utf8ToCp1251(title);
        c.field_name = std::move(field);
        c.width = width;
        return c;
    }
    Sheet Export(std::vector<TExportColumn> columns, TExportProgress* progress = nullptr) {
        TTableExportSource source(table, std::move(columns), "MS Sans Serif", 8);
        ExportGrid(workbook::Utf8ToWide(path), source, "Linograf", progress, Now());
        return ReadWithXlrd(path);
    }
    static int PixelWidth(int pixels) {
        workbook::TXFont arial;
        return pixels * 256 / workbook::DigitPixelWidth(arial);
    }

    test::TempDir dir;
    std::string path;
    TMemTable table{"cdata"};
};

TEST(ExportTokens, CountAndPick) {
    struct Case {
        const char* text;
        int count;
        std::vector<std::string> parts;  // parts 1..count+1; the one after the last is empty
    };
    const Case cases[] = {
        {"", 0, {""}},
        {"A", 1, {"A", ""}},
        {"A|B|C", 3, {"A", "B", "C", ""}},
        {"|", 2, {"", "", ""}},
        {"A||C", 3, {"A", "", "C", ""}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CountTokens(c.text, '|'), c.count) << c.text;
        for (size_t k = 0; k < c.parts.size(); ++k)
            EXPECT_EQ(GetToken(c.text, '|', static_cast<int>(k + 1)), c.parts[k]) << c.text << " " << k + 1;
    }
}

TEST_F(GridExportTest, ThreeColumnsTwoRows) {
    OpenTable(3);
    AddRow({"a1", "b1", Utf8ToCp1251("в1")});
    AddRow({"a2", "", "c2"});
    table.First();
    table.Next();
    const Sheet s = Export({Bound("A", "field1"), Bound("B", "field2"), Bound("C", "field3")});
    EXPECT_EQ(table.RecNo(), 2) << "the cursor goes back where it was";
    EXPECT_FALSE(table.ControlsDisabled());

    EXPECT_EQ(s.Text(0, 0), kStamp);
    EXPECT_EQ(s.rows, 5);
    for (int c = 0; c < s.cols; ++c) EXPECT_EQ(s.Type(1, c), 0) << "row 1 stays empty";
    const std::vector<std::vector<std::string>> expected = {
        {"A", "B", "C"}, {"a1", "b1", "в1"}, {"a2", "", "c2"}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(s.Text(r + 2, c), expected[r][c]) << r + 2 << ":" << c;
            EXPECT_EQ(s.Style(r + 2, c), r == 0 ? kHeaderStyle : kDataStyle) << r + 2 << ":" << c;
            EXPECT_TRUE(s.Framed(r + 2, c)) << r + 2 << ":" << c;
        }
    // One-level titles: every caption is a merged area of its own cell.
    EXPECT_EQ(s.merges, (std::set<std::string>{"2 2 0 0", "2 2 1 1", "2 2 2 2"}));
    for (int c = 0; c < 3; ++c) EXPECT_EQ(s.widths.at(c), PixelWidth(90)) << c;
    EXPECT_TRUE(Portrait(path));
}

TEST_F(GridExportTest, OrientationByTableWidth) {
    OpenTable(9);
    AddRow({"1", "2", "3", "4", "5", "6", "7", "8", "9"});
    const std::pair<int, bool> cases[] = {{9, false}, {8, true}};
    for (const auto& [count, portrait] : cases) {
        std::vector<TExportColumn> columns;
        for (int i = 1; i <= count; ++i)
            columns.push_back(Bound("T" + std::to_string(i), "field" + std::to_string(i), 100));
        const Sheet s = Export(columns);
        EXPECT_EQ(Portrait(path), portrait) << count;
        EXPECT_EQ(s.Text(3, count - 1), std::to_string(count));
    }
}

// The header rule never asks for overlapping merges; a run with the same part at one level merges
// once, whatever the parts above it.
TEST_F(GridExportTest, MultiLevelHeaders) {
    struct Case {
        std::vector<std::string> titles;
        std::vector<std::vector<std::string>> header;  // rows 2.. of the header block
        std::set<std::string> merges;
    };
    const Case cases[] = {
        {{"X|A", "X|B"}, {{"X", "X"}, {"A", "B"}}, {"2 2 0 1", "3 3 0 0", "3 3 1 1"}},
        {{"A|B", "C"}, {{"A", "C"}, {"B", "(none)"}}, {"3 3 0 0", "2 3 1 1"}},
        {{"X|a", "X|b", "X|c"},
         {{"X", "X", "X"}, {"a", "b", "c"}},
         {"2 2 0 2", "3 3 0 0", "3 3 1 1", "3 3 2 2"}},
        {{"X|A", "Y|A"}, {{"X", "Y"}, {"A", "A"}}, {"3 3 0 1"}},
        {{"X|A|P", "Y|A|Q"}, {{"X", "Y"}, {"A", "A"}, {"P", "Q"}}, {"3 3 0 1", "4 4 0 0", "4 4 1 1"}},
        {{"X|B", "X"}, {{"X", "X"}, {"B", "(none)"}}, {"3 3 0 0", "2 3 1 1"}},
        {{"A", "A"}, {{"A", "A"}}, {"2 2 0 1"}},
        {{"X", "X|B"}, {{"X", "X"}, {"(none)", "B"}}, {"2 3 0 0", "3 3 1 1"}},
        {{"Вес|Брутто", "Вес|Нетто", "Дата"},
         {{"Вес", "Вес", "Дата"}, {"Брутто", "Нетто", "(none)"}},
         {"2 2 0 1", "3 3 0 0", "3 3 1 1", "2 3 2 2"}},
        {{"A|B|C", "A|B|D", "A|E"},
         {{"A", "A", "A"}, {"B", "B", "E"}, {"C", "D", "(none)"}},
         {"2 2 0 2", "3 3 0 1", "4 4 0 0", "4 4 1 1", "3 4 2 2"}},
    };
    OpenTable(3);
    AddRow({"1", "2", "3"});
    for (const Case& c : cases) {
        std::vector<TExportColumn> columns;
        for (size_t i = 0; i < c.titles.size(); ++i)
            columns.push_back(Bound(c.titles[i], "field" + std::to_string(i + 1)));
        const Sheet s = Export(columns);
        SCOPED_TRACE(c.titles[0] + " " + c.titles[1]);
        EXPECT_EQ(s.merges, c.merges);
        const int levels = static_cast<int>(c.header.size());
        for (int k = 0; k < levels; ++k)
            for (size_t col = 0; col < c.titles.size(); ++col) {
                EXPECT_EQ(s.Text(2 + k, static_cast<int>(col)), c.header[k][col]) << 2 + k << ":" << col;
                EXPECT_EQ(s.Style(2 + k, static_cast<int>(col)), kHeaderStyle) << 2 + k << ":" << col;
                EXPECT_TRUE(s.Framed(2 + k, static_cast<int>(col))) << 2 + k << ":" << col;
            }
        // The data row follows the last header row.
        for (size_t col = 0; col < c.titles.size(); ++col)
            EXPECT_EQ(s.Text(2 + levels, static_cast<int>(col)), std::to_string(col + 1));
    }
}

// Hidden columns and picture columns are left out; pick lists show their entries.
TEST_F(GridExportTest, ValueChoiceByColumn) {
    table.FieldDefs() = {{"id", TFieldType::ftInteger, 0}, {"count", TFieldType::ftInteger, 0}};
    OpenTable(3);
    AddRow({Utf8ToCp1251("да"), "2", "x"});
    table.Edit();
    table.FieldByName("count").SetAsInteger(-12);
    table.Post();
    AddRow({"NO", "7", "y"});
    AddRow({"", "", "z"});
    table.First();
    TExportColumn hidden = Bound("Hidden", "field3");
    hidden.visible = false;
    TExportColumn picture = Bound("Picture", "field3");
    picture.has_pictures = true;
    TExportColumn keyed = Bound("Keyed", "field1");
    keyed.pick_list = {Utf8ToCp1251("Включено"), "Off"};
    keyed.key_list = {Utf8ToCp1251("ДА"), "no"};
    TExportColumn indexed = Bound("Indexed", "id");  // rows 1, 2, 3 pick entries 1, 2 and none
    indexed.pick_list = {"zero", "one", "two"};
    TExportColumn unbound = Bound("Unbound", "");
    TTableExportSource source(table,
                              {hidden, Bound("Id", "id"), picture, keyed, indexed, unbound,
                               Bound("Text", "field2"), Bound("Count", "count")},
                              "MS Sans Serif", 8);
    source.display_text = [&](int column) {
        return "shown " + std::to_string(column) + " " + table.FieldByName("field3").AsString();
    };
    ExportGrid(workbook::Utf8ToWide(path), source, "Linograf", nullptr, Now());
    const Sheet s = ReadWithXlrd(path);

    const std::vector<std::string> header = {"Id", "Keyed", "Indexed", "Unbound", "Text", "Count"};
    for (size_t c = 0; c < header.size(); ++c) EXPECT_EQ(s.Text(2, static_cast<int>(c)), header[c]);
    EXPECT_EQ(s.Type(2, 6), 0) << "only the six exported columns";
    struct Row {
        std::string id, keyed, indexed, unbound, text, count;
    };
    // An integer column without a value gives 0.
    const Row rows[] = {
        {"1.0", "Включено", "one", "shown 5 x", "2", "-12.0"},
        {"2.0", "Off", "two", "shown 5 y", "7", "0.0"},
        {"3.0", "(none)", "(none)", "shown 5 z", "", "0.0"},
    };
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(s.Type(3 + r, 0), 2) << "integers are numbers";
        EXPECT_EQ(s.Text(3 + r, 0), rows[r].id);
        EXPECT_EQ(s.Text(3 + r, 1), rows[r].keyed);
        EXPECT_EQ(s.Text(3 + r, 2), rows[r].indexed);
        EXPECT_EQ(s.Text(3 + r, 3), rows[r].unbound);
        EXPECT_EQ(s.Text(3 + r, 4), rows[r].text);
        EXPECT_EQ(s.Type(3 + r, 4), 1) << "text stays text";
        EXPECT_EQ(s.Text(3 + r, 5), rows[r].count);
    }
    // Empty picks are still framed: the data block gets its borders everywhere.
    EXPECT_EQ(s.Style(5, 1), kDataStyle);
    EXPECT_TRUE(s.Framed(5, 1));
}

// A source whose columns are of every kind, over rows held in memory.
struct Value {
    bool null = false;
    int64_t integer = 0;
    double number = 0;
    workbook::TCellVariant variant;
};
Value Null() {
    return {true, 0, 0, {}};
}
Value Integer(int64_t v) {
    return {false, v, 0, {}};
}
Value Float(double v) {
    return {false, 0, v, {}};
}
Value Variant(workbook::TCellVariant v) {
    return {false, 0, 0, std::move(v)};
}

class TKindsSource : public TGridExportSource {
  public:
    std::vector<TExportColumn> columns;
    std::vector<std::vector<Value>> rows;
    int current = 0;

    int ColumnCount() const override { return static_cast<int>(columns.size()); }
    const TExportColumn& Column(int index) const override { return columns.at(index); }
    int ColumnWidth(int index) const override {
        if (columns.at(index).width < 0) throw std::runtime_error("no width");
        return columns.at(index).width;
    }
    std::string FontName() const override { return "Arial"; }
    int FontSize() const override { return 10; }
    int SelectedCount() const override { return 0; }
    void GotoSelected(int) override {}
    int RecordCount() const override { return static_cast<int>(rows.size()); }
    void First() override { current = 0; }
    void Last() override { current = std::max(0, RecordCount() - 1); }
    void Next() override { ++current; }
    bool Eof() const override { return current >= RecordCount(); }
    void SaveCursor() override {}
    void RestoreCursor() override {}
    void DisableControls() override {}
    void EnableControls() override {}
    bool IsNull(int column) const override { return rows.at(current).at(column).null; }
    std::string AsString(int) const override { return {}; }
    int64_t AsInteger(int column) const override { return rows.at(current).at(column).integer; }
    double AsFloat(int column) const override { return rows.at(current).at(column).number; }
    workbook::TCellVariant AsVariant(int column) const override {
        return rows.at(current).at(column).variant;
    }
    std::string DisplayText(int) const override { return {}; }
};

TEST_F(GridExportTest, NumbersDatesAndOtherKinds) {
    TKindsSource source;
    auto column = [](std::string title, TExportKind kind, int width = 60) {
        TExportColumn c;
        c.title = std::move(title);
        c.kind = kind;
        c.width = width;
        return c;
    };
    // A width the grid cannot give is taken as 100 pixels.
    source.columns = {column("Int", TExportKind::ekInteger), column("Float", TExportKind::ekFloat, -1),
                      column("Date", TExportKind::ekDateTime), column("Other", TExportKind::ekOther)};
    const double date = EncodeDateTime({2023, 7, 1, 12, 30});
    source.rows = {
        {Integer(0x100000005), Float(2.5), Float(date), Variant(true)},
        {Integer(0xFFFFFFFF), Float(-1e-3), Null(), Variant(std::u16string(u"вариант"))},
    };
    ExportGrid(workbook::Utf8ToWide(path), source, "Linograf", nullptr, Now());
    const Sheet s = ReadWithXlrd(path);
    // xlrd types: 1 text, 2 number, 3 date, 4 boolean.
    EXPECT_EQ(s.cells.at({3, 0}), std::make_pair(2, std::string("5.0")));  // the low 32 bits
    EXPECT_EQ(s.cells.at({4, 0}), std::make_pair(2, std::string("-1.0")));
    EXPECT_EQ(s.cells.at({3, 1}), std::make_pair(2, std::string("2.5")));
    EXPECT_EQ(s.cells.at({4, 1}), std::make_pair(2, std::string("-0.001")));
    EXPECT_EQ(s.Type(3, 2), 3);
    EXPECT_DOUBLE_EQ(std::stod(s.Text(3, 2)), date);
    EXPECT_EQ(s.Type(4, 2), 6) << "an empty date leaves a blank cell, framed like the rest";
    EXPECT_EQ(s.cells.at({3, 3}), std::make_pair(4, std::string("1")));
    EXPECT_EQ(s.cells.at({4, 3}), std::make_pair(1, std::string("вариант")));
    EXPECT_EQ(s.widths.at(0), PixelWidth(60));
    EXPECT_EQ(s.widths.at(1), PixelWidth(100));
}

TEST_F(GridExportTest, SelectedRowsInSelectionOrder) {
    OpenTable(1);
    for (const char* text : {"r1", "r2", "r3", "r4"}) AddRow({text});
    TTableExportSource source(table, {Bound("T", "field1")}, "MS Sans Serif", 8);
    table.First();
    table.Next();
    table.Next();
    source.selection.push_back(table.GetBookmark());  // r3
    table.First();
    source.selection.push_back(table.GetBookmark());  // r1
    table.Last();
    ExportGrid(workbook::Utf8ToWide(path), source, "Linograf", nullptr, Now());
    EXPECT_EQ(table.RecNo(), 4);
    const Sheet s = ReadWithXlrd(path);
    EXPECT_EQ(s.rows, 5);
    EXPECT_EQ(s.Text(3, 0), "r3");
    EXPECT_EQ(s.Text(4, 0), "r1");
}

class TRecordingProgress : public TExportProgress {
  public:
    int max = -1, steps = 0, pumps = 0, cancel_after = -1;
    void SetMax(int value) override { max = value; }
    void Step() override { ++steps; }
    void ProcessMessages() override { ++pumps; }
    bool CancelRequested() const override { return cancel_after >= 0 && steps >= cancel_after; }
};

TEST_F(GridExportTest, EmptyJournal) {
    OpenTable(2);
    TRecordingProgress progress;
    const Sheet s = Export({Bound("A|B", "field1"), Bound("C", "field2")}, &progress);
    EXPECT_EQ(progress.max, 0);
    EXPECT_EQ(progress.steps, 0);
    EXPECT_EQ(s.rows, 4) << "title, empty row, two header rows";
    EXPECT_EQ(s.Text(0, 0), kStamp);
    // The data block's formatting reaches only the last header row: its font stays bold.
    EXPECT_EQ(s.Style(3, 0), kHeaderStyle);
    EXPECT_EQ(s.Style(2, 0), kHeaderStyle);
    EXPECT_TRUE(s.Framed(3, 0));
}

TEST_F(GridExportTest, ProgressCountsTheRows) {
    OpenTable(1);
    for (int i = 0; i < 25; ++i) AddRow({std::to_string(i)});
    TRecordingProgress progress;
    Export({Bound("N", "field1")}, &progress);
    EXPECT_EQ(progress.max, 25);
    EXPECT_EQ(progress.steps, 25);
    EXPECT_EQ(progress.pumps, 25);
}

// Nothing is written and the file that was there stays: on a closed journal, on a cancel, and
// when the table refuses a value.
TEST_F(GridExportTest, FailuresLeaveNoFile) {
    test::WriteFileBytes(path, "old content");
    {
        TTableExportSource source(table, {Bound("A", "field1")}, "MS Sans Serif", 8);
        try {
            ExportGrid(workbook::Utf8ToWide(path), source, "Linograf", nullptr, Now());
            ADD_FAILURE() << "a closed journal must stop the export";
        } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(), "Cannot perform this operation on a closed dataset");
        }
        EXPECT_FALSE(table.ControlsDisabled());
    }
    OpenTable(1);
    for (int i = 0; i < 10; ++i) AddRow({"not a number " + std::to_string(i)});
    table.First();
    table.Next();
    {
        TRecordingProgress progress;
        progress.cancel_after = 3;
        EXPECT_THROW(Export({Bound("A", "field1")}, &progress), EAbort);
        EXPECT_EQ(progress.steps, 3);
        EXPECT_EQ(table.RecNo(), 2);
        EXPECT_FALSE(table.ControlsDisabled());
    }
    {
        TExportColumn picked = Bound("A", "field1");
        picked.pick_list = {"x"};  // picks by the value as an integer, which this text is not
        EXPECT_THROW(Export({picked}), EDatabaseError);
        EXPECT_EQ(table.RecNo(), 2);
    }
    EXPECT_EQ(test::ReadFileBytes(path), "old content");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// A journal rebuilt while an export pumps events frees the columns the export had looked up: the
// source looks them up again in the new journal instead of reading freed ones.
TEST_F(GridExportTest, SourceFollowsTheTableWhenItsColumnsAreMadeAnew) {
    OpenTable(1);
    AddRow({"before"});
    TTableExportSource source(table, {Bound("A", "field1")}, "MS Sans Serif", 8);
    source.SaveCursor();
    table.First();
    EXPECT_EQ(source.AsString(0), "before");
    table.CreateDataSet();  // the rebuild: same names, new columns
    AddRow({"after"});
    table.First();
    EXPECT_EQ(source.AsString(0), "after");
    table.Close();
    EXPECT_THROW(source.AsString(0), EDatabaseError);
}

TEST_F(GridExportTest, OpenXmlFile) {
    if (!test::PythonHasModule("openpyxl")) GTEST_SKIP() << "python3-openpyxl is not installed";
    OpenTable(2);
    AddRow({"a", Utf8ToCp1251("б")});
    path = dir.File("export.xlsx");
    TTableExportSource source(table, {Bound("X|A", "field1"), Bound("X|B", "field2")}, "MS Sans Serif", 8);
    ExportGrid(workbook::Utf8ToWide(path), source, "Linograf", nullptr, Now());
    const test::CommandResult r = test::RunPython(R"(
import sys, openpyxl
sys.stdout.reconfigure(encoding="utf-8")
ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]
print(ws["A1"].value)
print(sorted((m.min_row, m.max_row, m.min_col, m.max_col) for m in ws.merged_cells.ranges))
print(ws["A3"].value, ws["A3"].font.b, ws["A3"].alignment.horizontal, ws["A3"].alignment.wrap_text, ws["A3"].border.top.style)
print(ws["A4"].value, ws["B4"].value, ws["B5"].value, ws["B5"].border.bottom.style)
print(ws.page_setup.orientation)
)",
                                                  {path});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    EXPECT_EQ(
        r.output,
        kStamp +
            "\n[(3, 3, 1, 2), (4, 4, 1, 1), (4, 4, 2, 2)]\nX True center True thin\nA B б thin\nportrait\n");
}

}  // namespace
}  // namespace linograf
