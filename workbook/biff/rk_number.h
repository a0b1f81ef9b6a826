#pragma once
// RK numbers: the 32-bit form BIFF8 stores most cell numbers in. Bit 0 says the value was
// multiplied by 100, bit 1 that bits 2..31 hold a signed integer; otherwise bits 2..31 are the top
// 30 bits of an IEEE double whose remaining 34 bits are zero.
//
// Inline: the writer encodes every number cell and the reader decodes every RK cell, and a call
// returning std::optional builds it in memory.
#include <bit>
#include <cstdint>
#include <optional>

namespace linograf::workbook {

inline double DecodeRK(uint32_t rk) {
    double value;
    if (rk & 2u) {
        value = static_cast<double>(static_cast<int32_t>(rk) >> 2);
    } else {
        value = std::bit_cast<double>(uint64_t{rk & ~3u} << 32);
    }
    return (rk & 1u) ? value / 100.0 : value;
}

namespace rk_detail {

// The shortened double or, failing that, the integer form of y when one holds y exactly.
inline bool EncodeScaled(double y, uint32_t flag, uint32_t& rk) {
    constexpr uint64_t kLow34Bits = (uint64_t{1} << 34) - 1;
    const uint64_t bits = std::bit_cast<uint64_t>(y);
    if ((bits & kLow34Bits) == 0) {
        rk = static_cast<uint32_t>(bits >> 32) | flag;
        return true;
    }
    // In range, the conversion is exact for whole numbers only (and cheaper than floor).
    if (y >= -536870912.0 && y <= 536870911.0) {
        const int32_t whole = static_cast<int32_t>(y);
        if (static_cast<double>(whole) == y) {
            rk = static_cast<uint32_t>(whole) * 4u + 2u + flag;
            return true;
        }
    }
    return false;
}

}  // namespace rk_detail

// Tries the multipliers 1 and 100, each first as the shortened double and then as an integer.
// A value gets an encoding only when decoding gives back exactly the same double.
inline std::optional<uint32_t> EncodeRK(double value) {
    uint32_t rk = 0;
    // x * 100 may round onto a value that divides back to a neighbour of x; such a number is
    // stored in full rather than changed.
    const bool found = rk_detail::EncodeScaled(value, 0, rk) || rk_detail::EncodeScaled(value * 100.0, 1, rk);
    if (!found || std::bit_cast<uint64_t>(DecodeRK(rk)) != std::bit_cast<uint64_t>(value))
        return std::nullopt;
    return rk;
}

}  // namespace linograf::workbook
