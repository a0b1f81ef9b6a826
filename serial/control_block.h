#pragma once
// The device control block: the line and flow settings the dispatcher keeps a copy of, in the
// layout its rules are written for (Windows' DCB). The POSIX layer translates it to and from the
// terminal settings (serial/termios_control_block.h).
#include <cstdint>

namespace linograf::serial {

// Flag bits.
inline constexpr uint32_t dcbBinary = 1;
inline constexpr uint32_t dcbParityCheck = 2;
inline constexpr uint32_t dcbOutxCtsFlow = 4;
inline constexpr uint32_t dcbOutxDsrFlow = 8;
inline constexpr uint32_t dcbDtrControlMask = 16 | 32;
inline constexpr uint32_t dcbDtrControlEnable = 16;
inline constexpr uint32_t dcbDtrControlHandshake = 32;
inline constexpr uint32_t dcbDsrSensitivity = 64;
inline constexpr uint32_t dcbTxContinueOnXoff = 128;
inline constexpr uint32_t dcbOutX = 256;
inline constexpr uint32_t dcbInX = 512;
inline constexpr uint32_t dcbNull = 2048;
inline constexpr uint32_t dcbRtsControlMask = 4096 | 8192;
inline constexpr uint32_t dcbRtsControlEnable = 4096;
inline constexpr uint32_t dcbRtsControlHandshake = 8192;
inline constexpr uint32_t dcbRtsControlToggle = 12288;

// Parity codes.
inline constexpr uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3, kSpaceParity = 4;
// Stop-bit codes.
inline constexpr uint8_t kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2;

struct TDcb {
    uint32_t baud_rate = 0;
    uint32_t flags = 0;
    uint16_t xon_lim = 0;
    uint16_t xoff_lim = 0;
    uint8_t byte_size = 8;
    uint8_t parity = kNoParity;
    uint8_t stop_bits = kOneStopBit;
    uint8_t xon_char = 17;
    uint8_t xoff_char = 19;
    bool operator==(const TDcb&) const = default;
};

// The status report: line-error flags, bytes in the driver's input queue, bytes waiting for output.
struct TComStat {
    uint32_t errors = 0;
    uint32_t in_queue = 0;
    uint32_t out_queue = 0;
};

// Line-error bits.
inline constexpr uint32_t ceRxOver = 1, ceOverrun = 2, ceRxParity = 4, ceFrame = 8, ceBreak = 16;

// Comm-event bits.
inline constexpr uint32_t evRxChar = 1, evCts = 8, evDsr = 16, evRlsd = 32, evBreak = 64, evErr = 128,
                          evRing = 256, evRing2 = 8192;

// Modem-status bits of the status byte (current lines; bits 0-3 are change flags).
inline constexpr uint8_t msCts = 16, msDsr = 32, msRing = 64, msDcd = 128;

}  // namespace linograf::serial
