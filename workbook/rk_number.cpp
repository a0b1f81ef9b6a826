#include "workbook/rk_number.h"

#include <bit>

namespace linograf::workbook {
namespace {

constexpr uint64_t kLow34Bits = (uint64_t{1} << 34) - 1;

std::optional<uint32_t> EncodeScaled(double y, bool times100) {
    const uint64_t bits = std::bit_cast<uint64_t>(y);
    if ((bits & kLow34Bits) == 0) return static_cast<uint32_t>(bits >> 32) | (times100 ? 1u : 0u);
    // In range, the conversion is exact for whole numbers only (and cheaper than floor).
    if (y >= -536870912.0 && y <= 536870911.0) {
        const int32_t whole = static_cast<int32_t>(y);
        if (static_cast<double>(whole) == y) return static_cast<uint32_t>(whole) * 4u + 2u + (times100 ? 1u : 0u);
    }
    return std::nullopt;
}

}  // namespace

double DecodeRK(uint32_t rk) {
    double value;
    if (rk & 2u) {
        value = static_cast<double>(static_cast<int32_t>(rk) >> 2);
    } else {
        value = std::bit_cast<double>(uint64_t{rk & ~3u} << 32);
    }
    return (rk & 1u) ? value / 100.0 : value;
}

std::optional<uint32_t> EncodeRK(double value) {
    for (const bool times100 : {false, true}) {
        const std::optional<uint32_t> rk = EncodeScaled(times100 ? value * 100.0 : value, times100);
        if (!rk) continue;
        // x * 100 may round onto a value that divides back to a neighbour of x; such a number is
        // stored in full rather than changed.
        if (std::bit_cast<uint64_t>(DecodeRK(*rk)) != std::bit_cast<uint64_t>(value)) return std::nullopt;
        return rk;
    }
    return std::nullopt;
}

}  // namespace linograf::workbook
