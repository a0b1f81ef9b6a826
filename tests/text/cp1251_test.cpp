#include "text/cp1251.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <optional>
#include <string>

#include "text/code_page_text.h"
#include "text/wide_text.h"

namespace linograf {
namespace {

// glibc's converter, an implementation of the code pages independent of ours. Empty when the
// input has no mapping (Windows-1251 leaves byte 0x98 unassigned).
std::optional<std::string> Iconv(const char* to, const char* from, const std::string& input) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "iconv does not know " << from << " -> " << to << ": errno " << errno;
        return std::nullopt;
    }
    std::string out(input.size() * 4 + 16, '\0');
    char* in_ptr = const_cast<char*>(input.data());
    size_t in_left = input.size();
    char* out_ptr = out.data();
    size_t out_left = out.size();
    const size_t result = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    iconv_close(cd);
    if (result == static_cast<size_t>(-1)) return std::nullopt;
    out.resize(out.size() - out_left);
    return out;
}

std::u16string FromUtf16Le(const std::string& bytes) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return text;
}

TEST(Cp1251, EveryByteDecodesAsGlibcDecodesIt) {
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::optional<std::string> utf8 = Iconv("UTF-8", "CP1251", one);
        const std::optional<std::string> utf16 = Iconv("UTF-16LE", "CP1251", one);
        if (!utf8) {
            // The unassigned byte: a replacement character, never a lost byte.
            EXPECT_EQ(b, 0x98);
            EXPECT_EQ(Cp1251ToUtf16(one), u"\uFFFD");
            EXPECT_EQ(Cp1251ToUtf8(one), "\xEF\xBF\xBD");
            continue;
        }
        ASSERT_TRUE(utf16.has_value());
        EXPECT_EQ(Cp1251ToUtf8(one), *utf8) << "byte 0x" << std::hex << b;
        EXPECT_EQ(Cp1251ToUtf16(one), FromUtf16Le(*utf16)) << "byte 0x" << std::hex << b;
        EXPECT_EQ(workbook::DecodeSystemCodePage({reinterpret_cast<const uint8_t*>(one.data()), 1}),
                  FromUtf16Le(*utf16))
            << "byte 0x" << std::hex << b;
        // And back: glibc's character encodes to the same byte.
        EXPECT_EQ(Utf8ToCp1251(*utf8), one) << "byte 0x" << std::hex << b;
        EXPECT_EQ(Utf16ToCp1251(FromUtf16Le(*utf16)), one) << "byte 0x" << std::hex << b;
    }
}

TEST(Cp1251, CaseFoldingMapsEachSmallLetterToItsUnicodeCapital) {
    // Every small letter of the code page outside the a..я runs, with the capital Unicode pairs it
    // with; both are encoded through the code page and compared by byte.
    struct Pair {
        const char* small;
        const char* capital;
    };
    static constexpr Pair kPairs[] = {
        {"ё", "Ё"}, {"ђ", "Ђ"}, {"ѓ", "Ѓ"}, {"љ", "Љ"}, {"њ", "Њ"}, {"ќ", "Ќ"},
        {"ћ", "Ћ"}, {"џ", "Џ"}, {"ў", "Ў"}, {"ј", "Ј"}, {"ґ", "Ґ"}, {"є", "Є"},
        {"ї", "Ї"}, {"і", "І"}, {"ѕ", "Ѕ"}, {"я", "Я"}, {"а", "А"}, {"z", "Z"},
    };
    for (const Pair& pair : kPairs) {
        const std::string small = Utf8ToCp1251(pair.small);
        const std::string capital = Utf8ToCp1251(pair.capital);
        ASSERT_EQ(small.size(), 1u) << pair.small;
        ASSERT_EQ(capital.size(), 1u) << pair.capital;
        EXPECT_EQ(Cp1251Upper(small[0]), capital[0]) << pair.small;
        EXPECT_EQ(Cp1251Upper(capital[0]), capital[0]) << pair.capital;
    }
    EXPECT_TRUE(Cp1251EqualsIgnoreCase(Utf8ToCp1251("Параметры ё"), Utf8ToCp1251("ПАРАМЕТРЫ Ё")));
    EXPECT_FALSE(Cp1251EqualsIgnoreCase("name1", "name2"));
    EXPECT_FALSE(Cp1251EqualsIgnoreCase("abc", "abcd"));
}

TEST(Cp1251, CharactersOutsideTheCodePageBecomeOneQuestionMarkEach) {
    EXPECT_EQ(Utf16ToCp1251(u"a\u4E2Db"), "a?b");
    EXPECT_EQ(Utf16ToCp1251(u"x\U0001F600y"), "x?y");
    EXPECT_EQ(Utf8ToCp1251("x\xF0\x9F\x98\x80y"), "x?y");
    EXPECT_EQ(Utf8ToCp1251("bad\xC3"), "bad?");
    EXPECT_EQ(Utf8ToCp1251("\xFFok"), "?ok");
}

// UTF-8 <-> UTF-16, checked against glibc on text from every plane the program meets, surrogate
// pairs included.
TEST(WideText, Utf8AndUtf16AgreeWithGlibc) {
    const char* const kTexts[] = {
        "", "plain ASCII", "Привет, мир", "¾ ½ ©", "中文字符", "emoji 😀 and 𝄞 clef", "mixed Ђ€‰ и 𐍈",
    };
    for (const char* text : kTexts) {
        const std::optional<std::string> utf16 = Iconv("UTF-16LE", "UTF-8", text);
        ASSERT_TRUE(utf16.has_value()) << text;
        EXPECT_EQ(workbook::Utf8ToWide(text), FromUtf16Le(*utf16)) << text;
        EXPECT_EQ(workbook::WideToUtf8(FromUtf16Le(*utf16)), text) << text;
    }
}

TEST(WideText, InvalidUtf8AndLoneSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(workbook::Utf8ToWide("a\xC3"), u"a\uFFFD");
    EXPECT_EQ(workbook::Utf8ToWide("\x80x"), u"\uFFFDx");
    EXPECT_EQ(workbook::WideToUtf8(std::u16string(1, char16_t{0xD800}) + u"z"), "\xEF\xBF\xBDz");
}

}  // namespace
}  // namespace linograf
