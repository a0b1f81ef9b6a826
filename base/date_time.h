#pragma once
// Date-time values are doubles counting days since 1899-12-30, the time of day as the fraction:
// the serial dates of Excel's 1900 system, so they go into cells unchanged.
#include <chrono>
#include <cstdint>

namespace linograf {

using TDateTime = double;

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

TDateTime EncodeDateTime(const DateTimeParts& parts);
// Rounds to the nearest millisecond first, so 0.999999999 of a day is the next midnight and
// not 23:59:59.999.
DateTimeParts DecodeDateTime(TDateTime value);

// Local wall-clock time, as the operator's clock shows it.
TDateTime ToDateTime(std::chrono::system_clock::time_point when);
TDateTime DateTimeNow();

}  // namespace linograf
