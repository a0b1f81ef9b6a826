// The code pages of old workbooks against Python's codecs: every byte of each code page decodes
// to what Python's codec of that name gives, with U+FFFD for the bytes the code page leaves
// undefined.
#include "text/code_page_text.h"

#include <gtest/gtest.h>

#include "tests/support/run_command.h"

namespace linograf::workbook {
namespace {

// UTF-16LE bytes in hex, as Python prints them, as code units.
std::u16string FromUtf16LeHex(const std::string& hex) {
    std::u16string text;
    for (size_t i = 0; i + 4 <= hex.size(); i += 4) {
        const unsigned low = std::stoul(hex.substr(i, 2), nullptr, 16);
        const unsigned high = std::stoul(hex.substr(i + 2, 2), nullptr, 16);
        text.push_back(static_cast<char16_t>(low | (high << 8)));
    }
    return text;
}

// Python's view of the bytes 0x00..0xFF one at a time, as UTF-16 code units in hex.
std::u16string PythonDecodes(const std::string& codec) {
    const test::CommandResult r = test::RunPython(
        "import sys\n"
        "out = []\n"
        "for b in range(256):\n"
        "    out.append(bytes([b]).decode(sys.argv[1], errors='replace'))\n"
        "sys.stdout.write(''.join(out).encode('utf-16-le').hex())\n",
        {codec});
    EXPECT_EQ(r.exit_code, 0) << r.errors;
    return FromUtf16LeHex(r.output);
}

TEST(CodePageDecoder, EverySingleByteCodePageReadsAsPythonReadsIt) {
    const struct {
        uint16_t code_page;
        const char* codec;
    } cases[] = {{1251, "cp1251"}, {1252, "cp1252"}, {1250, "cp1250"}, {866, "cp866"}, {437, "cp437"}};
    std::vector<uint8_t> all(256);
    for (int b = 0; b < 256; ++b) all[b] = static_cast<uint8_t>(b);
    for (const auto& c : cases) {
        const TCodePageDecoder decoder(c.code_page);
        EXPECT_TRUE(decoder.Known()) << c.code_page;
        // One byte at a time and all at once: a byte the code page lacks does not take the
        // bytes after it along.
        std::u16string one_by_one;
        for (uint8_t b : all) one_by_one += decoder.Decode({&b, 1});
        const std::u16string expected = PythonDecodes(c.codec);
        EXPECT_EQ(one_by_one, expected) << c.code_page;
        EXPECT_EQ(decoder.Decode(all), expected) << c.code_page;
    }
}

TEST(CodePageDecoder, DoubleByteTextAndUnknownCodePages) {
    // "日本" in Shift JIS, with a lead byte cut off at the end.
    const std::vector<uint8_t> sjis = {0x93, 0xFA, 0x96, 0x7B, 0x93};
    EXPECT_EQ(TCodePageDecoder(932).Decode(sjis), u"日本\uFFFD");
    // A code page number nobody defines reads as the system code page.
    const TCodePageDecoder unknown(12345);
    EXPECT_FALSE(unknown.Known());
    const std::vector<uint8_t> cyrillic = {0xCF, 0xF0, 0xE8};
    EXPECT_EQ(unknown.Decode(cyrillic), u"При");
}

// Multi-byte code pages against Python with errors replaced, the bytes cut where a character is
// unfinished: what the cut leaves of one character is one replacement character, and an undefined
// byte takes none of the bytes after it along.
TEST(CodePageDecoder, MultiByteCodePagesReadAsPythonReadsThem) {
    const struct {
        uint16_t code_page;
        const char* codec;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {65001, "utf-8", {'a', 0xE2, 0x82, 0xAC, 'b', 0xE2, 0x82}},
        {65001, "utf-8", {0xFF, 'x', 0xF0, 0x9F, 0x98}},
        {1200, "utf-16-le", {'A', 0, 0x16, 0x04, 'B'}},
        {936, "gbk", {0xC4, 0xE3, 0xBA, 0xC3, 0xC4}},
        {949, "cp949", {0xC7, 0xD1, 'k', 0xB1}},
    };
    for (const auto& c : cases) {
        std::string hex;
        for (uint8_t b : c.bytes) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02x", b);
            hex += digits;
        }
        const test::CommandResult r = test::RunPython(
            "import sys\n"
            "sys.stdout.write(bytes.fromhex(sys.argv[2]).decode(sys.argv[1], "
            "'replace').encode('utf-16-le').hex())\n",
            {c.codec, hex});
        ASSERT_EQ(r.exit_code, 0) << r.errors;
        const TCodePageDecoder decoder(c.code_page);
        EXPECT_TRUE(decoder.Known()) << c.code_page;
        EXPECT_EQ(decoder.Decode(c.bytes), FromUtf16LeHex(r.output)) << c.code_page << " " << hex;
    }
}

}  // namespace
}  // namespace linograf::workbook
