#pragma once
// Translation between the control block and the Linux terminal settings. This is the only file
// that sees the kernel's termios2 (for any baud rate through BOTHER); glibc's <termios.h> and the
// kernel's <asm/termbits.h> cannot be included together.
#include <cstdint>

#include "serial/control_block.h"
#include "serial/system_calls.h"

namespace linograf::serial {

// Settings that have no terminal equivalent: returned as these codes, each with a text naming
// the setting (see port_errors.cpp).
inline constexpr int32_t ecUnsupportedBaud = -2002;
inline constexpr int32_t ecUnsupportedDataBits = -2003;
inline constexpr int32_t ecUnsupportedStopBits = -2004;
inline constexpr int32_t ecUnsupportedParity = -2004;
inline constexpr int32_t ecUnsupportedHandshake = -2005;

// Reads the device's settings into the fields of `dcb` that the terminal holds (baud, byte size,
// parity, stop bits, XON/XOFF switches and characters, RTS/CTS, parity checking, and the binary
// flag, which is set only when the terminal is fully raw). Fields the terminal has no place for
// (DTR/RTS control states, XON/XOFF limits) keep the values passed in. 0, or -1 with errno set.
int ReadTermiosControlBlock(SystemCalls& calls, int fd, TDcb& dcb);

// Checks the block and returns 0 or one of the codes above, without touching a device.
int32_t ValidateControlBlock(const TDcb& dcb);

// Writes the block as raw terminal settings: 0, a code above, or the negated platform error. A
// setting the device does not take (it reads back otherwise) gives the code naming it, and the
// terminal's earlier settings are put back.
int32_t WriteTermiosControlBlock(SystemCalls& calls, int fd, const TDcb& dcb);

// What a terminal reads back, for tests and diagnosis, in terms of glibc's struct termios
// fields without the kernel header: speed in bits per second.
struct TerminalSettings {
    uint32_t iflag = 0, oflag = 0, cflag = 0, lflag = 0;
    uint32_t ispeed = 0, ospeed = 0;
    uint8_t vstart = 0, vstop = 0, vmin = 0, vtime = 0;
};
int ReadTerminalSettings(SystemCalls& calls, int fd, TerminalSettings& settings);

// Clears HUPCL on the terminal, so that closing it leaves the modem lines as they are: 0, or -1.
int ClearHangUpOnClose(SystemCalls& calls, int fd);

}  // namespace linograf::serial
