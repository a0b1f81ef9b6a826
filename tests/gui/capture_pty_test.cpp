// The whole road of a line in the window: a pseudo-terminal stands in for the device behind a
// port number, the window opens the port with the port page's settings, received lines become
// journal rows and workbook rows, and stopping closes the port.
//
// The kernel's termios headers only: glibc's <termios.h> cannot be mixed with them.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "gui/button_edit.h"
#include "gui/com_select_form.h"
#include "gui/db_grid.h"
#include "gui/export/db_grid_export.h"
#include "gui/find_dialog.h"
#include "gui/main_window.h"
#include "gui/pages/journal_page.h"
#include "gui/table_model.h"
#include "gui/window_services.h"
#include "serial/port_device_map.h"
#include "tests/gui/gui_test_support.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "text/wide_text.h"
#include "workbook/model/tabulon4.h"

namespace linograf {
namespace {

using serial::test::PtyPair;
using test::TempDir;

// The cell texts of the first sheet, one line per row, cells joined by "|".
std::string SheetRows(const std::string& path) {
    const test::CommandResult result = test::RunPython(
        "import sys, xlrd\n"
        "s = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
        "for r in range(s.nrows):\n"
        "    print('|'.join(str(v) for v in s.row_values(r)))\n",
        {path});
    EXPECT_EQ(result.exit_code, 0) << result.errors;
    return result.output;
}

class CapturePtyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::App();
        std::filesystem::create_directory(ports);
        std::filesystem::create_symlink(pty.slave_path(), ports / "com3");
        setenv(serial::kPortFolderVariable, ports.c_str(), 1);
        test::WriteFileBytes(ini_path,
                             "[app]\nformat=2\nfilename=" + log_path +
                                 "\ncomport=x\n[com]\nxor=2\n[format]\nname1=A\nsize1=5\nname2=B\nsize2=3\n");
        window = std::make_unique<TfrmMain>(ini, DefaultWindowServices());
        window->show();
    }
    void TearDown() override {
        window.reset();
        unsetenv(serial::kPortFolderVariable);
    }

    termios2 SlaveSettings() const {
        termios2 t{};
        EXPECT_EQ(::ioctl(pty.master(), TCGETS2, &t), 0);
        return t;
    }
    int Rows() const { return window->Tables().cdata.RecordCount(); }

    TempDir dir;
    std::filesystem::path ports = dir.path() / "ports";
    std::string ini_path = dir.File("linograf.ini");
    std::string log_path = dir.File("log.xls");
    TIniFile ini{ini_path};
    PtyPair pty;
    test::ErrorRecorder errors;
    std::unique_ptr<TfrmMain> window;
};

TEST_F(CapturePtyTest, LinesBecomeJournalAndWorkbookRowsUntilStopped) {
    const int com3 = window->eport->findText("COM3");
    ASSERT_GE(com3, 0);
    EXPECT_EQ(window->eport->itemData(com3, Qt::ToolTipRole).toString(),
              QString::fromStdString((ports / "com3").string()));
    window->eport->setCurrentIndex(com3);
    window->espeed->setCurrentIndex(window->espeed->findText("19200"));
    // A pseudo-terminal keeps 8 data bits without parity whatever it is asked; rate and stop bits
    // it takes.
    window->estop->setCurrentIndex(window->estop->findText("2"));
    // The page's choices apply once confirmed and stored (OK on the port page, then on the
    // parameters page).
    window->asave_port->trigger();
    window->asave_param->trigger();
    EXPECT_EQ(ini.ReadInteger("com", "stop", -1), window->estop->findText("2"));

    window->aplay->trigger();
    ASSERT_TRUE(window->NlkComPort1()->IsOpen()) << errors.Messages().join("\n").toStdString();
    // The port page's settings reached the device.
    const termios2 t = SlaveSettings();
    EXPECT_EQ(t.c_ospeed, 19200u);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(test::PumpUntil([&] { return window->aplay->text() == "Остановить"; }));

    pty.Write("\nXX12345678\r");
    ASSERT_TRUE(test::PumpUntil([&] { return Rows() == 1; }));
    pty.Write("abcdeFGH\rpart");
    ASSERT_TRUE(test::PumpUntil([&] { return Rows() == 2; }));
    // The writes run on the log's own thread: the file has the rows once it is idle.
    window->LiveLog().WaitIdle();
    EXPECT_EQ(window->Grid->Model()->rowCount(), 2);
    EXPECT_EQ(window->Grid->Model()->index(0, 0).data().toString(), "12345");
    EXPECT_EQ(window->Grid->Model()->index(0, 1).data().toString(), "678");
    EXPECT_EQ(window->Grid->Model()->index(1, 1).data().toString(), "FGH");
    // The status bar: the file, lines received, rows in the file, rows still waiting.
    EXPECT_EQ(window->StatusFile->text(), QString::fromStdString("Выгрузка в файл " + log_path));
    window->UpdateStatusCounts();
    EXPECT_EQ(window->StatusLines->text(), "Строк принято: 2");
    EXPECT_EQ(window->StatusRows->text(), "записано: 2");
    EXPECT_EQ(window->StatusWaiting->text(), "ждут записи: 0");
    EXPECT_TRUE(errors.Messages().isEmpty()) << errors.Messages().join("\n").toStdString();
    ASSERT_TRUE(test::PythonHasModule("xlrd")) << "python3-xlrd is not installed";
    EXPECT_EQ(SheetRows(log_path), "A|B\n12345|678\nabcde|FGH\n");

    window->aplay->trigger();
    EXPECT_FALSE(window->NlkComPort1()->IsOpen());
    EXPECT_TRUE(test::PumpUntil([&] { return window->aplay->text() == "Начать сбор"; }));
    // Nothing is read any more: the line finished now never arrives.
    pty.Write("9999999\r");
    int rounds = 0;
    test::PumpUntil([&] { return ++rounds > 100; });
    EXPECT_EQ(Rows(), 2);

    // Starting again reads the workbook again and goes on after its last row. (What the terminal
    // kept while the port was closed may arrive first: a pseudo-terminal holds it, a UART not.)
    window->aplay->trigger();
    ASSERT_TRUE(window->NlkComPort1()->IsOpen());
    pty.Write("end\r");
    auto last_row_is_end = [&] {
        return Rows() >= 3 && window->Tables().cdata.CellText(Rows() - 1, 2) == "end";
    };
    ASSERT_TRUE(test::PumpUntil(last_row_is_end));
    window->aplay->trigger();
    EXPECT_FALSE(window->NlkComPort1()->IsOpen());
    // The file holds what the test sent, cut by the format (A 5 bytes, B 3, from the right; a
    // field that would start before the line's first byte is read from it with its full size),
    // with or without the line the terminal kept while the port was closed.
    const std::string sent = "A|B\n12345|678\nabcde|FGH\n";
    const std::string rows = SheetRows(log_path);
    EXPECT_TRUE(rows == sent + "end|end\n" || rows == sent + "99999|999\nend|end\n") << rows;
}

// Every row of the first sheet, cells joined by "|": xlrd for .xls, openpyxl for .xlsx.
std::string PeerRows(const std::string& path) {
    const test::CommandResult result = test::RunPython(
        "import sys\n"
        "p = sys.argv[1]\n"
        "if p.endswith('.xlsx'):\n"
        "    import openpyxl\n"
        "    ws = openpyxl.load_workbook(p).worksheets[0]\n"
        "    rows = [['' if c.value is None else str(c.value) for c in r] for r in ws.iter_rows()]\n"
        "else:\n"
        "    import xlrd\n"
        "    s = xlrd.open_workbook(p).sheet_by_index(0)\n"
        "    rows = [[str(v) for v in s.row_values(r)] for r in range(s.nrows)]\n"
        "for r in rows:\n"
        "    print('|'.join(r))\n",
        {path});
    EXPECT_EQ(result.exit_code, 0) << result.errors;
    return result.output;
}

// A device that sends UTF-8 or Latin-1, chosen in the encoding box: its characters reach the grid,
// the search, the log file and the export whole. The bytes sent and the values expected come from
// Python's codecs: the line encoded, then cut as the format cuts it (B the last 3 bytes, A the 5
// before) and each field decoded on its own.
TEST_F(CapturePtyTest, ADeviceEncodingReachesTheGridTheSearchTheLogAndTheExport) {
    ASSERT_TRUE(test::PythonHasModule("xlrd")) << "python3-xlrd is not installed";
    ASSERT_TRUE(test::PythonHasModule("openpyxl")) << "python3-openpyxl is not installed";
    struct Case {
        const char* encoding;
        const char* text;  // UTF-8; the device sends it in `encoding`
        const char* ext;
    };
    const Case cases[] = {
        {"UTF-8", "xxéü1€", ".xlsx"},
        {"ISO-8859-1", "Größe±5°", ".xls"},
        {"KOI8-R", "Масса,кг", ".xlsx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoding);
        const test::CommandResult codec = test::RunPython(
            "import sys\n"
            "enc, text = sys.argv[1], sys.argv[2]\n"
            "b = text.encode(enc)\n"
            "print(b.hex())\n"
            "print(b[-8:-3].decode(enc, 'replace'))\n"
            "print(b[-3:].decode(enc, 'replace'))\n",
            {c.encoding, c.text});
        ASSERT_EQ(codec.exit_code, 0) << codec.errors;
        std::istringstream lines(codec.output);
        std::string hex, a, b;
        std::getline(lines, hex);
        std::getline(lines, a);
        std::getline(lines, b);
        std::string bytes;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));

        const std::string log = dir.File(std::string("enc-") + c.encoding + c.ext);
        window.reset();
        window = std::make_unique<TfrmMain>(ini, DefaultWindowServices());
        window->show();
        window->efile->setText(QString::fromStdString(log));
        window->eport->setCurrentIndex(window->eport->findText("COM3"));
        window->eencoding->setCurrentText(QString::fromUtf8(c.encoding));
        window->asave_port->trigger();
        window->asave_param->trigger();
        ASSERT_TRUE(errors.Messages().isEmpty()) << errors.Messages().join("\n").toStdString();
        EXPECT_EQ(ini.ReadString("app", "encoding", ""), c.encoding);

        window->aplay->trigger();
        ASSERT_TRUE(window->NlkComPort1()->IsOpen()) << errors.Messages().join("\n").toStdString();
        pty.Write("abcdeFGH\r" + bytes + "\r");
        ASSERT_TRUE(test::PumpUntil([&] { return Rows() == 2; }));
        window->aplay->trigger();
        ASSERT_FALSE(window->NlkComPort1()->IsOpen());
        EXPECT_TRUE(errors.Messages().isEmpty()) << errors.Messages().join("\n").toStdString();

        TTableModel& model = *window->Grid->Model();
        EXPECT_EQ(model.index(1, 0).data().toString(), QString::fromStdString(a));
        EXPECT_EQ(model.index(1, 1).data().toString(), QString::fromStdString(b));
        // "Поиск" (F7) looks through what the grid shows.
        EXPECT_EQ(FindRowInColumn(model, 1, 0, QString::fromStdString(b), Qt::CaseSensitive), 1);
        EXPECT_EQ(FindRowInColumn(model, 0, 1, QString::fromStdString(a).toLower(), Qt::CaseInsensitive), 1);

        EXPECT_EQ(PeerRows(log), "A|B\nabcde|FGH\n" + a + "|" + b + "\n");
        const std::string exported = dir.File(std::string("export-") + c.encoding + ".xlsx");
        ExportGrid(QString::fromStdString(exported), *window->Grid, QStringLiteral("Linograf"));
        const std::string rows = PeerRows(exported);
        EXPECT_NE(rows.find("\nabcde|FGH\n" + a + "|" + b + "\n"), std::string::npos) << rows;
    }
}

// Columns a log file may hold beyond the journal's own (notes someone added): they make every
// write of the file below longer.
constexpr int kExtraColumns = 8;

// A workbook of `rows` rows in the layout of this window's log (columns A and B, then the extra
// columns), made by our own writer: a log a long capture has filled.
void MakeLog(const std::string& path, int rows) {
    workbook::TTabulon4 book;
    book.SetVersion(workbook::xvExcel97);
    book.SetFilename(workbook::Utf8ToWide(path));
    workbook::TSheet& sheet = book.Sheet(0);
    sheet.SetAsWideString(0, 0, u"A");
    sheet.SetAsWideString(1, 0, u"B");
    for (int r = 1; r < rows; ++r) {
        sheet.Rows().AddIfNone(static_cast<uint32_t>(r));
        sheet.SetAsWideString(0, r, workbook::Utf8ToWide(std::to_string(10000 + r)));
        sheet.SetAsWideString(1, r, u"old");
        for (int c = 2; c < 2 + kExtraColumns; ++c) sheet.SetAsWideString(c, r, u"note");
    }
    book.Write();
}

// Reading and writing a large workbook takes the writer long; meanwhile the window's event loop
// goes on: timers fire, a line received during the write is in the journal grid before the write
// ends, and the longest pause of the loop is a small part of the write's time. (The longest pause
// and the write's time are recorded as test properties.)
TEST_F(CapturePtyTest, EventLoopKeepsRunningWhileALargeWorkbookIsWritten) {
    constexpr int kOldRows = 65000;
    MakeLog(log_path, kOldRows);
    window->eport->setCurrentIndex(window->eport->findText("COM3"));
    window->aplay->trigger();
    ASSERT_TRUE(window->NlkComPort1()->IsOpen()) << errors.Messages().join("\n").toStdString();

    QElapsedTimer clock;
    qint64 last_tick = 0, longest = 0;
    int ticks = 0;
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last_tick);
        last_tick = now;
        ++ticks;
    });
    clock.start();
    timer.start();
    pty.Write("1234567\r");
    ASSERT_TRUE(test::PumpUntil([&] { return Rows() == 1; }));
    pty.Write("abcdeFGH\r");
    bool second_row_during_write = false;
    while (!(window->LiveLog().Idle() && window->LiveLog().RowsWritten() == 2) && clock.elapsed() < 120000) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        if (Rows() == 2 && !window->LiveLog().Idle()) second_row_during_write = true;
    }
    const qint64 busy = clock.elapsed();
    timer.stop();
    RecordProperty("longest_event_loop_stall_ms", static_cast<int>(longest));
    RecordProperty("read_and_write_ms", static_cast<int>(busy));
    ASSERT_EQ(window->LiveLog().RowsWritten(), 2);
    EXPECT_TRUE(second_row_during_write);
    EXPECT_GT(ticks, 10);
    EXPECT_LT(longest * 4, busy) << "longest stall " << longest << " ms of " << busy << " ms";
    window->aplay->trigger();
    EXPECT_TRUE(errors.Messages().isEmpty()) << errors.Messages().join("\n").toStdString();
    if (test::PythonHasModule("xlrd")) {
        const std::string rows = SheetRows(log_path);
        std::string notes, empty;
        for (int c = 0; c < kExtraColumns; ++c) {
            notes += "|note";
            empty += "|";
        }
        EXPECT_TRUE(rows.ends_with("\n" + std::to_string(10000 + kOldRows - 1) + "|old" + notes +
                                   "\n12345|567" + empty + "\nabcde|FGH" + empty + "\n"))
            << rows.substr(rows.size() > 200 ? rows.size() - 200 : 0);
    }
}

TEST_F(CapturePtyTest, WithoutAChosenPortTheOperatorIsAsked) {
    ASSERT_EQ(window->eport->currentIndex(), -1);
    QStringList listed;
    auto asked = test::WhenModal([&](QWidget* modal) {
        auto* form = qobject_cast<TComSelectForm*>(modal);
        ASSERT_NE(form, nullptr);
        for (int i = 0; i < form->PortsComboBox->count(); ++i) listed << form->PortsComboBox->itemText(i);
        form->PortsComboBox->setCurrentIndex(form->PortsComboBox->findText("COM3"));
        form->OkBtn->click();
    });
    window->aplay->trigger();
    ASSERT_TRUE(*asked);
    EXPECT_TRUE(listed.contains("COM3"));
    ASSERT_TRUE(window->NlkComPort1()->IsOpen()) << errors.Messages().join("\n").toStdString();
    pty.Write("1234567\r");
    ASSERT_TRUE(test::PumpUntil([&] { return Rows() == 1; }));
    window->aplay->trigger();
    EXPECT_FALSE(window->NlkComPort1()->IsOpen());

    // Refused: the port stays closed and the operator is told why.
    asked = test::WhenModal([](QWidget* modal) { qobject_cast<TComSelectForm*>(modal)->AbortBtn->click(); });
    window->aplay->trigger();
    ASSERT_TRUE(*asked);
    EXPECT_FALSE(window->NlkComPort1()->IsOpen());
    ASSERT_EQ(errors.Messages().size(), 1);
    EXPECT_EQ(errors.Messages()[0], "The ComNumber property of the TNlkComPort has not been set.");
}

// The device behind the port vanishes (the master closes) and comes back behind the same link:
// the window says so in its status bar and above the journal, keeps the rows it has, waits with
// "Остановить" offered, and goes on once the device is back.
TEST_F(CapturePtyTest, AnUnpluggedDeviceIsShownAndReopenedWhenItIsBack) {
    window->eport->setCurrentIndex(window->eport->findText("COM3"));
    window->aplay->trigger();
    ASSERT_TRUE(window->NlkComPort1()->IsOpen()) << errors.Messages().join("\n").toStdString();
    pty.Write("abcdeFGH\r");
    ASSERT_TRUE(test::PumpUntil([&] { return Rows() == 1; }));
    pty.CloseMaster();
    const QString device = QString::fromStdString((ports / "com3").string());
    ASSERT_TRUE(test::PumpUntil([&] {
        return window->StatusText().startsWith("disconnected: " + device + " at ");
    })) << window->StatusText().toStdString();
    EXPECT_TRUE(window->TabSheet1->PortState->isVisibleTo(window.get()));
    EXPECT_EQ(window->TabSheet1->PortState->text(), window->StatusText());
    EXPECT_TRUE(test::PumpUntil([&] { return window->aplay->text() == "Остановить"; })) << "still capturing";
    EXPECT_EQ(Rows(), 1);

    // The path comes back as something that is no serial port: the wait goes on, and why the
    // reopen failed is shown.
    std::filesystem::remove(ports / "com3");
    std::filesystem::create_symlink("/dev/null", ports / "com3");
    ASSERT_TRUE(test::PumpUntil([&] {
        return window->StatusText().contains("last attempt to reopen failed: ");
    })) << window->StatusText().toStdString();
    EXPECT_TRUE(window->StatusText().startsWith("disconnected: " + device + " at "));
    EXPECT_EQ(window->TabSheet1->PortState->text(), window->StatusText());
    EXPECT_TRUE(window->TabSheet1->PortState->isVisibleTo(window.get()));

    PtyPair second;
    std::filesystem::remove(ports / "com3");
    std::filesystem::create_symlink(second.slave_path(), ports / "com3");
    ASSERT_TRUE(test::PumpUntil([&] { return window->StatusText().startsWith("reconnected: " + device); }))
        << window->StatusText().toStdString();
    EXPECT_FALSE(window->TabSheet1->PortState->isVisibleTo(window.get()));
    second.Write("12345678\r");
    ASSERT_TRUE(test::PumpUntil([&] { return Rows() == 2; }));
    EXPECT_TRUE(errors.Messages().isEmpty()) << errors.Messages().join("\n").toStdString();
    window->aplay->trigger();
    EXPECT_FALSE(window->NlkComPort1()->IsOpen());
}

// Stopping while the device is away ends the wait: it is not reopened when it comes back.
TEST_F(CapturePtyTest, StopWhileTheDeviceIsAwayEndsTheWait) {
    window->eport->setCurrentIndex(window->eport->findText("COM3"));
    window->aplay->trigger();
    ASSERT_TRUE(window->NlkComPort1()->IsOpen());
    pty.CloseMaster();
    ASSERT_TRUE(test::PumpUntil([&] { return window->StatusText().startsWith("disconnected: "); }));
    window->aplay->trigger();
    EXPECT_FALSE(window->NlkComPort1()->IsOpen());
    PtyPair second;
    std::filesystem::remove(ports / "com3");
    std::filesystem::create_symlink(second.slave_path(), ports / "com3");
    int rounds = 0;
    test::PumpUntil([&] { return ++rounds > 200; });
    EXPECT_FALSE(window->NlkComPort1()->IsOpen());
    EXPECT_TRUE(test::PumpUntil([&] { return window->aplay->text() == "Начать сбор"; }));
}

}  // namespace
}  // namespace linograf
