#include "serial/termios_control_block.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>
#include <cerrno>
#include <cmath>

#include "serial/platform_error.h"
#include "serial/port_errors.h"

namespace linograf::serial {

namespace {

constexpr tcflag_t kRawInputOff = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IGNPAR;
constexpr tcflag_t kRawLocalOff = ECHO | ECHONL | ICANON | ISIG | IEXTEN;

bool IsRaw(const termios2& t) {
    return (t.c_iflag & kRawInputOff) == 0 && (t.c_oflag & OPOST) == 0 && (t.c_lflag & kRawLocalOff) == 0 &&
           (t.c_cflag & (CREAD | CLOCAL)) == (CREAD | CLOCAL) && t.c_cc[VMIN] == 1 && t.c_cc[VTIME] == 0;
}

}  // namespace

int ReadTermiosControlBlock(SystemCalls& calls, int fd, TDcb& dcb) {
    termios2 t{};
    if (calls.Ioctl(fd, TCGETS2, &t) != 0) return -1;
    dcb.baud_rate = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            dcb.byte_size = 5;
            break;
        case CS6:
            dcb.byte_size = 6;
            break;
        case CS7:
            dcb.byte_size = 7;
            break;
        default:
            dcb.byte_size = 8;
            break;
    }
    if (!(t.c_cflag & PARENB)) {
        dcb.parity = kNoParity;
    } else if (t.c_cflag & CMSPAR) {
        dcb.parity = (t.c_cflag & PARODD) ? kMarkParity : kSpaceParity;
    } else {
        dcb.parity = (t.c_cflag & PARODD) ? kOddParity : kEvenParity;
    }
    if (!(t.c_cflag & CSTOPB)) {
        dcb.stop_bits = kOneStopBit;
    } else {
        dcb.stop_bits = dcb.byte_size == 5 ? kOne5StopBits : kTwoStopBits;
    }
    auto set = [&](uint32_t bit, bool on) { dcb.flags = on ? (dcb.flags | bit) : (dcb.flags & ~bit); };
    set(dcbBinary, IsRaw(t));
    set(dcbParityCheck, (t.c_iflag & INPCK) != 0);
    set(dcbOutX, (t.c_iflag & IXON) != 0);
    set(dcbInX, (t.c_iflag & IXOFF) != 0);
    const bool rtscts = (t.c_cflag & CRTSCTS) != 0;
    set(dcbOutxCtsFlow, rtscts);
    if (rtscts) {
        dcb.flags = (dcb.flags & ~dcbRtsControlMask) | dcbRtsControlHandshake;
    } else if ((dcb.flags & dcbRtsControlMask) == dcbRtsControlHandshake) {
        dcb.flags &= ~dcbRtsControlMask;
    }
    dcb.xon_char = t.c_cc[VSTART];
    dcb.xoff_char = t.c_cc[VSTOP];
    return 0;
}

int32_t ValidateControlBlock(const TDcb& dcb) {
    // 0 would hang the line up; a rate past 31 bits is a negative Baud taken as unsigned.
    if (dcb.baud_rate == 0 || dcb.baud_rate > 0x7FFFFFFFu) return ecUnsupportedBaud;
    if (dcb.byte_size < 5 || dcb.byte_size > 8) return ecUnsupportedDataBits;
    if (dcb.parity > kSpaceParity) return ecBadArgument;
    if (dcb.stop_bits > kTwoStopBits) return ecUnsupportedStopBits;
    // A UART sends 1.5 stop bits only in 5-bit mode (where "two" means one and a half).
    if (dcb.stop_bits == kOne5StopBits && dcb.byte_size != 5) return ecUnsupportedStopBits;
    if (dcb.stop_bits == kTwoStopBits && dcb.byte_size == 5) return ecUnsupportedStopBits;
    // Linux terminals have no DTR/DSR flow control.
    if ((dcb.flags & dcbDtrControlMask) == dcbDtrControlHandshake || (dcb.flags & dcbOutxDsrFlow) != 0)
        return ecUnsupportedHandshake;
    return 0;
}

namespace {

// RTS toggling around each transmission (RS-485) is done by the driver on Linux, where it has
// it. It is only ever switched on here: a driver configured for RS-485 by the system (device
// tree, udev) keeps that configuration when the port is used without it.
int32_t EnableRs485(SystemCalls& calls, int fd) {
    serial_rs485 conf{};
    if (calls.Ioctl(fd, TIOCGRS485, &conf) != 0) return ecUnsupportedHandshake;
    if (conf.flags & SER_RS485_ENABLED) return 0;
    conf.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    conf.flags &= ~SER_RS485_RTS_AFTER_SEND;
    if (calls.Ioctl(fd, TIOCSRS485, &conf) != 0) return ecUnsupportedHandshake;
    return 0;
}

// Which asked-for setting the terminal did not take: 0 when it took them all.
int32_t DifferenceCode(const termios2& asked, const termios2& taken) {
    // A driver that cannot divide its clock exactly keeps the nearest rate; within 2 % a UART
    // still talks to its peer.
    const double rate = asked.c_ospeed;
    if (std::abs(static_cast<double>(taken.c_ospeed) - rate) > rate * 0.02) return ecUnsupportedBaud;
    if ((taken.c_cflag & CSIZE) != (asked.c_cflag & CSIZE)) return ecUnsupportedDataBits;
    const tcflag_t parity = (asked.c_cflag & PARENB) ? (PARENB | PARODD | CMSPAR) : PARENB;
    if ((taken.c_cflag & parity) != (asked.c_cflag & parity)) return ecUnsupportedParity;
    if ((taken.c_cflag & CSTOPB) != (asked.c_cflag & CSTOPB)) return ecUnsupportedStopBits;
    if ((taken.c_cflag & CRTSCTS) != (asked.c_cflag & CRTSCTS)) return ecUnsupportedHandshake;
    return 0;
}

}  // namespace

int32_t WriteTermiosControlBlock(SystemCalls& calls, int fd, const TDcb& dcb) {
    if (const int32_t code = ValidateControlBlock(dcb); code != 0) return code;
    termios2 t{};
    if (calls.Ioctl(fd, TCGETS2, &t) != 0) return -PlatformErrorFromErrno(errno);
    const termios2 original = t;

    t.c_iflag &= ~(kRawInputOff | INPCK | IXON | IXOFF);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~kRawLocalOff;
    // HUPCL off: the last close must not drop DTR and RTS on its own; the port sets the lines
    // as its DTR and RTS settings say, and a board that resets on a DTR edge stays undisturbed.
    t.c_cflag &= ~(CBAUD | CIBAUD | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | HUPCL);
    t.c_cflag |= CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = t.c_ospeed = dcb.baud_rate;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[dcb.byte_size - 5];
    switch (dcb.parity) {
        case kOddParity:
            t.c_cflag |= PARENB | PARODD;
            break;
        case kEvenParity:
            t.c_cflag |= PARENB;
            break;
        case kMarkParity:
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case kSpaceParity:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    if (dcb.stop_bits != kOneStopBit) t.c_cflag |= CSTOPB;
    if (dcb.flags & dcbParityCheck) t.c_iflag |= INPCK;
    // Linux switches RTS/CTS for both directions at once; either half asks for it.
    if ((dcb.flags & dcbOutxCtsFlow) || (dcb.flags & dcbRtsControlMask) == dcbRtsControlHandshake)
        t.c_cflag |= CRTSCTS;
    if (dcb.flags & dcbOutX) t.c_iflag |= IXON;
    if (dcb.flags & dcbInX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = dcb.xon_char;
    t.c_cc[VSTOP] = dcb.xoff_char;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if ((dcb.flags & dcbRtsControlMask) == dcbRtsControlToggle) {
        if (const int32_t code = EnableRs485(calls, fd); code != 0) return code;
    }
    if (calls.Ioctl(fd, TCSETS2, &t) != 0) return -PlatformErrorFromErrno(errno);
    // Drivers take what they cannot do without complaint and adjust the settings instead (a
    // pseudo-terminal forces 8 data bits and no parity, many USB bridges have no 5 or 6 data bits
    // or no mark and space parity). Reading back tells; the old settings are then put back.
    termios2 taken{};
    if (calls.Ioctl(fd, TCGETS2, &taken) != 0) return -PlatformErrorFromErrno(errno);
    const int32_t code = DifferenceCode(t, taken);
    if (code != 0) calls.Ioctl(fd, TCSETS2, const_cast<termios2*>(&original));
    return code;
}

int ReadTerminalSettings(SystemCalls& calls, int fd, TerminalSettings& settings) {
    termios2 t{};
    if (calls.Ioctl(fd, TCGETS2, &t) != 0) return -1;
    settings.iflag = t.c_iflag;
    settings.oflag = t.c_oflag;
    settings.cflag = t.c_cflag;
    settings.lflag = t.c_lflag;
    settings.ispeed = t.c_ispeed;
    settings.ospeed = t.c_ospeed;
    settings.vstart = t.c_cc[VSTART];
    settings.vstop = t.c_cc[VSTOP];
    settings.vmin = t.c_cc[VMIN];
    settings.vtime = t.c_cc[VTIME];
    return 0;
}

int ClearHangUpOnClose(SystemCalls& calls, int fd) {
    termios2 t{};
    if (calls.Ioctl(fd, TCGETS2, &t) != 0) return -1;
    if ((t.c_cflag & HUPCL) == 0) return 0;
    t.c_cflag &= ~HUPCL;
    return calls.Ioctl(fd, TCSETS2, &t) == 0 ? 0 : -1;
}

}  // namespace linograf::serial
