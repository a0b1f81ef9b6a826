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
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/cat_command.h"
#include "tests/core/peer_sheet.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "text/cp1251.h"
#include "text/wide_text.h"
#include "workbook/model/tabulon4.h"

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
        // Lines already received when the sixth ended are logged too.
        std::smatch counted;
        ASSERT_TRUE(std::regex_search(run.output, counted,
                                      std::regex(R"((\d+) lines received, (\d+) written, 1 file, 0 errors)")))
            << run.output;
        const std::size_t lines = std::stoul(counted[1]);
        EXPECT_GE(lines, 6u);
        EXPECT_EQ(counted[2], counted[1]);

        // The one file the summary names.
        const std::regex named("\n  (.*scale_\\d{8}\\" + std::string(ext) + ")\n");
        std::smatch match;
        ASSERT_TRUE(std::regex_search(run.output, match, named)) << run.output;
        const std::string path = match[1];

        const test::PeerSheet sheet = test::ReadPeerSheet(path);
        ASSERT_TRUE(sheet.ok) << sheet.error;
        ASSERT_EQ(sheet.rows.size(), lines + 1);
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
    // At least four lines; those already received when the fourth ended are logged as well.
    ASSERT_GE(sheet.rows.size(), 5u);
    EXPECT_NE(run.output.find(std::to_string(sheet.rows.size() - 1) + " lines received, " +
                              std::to_string(sheet.rows.size() - 1) + " written"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(sheet.rows[0], (std::vector<std::string>{"N", "Имя", "Twice"}));
    // Consecutive lines (those sent before the port opened may be gone), each whole.
    const int first = std::stoi(sheet.rows[1].at(0));
    for (int r = 1; r < static_cast<int>(sheet.rows.size()); ++r) {
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
    EXPECT_NE(run.output.find("3 lines received, 3 written, 1 file, 0 errors"), std::string::npos)
        << run.output;
    EXPECT_EQ(test::ReadPeerSheet(path).rows, (Rows{{"V"}, {"12345"}, {"67890"}, {"42"}}));
}

TEST_F(CaptureCommandTest, RowsThatCannotBeWrittenMakeTheExitStatusAnError) {
    // A file stands where the folder would be made.
    test::WriteFileBytes(dir.File("blocked"), "x");
    const std::string path = dir.File("blocked/stdin.xls");
    const test::CommandResult run =
        Linograf({"capture", "--stdin", "--format", "V:2", "--file", path}, "ab\rcd\rpart");
    EXPECT_EQ(run.exit_code, 1) << run.output << run.errors;
    EXPECT_NE(run.errors.find(path), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find("2 of 2 received lines are not in a file"), std::string::npos) << run.errors;
    EXPECT_NE(run.output.find("2 lines received, 0 written, 0 files"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("4 bytes of an unfinished line"), std::string::npos) << run.output;
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
    EXPECT_NE(summary.find("2 lines received, 2 written, 1 file, 0 errors"), std::string::npos) << summary;
}

// A pseudo-terminal in raw mode: the program opens the slave by its name, the test plays the
// device on the master.
struct RawPty {
    RawPty() {
        char buffer[256] = {};
        if (::openpty(&master, &slave, buffer, nullptr, nullptr) != 0) return;
        name = buffer;
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
    }
    ~RawPty() {
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
    }
    void Write(const std::string& bytes) const {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (errno != EINTR && errno != EAGAIN)
                return;
        }
    }
    int master = -1, slave = -1;
    std::string name;
};

// Line n as the device sends it for the format ID:6,NAME:10,VALUE:12, and the row it becomes.
std::string DeviceLine(int n) {
    char line[64];
    std::snprintf(line, sizeof line, "%6d%10s%12d\r\n", n, ("x" + std::to_string(n)).c_str(), 3 * n);
    return line;
}
std::vector<std::string> DeviceRow(int n) {
    return {std::to_string(n), "x" + std::to_string(n), std::to_string(3 * n)};
}

// True once process `pid` holds `path` open.
bool HoldsOpen(pid_t pid, const std::string& path) {
    std::error_code error;
    const std::filesystem::path wanted = std::filesystem::canonical(path, error);
    for (const auto& fd :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code ignored;
        if (std::filesystem::read_symlink(fd.path(), ignored) == wanted) return true;
    }
    return false;
}

// The built program, started with its standard output into a pipe (returned in `out`) and its
// standard error to /dev/null.
pid_t Spawn(std::vector<std::string> arguments, int* out) {
    arguments.insert(arguments.begin(), LINOGRAF_PROGRAM);
    int pipe_fds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out != nullptr && ::pipe(pipe_fds) == 0) {
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (out != nullptr) {
        ::close(pipe_fds[1]);
        *out = pipe_fds[0];
    }
    return pid;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return text;
}

// A log of `rows` rows (header included) in the layout the capture below writes, made by our own
// writer: a workbook a long capture has already filled.
void MakeLog(const std::string& path, int rows) {
    workbook::TTabulon4 book;
    book.SetVersion(path.ends_with(".xlsx") ? workbook::xvExcel2007 : workbook::xvExcel97);
    book.SetFilename(workbook::Utf8ToWide(path));
    workbook::TSheet& sheet = book.Sheet(0);
    const char16_t* titles[] = {u"ID", u"NAME", u"VALUE"};
    for (int c = 0; c < 3; ++c) sheet.SetAsWideString(c, 0, titles[c]);
    for (int r = 1; r < rows; ++r) {
        sheet.Rows().AddIfNone(static_cast<uint32_t>(r));
        for (int c = 0; c < 3; ++c)
            sheet.SetAsWideString(c, r, workbook::Utf8ToWide(DeviceRow(-r)[static_cast<std::size_t>(c)]));
    }
    book.Write();
}

// A device that sends faster than a large workbook can be written: every line goes into the file,
// in order, although the rows share writes; Ctrl+C right after the last line still writes every
// line received before the program ends, and the summary says so.
TEST_F(CaptureCommandTest, FastDeviceIntoALargeWorkbookLosesNoLineOnInterrupt) {
    constexpr int kOldRows = 30000, kLines = 1000;
    for (const char* ext : {".xls", ".xlsx"}) {
        SCOPED_TRACE(ext);
        const std::string path = dir.File(std::string("fast") + ext);
        MakeLog(path, kOldRows);
        RawPty device;
        ASSERT_FALSE(device.name.empty());
        int out = -1;
        const pid_t pid =
            Spawn({"capture", "--device", device.name, "--baud", "115200", "--parity", "none", "--format",
                   "ID:6,NAME:10,VALUE:12", "--file", path, "--ini=" + dir.File("none.ini")},
                  &out);
        ASSERT_GT(pid, 0);
        bool opened = false;
        for (int i = 0; i < 1000 && !opened; ++i) {
            opened = HoldsOpen(pid, device.name);
            if (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(opened);
        // 500 lines a second, in small bursts: far more than one line per write of this file.
        for (int n = 1; n <= kLines; ++n) {
            device.Write(DeviceLine(n));
            if (n % 5 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        device.Write("12345");  // an unfinished line: no row; with the LF before it, 6 bytes
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::kill(pid, SIGINT);
        const std::string summary = ReadAll(out);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 0) << summary;
        EXPECT_NE(summary.find(
                      "1000 lines received, 1000 written, 1 file, 0 errors; 6 bytes of an unfinished line"),
                  std::string::npos)
            << summary;

        const test::PeerSheet sheet = test::ReadPeerSheet(path);
        ASSERT_TRUE(sheet.ok) << sheet.error;
        ASSERT_EQ(sheet.rows.size(), static_cast<std::size_t>(kOldRows + kLines));
        EXPECT_EQ(sheet.rows[kOldRows - 1], DeviceRow(-(kOldRows - 1)));
        for (int n = 1; n <= kLines; ++n) ASSERT_EQ(sheet.rows[kOldRows + n - 1], DeviceRow(n)) << n;
    }
}

// SIGKILL at random moments of a fast capture never leaves a workbook that fails to open, and what
// it holds is the device's lines in order. The temporary file a killed write leaves is removed
// when logging to that file starts again.
TEST_F(CaptureCommandTest, KilledCaptureLeavesAWorkbookThatOpensWithRowsInOrder) {
    std::mt19937 random(std::random_device{}());
    for (const char* ext : {".xls", ".xlsx"}) {
        const std::string name = std::string("killed") + ext;
        const std::string path = dir.File(name);
        MakeLog(path, 5000);
        int next = 1;  // the next line number the device sends
        for (int round = 1; round <= 4; ++round) {
            SCOPED_TRACE(std::string(ext) + " round " + std::to_string(round));
            RawPty device;
            const pid_t pid = Spawn({"capture", "--device", device.name, "--format", "ID:6,NAME:10,VALUE:12",
                                     "--file", path, "--ini=" + dir.File("none.ini")},
                                    nullptr);
            ASSERT_GT(pid, 0);
            for (int i = 0; i < 1000 && !HoldsOpen(pid, device.name); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            // A different moment each round: somewhere in the reading, a write or between them.
            const auto until =
                std::chrono::steady_clock::now() +
                std::chrono::milliseconds(std::uniform_int_distribution<int>(100, 1500)(random));
            while (std::chrono::steady_clock::now() < until) {
                device.Write(DeviceLine(next++));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            ::kill(pid, SIGKILL);
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);

            const test::PeerSheet sheet = test::ReadPeerSheet(path);
            ASSERT_TRUE(sheet.ok) << sheet.error;
            ASSERT_GE(sheet.rows.size(), 5000u);
            EXPECT_EQ(sheet.rows[4999], DeviceRow(-4999));
            // The rows after the old ones: device lines with rising numbers, each whole.
            int last = 0;
            for (std::size_t r = 5000; r < sheet.rows.size(); ++r) {
                ASSERT_EQ(sheet.rows[r].size(), 3u) << r;
                const int n = std::stoi(sheet.rows[r][0]);
                ASSERT_GT(n, last) << r;
                ASSERT_LT(n, next) << r;
                ASSERT_EQ(sheet.rows[r], DeviceRow(n)) << r;
                last = n;
            }
        }
        // A capture that starts logging to the file again sweeps what a killed write left.
        const std::string stale = dir.File("." + name + ".a1b2c3d4.tmp");
        test::WriteFileBytes(stale, "cut short");
        const test::CommandResult again = Linograf(
            {"capture", "--stdin", "--format", "ID:6,NAME:10,VALUE:12", "--file", path}, DeviceLine(next));
        EXPECT_EQ(again.exit_code, 0) << again.output << again.errors;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            EXPECT_FALSE(entry.path().filename().string().starts_with("." + name + ".")) << entry.path();
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
        {"--seconds", "0"},
        {"--seconds", "nan"},
        {"--seconds"},
        {"--demo-rate", "0.05"},
        {"--demo-rate", "1e4"},
        {"--health-seconds", "2x"},
        {"--demo=yes"},
        {"--file", ""},
        {"--encoding", "NO-SUCH-ENCODING"},
        {"--timestamp=yes"},
        {"--status-file", ""},
        {"--health-seconds", "0"},
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
