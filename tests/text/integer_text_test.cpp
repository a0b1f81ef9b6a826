#include "text/integer_text.h"

#include <gtest/gtest.h>

#include <optional>

namespace linograf {
namespace {

struct Case {
    const char* text;
    std::optional<std::int32_t> expected;
};

TEST(IntegerText, ReadsTheTextByTheRule) {
    const Case cases[] = {
        {"0", 0},
        {"42", 42},
        {"007", 7},
        {" 12", 12},
        {"   -5", -5},
        {"+8", 8},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"$10", 16},
        {"x1f", 31},
        {"X1F", 31},
        {"0x10", 16},
        {"0XfF", 255},
        {"-$10", -16},
        {"+0x7FFFFFFF", 2147483647},
        {"$FFFFFFFF", -1},
        {"0x80000000", INT32_MIN},
        {"00000000000000000000012", 12},
        // Nothing else parses.
        {"", std::nullopt},
        {" ", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"12a", std::nullopt},
        {"12 ", std::nullopt},
        {"\t12", std::nullopt},
        {"a12", std::nullopt},
        {"1 2", std::nullopt},
        {"--1", std::nullopt},
        {"- 1", std::nullopt},
        {"1.5", std::nullopt},
        {"$G", std::nullopt},
        {"0x-1", std::nullopt},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"$100000000", std::nullopt},
        {"abc", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseIntegerText(c.text), c.expected) << "text \"" << c.text << "\"";
    }
}

}  // namespace
}  // namespace linograf
