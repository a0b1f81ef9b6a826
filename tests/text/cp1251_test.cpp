#include "text/cp1251.h"

#include <gtest/gtest.h>

namespace linograf {
namespace {

TEST(Cp1251, EveryByteRoundTripsThroughUtf16ExceptTheUnassignedOne) {
    for (int b = 0; b < 256; ++b) {
        std::string one(1, static_cast<char>(b));
        std::u16string wide = Cp1251ToUtf16(one);
        ASSERT_EQ(wide.size(), 1u);
        if (b == 0x98) {
            EXPECT_EQ(wide[0], u'\uFFFD');
            continue;
        }
        EXPECT_EQ(Utf16ToCp1251(wide), one) << "byte " << b;
        EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(one)), one) << "byte " << b;
    }
}

TEST(Cp1251, CyrillicTextConvertsBothWays) {
    const std::string cp = "\xD7\xE5\xF2 \xB8\xEB\xEA\xE0";  // "Чет ёлка"
    EXPECT_EQ(Cp1251ToUtf8(cp), "Чет ёлка");
    EXPECT_EQ(Cp1251ToUtf16(cp), u"Чет ёлка");
    EXPECT_EQ(Utf8ToCp1251("Чет ёлка"), cp);
}

TEST(Cp1251, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    EXPECT_EQ(Utf16ToCp1251(u"a\u4E2Db"), "a?b");
    EXPECT_EQ(Utf16ToCp1251(u"x\U0001F600y"), "x?y");
    EXPECT_EQ(Utf8ToCp1251("x\xF0\x9F\x98\x80y"), "x?y");
    EXPECT_EQ(Utf8ToCp1251("bad\xC3"), "bad?");
    EXPECT_EQ(Utf8ToCp1251("\xFFok"), "?ok");
}

TEST(Cp1251, CaseFoldingCoversLatinAndCyrillic) {
    EXPECT_TRUE(Cp1251EqualsIgnoreCase("Format", "FORMAT"));
    EXPECT_TRUE(Cp1251EqualsIgnoreCase(Utf8ToCp1251("Параметры ё"), Utf8ToCp1251("ПАРАМЕТРЫ Ё")));
    EXPECT_FALSE(Cp1251EqualsIgnoreCase("name1", "name2"));
    EXPECT_FALSE(Cp1251EqualsIgnoreCase("abc", "abcd"));
}

}  // namespace
}  // namespace linograf
