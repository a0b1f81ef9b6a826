// The port component on real pseudo-terminals. Port numbers are pointed at the terminals through
// the port folder (LINOGRAF_DOSDEVICES), the test plays the device on the master side, and the
// test thread is the GUI thread (PlainGuiThread), pumping while it waits.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <numeric>

#include "serial/com_port.h"
#include "serial/port_availability.h"
#include "serial/port_device_map.h"
#include "serial/posix_dispatcher.h"
#include "serial/termios_control_block.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace linograf::serial {
namespace {

using test::PtyPair;

// Real system calls, recording how the modem lines were driven (TIOCMBIS raises, TIOCMBIC drops).
class LineCalls : public SystemCalls {
  public:
    int Ioctl(int fd, unsigned long request, void* argument) override {
        if (request == TIOCMBIS || request == TIOCMBIC) {
            const int bits = *static_cast<int*>(argument);
            std::lock_guard lock(mutex);
            if (bits & TIOCM_DTR) dtr.push_back(request == TIOCMBIS);
            if (bits & TIOCM_RTS) rts.push_back(request == TIOCMBIS);
        }
        return SystemCalls::Ioctl(fd, request, argument);
    }
    std::mutex mutex;
    std::vector<bool> dtr, rts;
};

// The component with its dispatcher over the recording system calls.
class TestPort : public TNlkComPort {
  public:
    using TNlkComPort::TNlkComPort;
    LineCalls calls;

  protected:
    std::unique_ptr<TNlkBaseDispatcher> CreateDispatcher() override {
        if (DeviceLayer() != dlWin32) RaiseErrorCode(ecNullApi);
        return std::make_unique<TNlkPosixDispatcher>(Gui(), this, calls);
    }
};

termios2 OtherSide(const PtyPair& pty) {
    termios2 t{};
    EXPECT_EQ(::ioctl(pty.master(), TCGETS2, &t), 0);
    return t;
}

// Runs `action` and returns the message of the ENLKException it raises ("" when none).
template <class Action>
std::string RaisedMessage(Action&& action) {
    try {
        action();
    } catch (const ENLKException& e) {
        return e.what();
    }
    return "";
}

class ComPortOnPty : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv(kPortFolderVariable, ports.path().c_str(), 1);
        Plug(7, pty);
        previous_dir = std::filesystem::current_path();
        std::filesystem::current_path(work.path());  // trace and log files land here
        port.SetOnPortOpen([&](TNlkComPort&) { events.push_back("open"); });
        port.SetOnPortClose([&](TNlkComPort&) { events.push_back("close"); });
    }
    void TearDown() override {
        // Close here, so that a trace or log written by the close lands in the test's folder.
        port.SetOpen(false);
        Pump([&] { return port.State() == TNlkComPort::PortState::Closed; });
        std::filesystem::current_path(previous_dir);
    }

    void Plug(int number, const PtyPair& terminal) {
        std::filesystem::create_symlink(terminal.slave_path(),
                                        ports.path() / ("com" + std::to_string(number)));
    }
    // Takes every announced byte into `received`.
    void TakeEverything() {
        port.SetOnTriggerAvail([&](TNlkComPort& cp, uint16_t count) {
            for (uint16_t i = 0; i < count; ++i) received.push_back(static_cast<char>(cp.GetChar()));
        });
    }
    bool Pump(const std::function<bool()>& done) { return gui.PumpUntil(done); }

    linograf::test::TempDir ports, work;
    std::filesystem::path previous_dir;
    PtyPair pty;
    PlainGuiThread gui;
    TestPort port{gui};
    std::vector<std::string> events;
    std::string received;
};

TEST_F(ComPortOnPty, TheMainWindowsInstanceOpensAt9600EightNoneOneWithLinesDroppedAndNoFlowControl) {
    LoadNlkComPort1(port);
    EXPECT_FALSE(port.Open()) << "the stored instance stays closed";
    EXPECT_EQ(port.ComNumber(), 7);
    EXPECT_EQ(port.Baud(), 9600);
    EXPECT_FALSE(port.AutoOpen());
    EXPECT_FALSE(port.TraceHex());
    EXPECT_FALSE(port.LogHex());

    port.SetOpen(true);
    ASSERT_TRUE(port.Open());
    EXPECT_EQ(events, (std::vector<std::string>{"open"}));
    const termios2 t = OtherSide(pty);
    EXPECT_EQ(t.c_ospeed, 9600u);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u) << "a fresh terminal has XON/XOFF; the port switches it off";
    {
        std::lock_guard lock(port.calls.mutex);
        ASSERT_FALSE(port.calls.dtr.empty());
        ASSERT_FALSE(port.calls.rts.empty());
        EXPECT_FALSE(port.calls.dtr.back()) << "DTR dropped";
        EXPECT_FALSE(port.calls.rts.back()) << "RTS dropped";
        EXPECT_EQ(std::count(port.calls.dtr.begin(), port.calls.dtr.end(), true), 0);
        EXPECT_EQ(std::count(port.calls.rts.begin(), port.calls.rts.end(), true), 0);
    }
    EXPECT_EQ(port.Dispatcher()->DeviceName(), "\\\\.\\COM7");

    // A change of Baud while open goes to the device at once.
    port.SetBaud(19200);
    EXPECT_EQ(OtherSide(pty).c_ospeed, 19200u);

    port.SetOpen(false);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Dispatcher(), nullptr);
    EXPECT_EQ(events, (std::vector<std::string>{"open", "close"}));
    EXPECT_FALSE(std::filesystem::exists(work.File("NELK.TRC")));
    EXPECT_FALSE(std::filesystem::exists(work.File("NELK.LOG")));
}

TEST_F(ComPortOnPty, OpeningAPortWithoutDeviceRaisesBadIdAndFiresNothing) {
    LoadNlkComPort1(port);
    for (uint16_t number : {uint16_t{9}, uint16_t{65}, uint16_t{999}}) {
        SCOPED_TRACE(number);
        std::filesystem::create_symlink(work.File("no-such-tty"),
                                        ports.path() / ("com" + std::to_string(number)));
        port.SetComNumber(number);
        EXPECT_EQ(RaisedMessage([&] { port.SetOpen(true); }), "ie_BadId - Specified comport doesn't exist");
        EXPECT_FALSE(port.Open());
        EXPECT_EQ(port.State(), TNlkComPort::PortState::Closed);
        EXPECT_EQ(port.Dispatcher(), nullptr);
    }
    EXPECT_TRUE(events.empty()) << "neither OnPortOpen nor OnPortClose";
}

TEST_F(ComPortOnPty, APortHeldByAnotherProcessIsAvailableButCannotBeOpened) {
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(release[1]);  // else the read below would never see the parent let go
        const int fd = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
        (void)!::write(ready[1], &ok, 1);
        char byte;
        (void)!::read(release[0], &byte, 1);  // until the parent closes its end
        ::_exit(0);
    }
    ::close(release[0]);
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 1);

    EXPECT_TRUE(IsPortAvailable(7)) << "present, only held elsewhere";
    LoadNlkComPort1(port);
    EXPECT_EQ(RaisedMessage([&] { port.SetOpen(true); }), "ie_Open - device already open");
    EXPECT_FALSE(port.Open());
    EXPECT_TRUE(events.empty());

    ::close(release[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    port.SetOpen(true);
    EXPECT_TRUE(port.Open()) << "free again once the other process let go";
}

TEST_F(ComPortOnPty, AvailabilityTestLeavesThePortFree) {
    EXPECT_FALSE(IsPortAvailable(0));
    EXPECT_TRUE(IsPortAvailable(7));
    EXPECT_FALSE(IsPortAvailable(8)) << "no device behind it";
    // The test's open is undone before it returns: the component gets the port at once.
    LoadNlkComPort1(port);
    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
    EXPECT_TRUE(IsPortAvailable(7)) << "held by the component: present, in use";
}

TEST_F(ComPortOnPty, OpenAndCloseAreIdempotentAndTheComponentReopens) {
    LoadNlkComPort1(port);
    TakeEverything();
    port.SetOpen(false);
    EXPECT_TRUE(events.empty()) << "closing a closed port does nothing";
    port.SetOpen(true);
    port.SetOpen(true);
    EXPECT_EQ(events, (std::vector<std::string>{"open"}));
    pty.Write("one");
    ASSERT_TRUE(Pump([&] { return received == "one"; }));
    port.SetOpen(false);
    port.SetOpen(true);
    pty.Write("two");
    ASSERT_TRUE(Pump([&] { return received == "onetwo"; }));
    EXPECT_EQ(events, (std::vector<std::string>{"open", "close", "open"}));
}

TEST_F(ComPortOnPty, InsideOnTriggerAvailGetCharReturnsTheAnnouncedBytesThenBufferIsEmpty) {
    LoadNlkComPort1(port);
    std::vector<std::string> order;
    std::string taken, fourth;
    port.SetOnTrigger([&](TNlkComPort&, uint16_t msg, uint16_t handle, uint16_t data) {
        order.push_back("trigger " + std::to_string(msg) + " " + std::to_string(handle) + " " +
                        std::to_string(data));
    });
    port.SetOnTriggerAvail([&](TNlkComPort& cp, uint16_t count) {
        order.push_back("avail " + std::to_string(count));
        for (uint16_t i = 0; i < count; ++i) taken.push_back(static_cast<char>(cp.GetChar()));
        fourth = RaisedMessage([&] { cp.GetChar(); });
    });
    port.SetOpen(true);
    pty.Write("xyz");
    ASSERT_TRUE(Pump([&] { return !order.empty() && port.Dispatcher()->ReadIndex() == 3; }));
    EXPECT_EQ(order, (std::vector<std::string>{"trigger 32257 3 3", "avail 3"}));
    EXPECT_EQ(taken, "xyz");
    EXPECT_EQ(fourth, "Buffer is empty");
    EXPECT_EQ(port.Dispatcher()->BytesAvailable(), 0u) << "the three bytes count as consumed";
}

TEST_F(ComPortOnPty, ClosingInsideTheHandlerCompletesThroughTheDeferredCloseAndReopensWhenAsked) {
    LoadNlkComPort1(port);
    bool closing_inside = false, open_inside = false;
    uint8_t after_close = 0xFF;
    port.SetOnTriggerAvail([&](TNlkComPort& cp, uint16_t count) {
        for (uint16_t i = 0; i < count; ++i) received.push_back(static_cast<char>(cp.GetChar()));
        if (received != "first") return;
        cp.SetOpen(false);
        closing_inside = cp.State() == TNlkComPort::PortState::Closing;
        open_inside = cp.Open();
        after_close = cp.GetChar();  // while closing: 0, no error
        cp.SetOpen(true);            // asks for a reopen once the close completes
        events.push_back("handler returns");
    });
    port.SetOpen(true);
    pty.Write("first");
    ASSERT_TRUE(Pump([&] { return events.size() == 4; }));
    EXPECT_TRUE(closing_inside);
    EXPECT_TRUE(open_inside) << "Open stays True until the deferred close completes";
    EXPECT_EQ(after_close, 0);
    // OnPortClose fires before the close has completed; the reopen follows the completion.
    EXPECT_EQ(events, (std::vector<std::string>{"open", "close", "handler returns", "open"}));
    EXPECT_EQ(port.State(), TNlkComPort::PortState::Opened);
    EXPECT_FALSE(port.OpenPending());
    pty.Write("second");
    ASSERT_TRUE(Pump([&] { return received == "firstsecond"; }));

    // Without the reopen request the port ends closed.
    port.SetOnTriggerAvail([&](TNlkComPort& cp, uint16_t) { cp.SetOpen(false); });
    pty.Write("third");
    ASSERT_TRUE(Pump([&] { return port.State() == TNlkComPort::PortState::Closed; }));
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Dispatcher(), nullptr);
}

TEST_F(ComPortOnPty, GetCharOnAClosedPortOpensItOnlyWithAutoOpen) {
    LoadNlkComPort1(port);
    EXPECT_EQ(RaisedMessage([&] { port.GetChar(); }), "ie_NOpen - device not open");
    EXPECT_FALSE(port.Open());
    port.SetAutoOpen(true);
    EXPECT_EQ(RaisedMessage([&] { port.GetChar(); }), "Buffer is empty");
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(events, (std::vector<std::string>{"open"}));
    // Outside a handler a byte is taken at once.
    pty.Write("q");
    ASSERT_TRUE(Pump([&] { return port.Dispatcher()->BytesAvailable() == 1; }));
    EXPECT_EQ(port.GetChar(), 'q');
}

TEST_F(ComPortOnPty, TriggersAreDeliveredOnlyWhileAHandlerIsAssigned) {
    LoadNlkComPort1(port);
    // Assigned while open, the handler starts getting the bytes that arrive from then on; the
    // bytes that came before are announced to it too, none lost to the time without a handler.
    port.SetOpen(true);
    pty.Write("ab");
    ASSERT_TRUE(Pump([&] { return port.Dispatcher()->BytesAvailable() == 2; }));
    std::vector<uint16_t> counts;
    port.SetOnTriggerAvail([&](TNlkComPort& cp, uint16_t count) {
        counts.push_back(count);
        for (uint16_t i = 0; i < count; ++i) received.push_back(static_cast<char>(cp.GetChar()));
    });
    pty.Write("c");
    ASSERT_TRUE(Pump([&] { return received == "abc"; }));
    // The dispatcher thread may still be in the pass that queued "ab" when the handler comes, so
    // that pass may announce them alone; either way the first call already has both.
    ASSERT_FALSE(counts.empty());
    EXPECT_GE(counts.front(), 2);
    EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), 0), 3);
}

TEST_F(ComPortOnPty, AnErrorInAHandlerIsShownAndTheDeliveriesGoOn) {
    LoadNlkComPort1(port);
    int calls = 0;
    port.SetOnTriggerAvail([&](TNlkComPort& cp, uint16_t count) {
        ++calls;
        for (uint16_t i = 0; i < count; ++i) received.push_back(static_cast<char>(cp.GetChar()));
        if (calls == 1) cp.GetChar();  // one too many: "Buffer is empty" leaves the handler
    });
    port.SetOpen(true);
    pty.Write("a");
    ASSERT_TRUE(Pump([&] { return calls == 1 && !gui.shown_errors().empty(); }));
    EXPECT_EQ(gui.shown_errors(), (std::vector<std::string>{"Buffer is empty"}));
    pty.Write("b");
    ASSERT_TRUE(Pump([&] { return received == "ab"; }));
    EXPECT_TRUE(port.Open());
}

TEST_F(ComPortOnPty, ChangingComNumberWhileOpenMovesToTheOtherPort) {
    PtyPair second;
    Plug(8, second);
    LoadNlkComPort1(port);
    TakeEverything();
    port.SetTracing(tlOn);
    port.SetOpen(true);
    port.SetComNumber(8);
    EXPECT_EQ(events, (std::vector<std::string>{"open", "close", "open"}));
    EXPECT_EQ(port.Dispatcher()->DeviceName(), "\\\\.\\COM8");
    EXPECT_EQ(port.Tracing(), tlOn) << "tracing is taken along";
    EXPECT_TRUE(port.Dispatcher()->Tracing());
    EXPECT_EQ(port.Dispatcher()->AvailThreshold(), 1);
    second.Write("on eight");
    ASSERT_TRUE(Pump([&] { return received == "on eight"; }));
    EXPECT_TRUE(IsPortAvailable(7)) << "the first port was let go";
}

TEST_F(ComPortOnPty, ASettingTheDeviceCannotTakeRaisesByNameAndStaysStored) {
    LoadNlkComPort1(port);
    port.SetOpen(true);
    EXPECT_EQ(RaisedMessage([&] { port.SetDataBits(7); }).find("data bits") != std::string::npos, true)
        << "a pseudo-terminal has 8 data bits only";
    EXPECT_EQ(port.DataBits(), 7) << "Baud, Parity, DataBits and StopBits store before they apply";
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(OtherSide(pty).c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    // Hardware flow stores only after it applied: a refused DTR handshake leaves the set as it was.
    EXPECT_NE(RaisedMessage([&] { port.SetHWFlowOptions({hwfUseDTR}); }).find("DTR/DSR"), std::string::npos);
    EXPECT_TRUE(port.HWFlowOptions().Empty());
    port.SetHWFlowOptions({hwfUseRTS, hwfRequireCTS});
    EXPECT_NE(OtherSide(pty).c_cflag & CRTSCTS, 0u);
    port.SetRTS(true);
    EXPECT_FALSE(port.RTS()) << "RTS under hardware flow control: the line and the property stay";
    port.SetSWFlowOptions(swfBoth);
    EXPECT_EQ(OtherSide(pty).c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(port.Dispatcher()->ControlBlock().xoff_lim, 4096 - 3686)
        << "the hardware thresholds came first";
    port.SetBufferFull(2000);  // both flow options are applied again with the new threshold
    EXPECT_EQ(port.Dispatcher()->ControlBlock().xoff_lim, 4096 - 2000);
    EXPECT_EQ(port.Dispatcher()->ControlBlock().xon_lim, 410);
    EXPECT_NE(OtherSide(pty).c_cflag & CRTSCTS, 0u);
    port.SetXOnChar(1);
    EXPECT_EQ(OtherSide(pty).c_cc[VSTART], 1);
    port.SetHWFlowOptions({});
    EXPECT_EQ(OtherSide(pty).c_cflag & CRTSCTS, 0u);
}

TEST_F(ComPortOnPty, OpeningWithSettingsTheDeviceCannotTakeFailsByName) {
    LoadNlkComPort1(port);
    port.SetDataBits(7);  // a pseudo-terminal has 8 data bits only
    EXPECT_EQ(RaisedMessage([&] { port.SetOpen(true); }),
              "ie_ByteSize - Unsupported number of data bits (5 to 8 are possible)");
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Dispatcher(), nullptr);
    EXPECT_TRUE(events.empty());
    port.SetDataBits(8);
    port.SetOpen(true);
    EXPECT_TRUE(port.Open()) << "the failed open let go of the device";
}

TEST_F(ComPortOnPty, APortWithoutNumberAsksTheOperator) {
    struct Case {
        bool prompt_for_port;
        std::optional<int> answer;
        bool opens;
        int asked;
    };
    const Case cases[] = {
        {true, std::nullopt, false, 1},  // Cancel or the close box
        {true, 0, false, 1},             // OK on an empty list
        {true, 7, true, 1},
        {false, 7, false, 0},
    };
    for (const auto& c : cases) {
        TestPort p(gui);
        int asked = 0;
        p.SetPortPrompt([&] {
            ++asked;
            return c.answer;
        });
        p.SetPromptForPort(c.prompt_for_port);
        const std::string message = RaisedMessage([&] { p.SetOpen(true); });
        EXPECT_EQ(p.Open(), c.opens);
        EXPECT_EQ(asked, c.asked);
        if (c.opens) {
            EXPECT_EQ(p.ComNumber(), 7);
        } else {
            EXPECT_EQ(message, "The ComNumber property of the TNlkComPort has not been set");
            EXPECT_EQ(p.ComNumber(), 0);
        }
    }
    // With a number the operator is never asked.
    int asked = 0;
    LoadNlkComPort1(port);
    port.SetPortPrompt([&] {
        ++asked;
        return std::optional<int>(8);
    });
    port.SetOpen(true);
    EXPECT_EQ(asked, 0);
}

TEST_F(ComPortOnPty, LoadingOpensWhenItEndsAndShowsAnOpenError) {
    port.BeginLoading();
    port.SetComNumber(7);
    port.SetOpen(true);
    EXPECT_EQ(port.Dispatcher(), nullptr) << "only recorded while loading";
    port.Loaded();
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(events, (std::vector<std::string>{"open"}));

    TestPort missing(gui);
    missing.BeginLoading();
    missing.SetComNumber(9);
    missing.SetOpen(true);
    missing.Loaded();
    EXPECT_FALSE(missing.Open());
    EXPECT_EQ(gui.shown_errors(), (std::vector<std::string>{"ie_BadId - Specified comport doesn't exist"}));
}

TEST_F(ComPortOnPty, TelephonyModeIsRefused) {
    LoadNlkComPort1(port);
    port.SetTapiMode(tmOn);
    EXPECT_EQ(RaisedMessage([&] { port.SetOpen(true); }), "Comport was not opened by Tapi");
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Dispatcher(), nullptr);
}

TEST(ComPortProperties, DefaultsOfANewComponent) {
    PlainGuiThread gui;
    TNlkComPort p(gui);
    EXPECT_EQ(p.Version(), "v4.07");
    p.SetVersion("v9");
    EXPECT_EQ(p.Version(), "v4.07");
    EXPECT_EQ(p.DeviceLayer(), dlWin32);
    EXPECT_EQ(p.ComNumber(), 0);
    EXPECT_EQ(p.Baud(), 19200);
    EXPECT_TRUE(p.PromptForPort());
    EXPECT_EQ(p.Parity(), pNone);
    EXPECT_EQ(p.DataBits(), 8);
    EXPECT_EQ(p.StopBits(), 1);
    EXPECT_EQ(p.InSize(), 4096);
    EXPECT_EQ(p.OutSize(), 4096);
    EXPECT_TRUE(p.AutoOpen());
    EXPECT_FALSE(p.Open());
    EXPECT_TRUE(p.DTR());
    EXPECT_TRUE(p.RTS());
    EXPECT_TRUE(p.HWFlowOptions().Empty());
    EXPECT_EQ(p.SWFlowOptions(), swfNone);
    EXPECT_EQ(p.XOnChar(), 17);
    EXPECT_EQ(p.XOffChar(), 19);
    EXPECT_EQ(p.BufferFull(), 0);
    EXPECT_EQ(p.BufferResume(), 0);
    EXPECT_EQ(p.Tracing(), tlOff);
    EXPECT_EQ(p.TraceSize(), 10000u);
    EXPECT_EQ(p.TraceName(), "NELK.TRC");
    EXPECT_TRUE(p.TraceHex());
    EXPECT_FALSE(p.TraceAllHex());
    EXPECT_EQ(p.Logging(), tlOff);
    EXPECT_EQ(p.LogSize(), 10000u);
    EXPECT_EQ(p.LogName(), "NELK.LOG");
    EXPECT_TRUE(p.LogHex());
    EXPECT_FALSE(p.LogAllHex());
    EXPECT_TRUE(p.UseMSRShadow());
    EXPECT_TRUE(p.UseEventWord());
    EXPECT_EQ(p.CommNotificationLevel(), 10);
    EXPECT_EQ(p.TapiMode(), tmAuto);
    EXPECT_FALSE(p.RS485Mode());
    EXPECT_EQ(p.Tag(), 0);
}

// Setter rules of a closed port: each case starts from a new component.
TEST(ComPortProperties, SetterRulesOfAClosedPort) {
    struct Case {
        const char* what;
        std::function<void(TNlkComPort&)> assign;
        std::function<void(const TNlkComPort&)> check;
    };
    const Case cases[] = {
        {"tlDump reads back tlOff", [](TNlkComPort& p) { p.SetTracing(tlDump); },
         [](const TNlkComPort& p) { EXPECT_EQ(p.Tracing(), tlOff); }},
        {"tlOn reads back tlOn", [](TNlkComPort& p) { p.SetTracing(tlOn); },
         [](const TNlkComPort& p) { EXPECT_EQ(p.Tracing(), tlOn); }},
        {"tlPause is stored as tlOff",
         [](TNlkComPort& p) {
             p.SetLogging(tlOn);
             p.SetLogging(tlPause);
         },
         [](const TNlkComPort& p) { EXPECT_EQ(p.Logging(), tlOff); }},
        {"TraceSize capped", [](TNlkComPort& p) { p.SetTraceSize(5000000); },
         [](const TNlkComPort& p) { EXPECT_EQ(p.TraceSize(), 4000000u); }},
        {"LogSize capped", [](TNlkComPort& p) { p.SetLogSize(20000000); },
         [](const TNlkComPort& p) { EXPECT_EQ(p.LogSize(), 16000000u); }},
        {"hardware thresholds 90/10", [](TNlkComPort& p) { p.SetHWFlowOptions({hwfUseRTS}); },
         [](const TNlkComPort& p) {
             EXPECT_EQ(p.BufferFull(), 3686);
             EXPECT_EQ(p.BufferResume(), 410);
         }},
        {"software thresholds 75/25", [](TNlkComPort& p) { p.SetSWFlowOptions(swfBoth); },
         [](const TNlkComPort& p) {
             EXPECT_EQ(p.BufferFull(), 3072);
             EXPECT_EQ(p.BufferResume(), 1024);
         }},
        {"hardware first keeps its thresholds",
         [](TNlkComPort& p) {
             p.SetHWFlowOptions({hwfRequireCTS});
             p.SetSWFlowOptions(swfReceive);
         },
         [](const TNlkComPort& p) {
             EXPECT_EQ(p.BufferFull(), 3686);
             EXPECT_EQ(p.BufferResume(), 410);
         }},
        {"no options leave the thresholds alone", [](TNlkComPort& p) { p.SetHWFlowOptions({}); },
         [](const TNlkComPort& p) { EXPECT_EQ(p.BufferFull(), 0); }},
        {"BufferFull above InSize", [](TNlkComPort& p) { p.SetBufferFull(5000); },
         [](const TNlkComPort& p) { EXPECT_EQ(p.BufferFull(), 3686); }},
        {"BufferResume above BufferFull",
         [](TNlkComPort& p) {
             p.SetBufferFull(2000);
             p.SetBufferResume(2500);
         },
         [](const TNlkComPort& p) { EXPECT_EQ(p.BufferResume(), 200); }},
        {"RS485Mode drops the RTS and CTS options and RTS",
         [](TNlkComPort& p) {
             p.SetHWFlowOptions({hwfUseDTR, hwfUseRTS, hwfRequireCTS});
             p.SetRS485Mode(true);
         },
         [](const TNlkComPort& p) {
             EXPECT_EQ(p.HWFlowOptions(), (THWFlowOptions{hwfUseDTR}));
             EXPECT_FALSE(p.RTS());
             EXPECT_TRUE(p.RS485Mode());
         }},
        {"an RTS option ends RS485Mode",
         [](TNlkComPort& p) {
             p.SetRS485Mode(true);
             p.SetHWFlowOptions({hwfRequireCTS});
         },
         [](const TNlkComPort& p) { EXPECT_FALSE(p.RS485Mode()); }},
        {"only the Win32 layer", [](TNlkComPort& p) { p.SetDeviceLayer(dlWinsock); },
         [](const TNlkComPort& p) { EXPECT_EQ(p.DeviceLayer(), dlWin32); }},
        {"UseMSRShadow stays True", [](TNlkComPort& p) { p.SetUseMSRShadow(false); },
         [](const TNlkComPort& p) { EXPECT_TRUE(p.UseMSRShadow()); }},
        {"names are cut to 255 characters", [](TNlkComPort& p) { p.SetTraceName(std::string(300, 'n')); },
         [](const TNlkComPort& p) { EXPECT_EQ(p.TraceName().size(), 255u); }},
    };
    PlainGuiThread gui;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TNlkComPort p(gui);
        c.assign(p);
        c.check(p);
        EXPECT_FALSE(p.Open());
    }
}

}  // namespace
}  // namespace linograf::serial
