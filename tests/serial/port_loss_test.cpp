// A device that vanishes under an open port, on real pseudo-terminals: closing the master is what
// the port sees when a USB adapter is pulled out (a hang-up, then EIO on a reopen). The test
// thread is the GUI thread (PlainGuiThread) and pumps while it waits.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

#include "serial/com_port.h"
#include "serial/port_errors.h"
#include "serial/port_reconnect.h"
#include "serial/posix_dispatcher.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace linograf::serial {
namespace {

using test::PtyPair;
using namespace std::chrono_literals;

// Waits until the port's read thread has taken everything the test wrote: the slave's input
// queue, which all descriptors of the terminal share, is empty. The kernel moves written bytes to
// that queue a moment later (a work item), so the queue is looked at only after a pause.
bool WaitDrained(int slave) {
    std::this_thread::sleep_for(50ms);
    for (int i = 0; i < 2000; ++i) {
        int waiting = 0;
        if (::ioctl(slave, FIONREAD, &waiting) != 0) return false;
        if (waiting == 0) return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

// The component with the settings the program gives it, every received byte collected, and the
// order of its close and loss events.
class Recorder {
  public:
    explicit Recorder(TNlkComPort& port) {
        LoadNlkComPort1(port);
        port.SetOnTriggerAvail([this](TNlkComPort& cp, uint16_t count) {
            for (uint16_t i = 0; i < count; ++i) bytes.push_back(static_cast<char>(cp.GetChar()));
        });
        port.SetOnPortClose(
            [this](TNlkComPort& cp) { events.push_back(cp.Open() ? "close(open)" : "close"); });
        port.SetOnPortOpen([this](TNlkComPort&) { events.push_back("open"); });
    }
    std::string bytes;
    std::vector<std::string> events;
};

class PortLoss : public ::testing::Test {
  protected:
    PlainGuiThread gui;
    TNlkComPort port{gui};
    Recorder record{port};
};

TEST_F(PortLoss, HangUpMidLineIsReportedAfterEveryReceivedByte) {
    PtyPair pty;
    port.SetDevicePath(pty.slave_path());
    std::string reason;
    int losses = 0;
    port.SetOnPortLost([&](TNlkComPort& cp, const std::string& why) {
        ++losses;
        reason = why;
        EXPECT_FALSE(cp.Open()) << "the port is closed when the loss is reported";
        record.events.push_back("lost");
    });
    port.SetOpen(true);
    ASSERT_TRUE(port.Open());
    // A line and the start of the next: the unplug comes in the middle of it.
    pty.Write("1234\r56");
    ASSERT_TRUE(WaitDrained(pty.slave()));
    pty.CloseMaster();
    ASSERT_TRUE(gui.PumpUntil([&] { return losses > 0; }, 10s));
    EXPECT_EQ(record.bytes, "1234\r56");
    EXPECT_EQ(losses, 1);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.State(), TNlkComPort::PortState::Closed);
    EXPECT_EQ(record.events, (std::vector<std::string>{"open", "close", "lost"}));
    EXPECT_FALSE(reason.empty());
    // Nothing more arrives, and the port can be closed again without effect.
    gui.PumpUntil([] { return false; }, 200ms);
    EXPECT_EQ(losses, 1);
    port.SetOpen(false);
    EXPECT_TRUE(gui.shown_errors().empty());
}

// The read thread's system calls: a long burst of numbered bytes, then EIO, as a device that
// fails right after sending. The burst is queued faster than the GUI thread takes it, so bytes are
// still queued when the threads are told to stop.
class BurstThenEio : public SystemCalls {
  public:
    explicit BurstThenEio(size_t total) : total(total) {}
    ssize_t Read(int fd, void* buffer, size_t size) override {
        if (!armed) return SystemCalls::Read(fd, buffer, size);
        if (sent >= total) {
            errno = EIO;
            return -1;
        }
        const size_t n = std::min(size, total - sent);
        for (size_t i = 0; i < n; ++i)
            static_cast<char*>(buffer)[i] = static_cast<char>('A' + (sent + i) % 26);
        sent += n;
        return static_cast<ssize_t>(n);
    }
    std::atomic<bool> armed{false};
    const size_t total;
    size_t sent = 0;  // read thread only
};

class PortOverCalls : public TNlkComPort {
  public:
    PortOverCalls(GuiThread& gui, SystemCalls& calls) : TNlkComPort(gui), calls_(calls) {}

  protected:
    std::unique_ptr<TNlkBaseDispatcher> CreateDispatcher() override {
        return std::make_unique<TNlkPosixDispatcher>(Gui(), this, calls_);
    }

  private:
    SystemCalls& calls_;
};

TEST(PortLossQueued, BytesQueuedBeforeAReadFailureAreAllDelivered) {
    constexpr size_t kTotal = 64 * 1024;
    PlainGuiThread gui;
    BurstThenEio calls(kTotal);
    PortOverCalls port(gui, calls);
    Recorder record(port);
    std::string reason;
    port.SetOnPortLost([&](TNlkComPort&, const std::string& why) { reason = why; });
    PtyPair pty;
    port.SetDevicePath(pty.slave_path());
    port.SetOpen(true);
    ASSERT_TRUE(port.Open());
    calls.armed = true;
    ASSERT_TRUE(gui.PumpUntil([&] { return !reason.empty(); }, 30s));
    std::string expected(kTotal, ' ');
    for (size_t i = 0; i < kTotal; ++i) expected[i] = static_cast<char>('A' + i % 26);
    ASSERT_EQ(record.bytes.size(), kTotal);
    EXPECT_EQ(record.bytes, expected);
    EXPECT_EQ(reason, std::strerror(EIO));
    EXPECT_FALSE(port.Open());
}

// A stand-in for /dev/serial/by-id: a link the test points at one pseudo-terminal, then at another.
class Link {
  public:
    explicit Link(const std::string& path) : path_(path) {}
    void PointAt(const std::string& target) {
        const std::string fresh = path_ + ".new";
        std::filesystem::remove(fresh);
        std::filesystem::create_symlink(target, fresh);
        std::filesystem::rename(fresh, path_);  // at once: never missing in between
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

TEST_F(PortLoss, TheSameLinkComingBackReopensThePortWithItsSettings) {
    ::linograf::test::TempDir dir;
    Link link(dir.File("usb-Test_Scale_0001-if00-port0"));
    auto first = std::make_unique<PtyPair>();
    link.PointAt(first->slave_path());
    port.SetDevicePath(link.path());
    port.SetBaud(4800);
    TPortReconnect keeper(port, true);
    std::vector<TPortLoss> lost;
    std::vector<std::string> back;
    keeper.OnLost = [&](const TPortLoss& loss) { lost.push_back(loss); };
    keeper.OnReconnected = [&](const std::string& device, auto) { back.push_back(device); };

    port.SetOpen(true);
    first->Write("one\r");
    ASSERT_TRUE(WaitDrained(first->slave()));
    first->CloseMaster();
    ASSERT_TRUE(gui.PumpUntil([&] { return !lost.empty(); }, 10s));
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].device, link.path());
    EXPECT_TRUE(keeper.Disconnected());

    // The link still names the dead terminal (gone, or a node that opens with EIO): tries fail
    // quietly and the port stays closed.
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(keeper.Poll(0ms));
        gui.PumpUntil([] { return false; }, 20ms);
    }
    EXPECT_FALSE(port.Open());

    PtyPair second;
    link.PointAt(second.slave_path());
    ASSERT_TRUE(gui.PumpUntil([&] { return keeper.Poll(0ms); }, 10s));
    EXPECT_TRUE(port.Open());
    EXPECT_FALSE(keeper.Disconnected());
    EXPECT_EQ(keeper.Reconnects(), 1);
    EXPECT_EQ(back, std::vector<std::string>{link.path()});
    EXPECT_EQ(port.Baud(), 4800);

    // The settings reached the new terminal (speed from the kernel's own view of it).
    termios2 t{};
    ASSERT_EQ(::ioctl(second.slave(), TCGETS2, &t), 0);
    EXPECT_EQ(t.c_ospeed, 4800u);

    second.Write("two\r");
    ASSERT_TRUE(gui.PumpUntil([&] { return record.bytes.size() >= 8; }, 10s));
    gui.PumpUntil([] { return false; }, 100ms);
    EXPECT_EQ(record.bytes, "one\rtwo\r") << "nothing lost, nothing twice";
    EXPECT_EQ(record.events, (std::vector<std::string>{"open", "close", "open"}));
    port.SetOpen(false);
}

TEST_F(PortLoss, WithReconnectOffTheLossIsFinal) {
    ::linograf::test::TempDir dir;
    Link link(dir.File("by-id-link"));
    PtyPair first;
    link.PointAt(first.slave_path());
    port.SetDevicePath(link.path());
    TPortReconnect keeper(port, false);
    int lost = 0;
    keeper.OnLost = [&](const TPortLoss&) { ++lost; };
    port.SetOpen(true);
    first.CloseMaster();
    ASSERT_TRUE(gui.PumpUntil([&] { return lost == 1; }, 10s));
    PtyPair second;
    link.PointAt(second.slave_path());
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(keeper.Poll(0ms));
    EXPECT_FALSE(port.Open());
    EXPECT_TRUE(keeper.Disconnected());
    EXPECT_EQ(keeper.Reconnects(), 0);
}

// ---- teardown

// An OnPortOpen handler that raises while data arrives: the open is undone with a delivery for
// the trigger window already handed to the GUI thread. It must run out against a window that is
// still there (AddressSanitizer reports it otherwise), and find no component behind it.
// A GUI thread that counts what the port threads hand to it.
class CountingGui : public PlainGuiThread {
  public:
    void Post(std::function<void()> call) override {
        ++posted;
        PlainGuiThread::Post(std::move(call));
    }
    std::atomic<int> posted{0};
};

TEST(PortTeardown, OpenHandlerRaisingWhileDataArrivesLeavesNoDeliveryBehind) {
    CountingGui gui;
    TNlkComPort port(gui);
    LoadNlkComPort1(port);
    PtyPair pty;
    port.SetDevicePath(pty.slave_path());
    int delivered = 0;
    port.SetOnTriggerAvail([&](TNlkComPort&, uint16_t) { ++delivered; });
    port.SetOnPortOpen([&](TNlkComPort& cp) {
        const int before = gui.posted;
        pty.Write("data\r");
        // Until the dispatcher thread has handed the delivery over (it waits for it now).
        for (int i = 0; i < 5000 && gui.posted == before; ++i) std::this_thread::sleep_for(1ms);
        EXPECT_GT(gui.posted, before);
        EXPECT_TRUE(cp.Dispatcher()->InDispatch());
        throw std::runtime_error("handler failed");
    });
    EXPECT_THROW(port.SetOpen(true), std::runtime_error);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Dispatcher(), nullptr);
    gui.PumpUntil([] { return false; }, 100ms);
    EXPECT_EQ(delivered, 0) << "a port whose open failed hands nothing to its handlers";
    // The port opens again afterwards.
    port.SetOnPortOpen({});
    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
    port.SetOpen(false);
}

// System calls that check, for the test thread's modem-status and flush calls, that the state
// lock (under which a port thread closes the descriptor on a hang-up) is held over the call.
class LockWatch : public SystemCalls {
  public:
    int Ioctl(int fd, unsigned long request, void* argument) override {
        if (request == TIOCMGET) Check("TIOCMGET");
        return SystemCalls::Ioctl(fd, request, argument);
    }
    int TcFlush(int fd, int queue) override {
        Check("tcflush");
        return SystemCalls::TcFlush(fd, queue);
    }
    void Check(const char* call) {
        std::recursive_mutex* const held = lock.load();
        if (held == nullptr || std::this_thread::get_id() != watched.load()) return;
        // Another thread tries the lock: it must be taken (held by this very call's thread).
        const bool free = std::async(std::launch::async, [held] {
                              if (!held->try_lock()) return false;
                              held->unlock();
                              return true;
                          }).get();
        std::lock_guard guard(mutex);
        checked.push_back(call);
        if (free) unguarded.push_back(call);
    }
    // Set by the test thread while the port's own threads already make their calls.
    std::atomic<std::recursive_mutex*> lock{nullptr};
    std::atomic<std::thread::id> watched;
    std::mutex mutex;
    std::vector<std::string> checked, unguarded;
};

class OpenDispatcher : public TNlkPosixDispatcher {
  public:
    using TNlkPosixDispatcher::TNlkPosixDispatcher;
    std::recursive_mutex& StateLock() { return state_lock_; }
};

TEST(PortTeardown, ModemStatusAndFlushUseTheDeviceOnlyUnderTheStateLock) {
    PlainGuiThread gui;
    LockWatch calls;
    OpenDispatcher dispatcher(gui, nullptr, calls);
    PtyPair pty;
    ASSERT_EQ(dispatcher.OpenDevice(pty.slave_path(), 9600, 0, 8, 1, 4096, 4096, 0), 0);
    calls.lock = &dispatcher.StateLock();
    calls.watched = std::this_thread::get_id();
    dispatcher.RefreshModemStatus(0xF0);
    dispatcher.FlushInput();
    dispatcher.FlushOutput();
    calls.lock = nullptr;
    EXPECT_GE(calls.checked.size(), 2u);
    EXPECT_TRUE(calls.unguarded.empty()) << calls.unguarded.front();
    dispatcher.ShutdownDevice();
}

// ---- a port the user may not open

// Opening fails with EACCES (as for a user outside the device's group): the message names the
// device, its group and what to do.
TEST(PortPermission, TheRefusalNamesTheDeviceItsGroupAndTheFix) {
    class Refusing : public SystemCalls {
      public:
        int Open(const char*, int) override {
            errno = EACCES;
            return -1;
        }
    } calls;
    PlainGuiThread gui;
    PortOverCalls port(gui, calls);
    LoadNlkComPort1(port);
    PtyPair pty;
    port.SetDevicePath(pty.slave_path());
    // The terminal given to a serial users' group, as udev gives a USB adapter to dialout.
    constexpr gid_t kSerialGroup = 20;
    if (::fchown(pty.slave(), static_cast<uid_t>(-1), kSerialGroup) != 0)
        GTEST_SKIP() << "cannot give the terminal to another group (not root)";
    struct stat st {};
    ASSERT_EQ(::stat(pty.slave_path().c_str(), &st), 0);
    ASSERT_EQ(st.st_gid, kSerialGroup);
    const group* owner = ::getgrgid(st.st_gid);
    ASSERT_NE(owner, nullptr);
    const std::string group_name = owner->gr_name;
    try {
        port.SetOpen(true);
        ADD_FAILURE() << "opened";
    } catch (const std::exception& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find(pty.slave_path()), std::string::npos) << message;
        EXPECT_NE(message.find(std::strerror(EACCES)), std::string::npos) << message;
        EXPECT_NE(message.find("\"" + group_name + "\""), std::string::npos) << message;
        EXPECT_NE(message.find("add yourself to the " + group_name + " group and log in again"),
                  std::string::npos)
            << message;
    }
    EXPECT_FALSE(port.Open());
}

// ---- no side effects at the open

TEST(PortOpen, HangUpOnCloseIsClearedAndUnwantedLinesDroppedFirst) {
    PlainGuiThread gui;
    // Records which ioctls reach the device, in order.
    class Order : public SystemCalls {
      public:
        int Ioctl(int fd, unsigned long request, void* argument) override {
            std::lock_guard lock(mutex);
            if (request == TIOCMBIC || request == TIOCMBIS || request == TCSETS2)
                seen.push_back(request == TIOCMBIC ? "drop" : request == TIOCMBIS ? "raise" : "settings");
            if (request == TIOCMBIC) dropped |= *static_cast<int*>(argument);
            return SystemCalls::Ioctl(fd, request, argument);
        }
        std::mutex mutex;
        std::vector<std::string> seen;
        int dropped = 0;
    } calls;
    PortOverCalls port(gui, calls);
    LoadNlkComPort1(port);  // DTR and RTS off, as the program's port is stored
    PtyPair pty;
    termios2 before{};
    ASSERT_EQ(::ioctl(pty.slave(), TCGETS2, &before), 0);
    before.c_cflag |= HUPCL;  // as a serial driver's default termios has it
    ASSERT_EQ(::ioctl(pty.slave(), TCSETS2, &before), 0);
    port.SetDevicePath(pty.slave_path());
    port.SetOpen(true);
    termios2 after{};
    ASSERT_EQ(::ioctl(pty.slave(), TCGETS2, &after), 0);
    EXPECT_EQ(after.c_cflag & HUPCL, 0u);
    {
        std::lock_guard lock(calls.mutex);
        ASSERT_GE(calls.seen.size(), 2u);
        // The HUPCL change, then the drop of both lines, before any line setting is applied.
        EXPECT_EQ(calls.seen[0], "settings");
        EXPECT_EQ(calls.seen[1], "drop");
        EXPECT_EQ(calls.dropped & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR | TIOCM_RTS);
        EXPECT_EQ(std::count(calls.seen.begin(), calls.seen.end(), "raise"), 0);
    }
    port.SetOpen(false);
}

}  // namespace
}  // namespace linograf::serial
