#pragma once
// The variant a cell value may be given as (AsVariant): which alternative it holds decides the
// kind of cell made.
#include <cstdint>
#include <string>
#include <variant>

namespace linograf::workbook {

struct TVariantNull {};
struct TVariantError {
    int32_t code = 0;
};
// A currency amount in units of 1/10000.
struct TVariantCurrency {
    int64_t scaled = 0;
};
// A date-time value (days since 1899-12-30); stored as a plain number, without a date format.
struct TVariantDate {
    double value = 0;
};

// std::monostate is the empty variant; std::string holds UTF-8 text.
using TCellVariant = std::variant<std::monostate, TVariantNull, TVariantError, int8_t, uint8_t, int16_t,
                                  uint16_t, int32_t, uint32_t, int64_t, float, double, TVariantCurrency,
                                  TVariantDate, bool, std::u16string, std::string>;

}  // namespace linograf::workbook
