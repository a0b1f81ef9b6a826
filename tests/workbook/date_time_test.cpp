#include "base/date_time.h"

#include <gtest/gtest.h>

namespace linograf {
namespace {

struct DateCase {
    double serial;
    DateTimeParts parts;
};

class DateTimeSerials : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateTimeSerials, EncodeAndDecodeAgree) {
    const DateCase& c = GetParam();
    EXPECT_DOUBLE_EQ(EncodeDateTime(c.parts), c.serial);
    DateTimeParts d = DecodeDateTime(c.serial);
    EXPECT_EQ(d.year, c.parts.year);
    EXPECT_EQ(d.month, c.parts.month);
    EXPECT_EQ(d.day, c.parts.day);
    EXPECT_EQ(d.hour, c.parts.hour);
    EXPECT_EQ(d.minute, c.parts.minute);
    EXPECT_EQ(d.second, c.parts.second);
}

INSTANTIATE_TEST_SUITE_P(
    KnownSerials, DateTimeSerials,
    ::testing::Values(DateCase{0.0, {1899, 12, 30, 0, 0, 0, 0}}, DateCase{0.5, {1899, 12, 30, 12, 0, 0, 0}},
                      DateCase{2.0, {1900, 1, 1, 0, 0, 0, 0}}, DateCase{40000.0, {2009, 7, 6, 0, 0, 0, 0}},
                      DateCase{40000.25, {2009, 7, 6, 6, 0, 0, 0}},
                      DateCase{60000.0, {2064, 4, 8, 0, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<DateCase>& info) {
        return "Serial" + std::to_string(static_cast<long long>(info.param.serial * 100));
    });

TEST(DateTime, AlmostMidnightRoundsToTheNextDay) {
    DateTimeParts d = DecodeDateTime(1.0 - 1e-10);
    EXPECT_EQ(d.day, 31);
    EXPECT_EQ(d.hour, 0);
}

TEST(DateTime, NowIsAfter2020) {
    EXPECT_GT(DateTimeNow(), EncodeDateTime({2020, 1, 1}));
}

}  // namespace
}  // namespace linograf
