#include "text/cp1251.h"

#include <array>
#include <cstdint>

#include "text/wide_text.h"

namespace linograf {
namespace {

// Bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
constexpr std::array<char16_t, 64> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

char16_t ToUnit(unsigned char b) {
    if (b < 0x80) return b;
    if (b >= 0xC0) return static_cast<char16_t>(0x0410 + (b - 0xC0));
    return kHighHalf[b - 0x80];
}

char FromCodePoint(char32_t cp) {
    if (cp < 0x80) return static_cast<char>(cp);
    if (cp >= 0x0410 && cp <= 0x044F) return static_cast<char>(0xC0 + (cp - 0x0410));
    for (std::size_t i = 0; i < kHighHalf.size(); ++i) {
        if (kHighHalf[i] == cp && cp != 0xFFFD) return static_cast<char>(0x80 + i);
    }
    return '?';
}

}  // namespace

std::u16string Cp1251ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char c : text) out += ToUnit(static_cast<unsigned char>(c));
    return out;
}

std::string Cp1251ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) workbook::AppendUtf8(out, ToUnit(static_cast<unsigned char>(c)));
    return out;
}

std::string Utf16ToCp1251(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t u = text[i];
        // A surrogate pair is one character outside the code page: one '?' for both units.
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i;
            out += '?';
            continue;
        }
        out += FromCodePoint(u);
    }
    return out;
}

std::string Utf8ToCp1251(std::string_view text) {
    return Utf16ToCp1251(workbook::Utf8ToWide(text));
}

char Cp1251Upper(char c) {
    auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z') return static_cast<char>(b - 32);
    if (b >= 0xE0) return static_cast<char>(b - 32);  // а..я -> А..Я
    switch (b) {
        case 0xB8:
            return static_cast<char>(0xA8);  // ё
        case 0x90:
            return static_cast<char>(0x80);  // ђ
        case 0x83:
            return static_cast<char>(0x81);  // ѓ
        case 0x9A:
            return static_cast<char>(0x8A);  // љ
        case 0x9C:
            return static_cast<char>(0x8C);  // њ
        case 0x9D:
            return static_cast<char>(0x8D);  // ќ
        case 0x9E:
            return static_cast<char>(0x8E);  // ћ
        case 0x9F:
            return static_cast<char>(0x8F);  // џ
        case 0xA2:
            return static_cast<char>(0xA1);  // ў
        case 0xBC:
            return static_cast<char>(0xA3);  // ј
        case 0xB4:
            return static_cast<char>(0xA5);  // ґ
        case 0xBA:
            return static_cast<char>(0xAA);  // є
        case 0xBF:
            return static_cast<char>(0xAF);  // ї
        case 0xB3:
            return static_cast<char>(0xB2);  // і
        case 0xBE:
            return static_cast<char>(0xBD);  // ѕ
        default:
            return c;
    }
}

std::string Cp1251UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = Cp1251Upper(c);
    return out;
}

bool Cp1251EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Cp1251Upper(a[i]) != Cp1251Upper(b[i])) return false;
    }
    return true;
}

}  // namespace linograf
