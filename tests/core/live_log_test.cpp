#include "core/live_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "tests/core/peer_sheet.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "tests/workbook/biff_reader_test_support.h"
#include "text/cp1251.h"
#include "text/wide_text.h"

namespace linograf {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

// Titles and widths given outright; a negative width makes reading it fail, as a grid column
// that is gone does.
class FixedColumns : public TLogColumns {
  public:
    std::vector<std::pair<std::string, int>> columns;
    int ColumnCount() const override { return static_cast<int>(columns.size()); }
    std::string ColumnTitle(int i) const override { return columns.at(i).first; }
    int ColumnPixelWidth(int i) const override {
        if (columns.at(i).second < 0) throw std::runtime_error("List index out of bounds");
        return columns.at(i).second;
    }
};

class LiveLogTest : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        if (!test::PythonHasModule(test::PeerModuleFor(Ext())))
            GTEST_SKIP() << "no python3 peer for " << Ext();
        LoadFormat({{"Дата", 10}, {"Вес|брутто", 8}, {"Ед", 3}});
        log.FileTemplate = [this] { return file_template; };
        log.Clock = [this] { return now; };
        log.OnStatusText = [this](const std::string& text) { statuses.push_back(text); };
        log.OnNotice = [this](const std::string& text) { notices.push_back(text); };
        tables.cdata.AfterPost = [this](TMemTable& journal) { log.cdataAfterPost(journal); };
        log.CaptureStarting(LogVersionForTemplate(Ext()));
    }

    std::string Ext() const { return GetParam(); }
    std::string File(const std::string& stem) const { return dir.File(stem + Ext()); }

    void LoadFormat(const std::vector<std::pair<std::string, int>>& fields) {
        std::string ini = "[app]\nformat=" + std::to_string(fields.size()) + "\n[format]\n";
        for (std::size_t i = 0; i < fields.size(); ++i) {
            ini += "name" + std::to_string(i + 1) + "=" + Utf8ToCp1251(fields[i].first) + "\n";
            ini += "size" + std::to_string(i + 1) + "=" + std::to_string(fields[i].second) + "\n";
        }
        test::WriteFileBytes(dir.File("format.ini"), ini);
        tables.LoadFormat(TIniFile(dir.File("format.ini")));
    }

    // A journal row with these values (UTF-8), posted, and the log's write of it waited for:
    // a failed write raises here.
    void PostRow(const std::vector<std::string>& values) {
        tables.cdata.Append();
        for (std::size_t i = 0; i < values.size(); ++i)
            tables.cdata.Fields(static_cast<int>(i) + 1).SetAsString(Utf8ToCp1251(values[i]));
        tables.cdata.Post();
        log.WaitIdle();
    }

    Rows PeerRows(const std::string& path) {
        const test::PeerSheet sheet = test::ReadPeerSheet(path);
        EXPECT_TRUE(sheet.ok) << path << ": " << sheet.error;
        return sheet.rows;
    }

    static Rows Header() { return {{"Дата", "Вес|брутто", "Ед"}}; }
    static Rows With(Rows rows, const Rows& more) {
        rows.insert(rows.end(), more.begin(), more.end());
        return rows;
    }

    test::TempDir dir;
    TFormatJournal tables;
    workbook::TTabulon4 book;
    TJournalLogColumns columns{tables};
    TLiveLog log{book, columns};
    std::string file_template;
    TDateTime now = EncodeDateTime({2007, 3, 5, 10, 0, 50, 0});
    std::vector<std::string> statuses, notices;
};

TEST_P(LiveLogTest, NewFileHoldsHeaderRowAndEveryPostedRow) {
    file_template = dir.File("data_{yyyy}-{mm}-{dd}") + Ext();
    PostRow({"05.03.2007", "1234,5", "кг"});
    PostRow({"", "7", "t"});

    const std::string path = File("data_2007-03-05");
    EXPECT_EQ(PeerRows(path), With(Header(), {{"05.03.2007", "1234,5", "кг"}, {"", "7", "t"}}));
    EXPECT_EQ(statuses, std::vector<std::string>{"Выгрузка в файл " + path});
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(book.Tag(), 3);
    EXPECT_EQ(workbook::WideToUtf8(book.Filename()), path);
    // Column entries for every grid column and two more.
    for (int c = 0; c <= 4; ++c) EXPECT_NE(book.Sheet(0).Columns().Items(c), nullptr) << c;
    EXPECT_EQ(book.Sheet(0).Columns().Items(5), nullptr);
    // A new file is the start-up content: its one sheet is "Sheet1", as a new workbook's.
    const test::CommandResult names =
        test::RunPython(path.ends_with(".xlsx")
                            ? "import sys, openpyxl\nprint(openpyxl.load_workbook(sys.argv[1]).sheetnames)"
                            : "import sys, xlrd\nprint(xlrd.open_workbook(sys.argv[1]).sheet_names())",
                        {path});
    EXPECT_EQ(names.output, "['Sheet1']\n") << names.errors;
}

// Linux folder names hold characters Windows-1251 has no place for, and a "{yyyy}" folder does
// not exist before the year's first line.
TEST_P(LiveLogTest, TemplateOutsideWindows1251InAFolderNotMadeYet) {
    file_template = dir.File("Messwerte é ü 測定/{yyyy}/{mm}/wägung_{dd}") + Ext();
    PostRow({"05.03.2007", "1", "кг"});
    PostRow({"05.03.2007", "2", "кг"});

    const std::string path = dir.File("Messwerte é ü 測定/2007/03/wägung_05") + Ext();
    ASSERT_TRUE(fs::exists(path)) << path;
    EXPECT_EQ(PeerRows(path), With(Header(), {{"05.03.2007", "1", "кг"}, {"05.03.2007", "2", "кг"}}));
    EXPECT_EQ(statuses, std::vector<std::string>{"Выгрузка в файл " + path});
    EXPECT_EQ(log.UnwrittenRows(), 0);
}

TEST_P(LiveLogTest, RollsOverWhenTheExpandedNameChanges) {
    file_template = dir.File("m_{hh}{nn}") + Ext();
    PostRow({"a", "1", "kg"});
    PostRow({"b", "2", "kg"});
    now = EncodeDateTime({2007, 3, 5, 10, 1, 5, 0});
    PostRow({"c", "3", "kg"});
    now = EncodeDateTime({2007, 3, 5, 10, 1, 59, 0});
    PostRow({"d", "4", "kg"});

    EXPECT_EQ(PeerRows(File("m_1000")), With(Header(), {{"a", "1", "kg"}, {"b", "2", "kg"}}));
    EXPECT_EQ(PeerRows(File("m_1001")), With(Header(), {{"c", "3", "kg"}, {"d", "4", "kg"}}));
    EXPECT_EQ(statuses, (std::vector<std::string>{"Выгрузка в файл " + File("m_1000"),
                                                  "Выгрузка в файл " + File("m_1001")}));
}

// A BIFF8 file made record by record: a chart sheet (an empty chart) first, then a worksheet with
// one number.
void WriteChartFirstXls(const std::string& path) {
    using workbook::biffreadtest::Bytes;
    using workbook::biffreadtest::Records;
    Records chart, data;
    chart.Add(0x0809, workbook::biffreadtest::BofData(0x0020));
    chart.Add(0x1002, Bytes().U32(0).U32(0).U32(0x01DF0000).U32(0x01340000).str());  // CHART: its frame
    chart.Add(0x1033, "");                                                           // BEGIN
    chart.Add(0x1034, "");                                                           // END
    chart.Add(0x000A, "");
    data.Add(0x0809, workbook::biffreadtest::BofData(0x0010));
    data.Add(0x0203, Bytes().U16(0).U16(0).U16(15).F64(1.5).str());  // NUMBER at A1
    data.Add(0x000A, "");
    auto globals = [&](uint32_t first) {
        Records r = workbook::biffreadtest::MinimalGlobals({});
        r.Add(0x0085, Bytes().U32(first).U8(0).U8(2).U8(5).U8(0).Raw("Chart"));
        r.Add(0x0085,
              Bytes().U32(first + static_cast<uint32_t>(chart.size())).U8(0).U8(0).U8(4).U8(0).Raw("Data"));
        r.Add(0x000A, "");
        return r;
    };
    const std::string stream =
        globals(static_cast<uint32_t>(globals(0).size())).bytes() + chart.bytes() + data.bytes();
    workbook::biffreadtest::WriteXls(path, stream);
    // xlrd lists worksheets only: it finds the number on the sheet after the chart.
    const test::CommandResult seen = test::RunPython(
        "import sys, xlrd\nb = xlrd.open_workbook(sys.argv[1])\nprint(b.sheet_names(), "
        "b.sheet_by_index(0).cell_value(0, 0))",
        {path});
    EXPECT_EQ(seen.output, "['Data'] 1.5\n") << seen.errors;
}

TEST_P(LiveLogTest, UnreadableFileIsLeftAloneAndRowsGoToTheFirstFreeSibling) {
    struct Case {
        const char* what;
        std::function<void(const std::string& first, const std::string& second)> make;
        const char* used;         // the sibling the rows go to
        const char* reason = "";  // what the notice says of the first file
    };
    std::vector<Case> cases = {
        {"text file",
         [](const std::string& f, const std::string&) { test::WriteFileBytes(f, "not a workbook\n"); },
         " (2)"},
        {"empty file", [](const std::string& f, const std::string&) { test::WriteFileBytes(f, ""); }, " (2)"},
        {"folder", [](const std::string& f, const std::string&) { fs::create_directory(f); }, " (2)"},
        {"workbook without cells",
         [](const std::string& f, const std::string&) {
             workbook::TTabulon4 empty;
             empty.SetVersion(f.ends_with(".xlsx") ? workbook::xvExcel2007 : workbook::xvExcel97);
             empty.SetFilename(workbook::Utf8ToWide(f));
             empty.Write();
         },
         " (2)"},
        {"both the name and its first sibling",
         [](const std::string& f, const std::string& s) {
             test::WriteFileBytes(f, std::string(600, '\xD0'));
             test::WriteFileBytes(s, "PK\x03\x04 damaged");
         },
         " (3)"},
    };
    // A workbook whose data sheet comes after a chart sheet: cells to read, but no first worksheet
    // to put rows in.
    if (Ext() == ".xls") {
        cases.push_back({"chart sheet first",
                         [](const std::string& f, const std::string&) { WriteChartFirstXls(f); }, " (2)",
                         "первый лист файла"});
    } else {
        cases.push_back({"chart sheet first",
                         [](const std::string& f, const std::string&) {
                             const test::CommandResult made = test::RunPython(R"(
import sys, openpyxl
from openpyxl.chart import BarChart, Reference
wb = openpyxl.Workbook()
ws = wb.active
ws.title = 'Data'
for i in range(1, 4):
    ws.append([i, i * i])
chart = BarChart()
chart.add_data(Reference(ws, min_col=2, min_row=1, max_row=3))
wb.create_chartsheet('Chart', 0).add_chart(chart)
wb.save(sys.argv[1])
assert openpyxl.load_workbook(sys.argv[1]).sheetnames == ['Chart', 'Data']
)",
                                                                              {f});
                             ASSERT_EQ(made.exit_code, 0) << made.errors;
                         },
                         " (2)", "первый лист файла"});
    }
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string stem = "case" + std::to_string(++n);
        const std::string first = File(stem), second = File(stem + " (2)");
        c.make(first, second);
        const bool is_folder = fs::is_directory(first);
        const std::string before = is_folder ? "" : test::ReadFileBytes(first);
        notices.clear();
        file_template = first;
        log.CaptureStarting(LogVersionForTemplate(Ext()));
        PostRow({"x", "1", "kg"});
        PostRow({"y", "2", "kg"});

        const std::string used = File(stem + c.used);
        EXPECT_EQ(PeerRows(used), With(Header(), {{"x", "1", "kg"}, {"y", "2", "kg"}}));
        if (is_folder) {
            EXPECT_TRUE(fs::is_directory(first));
        } else {
            EXPECT_EQ(test::ReadFileBytes(first), before);
        }
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_NE(notices[0].find(used), std::string::npos) << notices[0];
        EXPECT_NE(notices[0].find(first), std::string::npos) << notices[0];
        EXPECT_NE(notices[0].find(c.reason), std::string::npos) << notices[0];
        EXPECT_EQ(statuses.back(), "Выгрузка в файл " + used);
    }
}

TEST_P(LiveLogTest, FailedWritesKeepRowsUntilAWriteSucceeds) {
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> block, unblock;
    };
    const std::vector<Case> cases = {
        {"a file in the folder's place", [](const fs::path& d) { test::WriteFileBytes(d.string(), "x"); },
         [](const fs::path& d) {
             fs::remove(d);
             fs::create_directory(d);
         }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path folder = dir.path() / ("out" + std::to_string(++n));
        c.block(folder);
        const std::string path = (folder / "log").string() + Ext();
        file_template = path;
        log.CaptureStarting(LogVersionForTemplate(Ext()));
        try {
            PostRow({"1", "1", "kg"});
            ADD_FAILURE() << "the write did not fail";
        } catch (const std::exception& error) {
            EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
        }
        // The same failure again is not told again: one report, not one per line.
        EXPECT_NO_THROW(PostRow({"2", "2", "kg"}));
        // A new file whose writes failed still counts its rows from 1.
        EXPECT_EQ(book.Tag(), 3);
        EXPECT_EQ(log.UnwrittenRows(), 2);
        c.unblock(folder);
        PostRow({"3", "3", "kg"});
        EXPECT_EQ(log.UnwrittenRows(), 0);
        EXPECT_EQ(PeerRows(path), With(Header(), {{"1", "1", "kg"}, {"2", "2", "kg"}, {"3", "3", "kg"}}));
    }
}

// Flush's one more write of rows a failed write left runs on the writer thread (the window asks
// for it and keeps painting): it fails again while the folder is missing, and writes the rows
// once it is there.
TEST_P(LiveLogTest, FlushRetriesLeftRowsOnTheWriterThread) {
    const fs::path folder = dir.path() / "later";
    const std::string path = (folder / "log").string() + Ext();
    // A plain file where the folder belongs: the folder cannot be made, so the write fails.
    test::WriteFileBytes(folder.string(), "not a folder");
    file_template = path;
    EXPECT_THROW(PostRow({"1", "1", "kg"}), ELiveLogError);
    EXPECT_EQ(log.UnwrittenRows(), 1);
    try {
        log.Flush();
        ADD_FAILURE() << "the retry did not fail";
    } catch (const ELiveLogError& error) {
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    }
    EXPECT_EQ(log.UnwrittenRows(), 1);

    fs::remove(folder);
    fs::create_directory(folder);
    // The workbook reports its write's progress on the thread that writes it.
    std::mutex threads_mutex;
    std::set<std::thread::id> threads;
    book.OnProgress = [&](int) {
        std::lock_guard lock(threads_mutex);
        threads.insert(std::this_thread::get_id());
    };
    log.StartFlush();
    log.WaitIdle();
    log.Flush();  // the write StartFlush asked for has run: nothing to raise, no second write
    book.OnProgress = nullptr;
    EXPECT_EQ(log.UnwrittenRows(), 0);
    EXPECT_EQ(log.Writes(), 1);
    ASSERT_FALSE(threads.empty());
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
    EXPECT_EQ(PeerRows(path), With(Header(), {{"1", "1", "kg"}}));
}

TEST_P(LiveLogTest, FileHeldByAnotherProgramIsNotReplacedUnderIt) {
    const std::string path = File("held");
    file_template = path;
    PostRow({"1", "1", "kg"});
    const std::string written = test::ReadFileBytes(path);
    const std::string lock = dir.File(".~lock.held" + Ext() + "#");
    test::WriteFileBytes(lock, ",someone,host,10.12.2026 12:00,file:///home/someone/.config/libreoffice/4;");
    // A hundred lines while the file is held: one notice, no error, the file untouched.
    Rows expected = With(Header(), {{"1", "1", "kg"}});
    for (int i = 2; i <= 101; ++i) {
        const std::string value = std::to_string(i);
        EXPECT_NO_THROW(PostRow({value, value, "kg"}));
        expected.push_back({value, value, "kg"});
    }
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find(lock), std::string::npos) << notices[0];
    EXPECT_EQ(test::ReadFileBytes(path), written);
    EXPECT_EQ(log.UnwrittenRows(), 100);

    // Once the lock is gone the writer's next try puts the rows into the file, without another
    // line arriving to start a write.
    fs::remove(lock);
    for (int polls = 0; polls < 3000 && log.UnwrittenRows() > 0; ++polls)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    log.WaitIdle();
    EXPECT_EQ(log.UnwrittenRows(), 0);
    EXPECT_EQ(PeerRows(path), expected);
    EXPECT_EQ(notices.size(), 1u);
}

TEST_P(LiveLogTest, RowsWaitingInMemoryGetOneMoreWriteWhenTheFileChanges) {
    for (const bool released : {true, false}) {
        SCOPED_TRACE(released ? "lock released" : "lock still there");
        const std::string stem = released ? "r_" : "k_";
        file_template = dir.File(stem + "{nn}") + Ext();
        now = EncodeDateTime({2007, 3, 5, 10, 0, 50, 0});
        log.CaptureStarting(LogVersionForTemplate(Ext()));
        PostRow({"1", "1", "kg"});
        const std::string lock = dir.File(".~lock." + stem + "00" + Ext() + "#");
        test::WriteFileBytes(lock, "");
        EXPECT_NO_THROW(PostRow({"2", "2", "kg"}));
        if (released) fs::remove(lock);

        now = EncodeDateTime({2007, 3, 5, 10, 1, 0, 0});
        if (released) {
            PostRow({"3", "3", "kg"});
            EXPECT_EQ(PeerRows(File(stem + "00")), With(Header(), {{"1", "1", "kg"}, {"2", "2", "kg"}}));
        } else {
            // The new minute's row is logged; the loss in the old file is reported with it.
            try {
                PostRow({"3", "3", "kg"});
                ADD_FAILURE() << "the lost row was not reported";
            } catch (const ELiveLogError& error) {
                const std::string message = error.what();
                EXPECT_NE(message.find("1 rows could not be written"), std::string::npos) << message;
                EXPECT_NE(message.find(File(stem + "00")), std::string::npos) << message;
            }
            EXPECT_EQ(PeerRows(File(stem + "00")), With(Header(), {{"1", "1", "kg"}}));
        }
        EXPECT_EQ(PeerRows(File(stem + "01")), With(Header(), {{"3", "3", "kg"}}));
    }
}

// A workbook made by another program: header, 40 data rows, a note after a gap of empty rows and
// a second sheet. The log appends after the note and keeps everything else.
TEST_P(LiveLogTest, ExistingFileIsExtendedAfterItsLastUsedRow) {
    const std::string path = File("existing");
    const char* script = R"PY(
import sys
path = sys.argv[1]
header = ['Дата', 'Вес|брутто', 'Ед']
rows = [['d%d' % r, 'w%d' % r, 'kg'] for r in range(1, 41)]
if path.endswith('.xlsx'):
    import openpyxl
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = 'Журнал'
    for r, values in enumerate([header] + rows):
        for c, v in enumerate(values):
            ws.cell(row=r + 1, column=c + 1, value=v)
    ws.cell(row=46, column=5, value='note')
    wb.create_sheet('Other').cell(row=1, column=1, value='keep')
    wb.save(path)
else:
    import xlwt
    wb = xlwt.Workbook(encoding='utf-8')
    ws = wb.add_sheet('Журнал')
    for r, values in enumerate([header] + rows):
        for c, v in enumerate(values):
            ws.write(r, c, v)
    ws.write(45, 4, 'note')
    wb.add_sheet('Other').write(0, 0, 'keep')
    wb.save(path)
)PY";
    if (Ext() == ".xls" && !test::PythonHasModule("xlwt")) GTEST_SKIP() << "python3-xlwt missing";
    const test::CommandResult made = test::RunPython(script, {path});
    ASSERT_EQ(made.exit_code, 0) << made.errors;

    file_template = path;
    PostRow({"new", "1", "kg"});
    EXPECT_EQ(book.Tag(), 47);
    log.CaptureStarting(LogVersionForTemplate(Ext()));  // the next start reads the file again
    PostRow({"again", "2", "kg"});
    // The writes after the first one since the read go on from the bytes of the write before
    // (.xlsx): their rows must land the same way.
    for (int i = 3; i <= 5; ++i) {
        PostRow({"more", std::to_string(i), "kg"});
        if (Ext() == ".xlsx") {
            EXPECT_TRUE(book.LastWriteAppended()) << i;
        }
    }

    Rows expected = Header();
    for (int r = 1; r <= 40; ++r)
        expected.push_back({"d" + std::to_string(r), "w" + std::to_string(r), "kg"});
    for (int r = 41; r < 45; ++r) expected.push_back({});
    expected.push_back({"", "", "", "", "note"});
    expected.push_back({"new", "1", "kg"});
    expected.push_back({"again", "2", "kg"});
    for (int i = 3; i <= 5; ++i) expected.push_back({"more", std::to_string(i), "kg"});
    EXPECT_EQ(PeerRows(path), expected);
    const test::CommandResult sheets = test::RunPython(
        path.ends_with(".xlsx")
            ? "import sys, openpyxl\nwb = openpyxl.load_workbook(sys.argv[1])\nprint(wb.sheetnames, "
              "wb['Other']['A1'].value)"
            : "import sys, xlrd\nwb = xlrd.open_workbook(sys.argv[1])\nprint(wb.sheet_names(), "
              "wb.sheet_by_index(1).cell_value(0, 0))",
        {path});
    EXPECT_EQ(sheets.output, "['Журнал', 'Other'] keep\n") << sheets.errors;
}

// LibreOffice's own file with a header and 40 data rows: the first posted row becomes row 41.
TEST_P(LiveLogTest, WorkbookSavedByLibreOfficeGetsTheNextRow) {
    const std::string soffice = test::FindProgram("soffice");
    if (soffice.empty()) GTEST_SKIP() << "LibreOffice missing";
    std::string csv = "Дата,Вес|брутто,Ед\n";
    for (int r = 1; r <= 40; ++r) csv += "d" + std::to_string(r) + ",w" + std::to_string(r) + ",kg\n";
    test::WriteFileBytes(dir.File("lo.csv"), csv);
    const test::CommandResult converted =
        test::RunCommand({soffice, "-env:UserInstallation=file://" + dir.File("lo-profile"), "--headless",
                          "--infilter=CSV:44,34,76", "--convert-to",
                          Ext() == ".xlsx" ? "xlsx:Calc MS Excel 2007 XML" : "xls:MS Excel 97", "--outdir",
                          dir.path().string(), dir.File("lo.csv")});
    const std::string path = File("lo");
    ASSERT_TRUE(fs::exists(path)) << converted.output << converted.errors;

    file_template = path;
    PostRow({"new", "1", "kg"});
    const Rows rows = PeerRows(path);
    ASSERT_EQ(rows.size(), 42u);
    EXPECT_EQ(rows[0], Header()[0]);
    EXPECT_EQ(rows[40], (std::vector<std::string>{"d40", "w40", "kg"}));
    EXPECT_EQ(rows[41], (std::vector<std::string>{"new", "1", "kg"}));
}

TEST_P(LiveLogTest, HeaderWidthsComeFromTheGridColumns) {
    FixedColumns grid;
    grid.columns = {{Utf8ToCp1251("Нетто"), 140}, {"B", -1}, {"C", 35}};
    TLiveLog own_log(book, grid);
    own_log.FileTemplate = [this] { return dir.File("widths") + Ext(); };
    own_log.CaptureStarting(LogVersionForTemplate(Ext()));
    tables.cdata.AfterPost = [&](TMemTable& journal) { own_log.cdataAfterPost(journal); };
    PostRow({"1", "2", "3"});
    own_log.WaitIdle();

    const test::PeerSheet sheet = test::ReadPeerSheet(dir.File("widths") + Ext());
    ASSERT_TRUE(sheet.ok) << sheet.error;
    EXPECT_EQ(sheet.rows, (Rows{{"Нетто", "B", "C"}, {"1", "2", "3"}}));
    // Widths in 1/256 of the digit width of the default font (7 pixels): a failing width is 100.
    for (const auto& [column, pixels] : std::vector<std::pair<int, int>>{{0, 140}, {1, 100}, {2, 35}}) {
        ASSERT_TRUE(sheet.widths.count(column)) << column;
        EXPECT_NEAR(sheet.widths.at(column), pixels * 256 / 7, 256) << column;
    }
}

// A workbook of `rows` rows (header included) in the log's layout, written by our own writer: the
// starting point a long capture has reached.
void MakeLargeLog(const std::string& path, int rows) {
    workbook::TTabulon4 book;
    book.SetVersion(path.ends_with(".xlsx") ? workbook::xvExcel2007 : workbook::xvExcel97);
    book.SetFilename(workbook::Utf8ToWide(path));
    workbook::TSheet& sheet = book.Sheet(0);
    const char16_t* titles[] = {u"Дата", u"Вес|брутто", u"Ед"};
    for (int c = 0; c < 3; ++c) sheet.SetAsWideString(c, 0, titles[c]);
    for (int r = 1; r < rows; ++r) {
        sheet.Rows().AddIfNone(static_cast<uint32_t>(r));
        sheet.SetAsWideString(0, r, workbook::Utf8ToWide("old" + std::to_string(r)));
        sheet.SetAsWideString(1, r, workbook::Utf8ToWide(std::to_string(r * 7)));
        sheet.SetAsWideString(2, r, u"kg");
    }
    book.Write();
}

// Rows posted while a write runs go into the file together with the next write; rows posted one
// at a time after the previous write has ended get a write each. Either way every row reaches
// the file, in the order posted, after the rows already there.
TEST_P(LiveLogTest, RowsPostedDuringAWriteShareTheNextWrite) {
    const std::string path = File("large");
    constexpr int kOldRows = 20000;
    MakeLargeLog(path, kOldRows);
    file_template = path;
    struct Case {
        const char* what;
        int rows;
        bool wait_each;  // wait for each row's write before posting the next
    };
    const Case cases[] = {{"burst", 300, false}, {"slow lines", 3, true}};
    Rows expected = PeerRows(path);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(kOldRows));
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::int64_t writes_before = log.Writes();
        for (int i = 0; i < c.rows; ++i, ++n) {
            const std::vector<std::string> values = {"n" + std::to_string(n), std::to_string(n), "kg"};
            expected.push_back(values);
            tables.cdata.Append();
            for (int f = 0; f < 3; ++f)
                tables.cdata.Fields(f + 1).SetAsString(values[static_cast<std::size_t>(f)]);
            tables.cdata.Post();
            if (c.wait_each) log.WaitIdle();
        }
        log.WaitIdle();
        const std::int64_t writes = log.Writes() - writes_before;
        if (c.wait_each) {
            EXPECT_EQ(writes, c.rows);
        } else {
            // The first row starts a write of a large workbook; the others arrive while it runs.
            EXPECT_GE(writes, 1);
            EXPECT_LT(writes, c.rows / 2);
        }
        EXPECT_EQ(log.UnwrittenRows(), 0);
        EXPECT_EQ(log.RowsWritten(), log.RowsPosted());
        EXPECT_EQ(PeerRows(path), expected);
    }
}

// A batch that holds rows of two files (the minute changed while a write ran): each file gets its
// own rows, in order, the first file with one write before the log moves on.
TEST_P(LiveLogTest, ABatchAcrossAChangeOfFileSplitsBetweenTheFiles) {
    file_template = dir.File("b_{hh}{nn}") + Ext();
    const std::string first = File("b_1000"), second = File("b_1001");
    MakeLargeLog(first, 20000);
    Rows expected_first = PeerRows(first);
    auto post = [&](const std::string& value) {
        tables.cdata.Append();
        tables.cdata.Fields(1).SetAsString(value);
        tables.cdata.Fields(2).SetAsString("1");
        tables.cdata.Fields(3).SetAsString("kg");
        tables.cdata.Post();
    };
    // The first row starts a read and a write of the large file; the rest arrive meanwhile.
    post("a");
    post("b");
    now = EncodeDateTime({2007, 3, 5, 10, 1, 0, 0});
    post("c");
    post("d");
    log.WaitIdle();
    expected_first.push_back({"a", "1", "kg"});
    expected_first.push_back({"b", "1", "kg"});
    EXPECT_EQ(PeerRows(first), expected_first);
    EXPECT_EQ(PeerRows(second), With(Header(), {{"c", "1", "kg"}, {"d", "1", "kg"}}));
    EXPECT_EQ(log.RowsWritten(), 4);
    EXPECT_EQ(log.FilesWritten(), (std::vector<std::string>{first, second}));
    EXPECT_EQ(statuses.back(), "Выгрузка в файл " + second);
}

// A write cut short by a kill leaves ".<name>.<8 random>.tmp" beside the log. Starting to log to
// that file removes such leftovers of its own, and nothing else: not another file's, not one a
// live process holds open, not a link or a folder that happens to have such a name.
TEST_P(LiveLogTest, StaleTemporariesOfTheLogAreRemovedWhenLoggingStarts) {
    const std::string name = "tmpd" + Ext();
    const std::string path = dir.File(name);
    file_template = path;
    PostRow({"1", "1", "kg"});
    struct Entry {
        std::string file;
        bool removed;
    };
    const std::vector<Entry> entries = {
        {"." + name + ".k3x9a0qz.tmp", true},   {"." + name + ".00000000.tmp", true},
        {"." + name + ".held0pen.tmp", false},  // held open by this process below
        {"." + name + ".ABCDEFGH.tmp", false},  {"." + name + ".abcdefg.tmp", false},
        {"." + name + ".abcdefghi.tmp", false}, {".other" + Ext() + ".k3x9a0qz.tmp", false},
        {name + ".k3x9a0qz.tmp", false},        {"." + name + ".k3x9a0qz.tmp.bak", false},
    };
    for (const Entry& e : entries) test::WriteFileBytes(dir.File(e.file), "partial");
    const int held = ::open(dir.File("." + name + ".held0pen.tmp").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    fs::create_directory(dir.File("." + name + ".dir00000.tmp"));
    test::WriteFileBytes(dir.File("victim"), "keep");
    fs::create_symlink(dir.File("victim"), dir.File("." + name + ".link0000.tmp"));

    log.CaptureStarting(LogVersionForTemplate(Ext()));
    PostRow({"2", "2", "kg"});
    ::close(held);
    for (const Entry& e : entries) EXPECT_EQ(fs::exists(dir.File(e.file)), !e.removed) << e.file;
    EXPECT_TRUE(fs::is_directory(dir.File("." + name + ".dir00000.tmp")));
    EXPECT_TRUE(fs::is_symlink(dir.File("." + name + ".link0000.tmp")));
    EXPECT_EQ(test::ReadFileBytes(dir.File("victim")), "keep");
    EXPECT_EQ(PeerRows(path), With(Header(), {{"1", "1", "kg"}, {"2", "2", "kg"}}));
}

// Every cell of the first sheet as the peer reads it: texts as they are, date cells as
// "date:<ISO date and time to the millisecond>", other values with their type.
const char* const kCellsScript = R"PY(
import sys, datetime
path = sys.argv[1]
def iso(d):
    d = d + datetime.timedelta(microseconds=500)
    return 'date:' + d.isoformat(timespec='milliseconds')
rows = []
if path.endswith('.xlsx'):
    import openpyxl
    ws = openpyxl.load_workbook(path).worksheets[0]
    for r in ws.iter_rows():
        cells = []
        for c in r:
            v = c.value
            if v is None: cells.append('')
            elif isinstance(v, str): cells.append(v)
            elif c.is_date and isinstance(v, datetime.datetime): cells.append(iso(v))
            else: cells.append('%s:%r' % (type(v).__name__, v))
        rows.append(cells)
else:
    import xlrd
    book = xlrd.open_workbook(path, formatting_info=True)
    sh = book.sheet_by_index(0)
    for r in range(sh.nrows):
        cells = []
        for c in range(sh.ncols):
            cell = sh.cell(r, c)
            if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK): cells.append('')
            elif cell.ctype == xlrd.XL_CELL_TEXT: cells.append(cell.value)
            elif cell.ctype == xlrd.XL_CELL_DATE: cells.append(iso(xlrd.xldate.xldate_as_datetime(cell.value, book.datemode)))
            else: cells.append('%s:%r' % (type(cell.value).__name__, cell.value))
        rows.append(cells)
for cells in rows:
    while cells and cells[-1] == '':
        cells.pop()
    print('\t'.join(cells))
)PY";

Rows PeerCells(const std::string& path) {
    const test::CommandResult result = test::RunPython(kCellsScript, {path});
    EXPECT_EQ(result.exit_code, 0) << result.errors;
    Rows rows;
    std::size_t start = 0;
    while (start < result.output.size()) {
        const std::size_t end = result.output.find('\n', start);
        const std::string line = result.output.substr(start, end - start);
        std::vector<std::string> cells;
        if (!line.empty()) {
            std::size_t from = 0;
            for (;;) {
                const std::size_t tab = line.find('\t', from);
                cells.push_back(line.substr(from, tab - from));
                if (tab == std::string::npos) break;
                from = tab + 1;
            }
        }
        rows.push_back(std::move(cells));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return rows;
}

// A workbook made by another program (xlwt, openpyxl) with two rows in the log's layout, with or
// without the arrival column first (its cells real dates), is extended with stamping on or off:
// the new rows' values stay under the file's own titles, the time goes into the file's arrival
// column when it has one, after its columns (titled) when it has none, and nowhere when stamping
// is off. A file the log starts after that (a new day) has the configured layout.
TEST_P(LiveLogTest, ExtendingAFileKeepsItsColumnsWhateverTheArrivalSetting) {
    if (Ext() == ".xls" && !test::PythonHasModule("xlwt")) GTEST_SKIP() << "python3-xlwt missing";
    const char* script = R"PY(
import sys, datetime
path, stamped = sys.argv[1], sys.argv[2] == '1'
header = ['Дата', 'Вес|брутто', 'Ед']
rows = [['d1', 'w1', 'kg'], ['d2', 'w2', 'kg']]
when = [datetime.datetime(2007, 3, 4, 23, 59, 58, 250000), datetime.datetime(2007, 3, 4, 23, 59, 59, 500000)]
if stamped:
    header = ['Время поступления'] + header
    rows = [[w] + r for w, r in zip(when, rows)]
if path.endswith('.xlsx'):
    import openpyxl
    wb = openpyxl.Workbook()
    ws = wb.active
    for r, values in enumerate([header] + rows):
        for c, v in enumerate(values):
            cell = ws.cell(row=r + 1, column=c + 1, value=v)
            if isinstance(v, datetime.datetime):
                cell.number_format = 'dd.mm.yyyy hh:mm:ss.000'
    wb.save(path)
else:
    import xlwt
    wb = xlwt.Workbook(encoding='utf-8')
    ws = wb.add_sheet('Sheet1')
    stamp = xlwt.easyxf(num_format_str='dd.mm.yyyy hh:mm:ss.000')
    for r, values in enumerate([header] + rows):
        for c, v in enumerate(values):
            if isinstance(v, datetime.datetime):
                ws.write(r, c, v, stamp)
            else:
                ws.write(r, c, v)
    wb.save(path)
)PY";
    const std::string kTitle = "Время поступления";
    const std::string kNew = "date:2007-03-05T10:00:50.123";
    now = EncodeDateTime({2007, 3, 5, 10, 0, 50, 123});
    const std::vector<std::string> kFields = {"Дата", "Вес|брутто", "Ед"};
    const std::vector<std::string> kStampedFields = {kTitle, "Дата", "Вес|брутто", "Ед"};
    struct Case {
        const char* what;
        bool file_stamped;
        bool stamping;
        std::vector<std::string> header;  // after the extension
        std::vector<std::string> new_row;
        bool notice;
    };
    const Case cases[] = {
        {"neither", false, false, kFields, {"new", "1", "kg"}, false},
        {"stamping a file made without",
         false,
         true,
         {"Дата", "Вес|брутто", "Ед", kTitle},
         {"new", "1", "kg", kNew},
         true},
        {"not stamping a file made with", true, false, kStampedFields, {"", "new", "1", "kg"}, true},
        {"stamping a file made with", true, true, kStampedFields, {kNew, "new", "1", "kg"}, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = File("ext" + std::to_string(++n));
        const test::CommandResult made = test::RunPython(script, {path, c.file_stamped ? "1" : "0"});
        ASSERT_EQ(made.exit_code, 0) << made.errors;
        // The old rows as the peer reads the producer's file: they must come back unchanged.
        Rows expected = PeerCells(path);
        ASSERT_EQ(expected.size(), 3u);
        EXPECT_EQ(expected[0], c.file_stamped ? kStampedFields : kFields);
        if (c.file_stamped) {
            EXPECT_TRUE(expected[1][0].starts_with("date:2007-03-04T23:59:5")) << expected[1][0];
        }
        expected[0] = c.header;
        expected.push_back(c.new_row);

        file_template = path;
        notices.clear();
        log.StampArrival = c.stamping;
        log.CaptureStarting(LogVersionForTemplate(Ext()));
        PostRow({"new", "1", "kg"});
        EXPECT_EQ(log.UnwrittenRows(), 0);
        EXPECT_EQ(PeerCells(path), expected);
        // Said once, not once per row.
        PostRow({"next", "2", "kg"});
        EXPECT_EQ(notices.size(), c.notice ? 1u : 0u) << (notices.empty() ? "" : notices[0]);
        if (c.notice) {
            EXPECT_NE(notices[0].find(path), std::string::npos) << notices[0];
        }
        std::vector<std::string> next = c.new_row;
        for (std::string& cell : next) {
            if (cell == "new") cell = "next";
            if (cell == "1") cell = "2";
        }
        expected.push_back(next);
        EXPECT_EQ(PeerCells(path), expected);
    }
    // The next file the template names is new: it gets the configured layout.
    file_template = dir.File("fresh_{dd}") + Ext();
    PostRow({"new", "1", "kg"});
    EXPECT_EQ(PeerCells(File("fresh_05")),
              (Rows{{kTitle, "Дата", "Вес|брутто", "Ед"}, {kNew, "new", "1", "kg"}}));
}

INSTANTIATE_TEST_SUITE_P(Formats, LiveLogTest, ::testing::Values(".xls", ".xlsx"),
                         [](const auto& info) { return std::string(info.param).substr(1); });

// The last row of a BIFF8 sheet is 65535: the row after it goes to a sibling with its own header.
TEST(LiveLogLimits, FullExcel97FileContinuesInASibling) {
    test::TempDir dir;
    TFormatJournal tables;
    test::WriteFileBytes(dir.File("f.ini"), "[app]\nformat=1\n[format]\nname1=V\nsize1=4\n");
    tables.LoadFormat(TIniFile(dir.File("f.ini")));
    workbook::TTabulon4 book;
    TJournalLogColumns columns(tables);
    TLiveLog log(book, columns);
    std::vector<std::string> notices;
    log.FileTemplate = [&] { return dir.File("full.xls"); };
    log.OnNotice = [&](const std::string& text) { notices.push_back(text); };
    log.CaptureStarting(TLogVersionChoice::kExcel97);
    tables.cdata.AfterPost = [&](TMemTable& journal) { log.cdataAfterPost(journal); };
    auto post = [&](const char* value) {
        tables.cdata.Append();
        tables.cdata.Fields(1).SetAsString(value);
        tables.cdata.Post();
        log.WaitIdle();
    };
    post("first");
    book.SetTag(65535);
    post("last");
    EXPECT_TRUE(notices.empty());
    post("next");

    const test::PeerSheet full = test::ReadPeerSheet(dir.File("full.xls"));
    ASSERT_TRUE(full.ok) << full.error;
    ASSERT_EQ(full.rows.size(), 65536u);
    EXPECT_EQ(full.rows[1], std::vector<std::string>{"first"});
    EXPECT_EQ(full.rows[65535], std::vector<std::string>{"last"});
    EXPECT_EQ(test::ReadPeerSheet(dir.File("full (2).xls")).rows, (Rows{{"V"}, {"next"}}));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("full (2).xls"), std::string::npos) << notices[0];
}

// Reading an Open XML workbook copies the package to a temporary file. Dangling links planted
// under every name the copy could take ("XLS" + milliseconds + ".tmp" in the runtime and the
// temporary folder) are never followed, so the file they point at is not made, and nothing is left
// in the folder; a runtime folder that does not exist is passed over for the next one.
TEST(LiveLogReading, TemporaryCopyFollowsNoPlantedLinkAndLeavesNothing) {
    if (!test::PythonHasModule("openpyxl")) GTEST_SKIP() << "python3-openpyxl missing";
    test::TempDir dir;
    const std::string path = dir.File("in.xlsx");
    const test::CommandResult made = test::RunPython(
        "import sys, openpyxl\nwb = openpyxl.Workbook()\nwb.active['B2'] = 'Вес'\nwb.save(sys.argv[1])\n",
        {path});
    ASSERT_EQ(made.exit_code, 0) << made.errors;
    const fs::path run = dir.path() / "run";
    fs::create_directory(run);
    const std::string victim = dir.File("victim");
    const auto now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    constexpr int kPlanted = 20000;
    for (long long n = now_ms; n < now_ms + kPlanted; ++n)
        fs::create_symlink(victim, run / ("XLS" + std::to_string(n) + ".tmp"));

    const char* saved_runtime = std::getenv("XDG_RUNTIME_DIR");
    const char* saved_tmp = std::getenv("TMPDIR");
    const std::string saved = saved_runtime ? saved_runtime : "", saved_tmpdir = saved_tmp ? saved_tmp : "";
    ::setenv("TMPDIR", run.c_str(), 1);
    for (const std::string& runtime : {run.string(), dir.File("no-such-folder")}) {
        SCOPED_TRACE(runtime);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        workbook::TTabulon4 book;
        book.SetFilename(workbook::Utf8ToWide(path));
        book.Read();
        EXPECT_EQ(workbook::WideToUtf8(book.Sheet(0).AsString(1, 1)), "Вес");
    }
    if (saved_runtime)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
    if (saved_tmp)
        ::setenv("TMPDIR", saved_tmpdir.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    EXPECT_FALSE(fs::exists(victim));
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(run)) {
        ++entries;
        EXPECT_TRUE(entry.is_symlink()) << entry.path();
    }
    EXPECT_EQ(entries, kPlanted);
}

TEST(LiveLogNames, SiblingAndLockFileNames) {
    const std::vector<std::tuple<std::string, int, std::string>> siblings = {
        {"/d/log.xls", 1, "/d/log.xls"},         {"/d/log.xls", 2, "/d/log (2).xls"},
        {"/d/log.xlsx", 12, "/d/log (12).xlsx"}, {"/d.x/log", 3, "/d.x/log (3)"},
        {"log.d.xls", 2, "log.d (2).xls"},
    };
    for (const auto& [name, n, expected] : siblings) EXPECT_EQ(TLiveLog::SiblingName(name, n), expected);
    EXPECT_EQ(TLiveLog::LockFileName("/d/log (2).xls"), "/d/.~lock.log (2).xls#");
    EXPECT_EQ(TLiveLog::LockFileName("log.xls"), ".~lock.log.xls#");
}

}  // namespace
}  // namespace linograf
