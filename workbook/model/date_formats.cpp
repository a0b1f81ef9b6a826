#include "workbook/model/date_formats.h"

#include <cmath>

#include "text/wide_text.h"

namespace linograf::workbook {

std::u16string ExcelTimeFormat(std::u16string_view short_time_format) {
    std::u16string lower = WideLowerCase(short_time_format);
    size_t at = lower.find(u"ampm");
    if (at == std::u16string::npos) return std::u16string(short_time_format);
    std::u16string result(short_time_format.substr(0, at + 2));
    result += u'/';
    result += short_time_format.substr(at + 2);
    return result;
}

std::u16string DateTimeFormatFor(double value, std::u16string_view short_date_format,
                                 std::u16string_view short_time_format) {
    double whole = std::trunc(value);
    double fraction = value - whole;
    std::u16string time = ExcelTimeFormat(short_time_format);
    if (whole > 0 && fraction > 0) return std::u16string(short_date_format) + u" " + time;
    if (whole > 0) return std::u16string(short_date_format);
    if (fraction > 0) return time;
    return {};
}

}  // namespace linograf::workbook
