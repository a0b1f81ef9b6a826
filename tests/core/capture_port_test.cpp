// `linograf capture` on a real serial device that goes away and comes back, and `linograf ports`;
// what a service needs of it: arrival times, device encodings, the status file, health lines.
// The built program runs as its own process on pseudo-terminals the test plays the device on
// (closing the master is the unplug); python3-xlrd and python3-openpyxl read what it wrote.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/core/peer_sheet.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

namespace linograf {
namespace {

using namespace std::chrono_literals;
using Rows = std::vector<std::vector<std::string>>;

// One pseudo-terminal; the test keeps a descriptor of the slave for looking at it.
struct Pty {
    Pty() {
        char buffer[256] = {};
        // openpty without <pty.h>, whose termios clashes with the kernel's termios2 used here.
        // Close-on-exec: the program under test must not inherit the master, or closing it here
        // would not hang the terminal up.
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
            ::ptsname_r(master, buffer, sizeof buffer) != 0)
            throw std::runtime_error("no pseudo-terminal");
        name = buffer;
        slave = ::open(buffer, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) throw std::runtime_error("cannot open " + name);
    }
    ~Pty() {
        Unplug();
        if (slave >= 0) ::close(slave);
    }
    void Write(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += static_cast<std::size_t>(n);
        }
    }
    // Waits until the program's port has read everything written (the slave's input queue is
    // shared by every descriptor of the terminal).
    bool Drained() const {
        // Written bytes reach the slave's queue a moment later (a kernel work item).
        std::this_thread::sleep_for(50ms);
        for (int i = 0; i < 5000; ++i) {
            int waiting = 0;
            if (::ioctl(slave, FIONREAD, &waiting) != 0) return false;
            if (waiting == 0) return true;
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }
    termios2 Settings() const {
        termios2 t{};
        ::ioctl(slave, TCGETS2, &t);
        return t;
    }
    void Unplug() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    int master = -1, slave = -1;
    std::string name;
};

class CapturePortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::PythonHasModule("openpyxl")) GTEST_SKIP() << "python3-openpyxl missing";
    }
    // `ini`: the settings file (by default one that does not exist). Every run keeps a status
    // file, by which the test sees when the port is open.
    std::future<test::CommandResult> Capture(std::vector<std::string> arguments, std::string ini = {}) {
        const auto given = std::find(arguments.begin(), arguments.end(), "--status-file");
        if (given != arguments.end() && given + 1 != arguments.end()) {
            status_path_ = *(given + 1);
        } else {
            status_path_ = dir.File("opened-status.json");
            arguments.insert(arguments.end(), {"--status-file", status_path_});
        }
        std::filesystem::remove(status_path_);
        arguments.insert(arguments.begin(), {LINOGRAF_PROGRAM, "capture"});
        arguments.push_back("--ini=" + (ini.empty() ? dir.File("none.ini") : ini));
        return std::async(std::launch::async, [arguments] { return test::RunCommand(arguments); });
    }
    // Until the program has the terminal open with its own settings and reads it. The speed
    // changes first (the one the test set gives way to the program's); the open then discards
    // the input already waiting and starts the port threads, and only then does the program write
    // its first status file. A reopen after an unplug changes the status file only when its state
    // was seen to change, so there the test gives the reopen the second a sanitizer build on a busy
    // machine may take.
    bool WaitOpened(const Pty& pty, unsigned before) const {
        const bool first_open = !std::filesystem::exists(status_path_);
        bool speed_changed = false;
        for (int i = 0; i < 10000 && !speed_changed; ++i) {
            speed_changed = pty.Settings().c_ospeed != before;
            if (!speed_changed) std::this_thread::sleep_for(1ms);
        }
        if (!speed_changed) return false;
        if (!first_open) {
            std::this_thread::sleep_for(1s);
            return true;
        }
        for (int i = 0; i < 30000; ++i) {
            if (std::filesystem::exists(status_path_)) return true;
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }
    static void SetSpeed(const Pty& pty, unsigned speed, tcflag_t extra) {
        termios2 t = pty.Settings();
        t.c_cflag &= ~(CBAUD | CSIZE | PARENB | PARODD | CSTOPB);
        t.c_cflag |= BOTHER | CS7 | extra;
        t.c_ispeed = t.c_ospeed = speed;
        ::ioctl(pty.slave, TCSETS2, &t);
    }
    test::TempDir dir;
    std::string status_path_;
};

TEST_F(CapturePortTest, WithoutSettingsOrOptionsThePortOpensAt9600EightNoneOne) {
    Pty pty;
    // Something else first (7 data bits, even parity, 2 stop bits), so the program's own
    // settings show.
    SetSpeed(pty, 38400, PARENB | CSTOPB);
    const std::string path = dir.File("plain.xlsx");
    auto run = Capture({"--device", pty.name, "--format", "V:3", "--file", path, "--lines", "1"});
    ASSERT_TRUE(WaitOpened(pty, 38400));
    pty.Write("abc\r");
    const test::CommandResult result = run.get();
    ASSERT_EQ(result.exit_code, 0) << result.output << result.errors;
    // The terminal keeps what the program set (its close changes nothing).
    const termios2 t = pty.Settings();
    EXPECT_EQ(t.c_ospeed, 9600u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & PARENB, 0u);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(test::ReadPeerSheet(path).rows, (Rows{{"V"}, {"abc"}}));
}

// The unplug comes right after a burst of lines, the last one unfinished: every finished line is
// in the file, the unfinished one is reported, and the capture ends with an error status.
TEST_F(CapturePortTest, UnplugWithoutReconnectEndsWithAnErrorAndKeepsEveryFinishedLine) {
    Pty pty;
    SetSpeed(pty, 38400, 0);
    const std::string path = dir.File("unplug.xlsx");
    auto run = Capture({"--device", pty.name, "--no-reconnect", "--format", "N:4", "--file", path});
    ASSERT_TRUE(WaitOpened(pty, 38400));
    std::string burst;
    for (int n = 1; n <= 40; ++n) burst += std::to_string(1000 + n) + "\r";
    pty.Write(burst + "99");
    ASSERT_TRUE(pty.Drained());
    pty.Unplug();
    ASSERT_EQ(run.wait_for(30s), std::future_status::ready) << "the capture ends by itself";
    const test::CommandResult result = run.get();
    EXPECT_NE(result.exit_code, 0) << result.output;
    EXPECT_NE(result.errors.find("disconnected: " + pty.name + " at "), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("2 bytes of its unfinished line"), std::string::npos) << result.errors;
    EXPECT_NE(result.output.find("40 lines"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("disconnected: " + pty.name), std::string::npos) << result.output;
    Rows expected{{"N"}};
    for (int n = 1; n <= 40; ++n) expected.push_back({std::to_string(1000 + n)});
    EXPECT_EQ(test::ReadPeerSheet(path).rows, expected);
}

// A link stands in for /dev/serial/by-id: the device comes back as another terminal behind the
// same name, and the capture goes on there with nothing lost or written twice.
TEST_F(CapturePortTest, TheDeviceComingBackUnderItsLinkIsReopened) {
    const std::string link = dir.File("usb-Scale_0001-if00-port0");
    auto first = std::make_unique<Pty>();
    SetSpeed(*first, 38400, 0);
    std::filesystem::create_symlink(first->name, link);
    const std::string path = dir.File("reconnect.xlsx");
    // A field wider than the lines: a line that carried bytes from before the unplug would show.
    auto run = Capture({"--device", link, "--format", "V:6", "--file", path, "--lines", "4"});
    ASSERT_TRUE(WaitOpened(*first, 38400));
    first->Write("a1\ra2\rx");
    ASSERT_TRUE(first->Drained());
    first->Unplug();
    std::this_thread::sleep_for(300ms);  // a moment without any device behind the link

    Pty second;
    SetSpeed(second, 38400, 0);
    std::filesystem::remove(link);
    std::filesystem::create_symlink(second.name, link);
    ASSERT_TRUE(WaitOpened(second, 38400)) << "reopened with its settings";
    EXPECT_EQ(second.Settings().c_ospeed, 9600u);
    second.Write("b1\rb2\r");
    ASSERT_EQ(run.wait_for(30s), std::future_status::ready);
    const test::CommandResult result = run.get();
    ASSERT_EQ(result.exit_code, 0) << result.output << result.errors;
    EXPECT_NE(result.errors.find("disconnected: " + link), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("reconnected: " + link), std::string::npos) << result.errors;
    const std::regex summary(
        "\n  disconnected: " + std::regex_replace(link, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
        R"( at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d \(.+\)\n  reconnected: .* at \d{4}-)");
    EXPECT_TRUE(std::regex_search(result.output, summary)) << result.output;
    EXPECT_EQ(test::ReadPeerSheet(path).rows, (Rows{{"V"}, {"a1"}, {"a2"}, {"b1"}, {"b2"}}));
}

TEST_F(CapturePortTest, PortsListsTheFakeTreeWithoutOpeningAnything) {
    namespace fs = std::filesystem;
    const fs::path root = dir.path() / "root";
    const fs::path usb = root / "sys/devices/usb1/1-1";
    fs::create_directories(usb / "1-1:1.0/ttyUSB0/tty/ttyUSB0");
    for (const auto& [file, text] :
         std::vector<std::pair<std::string, std::string>>{{"idVendor", "10c4"},
                                                          {"idProduct", "ea60"},
                                                          {"manufacturer", "Silicon Labs"},
                                                          {"product", "CP2102 USB to UART Bridge Controller"},
                                                          {"serial", "0001"}})
        std::ofstream(usb / file) << text << "\n";
    fs::create_symlink("../../../ttyUSB0", usb / "1-1:1.0/ttyUSB0/tty/ttyUSB0/device");
    fs::create_directories(root / "sys/class/tty");
    fs::create_symlink(usb / "1-1:1.0/ttyUSB0/tty/ttyUSB0", root / "sys/class/tty/ttyUSB0");
    fs::create_directories(root / "dev/serial/by-id");
    std::ofstream(root / "dev/ttyUSB0").put('\0');
    fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-Silicon_Labs_CP2102-if00-port0");

    ::setenv("LINOGRAF_DISCOVERY_ROOT", root.c_str(), 1);
    const test::CommandResult result = test::RunCommand({LINOGRAF_PROGRAM, "ports"});
    ::unsetenv("LINOGRAF_DISCOVERY_ROOT");
    ASSERT_EQ(result.exit_code, 0) << result.errors;
    const std::regex header(R"(^DEVICE +BY-ID +DESCRIPTION +ACCESS\n)");
    EXPECT_TRUE(std::regex_search(result.output, header)) << result.output;
    const std::string row = (root / "dev/ttyUSB0").string() + "  " +
                            (root / "dev/serial/by-id/usb-Silicon_Labs_CP2102-if00-port0").string() +
                            "  Silicon Labs CP2102 USB to UART Bridge Controller (0001)  ";
    EXPECT_NE(result.output.find(row), std::string::npos) << result.output;
}

// Cells of the first sheet after the header as the peer reads them: column 0 as seconds since the
// epoch when the peer takes it for a date (else "text:" and its value), the others as texts.
const char* const kArrivalScript = R"(
import sys, time
path = sys.argv[1]
def epoch(dt):
    return time.mktime(dt.timetuple()) + dt.microsecond / 1e6
if path.endswith('.xls'):
    import xlrd
    book = xlrd.open_workbook(path)
    sheet = book.sheet_by_index(0)
    print(sheet.cell_value(0, 0))
    for r in range(1, sheet.nrows):
        first = sheet.cell(r, 0)
        shown = ('%.3f' % epoch(xlrd.xldate.xldate_as_datetime(first.value, book.datemode))
                 if first.ctype == xlrd.XL_CELL_DATE else 'text:%s' % first.value)
        print('\t'.join([shown] + [str(sheet.cell_value(r, c)) for c in range(1, sheet.ncols)]))
else:
    import openpyxl
    sheet = openpyxl.load_workbook(path).worksheets[0]
    rows = list(sheet.iter_rows())
    print(rows[0][0].value)
    for row in rows[1:]:
        first = row[0]
        shown = '%.3f' % epoch(first.value) if first.is_date else 'text:%s' % first.value
        print('\t'.join([shown] + ['' if c.value is None else str(c.value) for c in row[1:]]))
)";

std::vector<std::vector<std::string>> SplitLines(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            cells.push_back(line.substr(start, tab - start));
        cells.push_back(line.substr(start));
        rows.push_back(cells);
    }
    return rows;
}

double EpochNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Every row starts with the time its line arrived: a real date for both peers, within a second of
// the moment the test wrote the line.
TEST_F(CapturePortTest, TimestampedRowsStartWithTheirArrivalTimeAsRealDates) {
    if (!test::PythonHasModule("xlrd")) GTEST_SKIP() << "python3-xlrd missing";
    for (const char* ext : {".xls", ".xlsx"}) {
        SCOPED_TRACE(ext);
        Pty pty;
        SetSpeed(pty, 38400, 0);
        const std::string path = dir.File(std::string("stamped") + ext);
        constexpr int kLines = 5;
        // The option, or the settings file's key.
        const bool by_option = std::string(ext) == ".xls";
        const std::string ini = dir.File("stamp.ini");
        test::WriteFileBytes(ini, "[app]\ntimestamp=1\n");
        std::vector<std::string> arguments = {"--device", pty.name, "--format", "N:2,V:4",
                                              "--file",   path,     "--lines",  std::to_string(kLines)};
        if (by_option) arguments.push_back("--timestamp");
        auto run = Capture(arguments, by_option ? std::string() : ini);
        ASSERT_TRUE(WaitOpened(pty, 38400));
        std::vector<double> written;
        for (int n = 0; n < kLines; ++n) {
            written.push_back(EpochNow());
            pty.Write(std::to_string(10 + n) + "v" + std::to_string(n) + "xx\r");
            std::this_thread::sleep_for(150ms);
        }
        ASSERT_EQ(run.wait_for(30s), std::future_status::ready);
        const test::CommandResult result = run.get();
        ASSERT_EQ(result.exit_code, 0) << result.output << result.errors;

        const test::CommandResult peer = test::RunPython(kArrivalScript, {path});
        ASSERT_EQ(peer.exit_code, 0) << peer.errors;
        const auto rows = SplitLines(peer.output);
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(kLines + 1)) << peer.output;
        EXPECT_EQ(rows[0], (std::vector<std::string>{"Время поступления"}));
        for (int n = 0; n < kLines; ++n) {
            const auto& row = rows[static_cast<std::size_t>(n + 1)];
            ASSERT_EQ(row.size(), 3u) << peer.output;
            EXPECT_EQ(row[1], std::to_string(10 + n));
            EXPECT_EQ(row[2], "v" + std::to_string(n) + "xx");
            ASSERT_EQ(row[0].rfind("text:", 0), std::string::npos) << "not a date: " << row[0];
            EXPECT_NEAR(std::stod(row[0]), written[static_cast<std::size_t>(n)], 1.0) << n;
        }
    }
}

// Fields are cut from the device's bytes and each is converted from the device's encoding on its
// own; what python's codecs make of the same field bytes (errors replaced, ends trimmed) is
// expected, a character split by the field boundary included.
TEST_F(CapturePortTest, FieldsOfAnotherEncodingAreConvertedEachOnItsOwn) {
    if (!test::PythonHasModule("xlrd")) GTEST_SKIP() << "python3-xlrd missing";
    struct Case {
        const char* encoding;
        const char* ext;
        std::vector<std::string> lines;  // each at least 10 bytes: fields A:5 and B:5 from the right
    };
    const std::vector<Case> cases = {
        {"UTF-8",
         ".xlsx",
         {"\xD0\x92\xD0\xB5\xD1\x81"
          "abcd",
          " \xE2\x82\xAC"
          "1x\xFFyz ",
          "hello world"}},
        {"UTF-8",
         ".xls",
         {"\xD0\x92\xD0\xB5\xD1\x81"
          "abcd",
          "xab\xE2\x82\xAC\xE2\x82\xAC"
          "q"}},
        {"ISO-8859-1",
         ".xls",
         {"caf\xE9 na\xEFve",
          "\xB5\xB0\xA9"
          "AB12345",
          "\xFF\xFE\xFD\xFC\xFB\xE0\xE1\xE2\xE3\xE4"}},
        {"latin1", ".xlsx", {"caf\xE9 na\xEFve", "\xA0\xA0x\xA0\xA0y\xA0\xA0z\xA0"}},
    };
    const char* const expected_script = R"(
import sys
encoding = sys.argv[1]
blanks = ''.join(chr(i) for i in range(33))
for hex_line in sys.argv[2:]:
    line = bytes.fromhex(hex_line)
    fields = [line[-10:-5], line[-5:]]
    print('\t'.join(f.decode(encoding, 'replace').strip(blanks) for f in fields))
)";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.encoding) + c.ext);
        Pty pty;
        SetSpeed(pty, 38400, 0);
        const std::string path = dir.File(std::string("encoded_") + c.encoding + c.ext);
        std::vector<std::string> options = {"--device", pty.name, "--format", "A:5,B:5",
                                            "--file",   path,     "--lines",  std::to_string(c.lines.size())};
        // The .xlsx cases name the encoding in the settings file, the others on the command line.
        const std::string ini = dir.File("encoding.ini");
        test::WriteFileBytes(ini, std::string("[app]\nencoding=") + c.encoding + "\n");
        const bool by_option = std::string(c.ext) == ".xls";
        if (by_option) options.insert(options.end(), {"--encoding", c.encoding});
        auto run = Capture(options, by_option ? std::string() : ini);
        ASSERT_TRUE(WaitOpened(pty, 38400));
        std::vector<std::string> arguments = {c.encoding};
        for (const std::string& line : c.lines) {
            pty.Write(line + "\r");
            std::string hex;
            for (const unsigned char byte : line) {
                char digits[3];
                std::snprintf(digits, sizeof digits, "%02x", byte);
                hex += digits;
            }
            arguments.push_back(hex);
        }
        ASSERT_EQ(run.wait_for(30s), std::future_status::ready);
        const test::CommandResult result = run.get();
        ASSERT_EQ(result.exit_code, 0) << result.output << result.errors;

        const test::CommandResult codecs = test::RunPython(expected_script, arguments);
        ASSERT_EQ(codecs.exit_code, 0) << codecs.errors;
        Rows expected{{"A", "B"}};
        for (auto row : SplitLines(codecs.output)) {
            while (!row.empty() && row.back().empty()) row.pop_back();
            expected.push_back(row);
        }
        EXPECT_EQ(test::ReadPeerSheet(path).rows, expected);
    }
}

// The status file as a monitor reads it (python's json), after each of: the start, a line, the
// device's unplug, its return and the stop.
TEST_F(CapturePortTest, StatusFileParsesAsJsonThroughoutACapture) {
    const char* const status_script = R"(
import json, sys
status = json.load(open(sys.argv[1], encoding='utf-8'))
assert sorted(status) == sorted(['state', 'device', 'file', 'lines_received', 'rows_written',
                                 'rows_waiting', 'last_error']), sorted(status)
print('\t'.join(str(status[k]) for k in ['state', 'device', 'file', 'lines_received', 'rows_written',
                                          'rows_waiting']))
print(status['last_error'])
)";
    const std::string status_path = dir.File("status.json");
    // The fields of the file as python read them, once they satisfy `wanted`.
    auto wait_status = [&](const std::function<bool(const std::vector<std::string>&)>& wanted) {
        std::vector<std::string> fields;
        for (int i = 0; i < 300; ++i) {
            if (std::filesystem::exists(status_path)) {
                const test::CommandResult read = test::RunPython(status_script, {status_path});
                EXPECT_EQ(read.exit_code, 0) << read.errors;
                const auto lines = SplitLines(read.output);
                if (!lines.empty()) fields = lines[0];
                if (fields.size() == 6 && wanted(fields)) return fields;
            }
            std::this_thread::sleep_for(100ms);
        }
        ADD_FAILURE() << "status not reached; last: " << ::testing::PrintToString(fields);
        return fields;
    };

    const std::string link = dir.File("usb-Meter_0002-if00");
    auto first = std::make_unique<Pty>();
    SetSpeed(*first, 38400, 0);
    std::filesystem::create_symlink(first->name, link);
    const std::string path = dir.File("status.xlsx");
    auto run = Capture(
        {"--device", link, "--status-file", status_path, "--format", "V:4", "--file", path, "--lines", "2"});
    ASSERT_TRUE(WaitOpened(*first, 38400));
    auto started = wait_status([](const auto& f) { return f[0] == "capturing"; });
    EXPECT_EQ(started[1], link);
    EXPECT_EQ(started[3], "0");

    first->Write("a1\r");
    auto line = wait_status([](const auto& f) { return f[3] == "1" && f[4] == "1"; });
    EXPECT_EQ(line[0], "capturing");
    EXPECT_EQ(line[2], path);
    EXPECT_EQ(line[5], "0");

    ASSERT_TRUE(first->Drained());
    first->Unplug();
    auto lost = wait_status([](const auto& f) { return f[0] == "reconnecting"; });
    EXPECT_EQ(lost[3], "1");

    Pty second;
    SetSpeed(second, 38400, 0);
    std::filesystem::remove(link);
    std::filesystem::create_symlink(second.name, link);
    ASSERT_TRUE(WaitOpened(second, 38400));
    wait_status([](const auto& f) { return f[0] == "capturing"; });
    second.Write("b2\r");
    ASSERT_EQ(run.wait_for(30s), std::future_status::ready);
    const test::CommandResult result = run.get();
    ASSERT_EQ(result.exit_code, 0) << result.output << result.errors;
    const auto stopped = wait_status([](const auto&) { return true; });
    EXPECT_EQ(stopped, (std::vector<std::string>{"stopped", link, path, "2", "2", "0"}));
}

// Without a terminal on standard error (a service's journal), a health line comes at the interval.
TEST_F(CapturePortTest, HealthLinesGoToStandardErrorWithoutATerminal) {
    const std::string path = dir.File("health.xlsx");
    auto run =
        Capture({"--demo", "--demo-rate", "20", "--seconds", "3.5", "--health-seconds", "1", "--file", path});
    ASSERT_EQ(run.wait_for(60s), std::future_status::ready);
    const test::CommandResult result = run.get();
    ASSERT_EQ(result.exit_code, 0) << result.output << result.errors;
    const std::regex health(
        R"(linograf: health: capturing, (\d+) lines received, (\d+) rows written, (\d+) rows waiting, file )" +
        std::regex_replace(path, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") + "\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(result.errors, match, health)) << result.errors;
    EXPECT_GT(std::stoll(match[1]), 0);
}

// A device that keeps sending while --lines stops the capture: the rows in the file are the first
// lines the device sent, in order and without a gap, their count is the summary's, and the bytes
// of the unfinished last line are the start of the line that followed.
TEST_F(CapturePortTest, AStopWhileTheDeviceKeepsSendingKeepsEveryByteRead) {
    Pty pty;
    SetSpeed(pty, 38400, 0);
    const std::string path = dir.File("busy.xlsx");
    auto run = Capture(
        {"--device", pty.name, "--baud", "115200", "--format", "N:7", "--file", path, "--lines", "300"});
    ASSERT_TRUE(WaitOpened(pty, 38400));
    ::fcntl(pty.master, F_SETFL, ::fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    std::string sent;
    std::string pending;
    for (int n = 1; run.wait_for(0s) != std::future_status::ready;) {
        if (pending.empty()) pending = std::to_string(1000000 + n++) + "\r";
        const ssize_t written = ::write(pty.master, pending.data(), pending.size());
        if (written > 0) {
            sent.append(pending, 0, static_cast<std::size_t>(written));
            pending.erase(0, static_cast<std::size_t>(written));
            continue;
        }
        pollfd fd{pty.master, POLLOUT, 0};
        ::poll(&fd, 1, 10);
    }
    const test::CommandResult result = run.get();
    ASSERT_EQ(result.exit_code, 0) << result.output << result.errors;
    EXPECT_EQ(result.output.find("arrived while the port closed"), std::string::npos) << result.output;
    const Rows rows = test::ReadPeerSheet(path).rows;
    ASSERT_GT(rows.size(), 300u);
    for (std::size_t i = 1; i < rows.size(); ++i)
        ASSERT_EQ(rows[i], std::vector<std::string>{std::to_string(1000000 + i)}) << "row " << i;
    const std::size_t lines = rows.size() - 1;
    EXPECT_NE(
        result.output.find(std::to_string(lines) + " lines received, " + std::to_string(lines) + " written"),
        std::string::npos)
        << result.output;
    std::smatch unfinished;
    const std::string output = result.output;
    if (std::regex_search(output, unfinished, std::regex(R"((\d+) bytes? of an unfinished line)"))) {
        const std::size_t bytes = std::stoul(unfinished[1]);
        EXPECT_GE(sent.size(), lines * 8 + bytes);
        EXPECT_LT(bytes, 8u) << "an unfinished line is shorter than a whole one";
    }
}

}  // namespace
}  // namespace linograf
