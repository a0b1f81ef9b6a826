#include "core/ini_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "core/file_template_setting.h"
#include "tests/support/temp_dir.h"
#include "text/cp1251.h"

namespace linograf {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

// A file as the Windows program leaves it: CR LF lines, Windows-1251 text, its own letter case.
const std::string kWindowsFile =
    "[APP]\r\n"
    "FileName=C:\\\xCB\xEE\xE3\\data_{dd}.xls\r\n"  // "Лог" in Windows-1251
    "ComPort=COM3, 9600, 8, \xD7\xE5\xF2, 1, \xCD\xE5\xF2\r\n"
    "Format=2\r\n"
    "\r\n"
    "[Format]\r\n"
    "Name1=\xC2\xE5\xF1\r\n"  // "Вес"
    "SIZE1=5\r\n"
    "name2 = a=b \r\n"
    "size2=0x10\r\n"
    "[com]\r\n"
    "speed=12a\r\n"
    "stop= 1\r\n";

TEST(IniFile, ReadsAWindowsFileWithoutRegardToLetterCase) {
    TempDir dir;
    WriteFileBytes(dir.File("l.ini"), kWindowsFile);
    TIniFile ini(dir.File("l.ini"));
    EXPECT_EQ(ini.ReadString("app", "filename", ""), "C:\\\xCB\xEE\xE3\\data_{dd}.xls");
    EXPECT_EQ(ini.ReadString("App", "COMPORT", ""), "COM3, 9600, 8, \xD7\xE5\xF2, 1, \xCD\xE5\xF2");
    EXPECT_EQ(ini.ReadInteger("app", "format", 0), 2);
    EXPECT_EQ(ini.ReadString("format", "name1", ""), "\xC2\xE5\xF1");
    EXPECT_EQ(ini.ReadInteger("format", "size1", 0), 5);
    // The value is what follows the first "=", without the blanks around it.
    EXPECT_EQ(ini.ReadString("format", "NAME2", ""), "a=b");
    EXPECT_EQ(ini.ReadInteger("format", "size2", 0), 16);
    EXPECT_EQ(ini.ReadInteger("com", "speed", 11), 11);
    EXPECT_EQ(ini.ReadInteger("com", "stop", 7), 1);
}

TEST(IniFile, MissingFileSectionOrKeyGivesTheDefault) {
    TempDir dir;
    TIniFile missing(dir.File("none.ini"));
    EXPECT_EQ(missing.ReadString("app", "filename", "d"), "d");
    EXPECT_EQ(missing.ReadInteger("com", "port", -1), -1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.ini")));

    WriteFileBytes(dir.File("l.ini"), kWindowsFile);
    TIniFile ini(dir.File("l.ini"));
    EXPECT_EQ(ini.ReadString("nosuch", "filename", "d"), "d");
    EXPECT_EQ(ini.ReadString("app", "nosuch", "d"), "d");
    // A key of another section is not found in this one.
    EXPECT_EQ(ini.ReadInteger("format", "speed", 3), 3);
}

TEST(IniFile, FirstSectionAndFirstKeyOfANameCount) {
    TempDir dir;
    WriteFileBytes(dir.File("l.ini"), "[a]\nk=1\nk=2\n[b]\nk=3\n[A]\nk=4\nj=5\n");
    TIniFile ini(dir.File("l.ini"));
    EXPECT_EQ(ini.ReadString("a", "k", ""), "1");
    EXPECT_EQ(ini.ReadString("a", "j", "none"), "none");
}

TEST(IniFile, LongValuesReadBackCutTo2047Bytes) {
    TempDir dir;
    TIniFile ini(dir.File("l.ini"));
    const std::string name(3000, 'n');
    ini.WriteString("format", "name1", name);
    EXPECT_EQ(ini.ReadString("format", "name1", ""), name.substr(0, 2047));
}

TEST(IniFile, WritesCreateFileSectionAndKeyAndReplaceValues) {
    TempDir dir;
    TIniFile ini(dir.File("l.ini"));
    ini.WriteString("app", "filename", "x.xls");
    ini.WriteInteger("com", "port", -1);
    ini.WriteString("app", "comport", "COM1");
    ini.WriteString("APP", "FileName", "y.xlsx");
    EXPECT_EQ(ReadFileBytes(dir.File("l.ini")), "[app]\nFileName=y.xlsx\ncomport=COM1\n[com]\nport=-1\n");
    // Every write is in the file when the call returns: another reader sees it.
    EXPECT_EQ(TIniFile(dir.File("l.ini")).ReadString("app", "filename", ""), "y.xlsx");
}

TEST(IniFile, WritingKeepsTheRestOfAWindowsFile) {
    TempDir dir;
    WriteFileBytes(dir.File("l.ini"), kWindowsFile);
    TIniFile ini(dir.File("l.ini"));
    ini.WriteString("format", "name1", "\xCC\xE0\xF1\xF1\xE0");  // "Масса"
    ini.WriteInteger("format", "size3", 4);
    std::string expected = kWindowsFile;
    expected.replace(expected.find("Name1=\xC2\xE5\xF1"), 9, "name1=\xCC\xE0\xF1\xF1\xE0");
    // A new key goes at the end of its own section, in the file's line ends.
    expected.insert(expected.find("[com]"), "size3=4\r\n");
    EXPECT_EQ(ReadFileBytes(dir.File("l.ini")), expected);
    EXPECT_EQ(ini.ReadInteger("format", "size3", 0), 4);
}

TEST(IniFile, ALastLineWithoutLineEndIsEndedBeforeNewLines) {
    struct Case {
        const char* before;
        const char* section;
        const char* after;
    };
    const Case cases[] = {
        {"[a]\nk=1", "a", "[a]\nk=1\nj=2\n"},
        {"[a]\nk=1", "b", "[a]\nk=1\n[b]\nj=2\n"},
        {"[a]\r\nk=1\r", "a", "[a]\r\nk=1\r\nj=2\r\n"},
        {"[a]\r\nk=1\r", "b", "[a]\r\nk=1\r\n[b]\r\nj=2\r\n"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteFileBytes(dir.File("l.ini"), c.before);
        TIniFile ini(dir.File("l.ini"));
        EXPECT_EQ(ini.ReadString("a", "k", ""), "1") << c.before;
        ini.WriteString(c.section, "j", "2");
        EXPECT_EQ(ReadFileBytes(dir.File("l.ini")), c.after) << c.before << " + " << c.section;
        EXPECT_EQ(ini.ReadString("a", "k", ""), "1") << c.before;
    }
}

TEST(IniFile, AValueIsOneLine) {
    TempDir dir;
    TIniFile ini(dir.File("l.ini"));
    ini.WriteString("app", "filename", "a.xls\r\n[com]\r\nport=5");
    ini.WriteString("format", "name1", std::string("ab\0cd", 5));
    EXPECT_EQ(ini.ReadString("app", "filename", ""), "a.xls");
    EXPECT_EQ(ini.ReadInteger("com", "port", -1), -1);
    EXPECT_EQ(ini.ReadString("format", "name1", ""), "ab");
}

TEST(IniFile, EraseSectionRemovesEverySectionOfTheName) {
    TempDir dir;
    WriteFileBytes(dir.File("l.ini"),
                   "[app]\nformat=5\n[Format]\nname1=a\nsize1=1\n[com]\nport=1\n[FORMAT]\nname5=e\n");
    TIniFile ini(dir.File("l.ini"));
    ini.EraseSection("format");
    EXPECT_EQ(ReadFileBytes(dir.File("l.ini")), "[app]\nformat=5\n[com]\nport=1\n");
    EXPECT_EQ(ini.ReadString("format", "name5", "gone"), "gone");
}

TEST(IniFile, RefusedWritesRaiseAndLeaveTheFileAsItWas) {
    TempDir dir;
    const std::string missing_folder = dir.File("no/such/l.ini");
    TIniFile in_missing_folder(missing_folder);
    struct Step {
        const char* what;
        std::function<void(TIniFile&)> run;
    };
    const Step steps[] = {
        {"WriteString", [](TIniFile& ini) { ini.WriteString("app", "filename", "a"); }},
        {"WriteInteger", [](TIniFile& ini) { ini.WriteInteger("com", "port", 1); }},
        {"EraseSection", [](TIniFile& ini) { ini.EraseSection("format"); }},
    };
    const std::string read_only = dir.File("ro.ini");
    WriteFileBytes(read_only, "[app]\nfilename=keep\n");
    ASSERT_EQ(::chmod(read_only.c_str(), 0444), 0);
    TIniFile in_read_only_file(read_only);
    for (const Step& step : steps) {
        for (TIniFile* ini : {&in_missing_folder, &in_read_only_file}) {
            try {
                step.run(*ini);
                ADD_FAILURE() << step.what << " on " << ini->FileName() << " did not raise";
            } catch (const EIniFileException& e) {
                EXPECT_EQ(std::string(e.what()), "Unable to write to " + ini->FileName()) << step.what;
            }
        }
    }
    EXPECT_EQ(ReadFileBytes(read_only), "[app]\nfilename=keep\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("no")));
    // No temporary file is left behind by the refused writes.
    int entries = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(IniFile, ReplacesTheFileWholeKeepingItsPermissionsAndLinks) {
    TempDir dir;
    const std::string real = dir.File("real.ini");
    WriteFileBytes(real, "[app]\nformat=1\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    std::filesystem::create_symlink(real, dir.File("link.ini"));
    TIniFile ini(dir.File("link.ini"));
    ini.WriteInteger("app", "format", 2);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.ini")));
    EXPECT_EQ(ReadFileBytes(real), "[app]\nformat=2\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    int entries = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 2);  // no temporary file left
}

TEST(IniFile, ReadsSeeChangesMadeByOthers) {
    TempDir dir;
    TIniFile ini(dir.File("l.ini"));
    EXPECT_EQ(ini.ReadInteger("com", "speed", 11), 11);
    WriteFileBytes(dir.File("l.ini"), "[com]\nspeed=3\n");
    EXPECT_EQ(ini.ReadInteger("com", "speed", 11), 3);
}

// The template keeps characters Windows-1251 lacks; the Windows key still reads as before, and a
// change the Windows program makes to it wins over the whole form.
TEST(FileTemplateSetting, KeepsCharactersOutsideWindows1251) {
    test::TempDir dir;
    TIniFile ini(dir.File("l.ini"));
    struct Case {
        std::string written, narrow_key, whole_key;
    };
    const Case cases[] = {
        {"/data/Messwerte é/{yyyy}/w.xls", "/data/Messwerte ?/{yyyy}/w.xls",
         "/data/Messwerte é/{yyyy}/w.xls"},
        {"/data/Журнал/{dd}.xlsx", Utf8ToCp1251("/data/Журнал/{dd}.xlsx"), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.written);
        WriteFileTemplate(ini, c.written);
        EXPECT_EQ(ini.ReadString("app", "filename", "-"), c.narrow_key);
        EXPECT_EQ(ini.ReadString("app", kFileTemplateUtf8Key, "-"), c.whole_key);
        EXPECT_EQ(ReadFileTemplate(TIniFile(dir.File("l.ini"))), c.written);
    }
    WriteFileTemplate(ini, "/data/é.xls");
    ini.WriteString("app", "filename", Utf8ToCp1251("/data/другой.xls"));
    EXPECT_EQ(ReadFileTemplate(ini), "/data/другой.xls");
}

}  // namespace
}  // namespace linograf
