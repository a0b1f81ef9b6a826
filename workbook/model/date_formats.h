#pragma once
// The number formats date cells get. Windows takes them from the user's short date and time
// settings; on Linux the C/POSIX locale's "%m/%d/%y" would be ambiguous in a log read in other
// countries, so date cells use day.month.year with four-digit years and 24-hour times, which no
// reader can take for another date.
#include <string>
#include <string_view>

namespace linograf::workbook {

inline constexpr std::u16string_view kShortDateFormat = u"dd.mm.yyyy";
inline constexpr std::u16string_view kShortTimeFormat = u"hh:mm:ss";

// The Excel time format for a short time format: an "ampm" marker (any case) becomes "AM/PM"
// style by a "/" after its second letter; anything else is taken as it is.
std::u16string ExcelTimeFormat(std::u16string_view short_time_format);

// The format for a date-time value: date and time, date only, time only, or empty (leave the
// cell's format alone) for values of 0 and below without a fraction.
std::u16string DateTimeFormatFor(double value, std::u16string_view short_date_format = kShortDateFormat,
                                 std::u16string_view short_time_format = kShortTimeFormat);

}  // namespace linograf::workbook
