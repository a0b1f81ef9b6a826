#include "base/date_time.h"

#include <cmath>
#include <ctime>

namespace linograf {
namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;

// Days from 1970-01-01 for a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

const std::int64_t kEpochOffsetDays = DaysFromCivil(1899, 12, 30);

}  // namespace

TDateTime EncodeDateTime(const DateTimeParts& p) {
    const std::int64_t days =
        DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) -
        kEpochOffsetDays;
    const double fraction =
        (((p.hour * 60.0 + p.minute) * 60.0 + p.second) * 1000.0 + p.millisecond) / kMsPerDay;
    // Before the epoch the fraction still counts forward within the day, as Excel stores it.
    return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

DateTimeParts DecodeDateTime(TDateTime value) {
    DateTimeParts p;
    if (!std::isfinite(value)) return p;
    std::int64_t days = static_cast<std::int64_t>(std::trunc(value));
    double frac = std::fabs(value - static_cast<double>(days));
    std::int64_t ms = std::llround(frac * kMsPerDay);
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        days += value >= 0 ? 1 : -1;
    }
    CivilFromDays(days + kEpochOffsetDays, p.year, p.month, p.day);
    p.hour = static_cast<int>(ms / 3'600'000);
    p.minute = static_cast<int>(ms / 60'000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.millisecond = static_cast<int>(ms % 1000);
    return p;
}

TDateTime ToDateTime(std::chrono::system_clock::time_point when) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
    std::tm local{};
    localtime_r(&secs, &local);
    DateTimeParts p;
    p.year = local.tm_year + 1900;
    p.month = local.tm_mon + 1;
    p.day = local.tm_mday;
    p.hour = local.tm_hour;
    p.minute = local.tm_min;
    p.second = local.tm_sec;
    p.millisecond = static_cast<int>(((ms % 1000) + 1000) % 1000);
    return EncodeDateTime(p);
}

TDateTime DateTimeNow() {
    return ToDateTime(std::chrono::system_clock::now());
}

}  // namespace linograf
