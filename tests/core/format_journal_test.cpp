#include "core/format_journal.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace linograf {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

// "id name fsize npp" of every format row in order, read through cformat.
std::string FormatRows(TMemTable& cformat) {
    std::string out;
    for (int row = 0; row < cformat.RecordCount(); ++row) {
        for (int column = 0; column < 4; ++column)
            out += cformat.CellText(row, column) + (column < 3 ? " " : "; ");
    }
    return out;
}

std::vector<std::string> JournalFieldNames(TMemTable& cdata) {
    std::vector<std::string> names;
    for (int i = 0; i < cdata.FieldCount(); ++i) names.push_back(cdata.Fields(i).FieldName());
    return names;
}

class FormatJournalTest : public ::testing::Test {
  protected:
    void LoadFrom(const std::string& ini_text) {
        WriteFileBytes(dir.File("l.ini"), ini_text);
        tables.LoadFormat(TIniFile(dir.File("l.ini")));
    }

    TempDir dir;
    TFormatJournal tables;
};

TEST_F(FormatJournalTest, LoadsTwoFieldsAndBuildsTheJournal) {
    LoadFrom("[app]\nformat=2\n[format]\nname1=A\nsize1=3\nname2=B\nsize2=5\n");
    EXPECT_EQ(FormatRows(tables.cformat), "1 A 3 10; 2 B 5 20; ");
    EXPECT_EQ(tables.cformat.Tag(), 2);
    EXPECT_EQ(tables.cformat.IndexName(), "cformatIndex1");
    EXPECT_EQ(tables.cformat.FieldByName("name").Size(), 20);
    ASSERT_TRUE(tables.cdata.Active());
    EXPECT_TRUE(tables.cdata.IsEmpty());
    EXPECT_EQ(JournalFieldNames(tables.cdata), (std::vector<std::string>{"id", "field1", "field2"}));
    EXPECT_EQ(tables.cdata.FieldByName("field2").Size(), 255);
    EXPECT_EQ(tables.cdata.FieldByName("id").DataType(), TFieldType::ftInteger);
    ASSERT_EQ(tables.JournalColumns().size(), 2u);
    EXPECT_EQ(tables.JournalColumns()[0].title, "A");
    EXPECT_EQ(tables.JournalColumns()[1].title, "B");
    EXPECT_EQ(tables.JournalColumns()[1].field_name, "field2");
    EXPECT_EQ(tables.JournalColumns()[0].width, 90);
    ASSERT_TRUE(tables.cformat_.Active());
    EXPECT_EQ(tables.cformat_.RecordCount(), 2);
}

TEST_F(FormatJournalTest, LoadEdgeCases) {
    struct Case {
        const char* what;
        std::string ini;
        std::string rows;
    };
    const Case cases[] = {
        {"no file", "", ""},
        {"count without keys", "[app]\nformat=3\n[format]\nname1=W\nsize1=4\n",
         "1 W 4 10; 2  0 20; 3  0 30; "},
        {"count not a number", "[app]\nformat=abc\n[format]\nname1=W\nsize1=4\n", ""},
        {"negative count", "[app]\nformat=-2\n", ""},
        {"sizes by the integer rule", "[app]\nformat=3\n[format]\nsize1=0x10\nsize2= 12\nsize3=12a\n",
         "1  16 10; 2  12 20; 3  0 30; "},
        {"long name cut to 20", "[app]\nformat=1\n[format]\nname1=abcdefghijklmnopqrstuvwxy\nsize1=1\n",
         "1 abcdefghijklmnopqrst 1 10; "},
        {"Windows file", "[APP]\r\nFORMAT=1\r\n[Format]\r\nNAME1=\xC2\xE5\xF1\r\nSize1=7\r\n",
         "1 \xC2\xE5\xF1 7 10; "},
    };
    for (const Case& c : cases) {
        TFormatJournal fresh;
        if (!c.ini.empty()) WriteFileBytes(dir.File(std::string(c.what) + ".ini"), c.ini);
        fresh.LoadFormat(TIniFile(dir.File(std::string(c.what) + ".ini")));
        EXPECT_EQ(FormatRows(fresh.cformat), c.rows) << c.what;
        // Without fields the journal and the second cursor stay closed.
        EXPECT_EQ(fresh.cdata.Active(), !c.rows.empty()) << c.what;
        EXPECT_EQ(fresh.cformat_.Active(), !c.rows.empty()) << c.what;
    }
}

TEST_F(FormatJournalTest, AHugeFieldCountIsBounded) {
    LoadFrom("[app]\nformat=2000000000\n");
    EXPECT_EQ(tables.cformat.RecordCount(), TFormatJournal::kMaxFields);
    EXPECT_EQ(tables.cdata.FieldCount(), TFormatJournal::kMaxFields + 1);
}

TEST_F(FormatJournalTest, NewRowsGetTheirDefaults) {
    LoadFrom("[app]\nformat=3\n");
    tables.cformat.Append();
    EXPECT_EQ(tables.cformat.FieldByName("id").AsInteger(), 4);
    EXPECT_EQ(tables.cformat.FieldByName("npp").AsInteger(), 40);
    EXPECT_EQ(tables.cformat.FieldByName("name").AsString(), "noname #4");
    EXPECT_EQ(tables.cformat.FieldByName("fsize").AsInteger(), 1);
    tables.cformat.Cancel();  // a cancelled insert keeps its id used

    tables.cformat.First();
    tables.cformat.Next();
    ASSERT_EQ(tables.cformat.FieldByName("npp").AsInteger(), 20);
    tables.cformat.Delete();
    tables.cformat.Insert();
    tables.cformat.Post();
    // npp counts the posted rows: 30, the same as the third row's; both stay.
    EXPECT_EQ(FormatRows(tables.cformat), "1  0 10; 3  0 30; 5 noname #5 1 30; ");
}

TEST_F(FormatJournalTest, RebuildEmptiesTheJournalAndRestartsItsNumbering) {
    LoadFrom("[app]\nformat=1\n[format]\nname1=A\nsize1=3\n");
    for (int i = 0; i < 500; ++i) {
        tables.cdata.Append();
        tables.cdata.Post();
    }
    EXPECT_EQ(tables.cdata.CellText(499, 0), "500");
    int stops = 0, rebuilt = 0;
    tables.StopCapture = [&] { ++stops; };
    tables.JournalRebuilt = [&] { ++rebuilt; };
    tables.cformat.Append();  // a new field, still being inserted when the rebuild comes
    tables.cformat.FieldByName("name").SetAsString("New");
    tables.RebuildJournal();
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(rebuilt, 1);
    EXPECT_TRUE(tables.cdata.IsEmpty());
    EXPECT_EQ(JournalFieldNames(tables.cdata), (std::vector<std::string>{"id", "field1", "field2"}));
    EXPECT_EQ(tables.JournalColumns().back().title, "New");
    EXPECT_EQ(tables.cformat.RecNo(), 1);
    tables.cdata.Append();
    EXPECT_EQ(tables.cdata.FieldByName("id").AsInteger(), 1);
}

TEST_F(FormatJournalTest, RebuildWithoutFieldsChangesNothing) {
    int stops = 0;
    tables.StopCapture = [&] { ++stops; };
    tables.RebuildJournal();
    EXPECT_EQ(stops, 0);
    EXPECT_FALSE(tables.cdata.Active());
    EXPECT_FALSE(tables.cformat_.Active());
}

TEST_F(FormatJournalTest, SavingFewerFieldsLeavesNoKeysOfTheOldOnes) {
    LoadFrom(
        "[app]\nformat=5\nfilename=x.xls\n[format]\nname1=a\nsize1=1\nname2=b\nsize2=2\nname3=c\nsize3=3\n"
        "name4=d\nsize4=4\nname5=e\nsize5=5\n[com]\nport=2\n");
    tables.cformat.Last();  // e and d go; c moves to the front
    tables.cformat.Delete();
    tables.cformat.Last();
    tables.cformat.Delete();
    tables.cformat.Last();
    tables.cformat.Edit();
    tables.cformat.FieldByName("npp").SetAsInteger(5);
    tables.cformat.FieldByName("fsize").SetAsString("");
    tables.cformat.Post();
    TIniFile ini(dir.File("l.ini"));
    tables.SaveFormat(ini);
    EXPECT_EQ(ReadFileBytes(dir.File("l.ini")),
              "[app]\nformat=3\nfilename=x.xls\n[com]\nport=2\n"
              "[format]\nname1=c\nsize1=\nname2=a\nsize2=1\nname3=b\nsize3=2\n");

    TFormatJournal reloaded;
    reloaded.LoadFormat(ini);
    EXPECT_EQ(FormatRows(reloaded.cformat), "1 c 0 10; 2 a 1 20; 3 b 2 30; ");
}

}  // namespace
}  // namespace linograf
