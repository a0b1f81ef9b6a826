// Line settings and flow control on real pseudo-terminals: the dispatcher sets the slave, the test
// reads the settings back from the master side (TCGETS2, the kernel call behind tcgetattr, which
// on a pty master reports the slave's settings, including any baud rate).
//
// This file uses the kernel's termios headers only; glibc's <termios.h> cannot be mixed with them.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <thread>

#include "serial/posix_dispatcher.h"
#include "serial/termios_control_block.h"
#include "tests/serial/pty_pair.h"

namespace linograf::serial {
namespace {

using test::PtyPair;

// Real system calls, counting the writes of terminal settings.
class CountingCalls : public SystemCalls {
  public:
    int Ioctl(int fd, unsigned long request, void* argument) override {
        if (request == TCSETS2) ++settings_written;
        return SystemCalls::Ioctl(fd, request, argument);
    }
    int settings_written = 0;
};

termios2 OtherSide(const PtyPair& pty) {
    termios2 t{};
    EXPECT_EQ(::ioctl(pty.master(), TCGETS2, &t), 0);
    return t;
}

bool SameSettings(const termios2& a, const termios2& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && a.c_ospeed == b.c_ospeed &&
           std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc));
}

class LineSettingsOnPty : public ::testing::Test {
  protected:
    void SetUp() override {
        dispatcher = std::make_unique<TNlkPosixDispatcher>(gui, nullptr, calls);
        ASSERT_EQ(dispatcher->OpenDevice(pty.slave_path(), 9600, kNoParity, 8, 1, 4096, 4096, 0), 0);
    }

    PlainGuiThread gui;
    PtyPair pty;
    CountingCalls calls;
    std::unique_ptr<TNlkPosixDispatcher> dispatcher;
};

TEST_F(LineSettingsOnPty, RatesAndStopBitsReachTheTerminal) {
    struct Case {
        int32_t baud;
        uint8_t stop_bits;
        bool cstopb;
        uint8_t stop_code;
    };
    const Case cases[] = {
        {9600, 1, false, kOneStopBit},   {12345, 2, true, kTwoStopBits},   // not a standard rate: BOTHER
        {250000, 2, true, kTwoStopBits}, {921600, 0, false, kOneStopBit},  // 0 counts as one stop bit
        {4800, 7, true, kTwoStopBits},                                     // above 2 counts as two
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        ASSERT_EQ(dispatcher->ApplyLineSettings(c.baud, kNoParity, 8, c.stop_bits), 0);
        const termios2 t = OtherSide(pty);
        EXPECT_EQ(t.c_ospeed, static_cast<speed_t>(c.baud));
        EXPECT_EQ(t.c_ispeed, static_cast<speed_t>(c.baud));
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB), static_cast<tcflag_t>(CS8));
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.cstopb);
        // Binary mode: a raw line, no parity checking, no translation, no echo.
        EXPECT_EQ(t.c_iflag & (INPCK | ICRNL | IGNCR | INLCR | ISTRIP), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(dispatcher->ControlBlock().stop_bits, c.stop_code);
        EXPECT_EQ(dispatcher->LastBaud(), static_cast<uint32_t>(c.baud));
    }
}

// A pseudo-terminal always has 8 data bits and no parity; a UART keeps what it is given. This
// stands for one: the terminal settings live here instead of in the kernel.
class UartCalls : public SystemCalls {
  public:
    int Ioctl(int fd, unsigned long request, void* argument) override {
        if (request == TCGETS2 && have_) {
            *static_cast<termios2*>(argument) = settings_;
            return 0;
        }
        if (request == TCSETS2) {
            settings_ = *static_cast<termios2*>(argument);
            have_ = true;
            return 0;
        }
        return SystemCalls::Ioctl(fd, request, argument);
    }
    const termios2& settings() const { return settings_; }

  private:
    termios2 settings_{};
    bool have_ = false;
};

TEST(LineSettingsOnUart, DataBitsAndEveryParityMapOntoTheTerminalFlags) {
    struct Case {
        uint8_t parity, data_bits, stop_bits;
        tcflag_t size, parity_bits;
        bool cstopb;
        uint8_t stop_code;
    };
    const Case cases[] = {
        {kOddParity, 7, 1, CS7, PARENB | PARODD, false, kOneStopBit},
        {kEvenParity, 6, 2, CS6, PARENB, true, kTwoStopBits},
        {kMarkParity, 8, 1, CS8, PARENB | CMSPAR | PARODD, false, kOneStopBit},
        {kSpaceParity, 7, 2, CS7, PARENB | CMSPAR, true, kTwoStopBits},
        {kNoParity, 5, 1, CS5, 0, true, kOne5StopBits},  // 5 data bits: always 1.5 stop bits
        {kNoParity, 5, 2, CS5, 0, true, kOne5StopBits},
        {kNoParity, 8, 1, CS8, 0, false, kOneStopBit},
    };
    PlainGuiThread gui;
    PtyPair pty;
    UartCalls uart;
    TNlkPosixDispatcher dispatcher(gui, nullptr, uart);
    ASSERT_EQ(dispatcher.OpenDevice(pty.slave_path(), 9600, kNoParity, 8, 1, 4096, 4096, 0), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << int(c.parity) << " " << int(c.data_bits) << " " << int(c.stop_bits));
        ASSERT_EQ(dispatcher.ApplyLineSettings(9600, c.parity, c.data_bits, c.stop_bits), 0);
        const termios2& t = uart.settings();
        EXPECT_EQ(t.c_cflag & CSIZE, c.size);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parity_bits);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.cstopb);
        EXPECT_EQ(t.c_iflag & INPCK, 0u) << "parity is never checked";
        const TDcb dcb = dispatcher.ControlBlock();
        EXPECT_EQ(dcb.parity, c.parity);
        EXPECT_EQ(dcb.byte_size, c.data_bits);
        EXPECT_EQ(dcb.stop_bits, c.stop_code);
    }
}

TEST_F(LineSettingsOnPty, KeepValuesAndUnchangedSettingsWriteNothing) {
    ASSERT_EQ(dispatcher->ApplyLineSettings(12345, kNoParity, 8, 2), 0);
    const termios2 before = OtherSide(pty);
    const int writes = calls.settings_written;
    // Baud 0, parity 5, data bits 9 and stop bits 3 keep what the device has.
    EXPECT_EQ(dispatcher->ApplyLineSettings(0, 5, 9, 3), 0);
    EXPECT_EQ(dispatcher->ApplyLineSettings(12345, kNoParity, 8, 2), 0);
    EXPECT_EQ(calls.settings_written, writes);
    EXPECT_TRUE(SameSettings(OtherSide(pty), before));
    // Keeping the rest and changing one changes only that one.
    ASSERT_EQ(dispatcher->ApplyLineSettings(0, 5, 9, 1), 0);
    const termios2 after = OtherSide(pty);
    EXPECT_EQ(after.c_ospeed, 12345u);
    EXPECT_EQ(after.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(calls.settings_written, writes + 1);
}

TEST_F(LineSettingsOnPty, ImpossibleSettingsAreRefusedByNameAndChangeNothing) {
    // A UART left at 5 data bits with 1.5 stop bits, then asked for 8 data bits while keeping
    // its stop bits: 1.5 stop bits exist only with 5 data bits.
    UartCalls uart;
    TNlkPosixDispatcher five(gui, nullptr, uart);
    PtyPair other;
    ASSERT_EQ(five.OpenDevice(other.slave_path(), 9600, kNoParity, 5, 1, 4096, 4096, 0), 0);

    struct Case {
        const char* what;
        std::function<int32_t()> apply;
        const PtyPair* pty;
        int32_t code;
        const char* named;
    };
    const Case cases[] = {
        {"4 data bits", [&] { return dispatcher->ApplyLineSettings(9600, kNoParity, 4, 1); }, &pty, -2003,
         "data bits"},
        {"7 data bits on a pty", [&] { return dispatcher->ApplyLineSettings(9600, kNoParity, 7, 1); }, &pty,
         -2003, "data bits"},
        {"parity on a pty", [&] { return dispatcher->ApplyLineSettings(9600, kMarkParity, 8, 1); }, &pty,
         -2004, "parity"},
        {"negative baud", [&] { return dispatcher->ApplyLineSettings(-1, kNoParity, 8, 1); }, &pty, -2002,
         "baud rate"},
        {"1.5 stop bits with 8 data bits", [&] { return five.ApplyLineSettings(0, 5, 8, 3); }, nullptr, -2004,
         "stop bits"},
        {"DTR/DSR handshake", [&] { return dispatcher->SetHardwareFlow(3686, 410, 1); }, &pty, -2005,
         "DTR/DSR"},
        {"DSR required", [&] { return dispatcher->SetHardwareFlow(3686, 410, 4); }, &pty, -2005, "DTR/DSR"},
        {"RS-485 without driver support",
         [&] {
             dispatcher->SetRs485(true);
             const int32_t code = dispatcher->SetHardwareFlow(3686, 410, 0);
             dispatcher->SetRs485(false);
             return code;
         },
         &pty, -2005, "RTS toggling"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const termios2 before = c.pty ? OtherSide(*c.pty) : uart.settings();
        EXPECT_EQ(c.apply(), c.code);
        EXPECT_TRUE(SameSettings(c.pty ? OtherSide(*c.pty) : uart.settings(), before))
            << "the terminal was changed";
        try {
            CheckError(c.code);
            ADD_FAILURE() << "no exception";
        } catch (const ENLKException& e) {
            EXPECT_NE(std::string(e.what()).find(c.named), std::string::npos) << e.what();
        }
    }
    // The device's real settings are read again before the next change, so a refused setting
    // leaves nothing behind in the copy either.
    ASSERT_EQ(dispatcher->ApplyLineSettings(19200, kNoParity, 8, 1), 0);
    EXPECT_EQ(OtherSide(pty).c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(dispatcher->ControlBlock().flags & dcbDtrControlMask, 0u);
    EXPECT_FALSE(dispatcher->DtrUnderFlow());
}

TEST_F(LineSettingsOnPty, HardwareFlowControlAndItsThresholds) {
    const termios2 before = OtherSide(pty);
    EXPECT_EQ(dispatcher->SetHardwareFlow(4000, 5000, 2), ecBadArgument) << "full below resume";
    EXPECT_EQ(dispatcher->SetHardwareFlow(4097, 10, 2), ecBadArgument) << "full above the input queue";
    EXPECT_TRUE(SameSettings(OtherSide(pty), before));

    ASSERT_EQ(dispatcher->SetHardwareFlow(3686, 410, 2), 0);
    EXPECT_NE(OtherSide(pty).c_cflag & CRTSCTS, 0u);
    const TDcb dcb = dispatcher->ControlBlock();
    EXPECT_EQ(dcb.xoff_lim, 410) << "input queue size - full";
    EXPECT_EQ(dcb.xon_lim, 410);
    EXPECT_EQ(dcb.flags & dcbRtsControlMask, dcbRtsControlHandshake);
    EXPECT_TRUE(dispatcher->RtsUnderFlow());
    EXPECT_EQ(dispatcher->SetRtsLine(true), 1) << "RTS belongs to the flow control";

    ASSERT_EQ(dispatcher->SetHardwareFlow(0, 0, 0), 0);
    EXPECT_EQ(OtherSide(pty).c_cflag & CRTSCTS, 0u);
    EXPECT_FALSE(dispatcher->RtsUnderFlow());
    EXPECT_EQ(dispatcher->SetRtsLine(false), 0);

    ASSERT_EQ(dispatcher->SetHardwareFlow(3686, 410, 8), 0) << "CTS required alone";
    EXPECT_NE(OtherSide(pty).c_cflag & CRTSCTS, 0u);
}

TEST_F(LineSettingsOnPty, SoftwareFlowControlDirectionsAndCharacters) {
    struct Step {
        const char* what;
        std::function<int32_t()> apply;
        bool ixon, ixoff;
        cc_t xon, xoff;
    };
    const Step steps[] = {
        {"both", [&] { return dispatcher->SetSoftwareFlow(3072, 1024, 3); }, true, true, 17, 19},
        {"receive only", [&] { return dispatcher->SetSoftwareFlow(3072, 1024, 2); }, false, true, 17, 19},
        {"own characters", [&] { return dispatcher->SetFlowChars(1, 2); }, false, true, 1, 2},
        {"transmit only", [&] { return dispatcher->SetSoftwareFlow(3072, 1024, 1); }, true, false, 17, 19},
        {"cleared", [&] { return dispatcher->ClearSoftwareFlow(); }, false, false, 17, 19},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        ASSERT_EQ(s.apply(), 0);
        const termios2 t = OtherSide(pty);
        EXPECT_EQ((t.c_iflag & IXON) != 0, s.ixon);
        EXPECT_EQ((t.c_iflag & IXOFF) != 0, s.ixoff);
        EXPECT_EQ(t.c_cc[VSTART], s.xon);
        EXPECT_EQ(t.c_cc[VSTOP], s.xoff);
    }
    EXPECT_EQ(dispatcher->SetSoftwareFlow(100, 200, 2), ecBadArgument);
}

// A device with line-error counters (a pty has none). Only the test's own thread sees them, so
// the port threads never read them first.
class CountingUartCalls : public SystemCalls {
  public:
    int Ioctl(int fd, unsigned long request, void* argument) override {
        if (request == TIOCGICOUNT) {
            if (std::this_thread::get_id() != owner) {
                errno = ENOTTY;
                return -1;
            }
            *static_cast<serial_icounter_struct*>(argument) = counts;
            return 0;
        }
        return SystemCalls::Ioctl(fd, request, argument);
    }
    std::thread::id owner = std::this_thread::get_id();
    serial_icounter_struct counts{};
};

TEST(LineErrors, CountersBecomeLineErrorCodesThatAQueryClears) {
    PlainGuiThread gui;
    PtyPair pty;
    CountingUartCalls uart;
    TNlkPosixDispatcher dispatcher(gui, nullptr, uart);
    uart.counts.frame = 5;  // errors from before the open do not count
    ASSERT_EQ(dispatcher.OpenDevice(pty.slave_path(), 9600, kNoParity, 8, 1, 4096, 4096, 0), 0);
    EXPECT_EQ(dispatcher.LineErrorQuery(), 0);

    struct Step {
        const char* what;
        std::function<void(serial_icounter_struct&)> change;
        std::vector<int32_t> queries;  // LineErrorQuery results, one after the other
    };
    const Step steps[] = {
        {"receive queue overflow", [](serial_icounter_struct& c) { ++c.buf_overrun; }, {1, 0}},
        {"hardware overrun", [](serial_icounter_struct& c) { ++c.overrun; }, {2, 0}},
        {"parity before framing", [](serial_icounter_struct& c) { ++c.parity, ++c.frame; }, {3, 0}},
        {"framing", [](serial_icounter_struct& c) { ++c.frame; }, {4, 0}},
        {"break stays until its own query", [](serial_icounter_struct& c) { ++c.brk; }, {9, 9}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        s.change(uart.counts);
        dispatcher.ReadLineErrors();
        std::vector<int32_t> got;
        for (size_t i = 0; i < s.queries.size(); ++i) got.push_back(dispatcher.LineErrorQuery());
        EXPECT_EQ(got, s.queries);
    }
    EXPECT_TRUE(dispatcher.BreakQuery());
    EXPECT_FALSE(dispatcher.BreakQuery());
    EXPECT_EQ(dispatcher.LineErrorQuery(), 0);
}

TEST(CharacterWait, EighteenCharacterTimesAfterTheOutputDrained) {
    struct Case {
        uint32_t baud;
        uint8_t byte_size, parity, stop_bits;
        uint32_t ms;
    };
    const Case cases[] = {
        {9600, 8, kNoParity, kOneStopBit, 19},     // 1041 * 10 * 18 = 187380 -> 19 ms
        {65302, 8, kNoParity, kOneStopBit, 19},    // the legacy code of 9600
        {9600, 7, kEvenParity, kTwoStopBits, 21},  // 11 bits: 206118
        {115200, 8, kNoParity, kOneStopBit, 2},    // 86 * 10 * 18 = 15480
        {921600, 8, kNoParity, kOneStopBit, 1},    // 1800, doubled to 3600 below 10000
        {65279, 8, kNoParity, kOneStopBit, 2},     // the legacy code of 115200
        {110, 8, kNoParity, kOneStopBit, 1637},    // 90909 * 10 * 18 = 16363620
    };
    for (const auto& c : cases) {
        TDcb dcb;
        dcb.byte_size = c.byte_size;
        dcb.parity = c.parity;
        dcb.stop_bits = c.stop_bits;
        EXPECT_EQ(TNlkBaseDispatcher::CharacterWaitMs(dcb, c.baud), c.ms) << c.baud;
    }
}

}  // namespace
}  // namespace linograf::serial
