// The workbook component: defaults and limits, Clear, the choice of reader by extension, the
// calculation options handed to every sheet, and writes that fail without touching the file
// that was there.
#include "workbook/model/tabulon4.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "tests/workbook/biff_test_support.h"
#include "text/wide_text.h"
#include "workbook/model/range.h"
#include "workbook/model/sheet.h"

namespace linograf::workbook {
namespace {

namespace fs = std::filesystem;
using bifftest::U16;

std::set<std::string> FolderContents(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no error)";
}

TEST(Tabulon4, VersionSetsRecordLimitAndProcessWideSheetLimits) {
    TTabulon4 book;
    EXPECT_EQ(book.Version(), xvExcel97);
    EXPECT_EQ(book.OrigVersion(), xvNone);
    ASSERT_EQ(book.Sheets().Count(), 1);
    EXPECT_EQ(book.Sheet(0).Name(), u"Sheet1");
    EXPECT_EQ(LastColumn(), 255);
    EXPECT_EQ(LastRow(), 65535);

    struct Case {
        TExcelVersion version;
        int last_column, last_row, record_limit;
    };
    const Case cases[] = {
        {xvExcel2007, 16383, 1048575, 8224}, {xvExcel97, 255, 65535, 8224},
        {xvExcel50, 255, 65535, 2080},       {xvExcel21, 255, 65535, 2080},
        {xvExcel2007, 16383, 1048575, 8224},
    };
    TTabulon4 other;
    for (const Case& c : cases) {
        book.SetVersion(c.version);
        EXPECT_EQ(book.RecordLimit(), c.record_limit) << int(c.version);
        EXPECT_EQ(book.SST().RecordLimit(), c.record_limit) << int(c.version);
        // Shared by every workbook object of the process.
        EXPECT_EQ(LastColumn(), c.last_column) << int(c.version);
        EXPECT_EQ(LastRow(), c.last_row) << int(c.version);
    }
    // A new object sets Excel 97 again for all.
    TTabulon4 third;
    EXPECT_EQ(LastRow(), 65535);
}

TEST(Tabulon4, DefaultsAndPropertyRules) {
    TTabulon4 book;
    EXPECT_EQ(book.ComponentVersion(), "4.00.12a");
    book.SetComponentVersion("9.9");
    EXPECT_EQ(book.ComponentVersion(), "4.00.12a");
    EXPECT_EQ(book.StrTRUE(), u"TRUE");
    EXPECT_EQ(book.StrFALSE(), u"FALSE");
    EXPECT_TRUE(book.PreserveMacros());
    EXPECT_EQ(book.Workbook().Left(), 100);
    EXPECT_EQ(book.Workbook().Width(), 10000);
    EXPECT_EQ(book.Workbook().Height(), 7000);
    EXPECT_TRUE(book.Workbook().Options() == (TWorkbookOptions{woHScroll, woVScroll, woTabs}));
    EXPECT_TRUE(book.OptionsDialog().PrecisionAsDisplayed());
    EXPECT_EQ(book.OptionsDialog().CalcMode(), cmAutomatic);
    ASSERT_NE(book.Font(), nullptr);
    EXPECT_EQ(book.Font()->name, u"Arial");

    const std::pair<uint32_t, uint16_t> counts[] = {
        {0, 1}, {1, 1}, {500, 500}, {32767, 32767}, {40000, 32767}};
    for (const auto& [in, out] : counts) {
        book.OptionsDialog().SetCalcCount(in);
        EXPECT_EQ(book.OptionsDialog().CalcCount(), out) << in;
    }

    // The read-only recommendation is a byte block: True makes it 6 bytes, False empties it
    // again unless it holds other non-zero bytes (kept from a file).
    book.SetRecomendReadOnly(true);
    EXPECT_TRUE(book.RecomendReadOnly());
    EXPECT_EQ(book.ReadOnlyBlock().size(), 6u);
    book.SetRecomendReadOnly(false);
    EXPECT_FALSE(book.RecomendReadOnly());
    EXPECT_TRUE(book.ReadOnlyBlock().empty());
    book.ReadOnlyBlock() = {1, 0, 0x34, 0x12};
    book.SetRecomendReadOnly(false);
    EXPECT_EQ(book.ReadOnlyBlock(), (std::vector<uint8_t>{0, 0, 0x34, 0x12}));
}

// Windows' locale paper codes (the same numbers SETUP uses): 1 letter, 5 legal, 8 A3, 9 A4.
TEST(Tabulon4, LocalePaperCodes) {
    const std::pair<const char*, TPaperSize> cases[] = {
        {"1", psLetter}, {"5", psLegal}, {"8", psA3}, {"9", psA4}, {"", psA4}, {"11", psA4}, {"x", psA4},
    };
    for (const auto& [code, size] : cases) EXPECT_EQ(PaperSizeFromLocaleCode(code), size) << code;
    TTabulon4 book;
    EXPECT_EQ(book.Sheet(0).PrintSettings().PaperSize(), PaperSizeFromLocaleCode(LocalePaperSizeCode()));
}

TEST(Tabulon4, ConstructionDeletesOnlyItsOwnLeftoverTemporaryFiles) {
    test::TempDir dir;
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    for (const char* name : {"XLS123.tmp", "XLS.tmp", "XLSabc.tmp", "XLS99.txt", "xls5.tmp", "NOTXLS1.tmp"})
        test::WriteFileBytes(dir.File(name), "x");
    fs::create_directory(dir.path() / "XLS7.tmp");
    { TTabulon4 book; }
    if (old)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    EXPECT_EQ(FolderContents(dir.path()), (std::set<std::string>{"XLS.tmp", "XLSabc.tmp", "XLS99.txt",
                                                                 "xls5.tmp", "NOTXLS1.tmp", "XLS7.tmp"}));
}

TEST(Tabulon4, ClearLeavesOneEmptySheetAndDefaultRecords) {
    TTabulon4 fresh;
    TTabulon4 book;
    book.Sheet(0).SetAsWideString(0, 0, u"текст");
    book.Sheets().Add().SetAsInteger(3, 3, 7);
    book.Sheet(0).Range().Items(0, 0, 2, 2).SetFontSize(20);
    book.SetUserName("operator");
    book.SetBackup(true);
    book.SetRecomendReadOnly(true);
    book.Clear();
    ASSERT_EQ(book.Sheets().Count(), 1);
    EXPECT_TRUE(book.Sheet(0).Cells().Empty());
    EXPECT_EQ(book.SST().Count(), 0u);
    EXPECT_EQ(book.Fonts().Count(), fresh.Fonts().Count());
    EXPECT_EQ(book.Formats().Count(), fresh.Formats().Count());
    EXPECT_EQ(book.UserName(), "");
    EXPECT_FALSE(book.Backup());
    EXPECT_FALSE(book.RecomendReadOnly());
    EXPECT_EQ(book.OrigVersion(), xvNone);
}

// Every sheet gets the calculation options of the dialog.
TEST(Tabulon4, WriteCopiesCalculationOptionsIntoEverySheet) {
    test::TempDir dir;
    TTabulon4 book;
    book.Sheets().Add();
    struct Case {
        TCalcMode mode;
        int16_t calcmode;
        uint16_t count;
        bool r1c1, iteration, save_recalc;
    };
    const Case cases[] = {{cmManual, 0, 7, true, true, false}, {cmAutoExTables, -1, 250, false, false, true}};
    for (const Case& c : cases) {
        book.OptionsDialog().SetCalcMode(c.mode);
        book.OptionsDialog().SetCalcCount(c.count);
        book.OptionsDialog().SetR1C1Mode(c.r1c1);
        book.OptionsDialog().SetIteration(c.iteration);
        book.OptionsDialog().SetSaveRecalc(c.save_recalc);
        book.SetFilename(Utf8ToWide(dir.File("calc.xls")));
        book.Write();
        const bifftest::WrittenStream s(dir.File("calc.xls"));
        for (int k = 1; k <= 2; ++k) {
            EXPECT_EQ(static_cast<int16_t>(U16(s.WithId(0x000D, k).at(0).data, 0)), c.calcmode);
            EXPECT_EQ(U16(s.WithId(0x000C, k).at(0).data, 0), c.count);
            EXPECT_EQ(U16(s.WithId(0x000F, k).at(0).data, 0), c.r1c1 ? 0 : 1);
            EXPECT_EQ(U16(s.WithId(0x0011, k).at(0).data, 0), c.iteration ? 1 : 0);
            EXPECT_EQ(U16(s.WithId(0x005F, k).at(0).data, 0), c.save_recalc ? 1 : 0);
        }
    }
}

TEST(Tabulon4, ProgressStartsAtZeroAndEndsAtHundred) {
    test::TempDir dir;
    TTabulon4 book;
    for (uint32_t r = 0; r < 1000; ++r) book.Sheet(0).SetAsInteger(0, r, static_cast<int32_t>(r));
    std::vector<int> seen;
    book.OnProgress = [&](int percent) { seen.push_back(percent); };
    book.SetFilename(Utf8ToWide(dir.File("p.xls")));
    book.Write();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
}

// ---------------------------------------------------------------------------------------------
// Failed writes

class Tabulon4FailedWrite : public ::testing::Test {
  protected:
    void SetUp() override {
        path = dir.File("journal.xls");
        book.SetFilename(Utf8ToWide(path));
        for (uint32_t r = 0; r < 2000; ++r) {
            book.Sheet(0).SetAsWideString(0, r, Utf8ToWide("строка " + std::to_string(r)));
            book.Sheet(0).SetAsFloat(1, r, r * 1.5);
        }
        book.Write();
        before = test::ReadFileBytes(path);
        ASSERT_GT(before.size(), 4096u);
        // The next version of the workbook differs, so an overwritten file would show.
        book.Sheet(0).SetAsWideString(2, 0, u"новое");
    }
    void ExpectOldFileAlone() {
        EXPECT_EQ(test::ReadFileBytes(path), before);
        EXPECT_EQ(FolderContents(dir.path()), std::set<std::string>{"journal.xls"})
            << "no temporary file left";
    }

    test::TempDir dir;
    std::string path, before;
    TTabulon4 book;
};

TEST_F(Tabulon4FailedWrite, OldVersionsAreRefusedBeforeAnythingIsWritten) {
    const std::pair<TExcelVersion, const char*> cases[] = {
        {xvExcel21, "Can not write Excel 2.1/3.0 files"},
        {xvExcel30, "Can not write Excel 2.1/3.0 files"},
        {xvExcel40, "Can not write Excel 4.0/5.0 files"},
        {xvExcel50, "Can not write Excel 4.0/5.0 files"},
    };
    for (const auto& [version, message] : cases) {
        book.SetVersion(version);
        EXPECT_EQ(MessageOf([&] { book.Write(); }), message);
        ExpectOldFileAlone();
    }
    book.SetVersion(xvExcel30);
    book.SetFilename(Utf8ToWide(dir.File("new.xls")));
    EXPECT_THROW(book.Write(), std::runtime_error);
    EXPECT_FALSE(fs::exists(dir.File("new.xls")));
}

TEST_F(Tabulon4FailedWrite, ErrorInACellRecord) {
    book.Sheet(0).SetError(5, 10, 15, 0);  // no such error code
    const std::string message = MessageOf([&] { book.Write(); });
    EXPECT_EQ(message.rfind("Error on writing record # ", 0), 0u) << message;
    EXPECT_NE(message.find("\rInvalid error value in cell 5:10"), std::string::npos) << message;
    ExpectOldFileAlone();
}

// The file system refuses to let the file grow (as on a full disk): EFBIG instead of ENOSPC.
TEST_F(Tabulon4FailedWrite, FileThatCannotGrow) {
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string message = MessageOf([&] { book.Write(); });
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous_handler);
    EXPECT_NE(message.find("journal.xls"), std::string::npos) << message;
    EXPECT_NE(message, "(no error)");
    ExpectOldFileAlone();
}

// Makes the test's folder refuse writes for as long as it lives. Permissions do not bind the
// superuser (CI runs as root), so there the folder is bound onto itself read-only instead, in a
// mount namespace of this process's own, so nothing outlives the test even if it crashes.
class ReadOnlyFolder {
  public:
    explicit ReadOnlyFolder(const fs::path& folder) : folder_(folder) {
        if (::geteuid() != 0) {
            fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
            return;
        }
        mounted_ = ::unshare(CLONE_NEWNS) == 0 &&
                   ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                   ::mount(folder_.c_str(), folder_.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                   ::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        error_ = mounted_ ? "" : std::string("cannot make a read-only folder: ") + std::strerror(errno);
    }
    ~ReadOnlyFolder() {
        if (::geteuid() != 0)
            fs::permissions(folder_, fs::perms::owner_all);
        else if (mounted_)
            ::umount2(folder_.c_str(), MNT_DETACH);
    }
    const std::string& Error() const { return error_; }

  private:
    fs::path folder_;
    bool mounted_ = false;
    std::string error_;
};

TEST_F(Tabulon4FailedWrite, ReadOnlyFolder) {
    std::string message;
    {
        ReadOnlyFolder read_only(dir.path());
        ASSERT_EQ(read_only.Error(), "");
        message = MessageOf([&] { book.Write(); });
    }
    EXPECT_NE(message.find("journal.xls"), std::string::npos) << message;
    EXPECT_NE(message, "(no error)");
    ExpectOldFileAlone();
}

TEST_F(Tabulon4FailedWrite, MissingFolderOrName) {
    book.SetFilename(Utf8ToWide(dir.File("no/such/folder/journal.xls")));
    EXPECT_NE(MessageOf([&] { book.Write(); }).find("No such file or directory"), std::string::npos);
    book.SetFilename(u"");
    EXPECT_EQ(MessageOf([&] { book.Write(); }), "Filename is missing");
    ExpectOldFileAlone();
}

// ---------------------------------------------------------------------------------------------
// Read: the reader is chosen by the extension in any letter case.

TEST(Tabulon4Read, MissingOpenXmlFileLeavesTheWorkbookAsItWas) {
    test::TempDir dir;
    TTabulon4 book;
    book.Sheet(0).SetAsWideString(1, 1, u"kept");
    book.Sheets().Add();
    for (const char* name : {"missing.xlsx", "missing.XLSX", "missing.XlsM", "missing.zip"}) {
        book.SetFilename(Utf8ToWide(dir.File(name)));
        EXPECT_NE(MessageOf([&] { book.Read(); }).find("No such file or directory"), std::string::npos)
            << name;
        EXPECT_EQ(book.Sheets().Count(), 2) << name;
        EXPECT_EQ(book.Sheet(0).AsString(1, 1), u"kept") << name;
    }
}

TEST(Tabulon4Read, FailedBiffReadLeavesOneEmptySheet) {
    test::TempDir dir;
    test::WriteFileBytes(dir.File("junk.xls"), std::string(3000, 'j'));
    for (const char* name : {"missing.xls", "junk.xls", "noextension"}) {
        TTabulon4 book;
        book.Sheet(0).SetAsWideString(1, 1, u"gone");
        book.Sheets().Add();
        book.SetFilename(Utf8ToWide(dir.File(name)));
        EXPECT_THROW(book.Read(), std::exception) << name;
        ASSERT_EQ(book.Sheets().Count(), 1) << name;
        EXPECT_TRUE(book.Sheet(0).Cells().Empty()) << name;
        EXPECT_EQ(book.OrigVersion(), xvNone) << name;
        EXPECT_EQ(book.Version(), xvExcel97) << name;
    }
}

TEST(Tabulon4Read, OurOwnFileComesBackThroughTheBiffReader) {
    test::TempDir dir;
    TTabulon4 written;
    written.Sheet(0).SetAsWideString(0, 0, u"Привет");
    written.Sheet(0).SetAsFloat(1, 0, 2.75);
    written.SetFilename(Utf8ToWide(dir.File("back.XLS")));
    written.Write();

    TTabulon4 book;
    book.SetFilename(written.Filename());
    const std::string message = MessageOf([&] { book.Read(); });
    ASSERT_EQ(message, "(no error)");
    EXPECT_EQ(book.Version(), xvExcel97);
    EXPECT_EQ(book.OrigVersion(), xvExcel97);
    EXPECT_EQ(book.Sheet(0).AsString(0, 0), u"Привет");
    EXPECT_EQ(book.Sheet(0).AsFloat(1, 0), 2.75);
}

// A package whose cells read but one of whose kept parts is damaged could never be written again
// (the write copies that part): the read is refused, with the ZIP error, so the live log leaves
// the file alone instead of failing at every row.
TEST(Tabulon4Read, APackageWithADamagedKeptPartIsRefused) {
    test::TempDir dir;
    const std::string path = dir.File("damaged.xlsx");
    const test::CommandResult made = test::RunPython(R"(
import sys, zipfile, openpyxl
book = openpyxl.Workbook()
book.active["A1"] = "kept"
book.save(sys.argv[1])
with zipfile.ZipFile(sys.argv[1]) as z:
    at = z.getinfo('xl/theme/theme1.xml').header_offset
data = bytearray(open(sys.argv[1], 'rb').read())
data[at:at + 4] = b'XXXX'  # the part's local header signature
open(sys.argv[1], 'wb').write(data)
)",
                                                     {path});
    ASSERT_EQ(made.exit_code, 0) << made.errors;
    TTabulon4 book;
    book.SetFilename(Utf8ToWide(path));
    const std::string message = MessageOf([&] { book.Read(); });
    EXPECT_NE(message.find("xl/theme/theme1.xml"), std::string::npos) << message;
}

TEST(Tabulon4Read, CapitalXlsxGoesToTheOpenXmlReader) {
    if (!test::PythonHasModule("openpyxl")) GTEST_SKIP() << "python3-openpyxl is not installed";
    test::TempDir dir;
    const std::string path = dir.File("PEER.XLSX");
    const test::CommandResult made = test::RunPython(R"(
import sys, openpyxl
book = openpyxl.Workbook()
book.active["A1"] = "Привет"
book.active["B1"] = 2.75
book.save(sys.argv[1])
)",
                                                     {path});
    ASSERT_EQ(made.exit_code, 0) << made.errors;
    TTabulon4 book;
    book.SetFilename(Utf8ToWide(path));
    const std::string message = MessageOf([&] { book.Read(); });
    ASSERT_EQ(message, "(no error)");
    EXPECT_EQ(book.Version(), xvExcel2007);
    EXPECT_EQ(book.OrigVersion(), xvExcel2007);
    EXPECT_EQ(book.Sheet(0).AsString(0, 0), u"Привет");
    EXPECT_EQ(book.Sheet(0).AsFloat(1, 0), 2.75);
}

}  // namespace
}  // namespace linograf::workbook
