#include "core/line_capture.h"

#include <gtest/gtest.h>

#include "core/format_journal.h"
#include "tests/support/temp_dir.h"
#include "text/cp1251.h"

namespace linograf {
namespace {

// Format and journal loaded from an INI text, and a capture over them that records, at every
// journal post, the row as posted and how many bytes the source had given by then.
class LineCaptureTest : public ::testing::Test {
  protected:
    void Load(const std::vector<std::pair<std::string, int>>& fields) {
        std::string ini = "[app]\nformat=" + std::to_string(fields.size()) + "\n[format]\n";
        for (std::size_t i = 0; i < fields.size(); ++i) {
            ini += "name" + std::to_string(i + 1) + "=" + fields[i].first + "\n";
            ini += "size" + std::to_string(i + 1) + "=" + std::to_string(fields[i].second) + "\n";
        }
        test::WriteFileBytes(dir.File("l.ini"), ini);
        tables.LoadFormat(TIniFile(dir.File("l.ini")));
        tables.cdata.AfterPost = [this](TMemTable& cdata) {
            std::vector<std::string> row;
            for (int i = 0; i < cdata.FieldCount(); ++i) row.push_back(cdata.Fields(i).AsString());
            posted.push_back(row);
            taken_at_post.push_back(source ? source->Taken() : 0);
        };
    }

    void Feed(const std::string& bytes) {
        TByteBufferSource buffer(bytes);
        source = &buffer;
        capture.TriggerAvail(static_cast<unsigned>(bytes.size()), buffer);
        source = nullptr;
    }

    test::TempDir dir;
    TFormatJournal tables;
    TLineCapture capture{tables.cformat_, tables.cdata};
    std::vector<std::vector<std::string>> posted;  // id, then the values in npp order
    std::vector<std::size_t> taken_at_post;
    TByteBufferSource* source = nullptr;
};

using Row = std::vector<std::string>;

TEST(FieldCutting, SubstringRules) {
    struct Case {
        std::int64_t start, length;
        const char* expected;
    };
    const Case cases[] = {
        {1, 3, "ABC"}, {4, 2, "DE"}, {0, 3, "ABC"}, {-5, 2, "AB"}, {4, 100, "DEFGH"},
        {8, 1, "H"},   {9, 1, ""},   {3, 0, ""},    {3, -2, ""},   {INT64_MIN / 2, 3, "ABC"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CutField("ABCDEFGH", c.start, c.length), c.expected) << c.start << "," << c.length;
    }
    EXPECT_EQ(TrimControls(std::string(" \t\0 42\x01\r\n ", 10)), "42");
    EXPECT_EQ(TrimControls("\x80 a b \xFF"), "\x80 a b \xFF");  // only codes of 32 or less go
}

TEST_F(LineCaptureTest, CutsFromTheRightEnd) {
    Load({{"F1", 3}, {"F2", 2}, {"F3", 4}});
    const std::pair<std::string, Row> cases[] = {
        {"XXABCDEFGHI", {"ABC", "DE", "FGHI"}},
        {"ABCDEFGH", {"ABC", "CD", "EFGH"}},
        {"ABCDE", {"ABC", "AB", "BCDE"}},
        {"", {"", "", ""}},
    };
    std::string all;
    for (const auto& [line, values] : cases) all += line + "\r";
    Feed(all);
    ASSERT_EQ(posted.size(), std::size(cases));
    for (std::size_t i = 0; i < posted.size(); ++i) {
        Row expected = cases[i].second;
        expected.insert(expected.begin(), std::to_string(i + 1));
        EXPECT_EQ(posted[i], expected) << cases[i].first;
    }
}

TEST_F(LineCaptureTest, CarriageReturnLineFeedPairs) {
    Load({{"V", 5}});
    Feed("12345\r\n67890\r");
    EXPECT_EQ(posted, (std::vector<Row>{{"1", "12345"}, {"2", "67890"}}));
    EXPECT_EQ(capture.Line(), "");
}

TEST_F(LineCaptureTest, EachLineIsPostedBeforeTheNextByteIsTaken) {
    Load({{"V", 2}});
    Feed("");  // a count of 0 does nothing
    EXPECT_TRUE(posted.empty());
    Feed("a1\rb2\rc");
    EXPECT_EQ(taken_at_post, (std::vector<std::size_t>{3, 6}));
    EXPECT_EQ(capture.Line(), "c");
    Feed("3\r");  // the next batch completes the line
    EXPECT_EQ(posted, (std::vector<Row>{{"1", "a1"}, {"2", "b2"}, {"3", "c3"}}));
    Feed("d");
    capture.PortOpened();  // a new opening starts with an empty line
    Feed("4\r");
    EXPECT_EQ(posted.back(), (Row{"4", "4"}));
}

TEST_F(LineCaptureTest, ValuesAreTrimmedStopAtNulAndAreCutTo255) {
    Load({{"A", 6}, {"B", 300}});
    const std::string b_long(300, 'x');
    const std::pair<std::string, Row> cases[] = {
        {std::string(" 42 \t ") + b_long, {"42", std::string(255, 'x')}},
        {std::string("\0\t7\0\0 ", 6) + std::string(" ab\0cd ", 7) + std::string(293, ' '), {"7", "ab"}},
    };
    for (const auto& [line, values] : cases) {
        posted.clear();
        Feed(line + "\r");
        ASSERT_EQ(posted.size(), 1u);
        EXPECT_EQ(Row(posted[0].begin() + 1, posted[0].end()), values);
    }
}

TEST_F(LineCaptureTest, ZeroAndNegativeSizes) {
    // Zero takes nothing and stays; minus two takes nothing and moves the position right by two.
    Load({{"A", 2}, {"N", -2}, {"Z", 0}, {"B", 3}});
    Feed("abcdefg\r");
    // B = efg; Z empty at position 5; N empty, position 7; A = position 5: ef.
    EXPECT_EQ(posted, (std::vector<Row>{{"1", "ef", "", "", "efg"}}));
}

TEST_F(LineCaptureTest, AnEditedFormatCutsIntoTheColumnsOfTheLastRebuild) {
    Load({{"A", 2}, {"B", 3}});
    tables.cformat.Last();  // B becomes 1 wide and moves in front of A
    tables.cformat.Edit();
    tables.cformat.FieldByName("fsize").SetAsInteger(1);
    tables.cformat.FieldByName("npp").SetAsInteger(5);
    tables.cformat.Post();
    Feed("xyz\r");
    // Now A (field1) is last: yz; B (field2) before it: x.
    EXPECT_EQ(posted, (std::vector<Row>{{"1", "yz", "x"}}));
}

TEST_F(LineCaptureTest, AClosedJournalStopsTheBatchAndKeepsTheLine) {
    TByteBufferSource bytes("ab\rcd");
    try {
        capture.TriggerAvail(5, bytes);
        ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Cannot perform this operation on a closed dataset");
    }
    EXPECT_EQ(bytes.Taken(), 3u);  // "cd" stays in the port
    EXPECT_EQ(capture.Line(), "ab");
}

// The operator may add fields while capture runs; they get journal columns when the parameters
// are confirmed. Until then every line is cut as the journal was built, none is lost.
TEST_F(LineCaptureTest, AFieldAddedDuringCaptureLosesNoLine) {
    Load({{"A", 2}, {"B", 3}});
    Feed("xxAAbbb\r");
    tables.cformat.Append();  // field id 3, the highest npp: the first cut from the right end
    tables.cformat.FieldByName("fsize").SetAsInteger(4);
    tables.cformat.Post();
    EXPECT_NO_THROW(Feed("yyCCddd\rzzEEfff\r"));
    EXPECT_EQ(posted, (std::vector<Row>{{"1", "AA", "bbb"}, {"2", "CC", "ddd"}, {"3", "EE", "fff"}}));
    EXPECT_EQ(tables.cdata.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(capture.Line(), "");

    tables.RebuildJournal();  // the confirmation: from now on the new field is cut, first
    posted.clear();
    Feed("AAbbbNNNN\r");
    EXPECT_EQ(posted, (std::vector<Row>{{"1", "AA", "bbb", "NNNN"}}));
}

TEST_F(LineCaptureTest, ALineWithoutCarriageReturnStaysBounded) {
    Load({{"A", 4}, {"B", 6}});
    std::string megabyte(1 << 20, '.');
    for (std::size_t i = 0; i < megabyte.size(); i += 7) megabyte[i] = static_cast<char>('a' + i % 26);
    megabyte.replace(megabyte.size() - 10, 10, "WXYZ123456");
    for (std::size_t at = 0; at < megabyte.size(); at += 4096) {
        Feed(megabyte.substr(at, 4096));
        ASSERT_LT(capture.BufferBytes(), 2 * TLineCapture::kMaxLineBytes);
    }
    EXPECT_EQ(capture.Line(),
              std::string_view(megabyte).substr(megabyte.size() - TLineCapture::kMaxLineBytes));
    Feed("\r");
    EXPECT_EQ(posted, (std::vector<Row>{{"1", "WXYZ", "123456"}}));
    EXPECT_EQ(capture.BufferBytes(), 0u);
}

// A journal rebuilt with the arrival column gets, in it, the capture clock's time when each line's
// carriage return is taken; the fields are cut as without it.
TEST_F(LineCaptureTest, TheArrivalColumnHoldsTheTimeEachLineEnded) {
    tables.ArrivalColumn = true;
    Load({{"A", 3}, {"B", 2}});
    ASSERT_EQ(tables.JournalColumns().size(), 3u);
    EXPECT_EQ(tables.JournalColumns()[0].field_name, "arrival");
    EXPECT_EQ(Cp1251ToUtf8(tables.JournalColumns()[0].title), "Время поступления");
    double now = 39146.5;
    capture.Clock = [&] { return now; };
    Feed("xxABCDE");
    now = 39146.75;
    Feed("\rFGH");
    now = 39146.875;
    Feed("IJ\r");
    ASSERT_EQ(posted.size(), 2u);
    // Noon is when the first line's bytes came; its carriage return came at 18:00.
    EXPECT_EQ(posted[0], (Row{"1", "05.03.2007 18:00:00.000", "ABC", "DE"}));
    EXPECT_EQ(posted[1], (Row{"2", "05.03.2007 21:00:00.000", "FGH", "IJ"}));
}

}  // namespace
}  // namespace linograf
