#include "workbook/ooxml/xml_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "workbook/model/cell_storage.h"
#include "text/wide_text.h"

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
