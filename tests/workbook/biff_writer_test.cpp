// The BIFF8 writer byte by byte: record order, directory positions, the shared string table
// with its CONTINUE records and EXTSST buckets, cell records, merged areas, repeatability.
#include "workbook/biff/biff_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "base/memory_stream.h"
#include "tests/support/temp_dir.h"
#include "tests/workbook/biff_test_support.h"
#include "text/wide_text.h"
#include "workbook/biff/rk_number.h"
#include "workbook/biff/xls_stream.h"
#include "workbook/cfb/compound_document.h"
#include "workbook/model/extra_objects.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook {
namespace {

using bifftest::U16;
using bifftest::U32;
using bifftest::WrittenStream;

constexpr uint16_t BOF = 0x0809, EOF_ = 0x000A, FONT = 0x0031, FORMAT = 0x041E, XF = 0x00E0, STYLE = 0x0293,
                   BOUNDSHEET = 0x0085, SST = 0x00FC, EXTSST = 0x00FF, CONTINUE = 0x003C, RK = 0x027E,
                   MULRK = 0x00BD, NUMBER = 0x0203, BLANK = 0x0201, MULBLANK = 0x00BE, LABELSST = 0x00FD,
                   BOOLERR = 0x0205, MERGEDCELLS = 0x00E5, COLINFO = 0x007D, ROW = 0x0208,
                   FILESHARING = 0x005B;

class BiffWriterTest : public ::testing::Test {
  protected:
    WrittenStream Write(const std::string& name = "book.xls") {
        path = dir.File(name);
        book.SetFilename(Utf8ToWide(path));
        book.Write();
        return WrittenStream(path);
    }
    // The cell records of sheet k, in file order.
    static std::vector<TBiffRecordView> CellRecords(const WrittenStream& s, int k = 1) {
        static const std::set<uint16_t> cells = {RK, MULRK, NUMBER, BLANK, MULBLANK, LABELSST, BOOLERR};
        std::vector<TBiffRecordView> out;
        for (const TBiffRecordView& r : s.Substream(k))
            if (cells.count(r.id)) out.push_back(r);
        return out;
    }
    // The records point into the stream's bytes: a temporary stream would leave them dangling.
    static std::vector<TBiffRecordView> CellRecords(WrittenStream&&, int = 1) = delete;

    test::TempDir dir;
    std::string path;
    TTabulon4 book;
};

TEST_F(BiffWriterTest, NewOneSheetWorkbookHasTheRecordsInOrder) {
    const WrittenStream s = Write();
    std::vector<uint16_t> globals = {BOF,    0x005C, 0x0042, 0x0161, 0x013D, 0x009C, 0x0019, 0x0012, 0x0013,
                                     0x01AF, 0x003D, 0x0040, 0x008D, 0x0022, 0x000E, 0x01B7, 0x00DA};
    globals.insert(globals.end(), 4, FONT);
    globals.insert(globals.end(), 5, FORMAT);
    globals.insert(globals.end(), 22, XF);
    globals.insert(globals.end(), 6, STYLE);
    for (uint16_t id : {BOUNDSHEET, uint16_t{0x008C}, uint16_t{0x01C1}, SST, EXTSST, EOF_})
        globals.push_back(id);
    const std::vector<uint16_t> sheet = {BOF,    0x000D, 0x000C, 0x000F, 0x0011, 0x0010, 0x005F,
                                         0x002B, 0x002A, 0x0082, 0x0080, 0x0225, 0x0081, 0x0014,
                                         0x0015, 0x0026, 0x0027, 0x0028, 0x0029, 0x0083, 0x0084,
                                         0x00A1, 0x0012, 0x0055, 0x0200, 0x023E, 0x001D, EOF_};
    EXPECT_EQ(bifftest::Ids(s.Substream(0)), globals);
    EXPECT_EQ(bifftest::Ids(s.Substream(1)), sheet);
    EXPECT_EQ(s.records.size(), globals.size() + sheet.size());

    auto one = [&](uint16_t id, int k) { return s.WithId(id, k).at(0).data; };
    EXPECT_EQ(U16(one(0x0042, 0), 0), 1200);                // CODEPAGE
    EXPECT_EQ(one(0x013D, 0), std::string("\x01\x00", 2));  // TABID: one sheet
    EXPECT_EQ(one(SST, 0).size(), 8u);
    EXPECT_EQ(one(EXTSST, 0), std::string("\x08\x00", 2));  // bucket size 8, no buckets
    std::vector<int> format_ids;
    for (const auto& r : s.WithId(FORMAT, 0)) format_ids.push_back(U16(r.data, 0));
    EXPECT_EQ(format_ids, (std::vector<int>{9, 42, 43, 44, 45}));
    for (const auto& r : s.WithId(FONT, 0)) {
        EXPECT_EQ(U16(r.data, 0), 200);
        EXPECT_EQ(U16(r.data, 4), 8);    // colour
        EXPECT_EQ(U16(r.data, 6), 400);  // weight
        EXPECT_EQ(r.data.substr(15), std::string("\x01"
                                                 "A\0r\0i\0a\0l\0",
                                                 11));
    }
    const std::string_view dimensions = one(0x0200, 1);
    EXPECT_EQ(U32(dimensions, 0), 0u);
    EXPECT_EQ(U32(dimensions, 4), 1u);
    EXPECT_EQ(U16(dimensions, 8), 0);
    EXPECT_EQ(U16(dimensions, 10), 1);
    // SELECTION: pane 3, active cell A1, one area A1:A1.
    EXPECT_EQ(one(0x001D, 1), std::string("\x03\0\0\0\0\0\0\x01\0\0\0\0\0\0\0", 15));
    // The only sheet is the selected one.
    EXPECT_EQ(U16(one(0x023E, 1), 0), 0x04B6 | 0x0200);
}

TEST_F(BiffWriterTest, BoundsheetPositionsAreTheOffsetsOfTheSheetsBOF) {
    book.Sheets().Add().SetName(u"Второй");
    book.Sheets().Add();
    book.Sheet(2).SetAsInteger(0, 0, 7);
    book.Workbook().SetSelectedTab(1);
    const WrittenStream s = Write();
    const auto boundsheets = s.WithId(BOUNDSHEET, 0);
    ASSERT_EQ(boundsheets.size(), 3u);
    std::vector<uint64_t> sheet_bofs;
    for (const auto& r : s.records)
        if (r.id == BOF && U16(r.data, 2) == 0x0010) sheet_bofs.push_back(r.offset);
    ASSERT_EQ(sheet_bofs.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(U32(boundsheets[i].data, 0), sheet_bofs[i]) << i;
        EXPECT_EQ(boundsheets[i].data[5], 0) << "worksheet";
        const std::u16string name = book.Sheet(i).Name();
        ASSERT_EQ(boundsheets[i].data.size(), 8 + 2 * name.size());
        EXPECT_EQ(static_cast<uint8_t>(boundsheets[i].data[6]), name.size());
        for (size_t c = 0; c < name.size(); ++c) EXPECT_EQ(U16(boundsheets[i].data, 8 + 2 * c), name[c]);
        // Only the selected tab's window carries the selected bit.
        EXPECT_EQ((U16(s.WithId(0x023E, i + 1).at(0).data, 0) & 0x0200) != 0, i == 1) << i;
    }
    EXPECT_EQ(s.WithId(0x013D, 0).at(0).data, std::string("\x01\0\x02\0\x03\0", 6));
}

struct SSTCase {
    int strings;
    bool wide;
    uint16_t bucket_size;
    size_t buckets;
};

class BiffSSTTest : public BiffWriterTest, public ::testing::WithParamInterface<SSTCase> {};

// Every string comes back, in the order the LABELSST indices assume; the EXTSST buckets point at
// every bucket_size-th string, each as a stream position and an offset within its record.
TEST_P(BiffSSTTest, StringsBucketsAndLabelIndicesAgree) {
    const SSTCase c = GetParam();
    std::vector<std::u16string> texts;
    for (int i = 0; i < c.strings; ++i) {
        std::u16string t = Utf8ToWide((c.wide ? "строка номер " : "string number ") + std::to_string(i));
        if (i % 7 == 0) t += std::u16string(40 + i % 50, c.wide ? u'ж' : u'x');
        texts.push_back(t);
        book.Sheet(0).SetAsWideString(0, static_cast<uint32_t>(i), t);
    }
    book.Sheet(0).SetAsWideString(1, 0, texts[3]);  // a second reference to one string
    const WrittenStream s = Write();
    const auto globals = s.Substream(0);
    const bifftest::DecodedSST sst = bifftest::DecodeSST(globals);
    EXPECT_EQ(sst.unique, static_cast<uint32_t>(c.strings));
    EXPECT_EQ(sst.total, static_cast<uint32_t>(c.strings + 1));
    EXPECT_EQ(std::set<std::u16string>(sst.strings.begin(), sst.strings.end()),
              std::set<std::u16string>(texts.begin(), texts.end()));
    for (uint8_t option : sst.continuation_options) EXPECT_EQ(option, c.wide ? 0x01 : 0x00);
    EXPECT_FALSE(sst.continuation_options.empty()) << "some string should go on in a CONTINUE record";

    // No record beyond the limit.
    for (const auto& r : globals) EXPECT_LE(r.data.size(), 8224u);

    // Labels point at their own text.
    for (const auto& r : CellRecords(s)) {
        ASSERT_EQ(r.id, LABELSST);
        const uint16_t row = U16(r.data, 0), col = U16(r.data, 2);
        const uint32_t index = U32(r.data, 6);
        ASSERT_LT(index, sst.strings.size());
        EXPECT_EQ(sst.strings[index], col == 0 ? texts[row] : texts[3]);
    }

    const std::string_view extsst = s.WithId(EXTSST, 0).at(0).data;
    EXPECT_EQ(U16(extsst, 0), c.bucket_size);
    ASSERT_EQ(extsst.size(), 2 + 8 * c.buckets);
    std::set<uint64_t> record_starts;
    for (const auto& r : globals)
        if (r.id == SST || r.id == CONTINUE) record_starts.insert(r.offset);
    for (size_t b = 0; b < c.buckets; ++b) {
        const uint32_t position = U32(extsst, 2 + 8 * b);
        const uint16_t offset = U16(extsst, 6 + 8 * b);
        EXPECT_TRUE(record_starts.count(position - offset)) << "bucket " << b;
        EXPECT_EQ(U16(extsst, 8 + 8 * b), 0);
        // The bucket's first string starts there: its character count.
        const std::u16string& first = sst.strings[b * c.bucket_size];
        EXPECT_EQ(U16(s.bytes, position), first.size()) << "bucket " << b;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BiffSSTTest,
                         ::testing::Values(SSTCase{2000, false, 8, 250}, SSTCase{10000, false, 10, 1000},
                                           SSTCase{2000, true, 8, 250}, SSTCase{7300, true, 8, 913}));

TEST(RKNumber, EncodesByTheTwoMultipliersAndBothForms) {
    struct Case {
        double value;
        std::optional<uint32_t> rk;
    };
    const Case cases[] = {
        {1.0, 0x3FF00000u},         // whole numbers mostly take the shortened double
        {1.23, 0x405EC001u},        // 123.0 shortened, times 100
        {0.1 + 0.2, std::nullopt},  // needs all 64 bits
        {-1.0, 0xBFF00000u},
        {0.0, 0x00000000u},
        {0.01, 0x3FF00001u},
        {123456789.0, 123456789u * 4 + 2},  // too many bits for the double form: integer form
        {-123456789.0, static_cast<uint32_t>(-123456789 * 4 + 2)},
        {1234567.8, 123456780u * 4 + 3},            // integer form times 100
        {std::nextafter(0.92, 0.0), std::nullopt},  // times 100 is 92.0, which divides back to 0.92
        {536870913.0, std::nullopt},                // beyond the 30-bit integers
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeRK(c.value), c.rk) << c.value;
        if (c.rk) {
            EXPECT_EQ(DecodeRK(*c.rk), c.value) << c.value;
        }
    }
}

TEST(RKNumber, NeverChangesAValue) {
    // Neighbours of hundredths: x * 100 may round onto a whole number that divides back to
    // another double; such values must be kept in full.
    int encoded = 0;
    for (int n = -20000; n <= 20000; n += 7) {
        for (double x : {n / 100.0, std::nextafter(n / 100.0, 1e9), std::nextafter(n / 100.0, -1e9)}) {
            const std::optional<uint32_t> rk = EncodeRK(x);
            if (!rk) continue;
            ++encoded;
            EXPECT_EQ(DecodeRK(*rk), x) << x;
        }
    }
    EXPECT_GT(encoded, 5000);
}

struct CellRecordExpectation {
    uint16_t id;
    uint16_t row, first_col;
    std::vector<uint32_t> values;  // RK values, XFs of MULBLANK, ...
};

TEST_F(BiffWriterTest, NumbersGoIntoRKRunsAndNumberRecords) {
    TSheet& sheet = book.Sheet(0);
    for (uint32_t c = 0; c < 3; ++c) sheet.SetAsInteger(c, 0, static_cast<int32_t>(c + 1));  // A1:C1
    sheet.SetAsFloat(0, 1, 1.5);                                                             // A2 B2 D2 E2
    sheet.SetAsFloat(1, 1, 2.5);
    sheet.SetAsFloat(3, 1, 4.5);
    sheet.SetAsFloat(4, 1, 5.5);
    sheet.SetAsFloat(0, 2, 0.1 + 0.2);  // A3: NUMBER, then B3 a lone RK
    sheet.SetAsFloat(1, 2, 1.23);
    sheet.SetAsInteger(0, 3, 9);  // A4 RK, B4 text breaks the run, C4 RK
    sheet.SetAsWideString(1, 3, u"x");
    sheet.SetAsInteger(2, 3, 10);
    const WrittenStream written = Write();
    const auto cells = CellRecords(written);

    std::vector<std::pair<uint16_t, std::vector<uint32_t>>> got;
    for (const auto& r : cells) {
        std::vector<uint32_t> fields = {U16(r.data, 0), U16(r.data, 2)};
        if (r.id == MULRK) {
            for (size_t at = 4; at + 6 <= r.data.size(); at += 6) fields.push_back(U32(r.data, at + 2));
            fields.push_back(U16(r.data, r.data.size() - 2));
        } else if (r.id == RK) {
            fields.push_back(U32(r.data, 6));
        }
        got.emplace_back(r.id, fields);
    }
    const std::vector<std::pair<uint16_t, std::vector<uint32_t>>> expected = {
        {MULRK, {0, 0, 0x3FF00000, 0x40000000, 0x40080000, 2}},
        {MULRK, {1, 0, *EncodeRK(1.5), *EncodeRK(2.5), 1}},
        {NUMBER, {1, 3}},  // D2 does not continue the run: written in full
        {RK, {1, 4, *EncodeRK(5.5)}},
        {NUMBER, {2, 0}},
        {RK, {2, 1, 0x405EC001}},
        {RK, {3, 0, *EncodeRK(9.0)}},
        {LABELSST, {3, 1}},
        {RK, {3, 2, *EncodeRK(10.0)}},
    };
    EXPECT_EQ(got, expected);
    double a3 = 0;
    std::memcpy(&a3, cells[4].data.data() + 6, 8);
    EXPECT_EQ(a3, 0.1 + 0.2);
    double d2 = 0;
    std::memcpy(&d2, cells[2].data.data() + 6, 8);
    EXPECT_EQ(d2, 4.5);
}

TEST_F(BiffWriterTest, BlankRunsBecomeMulblankAcrossStoreBlocks) {
    TSheet& sheet = book.Sheet(0);
    sheet.SetBlank(0, 0, 15);                                   // a lone blank
    for (int c = 1; c <= 4; ++c) sheet.SetBlank(c, 1, 15 + c);  // B2:E2, four formats
    for (int c = 126; c <= 129; ++c) sheet.SetBlank(c, 2, 15);  // across the 128-column block
    sheet.SetBlank(254, 3, 15);                                 // runs stop at the last BIFF8 column
    sheet.SetBlank(255, 3, 15);
    sheet.SetBlank(256, 3, 15);
    sheet.SetBlank(300, 4, 15);  // beyond BIFF8: not written
    sheet.SetAsInteger(0, 70000, 1);
    sheet.Columns().AddIfNone(300, 1);
    sheet.Columns().Items(300)->SetWidth(5000);
    const WrittenStream s = Write();
    const auto cells = CellRecords(s);
    ASSERT_EQ(cells.size(), 4u);
    EXPECT_EQ(cells[0].id, BLANK);
    EXPECT_EQ(cells[0].data, std::string("\0\0\0\0\x0F\0", 6));
    EXPECT_EQ(cells[1].id, MULBLANK);
    EXPECT_EQ(cells[1].data, std::string("\x01\0\x01\0\x10\0\x11\0\x12\0\x13\0\x04\0", 14));
    EXPECT_EQ(cells[2].id, MULBLANK);
    EXPECT_EQ(cells[2].data, std::string("\x02\0\x7E\0\x0F\0\x0F\0\x0F\0\x0F\0\x81\0", 14));
    EXPECT_EQ(cells[3].id, MULBLANK);
    EXPECT_EQ(cells[3].data, std::string("\x03\0\xFE\0\x0F\0\x0F\0\xFF\0", 10));
    EXPECT_TRUE(s.WithId(COLINFO, 1).empty());
    // The used area keeps row 70000 and column 300, capped to what BIFF8 can state.
    const std::string_view dimensions = s.WithId(0x0200, 1).at(0).data;
    EXPECT_EQ(U32(dimensions, 4), 0xFFFFu);
    EXPECT_EQ(U16(dimensions, 10), 255);
}

TEST_F(BiffWriterTest, BooleansErrorsAndLabels) {
    TSheet& sheet = book.Sheet(0);
    sheet.SetAsBoolean(0, 0, true);
    sheet.SetAsBoolean(1, 0, false);
    const uint8_t codes[] = {1, 2, 3, 4, 5, 6, 7};
    for (uint8_t code : codes) sheet.SetError(code - 1, 1, 15, code);
    const WrittenStream written = Write();
    const auto cells = CellRecords(written);
    ASSERT_EQ(cells.size(), 9u);
    EXPECT_EQ(cells[0].data.substr(6), std::string("\x01\0", 2));
    EXPECT_EQ(cells[1].data.substr(6), std::string("\0\0", 2));
    const std::string error_bytes("\x00\x07\x0F\x17\x1D\x24\x2A", 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(cells[2 + i].id, BOOLERR);
        EXPECT_EQ(cells[2 + i].data[6], error_bytes[i]) << i;
        EXPECT_EQ(cells[2 + i].data[7], 1) << i;
    }
}

TEST_F(BiffWriterTest, InvalidErrorCodeNamesTheCellAndTheCellCount) {
    book.Sheet(0).SetAsInteger(0, 0, 1);
    book.Sheet(0).SetError(3, 2, 15, 0);
    try {
        Write();
        FAIL() << "no exception";
    } catch (const EBiffWriteError& e) {
        EXPECT_STREQ(e.what(), "Error on writing record # 2\rInvalid error value in cell 3:2");
    }
}

// A formula read from Open XML keeps its text only; BIFF8 needs its tokens, and an empty formula
// would stand where the formula was. The write fails before the file exists.
TEST_F(BiffWriterTest, FormulaWithoutTokensFailsTheWrite) {
    auto formula = std::make_unique<TFormulaData>();
    formula->text = u"=A1*2";
    formula->result_known = false;
    book.Sheet(0).SetAsInteger(0, 0, 1);
    book.Sheet(0).SetFormula(1, 0, kDefaultCellFormat, ctNumberFormula, std::move(formula));
    try {
        Write();
        FAIL() << "no exception";
    } catch (const EBiffWriteError& e) {
        EXPECT_STREQ(e.what(),
                     "Error on writing record # 2\rFormula without tokens in cell 1:0 cannot be written as "
                     "BIFF8");
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(BiffWriterTest, MergedAreasGoIntoRecordsOf1027) {
    for (int i = 0; i < 1500; ++i)
        book.Sheet(0).MergedCells().Add(i % 100 * 2, i / 100 * 3, i % 100 * 2 + 1, i / 100 * 3 + 1);
    const WrittenStream written = Write();
    const auto merged = written.WithId(MERGEDCELLS, 1);
    ASSERT_EQ(merged.size(), 2u);
    EXPECT_EQ(U16(merged[0].data, 0), 1027);
    EXPECT_EQ(merged[0].data.size(), 2u + 8 * 1027);
    EXPECT_EQ(U16(merged[1].data, 0), 473);
    EXPECT_EQ(merged[1].data.size(), 2u + 8 * 473);
    int i = 0;
    for (const auto& r : merged) {
        for (size_t at = 2; at < r.data.size(); at += 8, ++i) {
            const TMergedArea& a = book.Sheet(0).MergedCells().Items(i);
            EXPECT_EQ(U16(r.data, at), a.row1);
            EXPECT_EQ(U16(r.data, at + 2), a.row2);
            EXPECT_EQ(U16(r.data, at + 4), a.col1);
            EXPECT_EQ(U16(r.data, at + 6), a.col2);
        }
    }
    EXPECT_EQ(i, 1500);
}

TEST_F(BiffWriterTest, ColumnsAndRows) {
    TSheet& sheet = book.Sheet(0);
    sheet.Columns().AddIfNone(1, 3);  // B:D equal, E hidden, G default width
    for (int c = 1; c <= 3; ++c) sheet.Columns().Items(c)->SetWidth(4000);
    sheet.Columns().AddIfNone(4, 1);
    sheet.Columns().Items(4)->SetWidth(4000);
    sheet.Columns().Items(4)->SetHidden(true);
    sheet.Columns().AddIfNone(6, 1);
    sheet.Rows().AddIfNone(2).SetHeight(400);
    sheet.Rows().AddIfNone(5);
    sheet.Rows().Find(5)->SetFontStyle({xfsBold});
    const WrittenStream s = Write();
    const auto colinfo = s.WithId(COLINFO, 1);
    ASSERT_EQ(colinfo.size(), 3u);
    EXPECT_EQ(colinfo[0].data, std::string("\x01\0\x03\0\xA0\x0F\x0F\0\x02\0\0\0", 12));
    EXPECT_EQ(colinfo[1].data, std::string("\x04\0\x04\0\xA0\x0F\x0F\0\x03\0\0\0", 12));
    EXPECT_EQ(colinfo[2].data, std::string("\x06\0\x06\0\xC4\x09\x0F\0\0\0\0\0", 12));
    const auto rows = s.WithId(ROW, 1);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(U16(rows[0].data, 0), 2);
    EXPECT_EQ(U16(rows[0].data, 4), 255);
    EXPECT_EQ(U16(rows[0].data, 6), 400);
    EXPECT_EQ(U16(rows[0].data, 12), 0x0140);  // custom height
    EXPECT_EQ(U16(rows[0].data, 14), 15);
    EXPECT_EQ(U16(rows[1].data, 0), 5);
    EXPECT_EQ(U16(rows[1].data, 12), 0x0180);  // formatted
    const uint16_t xf = U16(rows[1].data, 14);
    EXPECT_EQ(xf, sheet.Rows().Find(5)->FormatIndex());
    EXPECT_NE(xf, 15);
}

TEST_F(BiffWriterTest, PropertiesReachTheirRecords) {
    book.SetRecomendReadOnly(true);
    book.SetUserName("  operator  ");
    book.Sheet(0).SetZoom(150);
    book.Sheet(0).PrintSettings().header = u"Журнал";
    book.Sheet(0).PrintSettings().margin_top = -1;  // negative margins are left out
    const WrittenStream s = Write();
    const auto globals = bifftest::Ids(s.Substream(0));
    ASSERT_EQ(globals[2], FILESHARING);  // right after WRITEACCESS
    EXPECT_EQ(s.WithId(FILESHARING, 0).at(0).data, std::string("\x01\0\0\0\0\0", 6));
    const std::string_view access = s.WithId(0x005C, 0).at(0).data;
    EXPECT_EQ(access.size(), 112u);
    EXPECT_EQ(access.substr(0, 15), std::string("\x0C\0\0  operator  ", 15));
    EXPECT_EQ(access.substr(15), std::string(97, ' '));
    EXPECT_EQ(book.UserName(), "operator");
    EXPECT_EQ(s.WithId(0x00A0, 1).at(0).data, std::string("\x96\0\x64\0", 4));  // SCL 150/100
    EXPECT_EQ(s.WithId(0x0014, 1).at(0).data,
              std::string("\x06\0\x01\x16\x04\x43\x04\x40\x04\x3D\x04\x30\x04\x3B\x04", 15));
    EXPECT_EQ(s.WithId(0x0015, 1).at(0).data.size(), 0u);
    EXPECT_TRUE(s.WithId(0x0028, 1).empty());
    EXPECT_EQ(s.WithId(0x0026, 1).size(), 1u);
}

TEST_F(BiffWriterTest, SecondWriteGivesTheSameBytes) {
    for (uint32_t r = 0; r < 300; ++r) {
        book.Sheet(0).SetAsWideString(0, r, Utf8ToWide("line " + std::to_string(r)));
        book.Sheet(0).SetAsFloat(1, r, r * 0.37);
    }
    book.Sheets().Add().SetAsBoolean(2, 2, true);
    book.Sheet(0).MergedCells().Add(3, 0, 4, 1);
    Write("a.xls");
    const std::string first = test::ReadFileBytes(path);
    Write("a.xls");
    EXPECT_EQ(test::ReadFileBytes(path), first);
    Write("b.xls");
    EXPECT_EQ(test::ReadFileBytes(path), first);
}

TEST_F(BiffWriterTest, WritesIntoATargetStreamWhenGiven) {
    book.Sheet(0).SetAsInteger(0, 0, 5);
    Write("file.xls");
    TMemoryStream target;
    TBiffWriter(book).Write(&target);
    EXPECT_EQ(target.Bytes(), test::ReadFileBytes(path));
}

// The record stream goes out in blocks; patches and seeks may reach bytes already sent, still in
// the block, or both. The stream read back from the file, and the document written into a target
// stream, must equal a plain in-memory model of the same operations, and file and target must
// hold the same document, also with preserved elements around the stream.
TEST(RecordStream, PatchesAndSeeksAcrossBlocksReachTheFileAndTheTarget) {
    test::TempDir dir;
    TCompoundDocument read;
    read.Root().CreateStream(u"Ctls").Write(std::string(5000, 'c'));  // large, named before "Workbook"
    read.Root().CreateStream(u"\u0005SummaryInformation").Write(std::string(300, 's'));
    TExtraObjects preserved;
    preserved.Assign(read);

    std::string model;
    size_t position = 0;
    auto drive = [&](TXLSStream& stream) {
        model.clear();
        position = 0;
        auto put = [&](const std::string& bytes) {
            if (model.size() < position + bytes.size()) model.resize(position + bytes.size(), '\0');
            model.replace(position, bytes.size(), bytes);
            position += bytes.size();
            stream.Write(bytes.data(), bytes.size());
        };
        auto patch = [&](uint64_t at, const std::string& bytes) {
            model.replace(at, bytes.size(), bytes);
            stream.Patch(at, bytes.data(), bytes.size());
        };
        const size_t block = TXLSStream::kBlockSize;
        for (int i = 0; stream.Position() + 1000 < block - 3; ++i)
            put(std::string(1000, static_cast<char>('a' + i % 26)));
        put(std::string(block - 3 - stream.Position(), '-'));
        put("0123456789");                 // crosses into the second block
        patch(block - 2, "PQ");            // entirely sent
        patch(block - 6, "WXYZ");          // partly sent, partly in the block
        patch(block + 3, "in");            // in the block
        put(std::string(3 * block, 'L'));  // longer than a block
        patch(block + 1, "LONGPATCH");
        EXPECT_EQ(stream.Seek(100, TSeekOrigin::soBeginning), 100u);
        position = 100;
        put("rewritten");
        EXPECT_EQ(stream.Seek(0, TSeekOrigin::soEnd), model.size());
        position = model.size();
        put("tail");
        EXPECT_EQ(stream.Size(), model.size());
        EXPECT_EQ(stream.Position(), model.size());
        EXPECT_THROW(stream.Patch(model.size() - 2, "abc", 3), std::out_of_range);
    };

    const std::string path = dir.File("stream.xls");
    TXLSStream to_file;
    to_file.OpenForWrite(path, nullptr, &preserved);
    drive(to_file);
    to_file.Close();
    const std::string file = test::ReadFileBytes(path);
    const TCompoundDocument written = TCompoundDocument::Load(file);
    EXPECT_TRUE(written.Root().OpenStream(u"Workbook").Bytes() == model);
    EXPECT_EQ(written.Root().OpenStream(u"Ctls").Bytes(), std::string(5000, 'c'));

    TMemoryStream target;
    TXLSStream to_target;
    to_target.OpenForWrite("", &target, &preserved);
    drive(to_target);
    to_target.Close();
    EXPECT_TRUE(target.Bytes() == file);
}

}  // namespace
}  // namespace linograf::workbook
