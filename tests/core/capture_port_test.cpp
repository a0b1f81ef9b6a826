// `linograf capture` on a real serial device that goes away and comes back, and `linograf ports`.
// The built program runs as its own process on pseudo-terminals the test plays the device on
// (closing the master is the unplug); python3-xlrd and python3-openpyxl read what it wrote.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
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
    std::future<test::CommandResult> Capture(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {LINOGRAF_PROGRAM, "capture"});
        arguments.push_back("--ini=" + dir.File("none.ini"));
        return std::async(std::launch::async, [arguments] { return test::RunCommand(arguments); });
    }
    // Until the program has the terminal open with its own settings: the speed differs from the
    // one the test set. Opening goes on after the settings (input already waiting is discarded,
    // then the port threads start), with nothing the test can see from outside; a sanitizer build
    // on a busy machine takes a good part of a second for it, so the test gives it one.
    static bool WaitOpened(const Pty& pty, unsigned before) {
        for (int i = 0; i < 10000; ++i) {
            if (pty.Settings().c_ospeed != before) {
                std::this_thread::sleep_for(1s);
                return true;
            }
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
    const std::regex summary("\n  disconnected: " + std::regex_replace(link, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                             R"( at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d \(.+\)\n  reconnected: .* at \d{4}-)");
    EXPECT_TRUE(std::regex_search(result.output, summary)) << result.output;
    EXPECT_EQ(test::ReadPeerSheet(path).rows, (Rows{{"V"}, {"a1"}, {"a2"}, {"b1"}, {"b2"}}));
}

TEST_F(CapturePortTest, PortsListsTheFakeTreeWithoutOpeningAnything) {
    namespace fs = std::filesystem;
    const fs::path root = dir.path() / "root";
    const fs::path usb = root / "sys/devices/usb1/1-1";
    fs::create_directories(usb / "1-1:1.0/ttyUSB0/tty/ttyUSB0");
    for (const auto& [file, text] : std::vector<std::pair<std::string, std::string>>{
             {"idVendor", "10c4"}, {"idProduct", "ea60"}, {"manufacturer", "Silicon Labs"},
             {"product", "CP2102 USB to UART Bridge Controller"}, {"serial", "0001"}})
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

}  // namespace
}  // namespace linograf
