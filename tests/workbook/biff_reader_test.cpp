// The BIFF reader against our own writer (round trips) and against record streams built by hand
// for the cases writers rarely produce: odd record layouts, hostile lengths and counts, files cut
// short, encryption.
#include "workbook/biff/biff_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "tests/support/temp_dir.h"
#include "tests/workbook/biff_reader_test_support.h"
#include "tests/workbook/biff_test_support.h"
#include "tests/workbook/compound_document_fixtures.h"
#include "text/wide_text.h"
#include "workbook/biff/rk_number.h"
#include "workbook/model/range.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook {
namespace {

using biffreadtest::Bytes;
using biffreadtest::CellText;
using biffreadtest::DumpModel;
using biffreadtest::MinimalGlobals;
using biffreadtest::Records;
using biffreadtest::WriteXls;

constexpr uint16_t BOF = 0x0809, EOF_ = 0x000A, BOUNDSHEET = 0x0085;

void ReadInto(TTabulon4& book, const std::string& path) {
    book.SetFilename(Utf8ToWide(path));
    book.Read();
}

// Writes `book` as the file `path` and reads that file into `again`.
void WriteAndReadBack(TTabulon4& book, const std::string& path, TTabulon4& again) {
    book.SetFilename(Utf8ToWide(path));
    book.Write();
    ReadInto(again, path);
}

// What the read failed with, or empty when it succeeded.
std::string ReadError(const std::string& path) {
    TTabulon4 book;
    try {
        ReadInto(book, path);
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

// A workbook with every kind of content the model keeps.
void FillWorkbook(TTabulon4& book) {
    TSheet& first = book.Sheet(0);
    first.SetName(u"Данные");
    first.SetAsWideString(0, 0, u"Latin text");
    first.SetAsWideString(1, 0, u"Кириллица");
    first.SetAsWideString(2, 0, u"漢字とかな");
    first.SetAsInteger(0, 1, -12345);
    first.SetAsFloat(1, 1, 0.1);
    first.SetAsFloat(2, 1, 123.45);
    first.SetAsFloat(3, 1, 1e300);
    first.SetAsBoolean(0, 2, true);
    first.SetAsBoolean(1, 2, false);
    first.SetError(2, 2, kDefaultCellFormat, ceDiv0);
    first.SetBlank(3, 2, kDefaultCellFormat);
    first.SetAsDateTime(0, 3, 45351.75);
    auto number = std::make_unique<TFormulaData>();
    number->tokens = {0x1E, 0x07, 0x00};  // ptgInt 7
    number->number = 7;
    first.SetFormula(1, 3, kDefaultCellFormat, ctNumberFormula, std::move(number));
    auto text = std::make_unique<TFormulaData>();
    text->tokens = {0x17, 0x03, 0x00, 'a', 'b', 'c'};  // ptgStr "abc"
    text->string_result = u"abc";
    first.SetFormula(2, 3, kDefaultCellFormat, ctStringFormula, std::move(text));
    first.Range().Items(0, 0, 2, 0).SetFontStyle({xfsBold});
    first.MergedCells().Add(0, 5, 2, 6);
    first.Columns().AddIfNone(1, 1);
    first.Columns().Items(1)->SetWidth(5000);
    first.PrintSettings().header = u"Заголовок";
    first.PrintSettings().footer = u"&P";
    first.PrintSettings().margin_left = 1.25;
    first.PrintSettings().horiz_pagebreaks.push_back({20, 0, 255});
    first.PrintSettings().vert_pagebreaks.push_back({3, 0, 999});

    TSheet& second = book.Sheets().Add();
    second.SetName(u"Second");
    second.SetHidden(hsHidden);
    // Enough 16-bit text for the shared string table to run over several CONTINUE records.
    for (uint32_t r = 0; r < 700; ++r)
        second.SetAsWideString(0, r, u"строка номер " + Utf8ToWide(std::to_string(r)));
}

// FillWorkbook's workbook written by our writer as book.xls in dir; its path.
std::string WriteFilledWorkbook(TTabulon4& book, const test::TempDir& dir) {
    FillWorkbook(book);
    const std::string path = dir.File("book.xls");
    book.SetFilename(Utf8ToWide(path));
    book.Write();
    return path;
}

TEST(BiffReaderRoundTrip, OurWorkbookReadsBackWithTheSameContent) {
    test::TempDir dir;
    TTabulon4 written;
    const std::string path = WriteFilledWorkbook(written, dir);

    TTabulon4 read;
    ReadInto(read, path);
    EXPECT_EQ(read.Version(), xvExcel97);
    const std::string expected = DumpModel(written);
    biffreadtest::ExpectSameLines(DumpModel(read), expected);
    EXPECT_EQ(read.SST().Count(), written.SST().Count());
    EXPECT_EQ(CellText(read.Sheet(1), 0, 699), u"строка номер 699");
    EXPECT_EQ(read.Sheet(0).CellType(1, 3), ctNumberFormula);
}

// The record stream is read in place when its sectors follow one another in the file, and
// gathered when they do not; both give the same workbook.
TEST(BiffReaderRoundTrip, ScatteredRecordStreamReadsTheSame) {
    test::TempDir dir;
    TTabulon4 written;
    const std::string path = WriteFilledWorkbook(written, dir);
    std::string file = test::ReadFileBytes(path);
    cfbtest::ReverseStreamSectors(file, u"Workbook");
    const std::string scattered = dir.File("scattered.xls");
    test::WriteFileBytes(scattered, file);

    TTabulon4 in_place, gathered;
    ReadInto(in_place, path);
    ReadInto(gathered, scattered);
    biffreadtest::ExpectSameLines(DumpModel(gathered), DumpModel(in_place));
    EXPECT_EQ(CellText(gathered.Sheet(1), 0, 699), u"строка номер 699");
}

// Records the reader does not interpret, placed in the globals and in a sheet of a written file,
// come back at their places when the workbook read is written again; the records generated from
// the model come back the same too.
TEST(BiffReaderRoundTrip, WritingAReadWorkbookAgainReproducesEveryRecord) {
    test::TempDir dir;
    TTabulon4 written;
    const std::string path = WriteFilledWorkbook(written, dir);

    const bifftest::WrittenStream original(path);
    Records patched;
    int substream = -1;
    for (const TBiffRecordView& r : original.records) {
        if (r.id == BOF) ++substream;
        patched.Add(r.id, std::string(r.data));
        if (r.id == 0x003D) patched.Add(0x0800, "globals extra");               // after WINDOW1
        if (r.id == 0x023E && substream == 1) patched.Add(0x0099, "\x10\x20");  // after WINDOW2
        if (r.id == 0x00A1 && substream == 2) patched.Add(0x089C, std::string(24, '\x01'));
    }
    const std::string source = dir.File("patched.xls");
    WriteXls(source, patched.bytes());

    TTabulon4 book;
    ReadInto(book, source);
    const std::string again = dir.File("again.xls");
    book.SetFilename(Utf8ToWide(again));
    book.Write();

    const bifftest::WrittenStream expected(source), actual(again);
    ASSERT_EQ(bifftest::Ids(actual.records), bifftest::Ids(expected.records));
    const std::set<uint16_t> sst_records = {0x00FC, 0x003C, 0x00FF, 0x00FD};
    EXPECT_EQ(bifftest::DecodeSST(actual.Substream(0)).strings.size(),
              bifftest::DecodeSST(expected.Substream(0)).strings.size());
    for (size_t i = 0; i < actual.records.size(); ++i) {
        std::string_view want = expected.records[i].data, got = actual.records[i].data;
        // The sheets' stream positions moved with the inserted records. Strings split over a
        // CONTINUE come back with 16-bit characters, which changes the order of the shared
        // strings and so their indices (the texts themselves are compared above).
        if (actual.records[i].id == BOUNDSHEET) want.remove_prefix(4), got.remove_prefix(4);
        if (sst_records.count(actual.records[i].id)) continue;
        EXPECT_EQ(got, want) << "record " << i << " id " << std::hex << actual.records[i].id;
    }
}

// One sheet with the record layouts writers other than ours produce.
TEST(BiffReaderRecords, ReadsTheLayoutsOfOtherWriters) {
    test::TempDir dir;
    Records r = MinimalGlobals({"One"});
    // The shared strings: "plain", then a 300-character text whose characters run on into a
    // CONTINUE record as 8-bit characters.
    const std::string long_text(300, 'x');
    r.Add(0x00FC, Bytes().U32(10).U32(2).Str8("plain").U16(300).U8(0).Raw(long_text.substr(0, 100)));
    r.Add(0x003C, Bytes().U8(0).Raw(long_text.substr(100)));
    r.Add(EOF_, "");
    r.Add(BOF, biffreadtest::BofData(0x0010));
    r.Add(0x00BE, Bytes().U16(0).U16(1).U16(16).U16(16).U16(16).U16(3));  // MULBLANK, length 12
    r.Add(0x00BD,
          Bytes().U16(1).U16(2).U16(16).U32(((12345u << 2) | 3)).U16(16).U32(EncodeRK(-7.5).value()).U16(3));
    r.Add(0x027E, Bytes().U16(2).U16(0).U16(16).U32((100u << 2) | 2));  // RK integer 100
    r.Add(0x0205, Bytes().U16(3).U16(0).U16(16).U8(0x07).U8(1));        // #DIV/0!
    r.Add(0x0205, Bytes().U16(3).U16(1).U16(16).U8(1).U8(0));           // TRUE
    r.Add(0x00FD, Bytes().U16(4).U16(0).U16(16).U32(1));
    r.Add(0x00FD, Bytes().U16(4).U16(1).U16(16).U32(0));
    r.Add(0x0204,
          Bytes().U16(5).U16(0).U16(16).U16(3).U8(1).U16(0x0416).U16(0x0430).U16(0x0440));  // LABEL "Жар"
    // A shared formula over B7:B8 whose tokens point one row up: the cell B8 gets B7's row.
    r.Add(0x0006, Bytes().U16(6).U16(1).U16(16).F64(2).U16(0x0008).U32(0).U16(5).U8(0x01).U16(6).U16(1));
    r.Add(0x04BC, Bytes()
                      .U16(6)
                      .U16(7)
                      .U8(1)
                      .U8(1)
                      .U8(0)
                      .U8(2)
                      .U16(9)
                      .U8(0x2C)
                      .U16(0xFFFF)
                      .U16(0xC000)
                      .U8(0x1E)
                      .U16(2)
                      .U8(0x05));
    r.Add(0x0006, Bytes().U16(7).U16(1).U16(16).F64(4).U16(0x0008).U32(0).U16(5).U8(0x01).U16(6).U16(1));
    r.Add(0x01AA, std::string(10, '\0'));  // a custom view, with a record that would fail if read
    r.Add(0x00E5, Bytes().U16(100));
    r.Add(0x01AB, "");
    r.Add(EOF_, "");
    const std::string path = dir.File("records.xls");
    WriteXls(path, r.bytes());

    TTabulon4 book;
    ReadInto(book, path);
    // Five fonts of 10, 11, 12, 13 and 14 pt: the fifth is at position 5, after the one BIFF
    // leaves out.
    ASSERT_EQ(book.Fonts().Count(), 6);
    EXPECT_EQ(book.Fonts().Items(3).height, 260u);
    EXPECT_EQ(book.Fonts().Items(5).height, 280u);
    TSheet& sheet = book.Sheet(0);
    EXPECT_EQ(sheet.Name(), u"One");
    for (uint32_t col = 1; col <= 3; ++col) EXPECT_EQ(sheet.CellType(col, 0), ctBlank) << col;
    EXPECT_EQ(sheet.CellType(4, 0), ctNone);
    EXPECT_DOUBLE_EQ(sheet.AsFloat(2, 1), 123.45);
    EXPECT_DOUBLE_EQ(sheet.AsFloat(3, 1), -7.5);
    EXPECT_EQ(sheet.CellType(4, 1), ctNone);
    EXPECT_DOUBLE_EQ(sheet.AsFloat(0, 2), 100);
    EXPECT_EQ(sheet.CellType(0, 3), ctError);
    EXPECT_EQ(sheet.Cells().Find(0, 3)->small, ceDiv0);
    EXPECT_EQ(sheet.CellType(1, 3), ctBoolean);
    EXPECT_EQ(CellText(sheet, 0, 4), Utf8ToWide(long_text));
    EXPECT_EQ(CellText(sheet, 1, 4), u"plain");
    EXPECT_EQ(CellText(sheet, 0, 5), u"Жар");
    // The file's reference total, plus the LABEL cell's text.
    EXPECT_EQ(book.SST().RefTotal(), 11u);
    // Split in its characters: stored with 16-bit characters although all of them are 8-bit.
    EXPECT_TRUE(sheet.Cells().Find(0, 4)->value.entry->Wide());
    EXPECT_FALSE(sheet.Cells().Find(1, 4)->value.entry->Wide());

    const TCell* master = sheet.Cells().Find(1, 6);
    const TCell* member = sheet.Cells().Find(1, 7);
    ASSERT_TRUE(master && member);
    ASSERT_EQ(member->type, ctNumberFormula);
    // ptgRef to B7 (row 6, relative row and column), ptgInt 2, ptgMul.
    EXPECT_EQ(member->value.formula->tokens,
              (std::vector<uint8_t>{0x24, 6, 0, 0x01, 0xC0, 0x1E, 2, 0, 0x05}));
    EXPECT_EQ(master->value.formula->tokens,
              (std::vector<uint8_t>{0x24, 5, 0, 0x01, 0xC0, 0x1E, 2, 0, 0x05}));
    EXPECT_DOUBLE_EQ(member->value.formula->number, 4);
    // The custom view is gone, not kept for writing back.
    for (int i = 0; i < sheet.Records().Count(); ++i) EXPECT_NE(sheet.Records().Items(i).id, 0x01AA);
    EXPECT_EQ(sheet.MergedCells().Count(), 0);
}

// Shared strings reach the table in the form it keeps them in: 16-bit characters that all fit
// in 8 bits are narrowed (unless the string was split), formatting runs stay with their string
// wherever the record boundary falls, phonetic data is kept.
TEST(BiffReaderRecords, SharedStringsKeepTheirRunsAndNarrowWhereTheyCan) {
    test::TempDir dir;
    Records r = MinimalGlobals({"One"});
    r.Add(0x00FC, Bytes()
                      .U32(6)
                      .U32(6)
                      .U16(3)
                      .U8(0x01)
                      .U16('a')
                      .U16('b')
                      .U16('c')  // 16-bit Latin
                      .U16(2)
                      .U8(0x08)
                      .U16(1)
                      .Raw("hi")
                      .U16(0)
                      .U16(5)  // one run
                      .U16(2)
                      .U8(0x09)
                      .U16(1)
                      .U16('o')
                      .U16('k')
                      .U16(1)
                      .U16(3)  // 16-bit Latin, run
                      .U16(2)
                      .U8(0x01)
                      .U16(0x0416)
                      .U16(0x0430)  // 16-bit Cyrillic
                      .U16(1)
                      .U8(0x04)
                      .U32(3)
                      .Raw("z")
                      .Raw("ext")  // phonetic data
                      .U16(2)
                      .U8(0x08)
                      .U16(2)
                      .Raw("xy")
                      .U16(0)
                      .U16(1));  // runs split below
    r.Add(0x003C, Bytes().U16(1).U16(2));
    r.Add(EOF_, "");
    r.Add(BOF, biffreadtest::BofData(0x0010));
    for (uint32_t i = 0; i < 6; ++i) r.Add(0x00FD, Bytes().U16(0).U16(i).U16(16).U32(i));
    r.Add(EOF_, "");
    const std::string path = dir.File("strings.xls");
    WriteXls(path, r.bytes());

    TTabulon4 book;
    ReadInto(book, path);
    TSheet& sheet = book.Sheet(0);
    struct Expected {
        std::u16string text;
        bool wide;
        std::vector<std::pair<uint16_t, uint16_t>> runs;
        std::string extended;
    };
    const Expected expected[] = {
        {u"abc", false, {}, ""}, {u"hi", false, {{0, 5}}, ""}, {u"ok", false, {{1, 3}}, ""},
        {u"Жа", true, {}, ""},   {u"z", false, {}, "ext"},     {u"xy", false, {{0, 1}, {1, 2}}, ""},
    };
    for (uint32_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const TCell* cell = sheet.Cells().Find(i, 0);
        ASSERT_TRUE(cell && cell->type == ctString);
        const TSSTEntry* entry = cell->value.entry;
        EXPECT_EQ(TSST2::Text(entry), expected[i].text);
        EXPECT_EQ(entry->Wide(), expected[i].wide);
        ASSERT_EQ(entry->RunCount(), expected[i].runs.size());
        for (int k = 0; k < entry->RunCount(); ++k) {
            EXPECT_EQ(entry->Run(k).position, expected[i].runs[k].first);
            EXPECT_EQ(entry->Run(k).font, expected[i].runs[k].second);
        }
        const auto ext = entry->Extended();
        EXPECT_EQ(std::string(ext.begin(), ext.end()), expected[i].extended);
    }
    // The narrowed string is the one a program's own text of the same characters finds.
    EXPECT_EQ(book.SST().Add(u"abc"), sheet.Cells().Find(0, 0)->value.entry);
}

TEST(BiffReaderRecords, StopsAfterTheLastSheetsEof) {
    test::TempDir dir;
    Records r = MinimalGlobals({"A", "B", "C"});
    r.Add(EOF_, "");
    for (int i = 0; i < 3; ++i) {
        r.Add(BOF, biffreadtest::BofData(0x0010));
        r.Add(0x027E, Bytes().U16(0).U16(0).U16(16).U32((static_cast<uint32_t>(i) << 2) | 2));
        r.Add(EOF_, "");
    }
    r.Header(0x8123, 9000).Raw("garbage that is no record");  // fails if read
    const std::string path = dir.File("three.xls");
    WriteXls(path, r.bytes());

    TTabulon4 book;
    ReadInto(book, path);
    ASSERT_EQ(book.Sheets().Count(), 3);
    EXPECT_EQ(book.Sheet(2).Name(), u"C");
    EXPECT_DOUBLE_EQ(book.Sheet(2).AsFloat(0, 0), 2);
}

// A sheet of one record `rec` after a well-formed start: what the read fails with.
struct BadCase {
    const char* name;
    Records sheet_records;
    const char* message;
};

TEST(BiffReaderRecords, HostileRecordsEndTheReadWithAClearError) {
    test::TempDir dir;
    const BadCase cases[] = {
        {"length beyond the record limit", Records().Header(0x0203, 8225).Raw(std::string(8225, '\0')),
         "Bad record in file"},
        {"id with bit 15", Records().Add(0x8203, std::string(14, '\0')), "Bad record in file"},
        {"data cut off by the end of the stream", Records().Header(0x0203, 14).Raw("\x01\x02"),
         "Stream read error"},
        {"shared string that is not there", Records().Add(0x00FD, Bytes().U16(0).U16(0).U16(15).U32(7)),
         "Read error at "},
        {"merged areas beyond the record", Records().Add(0x00E5, Bytes().U16(1000).U32(0).U32(0)),
         "Record too short"},
        {"number without its value", Records().Add(0x0203, Bytes().U16(0).U16(0).U16(15).U32(0)),
         "Record too short"},
        {"active pane out of range", Records().Add(0x0041, Bytes().U16(1).U16(1).U16(1).U16(1).U8(4).U8(0)),
         "Value out of range"},
        {"shared formula without its group",
         Records().Add(0x0006,
                       Bytes().U16(2).U16(1).U16(15).F64(0).U16(0x0008).U32(0).U16(5).U8(0x01).U16(9).U16(9)),
         "Fixup error in shared formula at C=1,R=2 (B3)"},
        {"sheet that never ends", Records().Add(0x0203, Bytes().U16(0).U16(0).U16(15).F64(1)),
         "Unexpected end of file"},
        {"sheet that begins inside a sheet", Records().Add(BOF, biffreadtest::BofData(0x0010)).Add(EOF_, ""),
         "Substream begins before the previous one ends"},
    };
    for (const BadCase& c : cases) {
        Records r = MinimalGlobals({"S"});
        r.Add(EOF_, "").Add(BOF, biffreadtest::BofData(0x0010)).Raw(c.sheet_records.bytes());
        if (std::string_view(c.message) != "Unexpected end of file") r.Add(EOF_, "");
        const std::string path = dir.File("bad.xls");
        WriteXls(path, r.bytes());
        const std::string error = ReadError(path);
        EXPECT_EQ(error.rfind("Error on reading record # ", 0), 0u) << c.name << ": " << error;
        EXPECT_NE(error.find(std::string("\r") + c.message), std::string::npos) << c.name << ": " << error;
    }
}

// A sheet before the workbook globals have ended (inside them, or with no globals BOF at all): the
// workbook read would lack its sheet directory and string table, and the file written from it
// would not read again.
TEST(BiffReaderRecords, ASheetBeforeTheEndOfTheGlobalsIsRefused) {
    test::TempDir dir;
    for (const uint16_t type : {0x0010, 0x0020}) {
        SCOPED_TRACE(type);
        Records inside = MinimalGlobals({"S"});
        // A BOF of a type no substream has, where the globals' BOF belongs.
        Records unknown_first;
        unknown_first.Add(BOF, biffreadtest::BofData(0x0014)).Add(0x005C, std::string(32, ' '));
        for (Records* r : {&inside, &unknown_first}) {
            r->Add(BOF, biffreadtest::BofData(type)).Add(0x00FD, Bytes().U16(0).U16(0).U16(15).U32(0));
            r->Add(EOF_, "").Add(EOF_, "");
            const std::string path = dir.File("nested.xls");
            WriteXls(path, r->bytes());
            EXPECT_NE(ReadError(path).find("Sheet begins before the workbook globals end"),
                      std::string::npos);
        }
    }
}

// Text cells in a row are read as one run; a bad one in the middle of a run is still reported
// as its own record, at its own place, also past the first batch of a long run.
TEST(BiffReaderRecords, BadTextCellInARunIsNamedByItsRecord) {
    test::TempDir dir;
    const struct {
        uint32_t cells;
        uint32_t bad;
    } cases[] = {{5, 3}, {150, 100}, {150, 64}, {150, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bad);
        Records r = MinimalGlobals({"S"});
        const int globals = 24;  // BOF, 5 FONT, 17 XF, BOUNDSHEET
        r.Add(0x00FC, Bytes().U32(2).U32(2).U16(1).U8(0).Raw("a").U16(1).U8(0).Raw("b"));
        r.Add(EOF_, "").Add(BOF, biffreadtest::BofData(0x0010));
        size_t after_bad = 0;
        for (uint32_t col = 0; col < c.cells; ++col) {
            r.Add(0x00FD, Bytes().U16(0).U16(col).U16(16).U32(col == c.bad ? 9 : col % 2));
            if (col == c.bad) after_bad = r.size();
        }
        r.Add(EOF_, "");
        const std::string path = dir.File("run.xls");
        WriteXls(path, r.bytes());
        char expected[80];
        std::snprintf(expected, sizeof expected,
                      "Error on reading record # %d, 00FD Offs: %.8X\rRead error at ",
                      globals + 3 + static_cast<int>(c.bad), static_cast<unsigned>(after_bad));
        EXPECT_EQ(ReadError(path).rfind(expected, 0), 0u) << ReadError(path);
    }

    // A run whose last record is cut off by the end of the stream: that record is named.
    {
        Records r = MinimalGlobals({"S"});
        const int globals = 24;
        r.Add(0x00FC, Bytes().U32(2).U32(2).U16(1).U8(0).Raw("a").U16(1).U8(0).Raw("b"));
        r.Add(EOF_, "").Add(BOF, biffreadtest::BofData(0x0010));
        for (uint32_t col = 0; col < 100; ++col) r.Add(0x00FD, Bytes().U16(0).U16(col).U16(16).U32(col % 2));
        const size_t cut_at = r.size();
        r.Header(0x00FD, 10).Raw(std::string("\0\0\x64\0", 4));
        const std::string path = dir.File("cut.xls");
        WriteXls(path, r.bytes());
        char expected[80];
        std::snprintf(expected, sizeof expected,
                      "Error on reading record # %d, 00FD Offs: %.8X\rStream read error", globals + 3 + 100,
                      static_cast<unsigned>(cut_at + 4));
        EXPECT_EQ(ReadError(path).rfind(expected, 0), 0u) << ReadError(path);
    }

    // The same run without the bad cell reads whole.
    Records good = MinimalGlobals({"S"});
    good.Add(0x00FC, Bytes().U32(2).U32(2).U16(1).U8(0).Raw("a").U16(1).U8(0).Raw("b"));
    good.Add(EOF_, "").Add(BOF, biffreadtest::BofData(0x0010));
    for (uint32_t col = 0; col < 5; ++col) good.Add(0x00FD, Bytes().U16(0).U16(col).U16(16).U32(col % 2));
    good.Add(EOF_, "");
    const std::string path = dir.File("run.xls");
    WriteXls(path, good.bytes());
    TTabulon4 book;
    ReadInto(book, path);
    for (uint32_t col = 0; col < 5; ++col) EXPECT_EQ(CellText(book.Sheet(0), col, 0), col % 2 ? u"b" : u"a");
}

// A long run of text cells, over several rows and beyond the sheet's limits in part: each string
// is counted once for every cell the file has naming it, so deleting those cells leaves it where
// a string no cell names is.
TEST(BiffReaderRecords, LongTextRunsCountEveryCellOnce) {
    test::TempDir dir;
    Records r = MinimalGlobals({"S"});
    r.Add(0x00FC, Bytes()
                      .U32(300)
                      .U32(4)
                      .U16(1)
                      .U8(0)
                      .Raw("a")
                      .U16(1)
                      .U8(0)
                      .Raw("b")
                      .U16(1)
                      .U8(0)
                      .Raw("c")
                      .U16(6)
                      .U8(0)
                      .Raw("unused"));
    r.Add(EOF_, "").Add(BOF, biffreadtest::BofData(0x0010));
    uint32_t named[3] = {};
    for (uint32_t row = 0; row < 3; ++row)
        for (uint32_t col = 0; col < 100; ++col) {
            const uint32_t index = (row * 7 + col) % 3;
            // Column 256 and beyond is outside a BIFF8 sheet: such cells are not read.
            const uint32_t at = row == 2 && col >= 90 ? 256 + col : col;
            if (at < 256) ++named[index];
            r.Add(0x00FD, Bytes().U16(row).U16(at).U16(16).U32(index));
        }
    r.Add(EOF_, "");
    const std::string path = dir.File("long.xls");
    WriteXls(path, r.bytes());
    TTabulon4 book;
    ReadInto(book, path);
    TSheet& sheet = book.Sheet(0);
    const TSSTEntry* entries[3] = {};
    const TSSTEntry* unused = nullptr;
    book.SST().ForEach([&](const TSSTEntry* e) {
        const std::u16string text = TSST2::Text(e);
        if (text == u"unused")
            unused = e;
        else
            entries[text[0] - u'a'] = e;
    });
    ASSERT_TRUE(unused && entries[0] && entries[1] && entries[2]);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(entries[i]->UseCount(), unused->UseCount() + named[i]) << i;
    for (uint32_t row = 0; row < 3; ++row)
        for (uint32_t col = 0; col < 100; ++col) {
            const uint32_t index = (row * 7 + col) % 3;
            if (row == 2 && col >= 90) continue;
            EXPECT_EQ(CellText(sheet, col, row), std::u16string(1, static_cast<char16_t>(u'a' + index)));
        }
    EXPECT_EQ(sheet.CellType(256 + 90, 2), ctNone);
}

TEST(BiffReaderRecords, HostileSharedStringTablesEndTheRead) {
    test::TempDir dir;
    const std::pair<std::string, const char*> cases[] = {
        // Four thousand million strings announced, none there: no allocation for them.
        {Bytes().U32(1).U32(0xFFFFFFFF), "CONTINUE record is missing in SST"},
        {Bytes().U32(1).U32(1).U16(2).U8(0x02).Raw("ab"), "STT: Unhandled string type in Read (02)"},
        // Phonetic data of 4 GB announced.
        {Bytes().U32(1).U32(1).U16(1).U8(0x04).U32(0xFFFFFFFF).Raw("a"), "CONTINUE record is missing in SST"},
    };
    for (const auto& [sst, message] : cases) {
        Records r = MinimalGlobals({"S"});
        r.Add(0x00FC, sst).Add(EOF_, "").Add(BOF, biffreadtest::BofData(0x0010)).Add(EOF_, "");
        const std::string path = dir.File("sst.xls");
        WriteXls(path, r.bytes());
        const std::string error = ReadError(path);
        EXPECT_NE(error.find(std::string("\r") + message), std::string::npos) << error;
    }
}

// A user style's name count beyond the 255 characters a style name may have (a damaged record):
// the writer would give the record the length the count calls for, more than a record may hold,
// and the file written would not read again. The read refuses it; a name of 255 reads and writes.
TEST(BiffReaderRecords, AStyleNameLongerThan255CharactersIsRefused) {
    test::TempDir dir;
    for (const uint16_t count : {uint16_t{255}, uint16_t{256}, uint16_t{0xFF07}}) {
        SCOPED_TRACE(count);
        Records r = MinimalGlobals({"S"});
        Bytes style;
        style.U16(0x0010).U16(count).U8(0);
        style.Raw(std::string(std::min<uint16_t>(count, 255), 'n'));
        r.Add(0x0293, style);
        r.Add(EOF_, "").Add(BOF, biffreadtest::BofData(0x0010)).Add(EOF_, "");
        const std::string path = dir.File("style.xls");
        WriteXls(path, r.bytes());
        if (count > 255) {
            EXPECT_NE(ReadError(path).find("Style name longer than 255 characters"), std::string::npos);
            continue;
        }
        TTabulon4 book;
        ReadInto(book, path);
        TTabulon4 again;
        ASSERT_NO_THROW(WriteAndReadBack(book, dir.File("written.xls"), again));
        const std::string expected = Bytes().U16(0x0010).Str8(std::string(255, 'n'));
        bool found = false;
        for (const auto& kept : again.NamedStyles())
            found = found || std::string(kept.data.begin(), kept.data.end()) == expected;
        EXPECT_TRUE(found) << "the 255-character style did not come back";
    }
}

// An empty text may be held several times, in 8-bit or 16-bit form: all are one entry.
TEST(BiffReaderRecords, TheEmptyTextHeldSeveralTimesIsOneString) {
    test::TempDir dir;
    Records r = MinimalGlobals({"S"});
    r.Add(0x00FC, Bytes().U32(5).U32(4).U16(0).U8(0x01).U16(1).U8(0).Raw("a").U16(0).U8(0x01).U16(0).U8(0));
    r.Add(EOF_, "").Add(BOF, biffreadtest::BofData(0x0010));
    for (uint32_t i = 0; i < 5; ++i) r.Add(0x00FD, Bytes().U16(0).U16(i).U16(16).U32(i % 4));
    r.Add(EOF_, "");
    const std::string path = dir.File("empty.xls");
    WriteXls(path, r.bytes());

    TTabulon4 book;
    ReadInto(book, path);
    const std::u16string expected[] = {u"", u"a", u"", u"", u""};
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(CellText(book.Sheet(0), i, 0), expected[i]) << i;
    EXPECT_EQ(book.SST().Count(), 2u);
    EXPECT_EQ(book.Sheet(0).Cells().Find(0, 0)->value.entry, book.Sheet(0).Cells().Find(3, 0)->value.entry);
}

// A damaged file's record too short for the fields the model and the writer use is kept filled
// up with zeros, so the workbook read can be written again and reads back: DIMENSIONS with 8 of
// its 14 bytes, and a worksheet's WINDOW2 in the 10-byte layout of chart sheets, which has no
// zoom fields.
TEST(BiffReaderRecords, AShortRecordOfFixedSizeIsFilledUpSoTheWorkbookWritesAgain) {
    test::TempDir dir;
    const struct {
        uint16_t id;
        std::string data;
    } cases[] = {
        {0x0200, Bytes().U32(0).U32(1)},
        {0x023E, Bytes().U16(0x06B6).U16(0).U16(0).U32(64)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        Records r = MinimalGlobals({"S"});
        r.Add(0x00FC, Bytes().U32(1).U32(1).Str8("x"));
        r.Add(EOF_, "").Add(BOF, biffreadtest::BofData(0x0010));
        r.Add(c.id, c.data);
        r.Add(0x00FD, Bytes().U16(0).U16(0).U16(16).U32(0));
        r.Add(EOF_, "");
        const std::string path = dir.File("short.xls");
        WriteXls(path, r.bytes());

        TTabulon4 book;
        ReadInto(book, path);
        TTabulon4 again;
        ASSERT_NO_THROW(WriteAndReadBack(book, dir.File("written.xls"), again));
        EXPECT_EQ(CellText(again.Sheet(0), 0, 0), u"x");
    }
}

// A read that fails part-way leaves what it read; its cells own their strings as any others, so
// writing the workbook (which numbers the strings anew) and replacing cells leaves the other cells'
// texts in place. (The sheet's records after its cells were never read, so the file written is
// not complete; only the strings are looked at here.)
TEST(BiffReaderRecords, AWorkbookLeftByAFailedReadCanBeChangedAndWritten) {
    test::TempDir dir;
    Records r = MinimalGlobals({"S"});
    // "drop" comes before "keep" in the table as written: their keys end in 0xDD and 0xF4.
    r.Add(0x00FC, Bytes().U32(5).U32(2).Str8("keep").Str8("drop"));
    r.Add(EOF_, "").Add(BOF, biffreadtest::BofData(0x0010));
    for (uint32_t row = 0; row < 4; ++row) r.Add(0x00FD, Bytes().U16(row).U16(0).U16(16).U32(0));
    r.Add(0x00FD, Bytes().U16(0).U16(1).U16(16).U32(1));  // the stream ends without the sheet's EOF
    const std::string path = dir.File("cut.xls");
    WriteXls(path, r.bytes());

    TTabulon4 book;
    try {
        ReadInto(book, path);
        ADD_FAILURE() << "the read did not fail";
    } catch (const std::exception& error) {
        EXPECT_NE(std::string(error.what()).find("Unexpected end of file"), std::string::npos)
            << error.what();
    }
    TSheet& sheet = book.Sheet(0);
    ASSERT_EQ(CellText(sheet, 0, 3), u"keep");
    const std::string written = dir.File("written.xls");
    book.SetFilename(Utf8ToWide(written));
    book.Write();
    for (uint32_t row = 0; row < 3; ++row) sheet.SetAsInteger(0, row, static_cast<int>(row));
    sheet.SetAsInteger(1, 0, 9);
    EXPECT_EQ(CellText(sheet, 0, 3), u"keep");
    book.Write();
    EXPECT_EQ(CellText(sheet, 0, 3), u"keep");
    const bifftest::WrittenStream stream(written);
    const bifftest::DecodedSST sst = bifftest::DecodeSST(stream.Substream(0));
    EXPECT_EQ(sst.strings, (std::vector<std::u16string>{u"drop", u"keep"}));
}

TEST(BiffReaderRecords, EncryptedFileAsksForThePassword) {
    test::TempDir dir;
    Records r;
    r.Add(BOF, biffreadtest::BofData(0x0005));
    r.Add(0x002F, Bytes().U16(1).U16(1).U16(1).Fill(48, 0xAB));
    const std::string path = dir.File("encrypted.xls");
    WriteXls(path, r.bytes());
    char expected[80];
    std::snprintf(expected, sizeof expected, "Error on reading record # 1, 002F Offs: %.8X\r",
                  static_cast<unsigned>(r.size()));
    EXPECT_EQ(ReadError(path), std::string(expected) + "File is encrypted. Password required.");

    Records french;
    french.Add(BOF, biffreadtest::BofData(0x0005)).Add(0x002F, Bytes().U16(0).U16(0x1234).U16(0x5678));
    WriteXls(path, french.bytes());
    EXPECT_NE(ReadError(path).find("\rFile encrypted with non-standard key. French?"), std::string::npos);
}

// Every prefix of a written file's record stream is refused with a message; the whole stream
// reads.
TEST(BiffReaderRecords, TruncatedStreamsAreRefused) {
    test::TempDir dir;
    TTabulon4 written;
    written.Sheet(0).SetAsWideString(0, 0, u"text");
    written.Sheet(0).SetAsFloat(1, 0, 0.1);
    written.Sheets().Add().SetAsInteger(0, 0, 5);
    const std::string path = dir.File("whole.xls");
    written.SetFilename(Utf8ToWide(path));
    written.Write();
    const std::string stream = bifftest::WorkbookStreamOf(path);
    const std::string cut_path = dir.File("cut.xls");
    for (size_t cut = 0; cut < stream.size(); cut += 5) {
        WriteXls(cut_path, stream.substr(0, cut));
        const std::string error = ReadError(cut_path);
        EXPECT_EQ(error.rfind("Error on reading record # ", 0), 0u) << "cut at " << cut << ": " << error;
    }
    WriteXls(cut_path, stream);
    EXPECT_EQ(ReadError(cut_path), "");
}

TEST(BiffReaderRecords, FilesWithoutAWorkbookStreamAreNoWorkbooks) {
    test::TempDir dir;
    const std::string path = dir.File("other.xls");
    WriteXls(path, Records().Add(BOF, biffreadtest::BofData(0x0005)).bytes(), u"Something");
    EXPECT_EQ(ReadError(path), "The file is not an Excel workbook");
    test::WriteFileBytes(path, "id;name\n1;text\n");
    EXPECT_EQ(ReadError(path), "The file is not an Excel workbook");

    // "Book" holds a BIFF5 stream, with its own layouts of fonts, formats and cells.
    Records biff5;
    biff5.Add(BOF, Bytes().U16(0x0500).U16(0x0005).U16(0).U16(0));
    // A bold 12-point Cyrillic "Courier", the format "0.000" as id 164, and a centred cell
    // format with a solid fill (colours 10 on 9) using both.
    biff5.Add(0x0031, Bytes().U16(240).U16(0).U16(0x7FFF).U16(700).U16(0).U8(0).U8(2).U8(204).U8(0).U8(7).Raw(
                          "Courier"));
    biff5.Add(0x041E, Bytes().U16(164).U8(5).Raw("0.000"));
    biff5.Add(0x00E0,
              Bytes().U16(0).U16(164).U16(0x0001).U8(0x02).U8(0xF8).U32(10 | (9 << 7) | (1 << 16)).U32(0));
    biff5.Add(BOUNDSHEET, Bytes().U32(0).U8(1).U8(0).U8(3).Raw("Old"));
    biff5.Add(EOF_, "").Add(BOF, Bytes().U16(0x0500).U16(0x0010).U16(0).U16(0));
    biff5.Add(0x0204, Bytes().U16(0).U16(0).U16(15).U16(5).Raw("hello"));  // LABEL without option byte
    biff5.Add(0x0203, Bytes().U16(1).U16(0).U16(0).F64(2.5));
    biff5.Add(EOF_, "");
    WriteXls(path, biff5.bytes(), u"BOOK");
    TTabulon4 book;
    ReadInto(book, path);
    EXPECT_EQ(book.Version(), xvExcel50);
    EXPECT_EQ(book.Sheet(0).Name(), u"Old");
    EXPECT_EQ(book.Sheet(0).Hidden(), hsHidden);
    EXPECT_EQ(CellText(book.Sheet(0), 0, 0), u"hello");
    const TXFont& font = book.Fonts().Items(0);
    EXPECT_EQ(font.name, u"Courier");
    EXPECT_EQ(font.height, 240u);
    EXPECT_EQ(font.charset, 204);
    EXPECT_TRUE(font.style.Contains(xfsBold));
    EXPECT_EQ(book.Formats().NumberFormats().ById(164).Text(), u"0.000");
    const TCellFormat& format =
        book.Formats().Items(book.Sheet(0).CellFormatIndex(*book.Sheet(0).Cells().Find(0, 1)));
    EXPECT_EQ(format.NumberFormatIndex(), 164);
    const auto& x = format.Bytes();
    EXPECT_EQ(x[6] & 7, 2);    // centred
    EXPECT_EQ(x[17] >> 2, 1);  // solid fill
    EXPECT_EQ((x[18] | (x[19] << 8)), 10 | (9 << 7));
    // The file's formats are followed by defaults up to format 15, which rows and columns use.
    EXPECT_GE(book.Formats().Count(), 16);
}

}  // namespace
}  // namespace linograf::workbook
