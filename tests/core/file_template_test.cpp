#include "core/file_template.h"

#include <gtest/gtest.h>

#include <vector>

#include "text/cp1251.h"

namespace linograf {
namespace {

TDateTime At(int year, int month, int day, int hour, int minute, int second, int ms = 0) {
    return EncodeDateTime({year, month, day, hour, minute, second, ms});
}

struct TemplateCase {
    const char* file_template;
    const char* expected;
};

TEST(FileTemplate, ExpandsTokensWithoutRegardToCase) {
    const TDateTime now = At(2007, 3, 5, 9, 4, 7);
    const std::vector<TemplateCase> cases = {
        {"D:/log/data_{yyyy}-{mm}-{dd}.xls", "D:/log/data_2007-03-05.xls"},
        {"D:/log/data_{yyyy}-{mm}-{DD}.xls", "D:/log/data_2007-03-05.xls"},
        {"{YyYy}{Mm}{dD}", "20070305"},
        {"{yy}|{yyyy}", "07|2007"},
        {"{hh}{nn}{ss}", "090407"},
        {"{HH}:{NN}:{SS}", "09:04:07"},
        {"{dd}{dd}_{dd}", "0505_05"},
        {"log.xls", "log.xls"},
        {"{hh:nn}_{hh}", "{hh:nn}_09"},
        {"{d}{ddd}{yyy}{dd", "{d}{ddd}{yyy}{dd"},
        {"{{dd}}", "{05}"},
        {"", ""},
    };
    for (const TemplateCase& c : cases) {
        EXPECT_EQ(ExpandFileTemplate(c.file_template, [&] { return now; }), c.expected) << c.file_template;
    }
}

TEST(FileTemplate, KeepsWindows1251TextAroundTokens) {
    const std::string file_template = Utf8ToCp1251("Журнал весов {dd}.{mm} Ёж.xls");
    EXPECT_EQ(ExpandFileTemplate(file_template, [] { return At(2026, 12, 31, 0, 0, 0); }),
              Utf8ToCp1251("Журнал весов 31.12 Ёж.xls"));
}

TEST(FileTemplate, ReadsTheClockOncePerTokenInListOrder) {
    // The clock passes midnight after the first reading: the day comes from before it, every other
    // part from after it, as the tokens are expanded in the order dd, mm, yy, yyyy, hh, nn, ss.
    std::vector<TDateTime> readings = {At(2007, 3, 5, 23, 59, 59, 900), At(2007, 3, 6, 0, 0, 0),
                                       At(2007, 3, 6, 0, 0, 0),         At(2007, 3, 6, 0, 0, 0),
                                       At(2007, 3, 6, 0, 0, 0),         At(2007, 3, 6, 0, 0, 1),
                                       At(2007, 3, 6, 0, 0, 2)};
    std::size_t read = 0;
    const std::string name = ExpandFileTemplate("{ss}-{nn}-{hh}_{dd}.{mm}.{yyyy}", [&] {
        EXPECT_LT(read, readings.size());
        return readings.at(std::min(read++, readings.size() - 1));
    });
    EXPECT_EQ(read, readings.size());
    EXPECT_EQ(name, "02-00-00_05.03.2007");
}

}  // namespace
}  // namespace linograf
