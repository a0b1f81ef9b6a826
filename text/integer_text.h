#pragma once
// The one rule by which stored text becomes an integer, shared by the INI file and the integer
// columns of the in-memory tables, so a size typed in the format grid and one read from a file made
// by the Windows program mean the same number.
#include <cstdint>
#include <optional>
#include <string_view>

namespace linograf {

// Optional leading blanks, an optional "+" or "-", then decimal digits, or hexadecimal digits after
// "$", "x", "X", "0x" or "0X". Nothing may follow the digits. Decimal numbers must lie in the
// 32-bit signed range; hexadecimal ones may use all 32 bits and are taken as the bit pattern, so
// "$FFFFFFFF" is -1, as the Windows program reads it. Anything else gives no value.
std::optional<std::int32_t> ParseIntegerText(std::string_view text);

}  // namespace linograf
