#include "core/mem_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace linograf {
namespace {

// A small indexed table: key k (integer, the order), text t of at most 5 bytes.
class MemTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        table.FieldDefs() = {{"k", TFieldType::ftInteger, 0}, {"t", TFieldType::ftString, 5}};
        table.SetIndexFieldNames("k");
        table.CreateDataSet();
    }

    void Add(int k, const std::string& t) {
        table.Append();
        table.FieldByName("k").SetAsInteger(k);
        table.FieldByName("t").SetAsString(t);
        table.Post();
    }

    // The rows as "k:t" in index order, read through the cursor itself.
    static std::string Walk(TMemTable& cursor) {
        std::string out;
        for (cursor.First(); !cursor.Eof(); cursor.Next()) {
            out += cursor.FieldByName("k").AsString() + ":" + cursor.FieldByName("t").AsString() + " ";
        }
        return out;
    }

    TMemTable table{"t"};
};

TEST_F(MemTableTest, TextColumnsKeepTheirMaximumAndStopAtNul) {
    const std::pair<std::string, std::string> cases[] = {
        {"abc", "abc"},
        {"abcde", "abcde"},
        {"abcdefgh", "abcde"},
        {std::string("ab\0cd", 5), "ab"},
        {std::string("\0abc", 4), ""},
        {"", ""},
    };
    for (const auto& [given, stored] : cases) {
        table.Append();
        table.FieldByName("t").SetAsString(given);
        table.Post();
        EXPECT_EQ(table.FieldByName("t").AsString(), stored);
    }
}

TEST_F(MemTableTest, IntegerColumnsReadAndWriteText) {
    table.Append();
    TField& k = table.FieldByName("K");  // names match without regard to case
    EXPECT_TRUE(k.IsNull());
    EXPECT_EQ(k.AsString(), "");
    EXPECT_EQ(k.AsInteger(), 0);
    k.SetAsString("0x1F");
    EXPECT_EQ(k.AsInteger(), 31);
    EXPECT_EQ(k.AsString(), "31");
    k.SetAsString("");
    EXPECT_TRUE(k.IsNull());
    k.SetAsString(" -7");
    EXPECT_EQ(k.AsInteger(), -7);
    try {
        k.SetAsString("12a");
        ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "'12a' is not a valid integer value for field 'k'");
    }
    EXPECT_EQ(k.AsInteger(), -7);  // the failed write changed nothing
    table.FieldByName("t").SetAsString("x");
    EXPECT_THROW(table.FieldByName("t").AsInteger(), EDatabaseError);
    table.FieldByName("t").SetAsInteger(123);
    EXPECT_EQ(table.FieldByName("t").AsString(), "123");
}

// A date-time column (the journal's arrival time): a number of days since 1899-12-30, read as text
// to the millisecond, ordered by its value, empty until set; it takes no text but the empty one.
TEST(MemTableDateTime, ValuesTextOrderAndRefusals) {
    TMemTable table{"d"};
    table.FieldDefs() = {{"at", TFieldType::ftDateTime, 0}, {"n", TFieldType::ftInteger, 0}};
    table.SetIndexFieldNames("at");
    table.CreateDataSet();
    // 39146.5 is noon on 5 March 2007 (Excel's serial date); 0.25 ms past 1 ms rounds to 1 ms.
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {39146.5, "05.03.2007 12:00:00.000"},
        {39146.5 + 1.25 / 86400000, "05.03.2007 12:00:00.001"},
        {39145 + (23 * 3600 + 59 * 60 + 59.5) / 86400, "04.03.2007 23:59:59.500"},
        {2, "01.01.1900 00:00:00.000"},
    };
    int n = 0;
    for (const Case& c : cases) {
        table.Append();
        TField& at = table.FieldByName("at");
        EXPECT_TRUE(at.IsNull());
        EXPECT_EQ(at.AsString(), "");
        at.SetAsDateTime(c.value);
        table.FieldByName("n").SetAsInteger(n++);
        table.Post();
        EXPECT_EQ(table.FieldByName("at").AsString(), c.text);
        EXPECT_DOUBLE_EQ(table.FieldByName("at").AsDateTime(), c.value);
    }
    // In the order of the values, not of the posts, and CellText agrees with AsString.
    std::vector<std::string> texts;
    for (int row = 0; row < table.RecordCount(); ++row) texts.push_back(table.CellText(row, 0));
    EXPECT_EQ(texts, (std::vector<std::string>{"01.01.1900 00:00:00.000", "04.03.2007 23:59:59.500",
                                               "05.03.2007 12:00:00.000", "05.03.2007 12:00:00.001"}));
    table.Edit();
    EXPECT_THROW(table.FieldByName("at").SetAsString("05.03.2007"), EDatabaseError);
    EXPECT_THROW(table.FieldByName("at").AsInteger(), EDatabaseError);
    EXPECT_THROW(table.FieldByName("n").SetAsDateTime(1), EDatabaseError);
    table.FieldByName("at").SetAsString("");
    EXPECT_TRUE(table.FieldByName("at").IsNull());
    table.Cancel();
}

TEST_F(MemTableTest, ErrorsCarryTheirTexts) {
    struct Case {
        const char* expected;
        std::function<void()> run;
    };
    TMemTable closed;
    const Case cases[] = {
        {"Field 'nosuch' not found", [&] { table.FieldByName("nosuch"); }},
        {"Cannot perform this operation on a closed dataset", [&] { closed.Append(); }},
        {"Cannot perform this operation on a closed dataset", [&] { closed.Post(); }},
        {"Cannot perform this operation on a closed dataset", [&] { closed.First(); }},
        {"Dataset not in edit or insert mode", [&] { table.FieldByName("k").SetAsInteger(1); }},
        {"Cannot perform this operation on an empty dataset", [&] { table.Delete(); }},
    };
    for (const Case& c : cases) {
        try {
            c.run();
            ADD_FAILURE() << "no error, expected " << c.expected;
        } catch (const EDatabaseError& e) {
            EXPECT_STREQ(e.what(), c.expected);
        }
    }
}

TEST_F(MemTableTest, BeginAndEndFlags) {
    // Empty table: both flags at once, whatever the move.
    for (auto move : {&TMemTable::First, &TMemTable::Last, &TMemTable::Next, &TMemTable::Prior}) {
        (table.*move)();
        EXPECT_TRUE(table.Bof());
        EXPECT_TRUE(table.Eof());
        EXPECT_TRUE(table.IsEmpty());
    }
    Add(1, "a");
    Add(2, "b");
    table.First();
    EXPECT_TRUE(table.Bof());
    EXPECT_FALSE(table.Eof());
    table.Next();
    EXPECT_FALSE(table.Bof());
    EXPECT_FALSE(table.Eof());
    EXPECT_EQ(table.RecNo(), 2);
    table.Next();  // on from the last row
    EXPECT_TRUE(table.Eof());
    EXPECT_EQ(table.FieldByName("k").AsInteger(), 2);
    table.Last();
    EXPECT_FALSE(table.Bof());
    EXPECT_TRUE(table.Eof());
    table.Prior();
    EXPECT_FALSE(table.Eof());
    EXPECT_FALSE(table.Bof());
    table.Prior();  // back from the first row
    EXPECT_TRUE(table.Bof());
    EXPECT_EQ(table.FieldByName("k").AsInteger(), 1);
    EXPECT_EQ(table.RecordCount(), 2);
}

TEST_F(MemTableTest, IndexOrderHoldsAtEveryInsertEditAndDelete) {
    Add(30, "c");
    Add(10, "a");
    Add(20, "b");
    Add(20, "b2");  // duplicates allowed, after the equal key already there
    EXPECT_EQ(Walk(table), "10:a 20:b 20:b2 30:c ");

    table.First();  // 10 -> 25: between 20 and 30
    table.Edit();
    table.FieldByName("k").SetAsInteger(25);
    table.Post();
    EXPECT_EQ(table.FieldByName("t").AsString(), "a");  // the cursor stays on the moved row
    EXPECT_EQ(table.RecNo(), 3);
    EXPECT_EQ(Walk(table), "20:b 20:b2 25:a 30:c ");

    table.First();
    table.Next();
    table.Delete();  // 20:b2; the cursor goes to the row after it
    EXPECT_EQ(table.FieldByName("t").AsString(), "a");
    table.Last();
    table.Delete();  // the last row; the cursor goes to the new last row
    EXPECT_EQ(table.FieldByName("t").AsString(), "a");
    EXPECT_EQ(Walk(table), "20:b 25:a ");

    table.SetIndexFieldNames("t");  // another order takes effect at once
    EXPECT_EQ(Walk(table), "25:a 20:b ");
}

TEST_F(MemTableTest, AppendPresetsThroughAfterInsertAndPostsAPendingRow) {
    int inserts = 0;
    table.AfterInsert = [&](TMemTable& t) {
        ++inserts;
        t.FieldByName("k").SetAsInteger(t.RecordCount() + 1);
    };
    std::vector<std::string> posted;  // what AfterPost sees stored
    table.AfterPost = [&](TMemTable& t) { posted.push_back(t.CellText(t.RecordCount() - 1, 0)); };

    table.Append();
    EXPECT_EQ(inserts, 1);
    EXPECT_EQ(table.State(), TDataSetState::dsInsert);
    EXPECT_EQ(table.FieldByName("k").AsInteger(), 1);  // preset before Append returned
    EXPECT_EQ(table.RecordCount(), 0);                 // not stored before the post
    table.FieldByName("t").SetAsString("one");
    table.Append();  // stores the pending row before beginning the next
    EXPECT_EQ(table.RecordCount(), 1);
    EXPECT_EQ(posted, std::vector<std::string>{"1"});
    EXPECT_EQ(table.FieldByName("k").AsInteger(), 2);
    table.Cancel();
    EXPECT_EQ(table.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(Walk(table), "1:one ");
}

TEST_F(MemTableTest, AnErrorInAfterPostReachesTheCallerWithTheRowStored) {
    table.AfterPost = [](TMemTable&) { throw std::runtime_error("disk full"); };
    table.Append();
    table.FieldByName("k").SetAsInteger(5);
    EXPECT_THROW(table.Post(), std::runtime_error);
    EXPECT_EQ(table.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(table.RecordCount(), 1);
    EXPECT_EQ(table.CellText(0, 0), "5");
}

TEST_F(MemTableTest, CloneCursorSharesRowsAndOrderButNotPosition) {
    Add(10, "a");
    Add(20, "b");
    Add(30, "c");
    TMemTable clone;
    clone.CloneCursor(table);
    EXPECT_EQ(clone.FieldByName("t").AsString(), "a");
    table.Last();
    EXPECT_EQ(clone.FieldByName("t").AsString(), "a");  // own current row

    table.First();  // npp-style move: 10 -> 25 through the table, seen through the clone
    table.Edit();
    table.FieldByName("k").SetAsInteger(25);
    table.Post();
    Add(5, "z");
    EXPECT_EQ(Walk(clone), "5:z 20:b 25:a 30:c ");

    clone.Last();  // the clone stands on 30:c; deleting it through the table moves the clone
    table.Last();
    table.Delete();
    EXPECT_EQ(clone.FieldByName("t").AsString(), "a");
    std::string backwards;
    for (clone.Last(); !clone.Bof(); clone.Prior()) backwards += clone.FieldByName("t").AsString();
    EXPECT_EQ(backwards, "abz");

    clone.Close();  // leaving the rows does not discard them for the table
    EXPECT_EQ(table.RecordCount(), 3);
    EXPECT_THROW(clone.CloneCursor(*std::make_unique<TMemTable>()), EDatabaseError);
}

TEST_F(MemTableTest, DeletingARowAnotherCursorEditsCancelsThatEdit) {
    Add(1, "a");
    Add(2, "b");
    TMemTable clone;
    clone.CloneCursor(table);
    clone.Edit();
    clone.FieldByName("t").SetAsString("x");
    table.First();
    table.Delete();
    EXPECT_EQ(clone.State(), TDataSetState::dsBrowse);
    clone.Post();  // nothing pending: the surviving row keeps its value
    EXPECT_EQ(Walk(table), "2:b ");
}

TEST_F(MemTableTest, BookmarksReturnToTheirRow) {
    Add(1, "a");
    Add(2, "b");
    Add(3, "c");
    table.First();
    table.Next();
    TBookmark mark = table.GetBookmark();
    Add(0, "first");  // positions shift; the bookmark follows its row
    table.Last();
    table.GotoBookmark(mark);
    EXPECT_EQ(table.FieldByName("t").AsString(), "b");
    EXPECT_TRUE(table.BookmarkValid(mark));
    table.Delete();
    EXPECT_FALSE(table.BookmarkValid(mark));
    EXPECT_THROW(table.GotoBookmark(mark), EDatabaseError);
    table.FreeBookmark(mark);
    EXPECT_TRUE(mark.Empty());
}

TEST_F(MemTableTest, ObserversHearChangesUnlessRefreshingIsSuspended) {
    TMemTable clone;
    clone.CloneCursor(table);
    std::vector<std::pair<TDataChangeKind, int>> heard;
    int id = table.AddObserver([&](const TDataChange& c) {
        if (c.kind != TDataChangeKind::kCursorMoved && c.kind != TDataChangeKind::kStateChanged)
            heard.emplace_back(c.kind, c.row);
    });
    Add(10, "a");
    clone.Append();  // changes made through the clone reach the table's views
    clone.FieldByName("k").SetAsInteger(5);
    clone.Post();
    EXPECT_EQ(heard, (std::vector<std::pair<TDataChangeKind, int>>{{TDataChangeKind::kRowInserted, 0},
                                                                   {TDataChangeKind::kRowInserted, 0}}));
    heard.clear();
    table.DisableControls();
    table.DisableControls();
    Add(20, "b");
    table.EnableControls();
    EXPECT_TRUE(heard.empty());
    table.EnableControls();
    EXPECT_EQ(heard, (std::vector<std::pair<TDataChangeKind, int>>{{TDataChangeKind::kReset, -1}}));
    heard.clear();
    table.DisableControls();
    table.EnableControls();  // nothing happened: nothing to refresh
    table.RemoveObserver(id);
    Add(30, "c");
    EXPECT_TRUE(heard.empty());
}

// Dropping the oldest rows at once: the rest keep their order and values, a cursor on a kept row
// stays on it, one on a dropped row goes to the new first row, and views hear one removal of the
// whole range.
TEST_F(MemTableTest, DeletingTheFirstRowsAtOnce) {
    struct Case {
        int count;
        int clone_on;  // key of the row the second cursor stands on
        const char* rest;
        int clone_after;  // key the second cursor stands on afterwards, -1 for none
    };
    const Case cases[] = {
        {2, 4, "3:c 4:d 5:e ", 4},
        {2, 1, "3:c 4:d 5:e ", 3},
        {0, 2, "1:a 2:b 3:c 4:d 5:e ", 2},
        {5, 5, "", -1},
        {9, 3, "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        table.Close();
        table.CreateDataSet();
        for (int k = 1; k <= 5; ++k) Add(k, std::string(1, static_cast<char>('a' + k - 1)));
        TMemTable clone{"clone"};
        clone.CloneCursor(table);
        for (clone.First(); clone.FieldByName("k").AsInteger() != c.clone_on; clone.Next()) {
        }
        std::vector<TDataChange> heard;
        const int id = table.AddObserver([&](const TDataChange& change) {
            if (change.kind == TDataChangeKind::kRowRemoved) heard.push_back(change);
        });
        table.DeleteFirstRows(c.count);
        table.RemoveObserver(id);
        EXPECT_EQ(table.RecordCount(), std::max(0, 5 - c.count));
        if (c.clone_after < 0) {
            EXPECT_TRUE(clone.IsEmpty());
        } else {
            EXPECT_EQ(clone.FieldByName("k").AsInteger(), c.clone_after);
            EXPECT_EQ(clone.RecNo(), c.clone_after - std::min(c.count, 5));
        }
        EXPECT_EQ(Walk(table), c.rest);
        if (c.count == 0) {
            EXPECT_TRUE(heard.empty());
        } else {
            ASSERT_EQ(heard.size(), 1u);
            EXPECT_EQ(heard[0].row, 0);
            EXPECT_EQ(heard[0].to_row, std::min(c.count, 5) - 1);
        }
    }
}

TEST(MemTable, ClosingDiscardsTheRowsAndDuplicateNamesAreRefused) {
    TMemTable table;
    table.FieldDefs() = {{"a", TFieldType::ftInteger, 0}};
    table.CreateDataSet();
    table.Append();
    table.Post();
    table.SetTag(7);
    table.Close();
    EXPECT_FALSE(table.Active());
    EXPECT_EQ(table.State(), TDataSetState::dsInactive);
    table.CreateDataSet();
    EXPECT_TRUE(table.IsEmpty());
    EXPECT_EQ(table.Tag(), 7);

    table.FieldDefs() = {{"a", TFieldType::ftInteger, 0}, {"A", TFieldType::ftString, 3}};
    try {
        table.CreateDataSet();
        ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Duplicate field name 'A'");
    }
}

}  // namespace
}  // namespace linograf
