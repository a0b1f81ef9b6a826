// The command line end to end: the built program captures from a pseudo-terminal (its own
// simulated scale, or one the test writes into), from standard input, and prints workbooks back;
// python3-xlrd and python3-openpyxl read what it wrote.
#include "cli/capture_command.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/cat_command.h"
#include "text/cp1251.h"
#include "tests/core/peer_sheet.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace linograf {
namespace {

using Rows = std::vector<std::vector<std::string>>;

std::string Program() {
    return LINOGRAF_PROGRAM;
}

// `linograf cat` output split back into cells.
Rows CatRows(const std::string& output) {
    Rows rows;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> row;
        std::string cell;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\t') {
                row.push_back(cell);
                cell.clear();
            } else if (line[i] == '\\' && i + 1 < line.size()) {
                const char c = line[++i];
                cell += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
            } else {
                cell += line[i];
            }
        }
        row.push_back(cell);
        while (!row.empty() && row.back().empty()) row.pop_back();
        rows.push_back(row);
    }
    return rows;
}

class CaptureCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::PythonHasModule("xlrd") || !test::PythonHasModule("openpyxl"))
            GTEST_SKIP() << "python3-xlrd or python3-openpyxl missing";
    }
    test::CommandResult Linograf(std::vector<std::string> arguments, const std::string& input = {}) {
        arguments.insert(arguments.begin(), Program());
        arguments.push_back("--ini=" + dir.File("none.ini"));
        return test::RunCommand(arguments, input);
    }
    test::TempDir dir;
};

TEST_F(CaptureCommandTest, DemoScaleIsCapturedIntoAWorkbookThroughItsPseudoTerminal) {
    for (const char* ext : {".xls", ".xlsx"}) {
        SCOPED_TRACE(ext);
        const std::string file_template = dir.File(std::string("scale_{yyyy}{mm}{dd}") + ext);
        const test::CommandResult run =
            Linograf({"capture", "--demo", "--demo-rate", "200", "--lines", "6", "--file", file_template});
        ASSERT_EQ(run.exit_code, 0) << run.output << run.errors;
        EXPECT_NE(run.output.find("6 lines, 1 file, 0 errors"), std::string::npos) << run.output;

        // The one file the summary names.
        const std::regex named("\n  (.*scale_\\d{8}\\" + std::string(ext) + ")\n");
        std::smatch match;
        ASSERT_TRUE(std::regex_search(run.output, match, named)) << run.output;
        const std::string path = match[1];

        const test::PeerSheet sheet = test::ReadPeerSheet(path);
        ASSERT_TRUE(sheet.ok) << sheet.error;
        ASSERT_EQ(sheet.rows.size(), 7u);
        EXPECT_EQ(sheet.rows[0],
                  (std::vector<std::string>{"Дата", "Время", "Брутто", "Тара", "Нетто", "Ед"}));
        const std::regex date(R"(\d\d\.\d\d\.\d{4})"), time(R"(\d\d:\d\d:\d\d)"), weight(R"(\d+\.\d)");
        for (std::size_t r = 1; r < sheet.rows.size(); ++r) {
            const std::vector<std::string>& row = sheet.rows[r];
            ASSERT_EQ(row.size(), 6u) << r;
            EXPECT_TRUE(std::regex_match(row[0], date)) << row[0];
            EXPECT_TRUE(std::regex_match(row[1], time)) << row[1];
            for (int c = 2; c <= 4; ++c) EXPECT_TRUE(std::regex_match(row[c], weight)) << row[c];
            // Net is gross less tare: the fields were cut at the right places.
            EXPECT_NEAR(std::stod(row[2]) - std::stod(row[3]), std::stod(row[4]), 0.05) << r;
            EXPECT_EQ(row[5], "kg");
        }
        // Our own reader prints what the peer reads.
        const test::CommandResult cat = test::RunCommand({Program(), "cat", path});
        ASSERT_EQ(cat.exit_code, 0) << cat.errors;
        EXPECT_EQ(CatRows(cat.output), sheet.rows);
    }
}

// Lines the test writes into a pseudo-terminal reach the workbook through the serial device.
TEST_F(CaptureCommandTest, DeviceLinesWithWindows1251TextReachTheWorkbook) {
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    const std::string path = dir.File("device.xls");
    auto capture = std::async(std::launch::async, [&] {
        return Linograf({"capture", "--device", name, "--baud", "19200", "--parity", "none", "--format",
                         "N:6,Имя:4,Twice:8", "--file", path, "--lines", "4"});
    });
    // Until the program has its four lines: numbered lines, CR LF ended, with "Вес" in Windows-1251.
    for (int n = 0; n < 100000 && capture.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready;
         ++n) {
        char line[64];
        const int length =
            std::snprintf(line, sizeof line, "%6d %s%8d\r\n", n, Utf8ToCp1251("Вес").c_str(), 2 * n);
        pollfd p{master, POLLOUT, 0};
        if (::poll(&p, 1, 20) == 1) (void)::write(master, line, static_cast<std::size_t>(length));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const test::CommandResult run = capture.get();
    ::close(master);
    ::close(slave);
    ASSERT_EQ(run.exit_code, 0) << run.output << run.errors;

    const test::PeerSheet sheet = test::ReadPeerSheet(path);
    ASSERT_TRUE(sheet.ok) << sheet.error;
    ASSERT_EQ(sheet.rows.size(), 5u);
    EXPECT_EQ(sheet.rows[0], (std::vector<std::string>{"N", "Имя", "Twice"}));
    // Four consecutive lines (those sent before the port opened may be gone), each whole.
    const int first = std::stoi(sheet.rows[1].at(0));
    for (int r = 1; r <= 4; ++r) {
        const int n = first + r - 1;
        EXPECT_EQ(sheet.rows[r], (std::vector<std::string>{std::to_string(n), "Вес", std::to_string(2 * n)}))
            << r;
    }
}

TEST_F(CaptureCommandTest, StandardInputLinesGoIntoTheWorkbook) {
    const std::string path = dir.File("stdin.xlsx");
    const test::CommandResult run =
        Linograf({"capture", "--stdin", "--format", "V:5", "--file", path}, "12345\r\n67890\r\n  42 \r");
    ASSERT_EQ(run.exit_code, 0) << run.output << run.errors;
    EXPECT_NE(run.output.find("3 lines, 1 file, 0 errors"), std::string::npos) << run.output;
    EXPECT_EQ(test::ReadPeerSheet(path).rows, (Rows{{"V"}, {"12345"}, {"67890"}, {"42"}}));
}

TEST_F(CaptureCommandTest, RowsThatCannotBeWrittenMakeTheExitStatusAnError) {
    const std::string path = dir.File("missing/stdin.xls");
    const test::CommandResult run =
        Linograf({"capture", "--stdin", "--format", "V:2", "--file", path}, "ab\rcd\r");
    EXPECT_EQ(run.exit_code, 1) << run.output << run.errors;
    EXPECT_NE(run.errors.find(path), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find("2 rows are not in the file"), std::string::npos) << run.errors;
    EXPECT_NE(run.output.find("2 lines, 0 files, 3 errors"), std::string::npos) << run.output;
}

// SIGTERM ends a capture that has no limit: the summary is printed and the exit status is 0.
TEST_F(CaptureCommandTest, SignalEndsCaptureWithItsSummary) {
    const std::string path = dir.File("signal.xls");
    int in[2], out[2];
    ASSERT_EQ(::pipe(in), 0);
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string program = Program(), ini = "--ini=" + dir.File("none.ini");
    std::vector<std::string> arguments = {program, "capture", "--stdin", "--format",
                                          "V:3",   "--file",  path,      ini};
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ASSERT_EQ(::write(in[1], "one\rtwo\r", 8), 8);

    // Standard input stays open: only the signal can end the run. Wait until both rows are in.
    bool written = false;
    for (int i = 0; i < 600 && !written; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        written = test::ReadPeerSheet(path).rows == Rows{{"V"}, {"one"}, {"two"}};
    }
    EXPECT_TRUE(written);
    ::kill(pid, SIGTERM);
    std::string summary;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) summary.append(buffer, n);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(in[1]);
    ::close(out[0]);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(summary.find("2 lines, 1 file, 0 errors"), std::string::npos) << summary;
}

// SIGKILL in the middle of a fast run, at a different row count each time, never leaves a log
// workbook that fails to open: every write replaces the file only with a complete one.
TEST_F(CaptureCommandTest, KilledCaptureLeavesAWorkbookThatOpens) {
    for (const char* ext : {".xls", ".xlsx"}) {
        for (int round = 1; round <= 3; ++round) {
            SCOPED_TRACE(std::string(ext) + " round " + std::to_string(round));
            const std::string path = dir.File("killed" + std::to_string(round) + ext);
            const std::string program = Program(), ini = "--ini=" + dir.File("none.ini");
            std::vector<std::string> arguments = {program, "capture", "--demo", "--demo-rate",
                                                  "1000",  "--file",  path,     ini};
            std::vector<char*> argv;
            for (std::string& a : arguments) argv.push_back(a.data());
            argv.push_back(nullptr);
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
            pid_t pid = -1;
            ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
            posix_spawn_file_actions_destroy(&actions);
            // Kill once the file holds a number of rows that grows with the round.
            std::size_t rows = 0;
            for (int i = 0; i < 600 && rows < static_cast<std::size_t>(20 * round); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                rows = std::filesystem::exists(path) ? test::ReadPeerSheet(path).rows.size() : 0;
            }
            ::kill(pid, SIGKILL);
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            const test::PeerSheet sheet = test::ReadPeerSheet(path);
            ASSERT_TRUE(sheet.ok) << sheet.error;
            EXPECT_GE(sheet.rows.size(), rows);
            EXPECT_EQ(sheet.rows.at(0).at(0), "Дата");
        }
    }
}

TEST_F(CaptureCommandTest, CatPrintsEveryRowWithEscapedControlCharacters) {
    const std::string path = dir.File("cells.xlsx");
    const test::CommandResult made = test::RunPython(R"PY(
import sys, openpyxl
wb = openpyxl.Workbook()
ws = wb.active
ws['A1'] = 'tab\there'
ws['C1'] = 'back\\slash'
ws['B3'] = 'two\nlines\r'
ws['A4'] = 'Журнал'
wb.create_sheet('second')['B2'] = 'x'
wb.save(sys.argv[1])
)PY",
                                                     {path});
    ASSERT_EQ(made.exit_code, 0) << made.errors;

    const test::CommandResult first = test::RunCommand({Program(), "cat", path});
    ASSERT_EQ(first.exit_code, 0) << first.errors;
    EXPECT_EQ(first.output, "tab\\there\t\tback\\\\slash\n\n\ttwo\\nlines\\r\nЖурнал\n");
    const test::CommandResult second = test::RunCommand({Program(), "cat", "--sheet", "1", path});
    EXPECT_EQ(second.output, "\n\tx\n");
    const test::CommandResult missing = test::RunCommand({Program(), "cat", path, "--sheet=2"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.errors.find("no sheet 2"), std::string::npos) << missing.errors;
    const test::CommandResult unreadable = test::RunCommand({Program(), "cat", dir.File("none.xls")});
    EXPECT_EQ(unreadable.exit_code, 1);
    EXPECT_NE(unreadable.errors.find("none.xls"), std::string::npos) << unreadable.errors;
}

TEST(CaptureOptions, WrongCommandLinesAreRefused) {
    const std::vector<std::vector<std::string>> wrong = {
        {"--bogus"},
        {"--port", "0"},
        {"--port", "65"},
        {"--device", "/dev/null", "--demo"},
        {"--stdin", "--port", "3"},
        {"--baud", "fast"},
        {"--data-bits", "4"},
        {"--parity", "Чет"},
        {"--stop-bits", "3"},
        {"--flow", "rts"},
        {"--format", "A"},
        {"--format", "A:3,B"},
        {"--format", "A:x"},
        {"--format", ""},
        {"--lines", "0"},
        {"--seconds", "-1"},
        {"--seconds"},
        {"--demo=yes"},
        {"--file", ""},
    };
    for (const auto& arguments : wrong) {
        std::string shown;
        for (const std::string& a : arguments) shown += a + " ";
        EXPECT_THROW(ParseCaptureOptions(arguments), ECaptureUsage) << shown;
    }
}

TEST(CaptureOptions, OptionsOverrideTheirSettings) {
    const TCaptureOptions o = ParseCaptureOptions({"--device=/dev/ttyUSB3", "--baud", "115200", "--data-bits",
                                                   "7", "--parity", "even", "--stop-bits", "1.5", "--flow",
                                                   "hardware", "--format", "Дата:10,a:b:2,x:-1", "--file",
                                                   "d_{dd}.xlsx", "--lines", "10", "--seconds", "2.5"});
    EXPECT_EQ(o.source, TCaptureSource::kDevice);
    EXPECT_EQ(o.device, "/dev/ttyUSB3");
    EXPECT_EQ(o.baud, 115200);
    EXPECT_EQ(o.data_bits, 7);
    EXPECT_EQ(o.parity, TPortParity::pEven);
    EXPECT_EQ(o.stop_bits, 2);
    EXPECT_EQ(o.flow, TPortFlow::kHardware);
    EXPECT_EQ(o.lines, 10);
    EXPECT_EQ(o.seconds, 2.5);
    EXPECT_EQ(ParseFormatOption(*o.format),
              (std::vector<std::pair<std::string, int>>{{"Дата", 10}, {"a:b", 2}, {"x", -1}}));
}

TEST(CaptureOptions, CellTextEscapes) {
    EXPECT_EQ(EscapeCellText("a\tb\rc\nd\\e"), "a\\tb\\rc\\nd\\\\e");
    EXPECT_EQ(EscapeCellText("Журнал"), "Журнал");
}

}  // namespace
}  // namespace linograf
