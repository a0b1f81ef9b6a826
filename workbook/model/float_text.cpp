#include "workbook/model/float_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace linograf::workbook {

std::u16string FormatFloatGeneral(double value, char16_t decimal_separator) {
    if (std::isnan(value)) return u"NAN";
    if (std::isinf(value)) return value > 0 ? u"INF" : u"-INF";
    if (value == 0) return u"0";
    // 15 significant digits, then trailing zeros dropped.
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.14e", value);
    char* e = std::strchr(buffer, 'e');
    int exponent = std::atoi(e + 1);
    *e = '\0';
    std::string digits;
    bool negative = buffer[0] == '-';
    for (const char* p = buffer; *p; ++p)
        if (*p >= '0' && *p <= '9') digits.push_back(*p);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent < -5 || exponent >= 15) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out += digits.substr(1);
        }
        out += 'E';
        out += std::to_string(exponent);
    } else if (exponent < 0) {
        out += "0.";
        out.append(static_cast<size_t>(-exponent - 1), '0');
        out += digits;
    } else {
        size_t integer_digits = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= integer_digits) {
            out += digits;
            out.append(integer_digits - digits.size(), '0');
        } else {
            out += digits.substr(0, integer_digits);
            out += '.';
            out += digits.substr(integer_digits);
        }
    }
    std::u16string wide(out.begin(), out.end());
    for (char16_t& c : wide)
        if (c == u'.') c = decimal_separator;
    return wide;
}

}  // namespace linograf::workbook
