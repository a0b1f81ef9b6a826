#include "workbook/ooxml/zip_name.h"

#include "text/wide_text.h"

namespace linograf::workbook {
namespace {

void DropThrough(std::string& s, std::string_view marker) {
    const std::size_t at = s.find(marker);
    if (at != std::string::npos) s.erase(0, at + marker.size());
}

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Length of the valid UTF-8 sequence at s[i], or 0. Overlong forms, surrogates and values beyond
// U+10FFFF are invalid.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i, char32_t& code) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len;
    char32_t min;
    if (b0 < 0x80) {
        code = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, code = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, code = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, code = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        code = (code << 6) | (b & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

std::string ToZipName(std::string_view name) {
    std::string s(name);
    for (char& c : s)
        if (c == '\\') c = '/';
    DropThrough(s, ":/");
    if (s.find("//") != std::string::npos) {
        DropThrough(s, "//");
        DropThrough(s, "/");  // server
        DropThrough(s, "/");  // share
    }
    return s;
}

bool ZipNamesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

std::string ZipNameFromUtf16(std::u16string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        char32_t c = name[i];
        if (c >= 0xDC80 && c <= 0xDCFF) {
            out.push_back(static_cast<char>(c - 0xDC00));  // an escaped raw byte
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
            name[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (name[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate has no UTF-8 form
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string ZipNameToUtf16(std::string_view name) {
    std::u16string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        char32_t code = 0;
        const std::size_t len = Utf8SequenceLength(name, i, code);
        if (len == 0) {
            out.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(name[i])));
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += len;
    }
    return out;
}

bool IsNonAsciiUtf8(std::string_view name) {
    bool non_ascii = false;
    for (std::size_t i = 0; i < name.size();) {
        char32_t code = 0;
        const std::size_t len = Utf8SequenceLength(name, i, code);
        if (len == 0) return false;
        non_ascii |= len > 1;
        i += len;
    }
    return non_ascii;
}

}  // namespace linograf::workbook
