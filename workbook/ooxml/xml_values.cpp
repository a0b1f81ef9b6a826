#include "workbook/ooxml/xml_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "base/date_time.h"
#include "text/wide_text.h"
#include "workbook/model/cell_storage.h"

namespace linograf::workbook {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
    return s;
}

[[noreturn]] void BadReference(std::string_view text) {
    throw std::runtime_error("Invalid cell reference: " + std::string(text.substr(0, 40)));
}

}  // namespace

std::u16string DecodeText(std::string_view text) {
    std::u16string out;
    DecodeText(text, out);
    return out;
}

void DecodeText(std::string_view text, std::u16string& out) {
    // Most texts are plain ASCII, which widens byte for byte.
    out.resize(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b >= 0x80) {
            out.resize(i);
            out += Utf8ToWide(text.substr(i));
            return;
        }
        out[i] = b;
    }
}

std::u16string DecodeCellText(std::string_view text) {
    std::u16string out;
    DecodeCellText(text, out);
    return out;
}

void DecodeCellText(std::string_view text, std::u16string& out) {
    DecodeText(text, out);
    if (out.find(u"_x") == std::u16string::npos) return;
    auto hex = [](char16_t c) -> int {
        if (c >= u'0' && c <= u'9') return c - u'0';
        if (c >= u'A' && c <= u'F') return c - u'A' + 10;
        if (c >= u'a' && c <= u'f') return c - u'a' + 10;
        return -1;
    };
    size_t to = 0;
    for (size_t i = 0; i < out.size();) {
        if (out[i] == u'_' && i + 7 <= out.size() && out[i + 1] == u'x' && out[i + 6] == u'_') {
            int code = 0;
            bool valid = true;
            for (size_t k = i + 2; k < i + 6 && valid; ++k) {
                const int digit = hex(out[k]);
                valid = digit >= 0;
                code = code * 16 + digit;
            }
            if (valid) {
                out[to++] = static_cast<char16_t>(code);
                i += 7;
                continue;
            }
        }
        out[to++] = out[i++];
    }
    out.resize(to);
}

bool XmlIsoDateToSerial(std::string_view text, bool date1904, double& serial) {
    text = Trim(text);
    size_t i = 0;
    auto number = [&](size_t digits, int& value) {
        if (i + digits > text.size()) return false;
        value = 0;
        for (size_t k = 0; k < digits; ++k) {
            const char c = text[i + k];
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        i += digits;
        return true;
    };
    auto expect = [&](char c) {
        if (i >= text.size() || text[i] != c) return false;
        ++i;
        return true;
    };
    DateTimeParts date;
    bool has_date = false, has_time = false;
    double seconds_of_day = 0;
    if (text.size() >= 10 && text[4] == '-') {
        if (!number(4, date.year) || !expect('-') || !number(2, date.month) || !expect('-') ||
            !number(2, date.day))
            return false;
        if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > 31) return false;
        has_date = true;
        if (i < text.size() && text[i] == 'T') ++i;
    }
    if (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        int hour = 0, minute = 0, second = 0;
        if (!number(2, hour) || !expect(':') || !number(2, minute)) return false;
        double fraction = 0;
        if (i < text.size() && text[i] == ':') {
            ++i;
            if (!number(2, second)) return false;
            if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
                const size_t from = i;
                ++i;
                while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
                std::string digits = "0." + std::string(text.substr(from + 1, i - from - 1));
                fraction = XmlToFloat(digits);
            }
        }
        if (hour > 24 || minute > 59 || second > 60) return false;
        seconds_of_day = (hour * 60.0 + minute) * 60.0 + second + fraction;
        has_time = true;
    }
    if (!has_date && !has_time) return false;
    // A zone suffix: "Z" or "+hh:mm" / "-hh:mm"; nothing may follow it.
    if (i < text.size() && text[i] == 'Z') {
        ++i;
    } else if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        int h = 0, m = 0;
        ++i;
        if (!number(2, h) || !expect(':') || !number(2, m)) return false;
    }
    if (i != text.size()) return false;
    double days = 0;
    if (has_date) {
        days = EncodeDateTime(date);
        // The 1900 system counts 1900-02-29, which never was: days before March 1900 are one
        // less than their distance from the epoch.
        if (!date1904 && days < 61 && days >= 2) days -= 1;
        if (date1904) days -= 1462;
    }
    serial = days + seconds_of_day / 86400.0;
    return true;
}

double XmlToFloat(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    // "inf" and "nan" parse, but no cell can hold them and no writer can put them back.
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return 0;
    return value;
}

int XmlToInt(std::string_view text, int default_value) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return default_value;
    return value;
}

bool XmlToBool(std::string_view text) {
    return text == "1" || text == "true";
}

uint32_t XmlHexToUInt(std::string_view text) {
    uint32_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            continue;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return value;
}

TCellAddress ParseCellReference(std::string_view text) {
    size_t i = 0;
    if (i < text.size() && text[i] == '$') ++i;
    uint32_t col = 0;
    const size_t letters_from = i;
    while (i < text.size() && ((text[i] >= 'A' && text[i] <= 'Z') || (text[i] >= 'a' && text[i] <= 'z'))) {
        const uint32_t letter = static_cast<uint32_t>((text[i] | 0x20) - 'a') + 1;
        col = col * 26 + letter;
        if (col > kStoreColumns) BadReference(text);
        ++i;
    }
    if (i == letters_from) BadReference(text);
    if (i < text.size() && text[i] == '$') ++i;
    const size_t digits_from = i;
    uint32_t row = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        row = row * 10 + static_cast<uint32_t>(text[i] - '0');
        if (row > kStoreRows) BadReference(text);
        ++i;
    }
    if (i == digits_from || i != text.size() || row == 0) BadReference(text);
    return {col - 1, row - 1};
}

TCellArea ParseAreaReference(std::string_view text) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        TCellAddress a = ParseCellReference(text);
        return {a, a};
    }
    TCellAddress a = ParseCellReference(text.substr(0, colon));
    TCellAddress b = ParseCellReference(text.substr(colon + 1));
    return {{std::min(a.col, b.col), std::min(a.row, b.row)},
            {std::max(a.col, b.col), std::max(a.row, b.row)}};
}

}  // namespace linograf::workbook
