// Workbooks that grow by rows at the end and are written after each batch with AppendWrites on:
// the writes that go on from the bytes of the write before must give the same workbook, as
// python3-openpyxl and our own reader see it, as one write of the whole content; and any change
// other than appended rows must lead to a whole write that shows it.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/ooxml/xlsx_test_support.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "text/wide_text.h"
#include "workbook/model/cell.h"
#include "workbook/model/format_changes.h"
#include "workbook/model/range.h"

namespace linograf::workbook::test {
namespace {

// Values, types and the formatting openpyxl sees of every cell of every sheet.
constexpr const char* kDump = R"PY(
for ws in wb.worksheets:
    print('sheet', ws.title)
    for row in ws.iter_rows():
        for c in row:
            if c.value is None:
                continue
            print(c.coordinate, type(c.value).__name__, repr(c.value), c.font.b, c.border.bottom.style,
                  c.number_format)
)PY";

// The value a generated row holds in a column: texts repeat every 7 rows in column A and are new
// in every row in column B; column C is a number, column D an integer.
std::u16string TextA(int row) {
    return Utf8ToWide("часто " + std::to_string(row % 7));
}
std::u16string TextB(int row) {
    return Utf8ToWide("row " + std::to_string(row) + " & <new>");
}

void PutRow(TSheet& sheet, int row) {
    sheet.SetAsWideString(0, static_cast<uint32_t>(row), TextA(row));
    sheet.SetAsWideString(1, static_cast<uint32_t>(row), TextB(row));
    sheet.SetAsFloat(2, static_cast<uint32_t>(row), row + 0.25);
    sheet.SetAsInteger(3, static_cast<uint32_t>(row), -row);
}

// A header row with bold titles and a thin bottom border, then `rows` generated rows; every format the
// later rows use exists after this.
void StartBook(TTabulon4& book, int rows) {
    book.SetVersion(xvExcel2007);
    TSheet& sheet = book.Sheet(0);
    sheet.SetName(u"Журнал");
    const char16_t* titles[] = {u"Текст", u"Строка", u"Число", u"Целое"};
    for (uint32_t c = 0; c < 4; ++c) sheet.SetAsWideString(c, 0, titles[c]);
    sheet.Range().Items(0, 0, 3, 0).SetFontStyle({xfsBold});
    sheet.Range().Items(0, 0, 3, 0).SetBorderBottomStyle(cbsThin);
    sheet.Columns().AddIfNone(0, 4);
    sheet.Columns().Items(1)->SetWidth(30 * 256);
    for (int r = 1; r <= rows; ++r) PutRow(sheet, r);
}

class XlsxAppend : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!linograf::test::PythonHasModule("openpyxl")) GTEST_SKIP() << "python3-openpyxl missing";
    }

    std::string Write(TTabulon4& book, const std::string& name) {
        const std::string path = dir_.File(name);
        book.SetFilename(Utf8ToWide(path));
        book.Write();
        return path;
    }

    // The same content written once, whole, by a workbook that never appended.
    std::string Whole(const std::function<void(TTabulon4&)>& make, const std::string& name) {
        TTabulon4 book;
        make(book);
        return Write(book, name);
    }

    linograf::test::TempDir dir_;
};

TEST_F(XlsxAppend, AppendedWritesGiveTheWholeWorkbook) {
    TTabulon4 book;
    book.SetAppendWrites(true);
    StartBook(book, 3);
    const std::string path = dir_.File("log.xlsx");
    book.SetFilename(Utf8ToWide(path));
    book.Write();
    EXPECT_FALSE(book.LastWriteAppended());
    int rows = 3;
    for (const int batch : {1, 2, 100, 1, 37}) {
        for (int i = 0; i < batch; ++i) PutRow(book.Sheet(0), ++rows);
        book.Write();
        EXPECT_TRUE(book.LastWriteAppended()) << "after " << rows << " rows";
    }
    const std::string whole = Whole([&](TTabulon4& b) { StartBook(b, rows); }, "whole.xlsx");
    const std::string appended_dump = RunOpenpyxl(path, kDump);
    EXPECT_EQ(appended_dump, RunOpenpyxl(whole, kDump));

    // The values are the generator's, read back by openpyxl and by our reader.
    const std::string values = RunOpenpyxl(path, R"PY(
ws = wb.worksheets[0]
for row in ws.iter_rows(min_row=2, values_only=True):
    print('|'.join(str(v) for v in row))
)PY");
    std::string expected;
    for (int r = 1; r <= rows; ++r) {
        expected += WideToUtf8(TextA(r)) + "|" + WideToUtf8(TextB(r)) + "|" + std::to_string(r) + ".25|" +
                    std::to_string(-r) + "\n";
    }
    EXPECT_EQ(values, expected);
    TTabulon4 read;
    read.SetFilename(Utf8ToWide(path));
    read.Read();
    for (int r = 1; r <= rows; ++r) {
        ASSERT_EQ(read.Sheet(0).AsString(0, static_cast<uint32_t>(r)), TextA(r)) << r;
        ASSERT_EQ(read.Sheet(0).AsString(1, static_cast<uint32_t>(r)), TextB(r)) << r;
        ASSERT_EQ(read.Sheet(0).AsFloat(2, static_cast<uint32_t>(r)), r + 0.25) << r;
    }
    EXPECT_EQ(read.Sheet(0).CellType(0, static_cast<uint32_t>(rows + 1)), ctNone);
}

// Between two appending writes something else changes; the next write must show it (it is made
// whole), and the writes after it append again.
TEST_F(XlsxAppend, AnyOtherChangeWritesTheWholeWorkbook) {
    struct Case {
        const char* name;
        std::function<void(TTabulon4&)> change;
    };
    const std::vector<Case> cases = {
        {"earlier text", [](TTabulon4& b) { b.Sheet(0).SetAsWideString(1, 2, u"changed"); }},
        {"earlier number", [](TTabulon4& b) { b.Sheet(0).SetAsFloat(2, 1, 99.5); }},
        {"earlier cell deleted", [](TTabulon4& b) { b.Sheet(0).DeleteCell(3, 2); }},
        {"earlier cell made bold",
         [](TTabulon4& b) { b.Sheet(0).Range().Items(0, 3, 0, 3).SetFontStyle({xfsBold}); }},
        {"cell added to the last row", [](TTabulon4& b) { b.Sheet(0).SetAsWideString(5, 5, u"late"); }},
        {"new format in a new row",
         [](TTabulon4& b) {
             PutRow(b.Sheet(0), 6);
             b.Sheet(0).Range().Items(3, 6, 3, 6).SetBorderBottomStyle(cbsDouble);
         }},
        {"column width", [](TTabulon4& b) { b.Sheet(0).Columns().Items(1)->SetWidth(12 * 256); }},
        {"sheet added", [](TTabulon4& b) { b.Sheets().Add().SetAsWideString(0, 0, u"second"); }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = "case" + std::to_string(++n);
        auto make = [&](TTabulon4& b, bool append) {
            b.SetAppendWrites(append);
            StartBook(b, 5);
        };
        TTabulon4 book;
        make(book, true);
        Write(book, name + ".xlsx");
        PutRow(book.Sheet(0), 6);
        book.Write();
        ASSERT_TRUE(book.LastWriteAppended());
        c.change(book);
        PutRow(book.Sheet(0), 7);
        book.Write();
        EXPECT_FALSE(book.LastWriteAppended());
        PutRow(book.Sheet(0), 8);
        const std::string path = Write(book, name + ".xlsx");
        EXPECT_TRUE(book.LastWriteAppended());

        const std::string whole = Whole(
            [&](TTabulon4& b) {
                make(b, false);
                PutRow(b.Sheet(0), 6);
                c.change(b);
                PutRow(b.Sheet(0), 7);
                PutRow(b.Sheet(0), 8);
            },
            name + "-whole.xlsx");
        const std::string dump = RunOpenpyxl(path, kDump);
        EXPECT_EQ(dump, RunOpenpyxl(whole, kDump));
        EXPECT_NE(dump.find("D9 int -8 "), std::string::npos) << dump;
    }
}

// The cache belongs to one file and one content: a write to another file, or after the file was
// read again, is whole.
TEST_F(XlsxAppend, AnotherFileOrAReadWritesWhole) {
    TTabulon4 book;
    book.SetAppendWrites(true);
    StartBook(book, 2);
    const std::string first = Write(book, "first.xlsx");
    PutRow(book.Sheet(0), 3);
    Write(book, "second.xlsx");
    EXPECT_FALSE(book.LastWriteAppended());
    book.SetFilename(Utf8ToWide(first));
    book.Read();
    PutRow(book.Sheet(0), 3);
    book.Write();
    EXPECT_FALSE(book.LastWriteAppended());
    PutRow(book.Sheet(0), 4);
    book.Write();
    EXPECT_TRUE(book.LastWriteAppended());
    const std::string whole = Whole([&](TTabulon4& b) { StartBook(b, 4); }, "whole.xlsx");
    EXPECT_EQ(RunOpenpyxl(first, R"PY(
for row in wb.worksheets[0].iter_rows(values_only=True):
    print(row)
)PY"),
              RunOpenpyxl(whole, R"PY(
for row in wb.worksheets[0].iter_rows(values_only=True):
    print(row)
)PY"));
}

}  // namespace
}  // namespace linograf::workbook::test
