#pragma once
// RK numbers: the 32-bit form BIFF8 stores most cell numbers in. Bit 0 says the value was
// multiplied by 100, bit 1 that bits 2..31 hold a signed integer; otherwise bits 2..31 are the top
// 30 bits of an IEEE double whose remaining 34 bits are zero.
#include <cstdint>
#include <optional>

namespace linograf::workbook {

// Tries the multipliers 1 and 100, each first as the shortened double and then as an integer.
// A value gets an encoding only when decoding gives back exactly the same double.
std::optional<uint32_t> EncodeRK(double value);
double DecodeRK(uint32_t rk);

}  // namespace linograf::workbook
