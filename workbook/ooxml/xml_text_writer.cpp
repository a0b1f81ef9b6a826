#include "workbook/ooxml/xml_text_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "text/wide_text.h"
#include "workbook/ooxml/xls_zip_archive.h"

namespace linograf::workbook {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendHex4(std::string& out, uint32_t value) {
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

bool IsHexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

// "_xHHHH_" starting at i: what a reader would take for an escaped character.
bool LooksLikeExcelEscape(std::u16string_view text, std::size_t i) {
    if (i + 7 > text.size() || text[i + 1] != u'x' || text[i + 6] != u'_') return false;
    for (std::size_t k = i + 2; k < i + 6; ++k)
        if (!IsHexDigit(text[k])) return false;
    return true;
}

void AppendInt(std::string& out, int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

}  // namespace

void AppendEscapedUtf8(std::string& out, std::u16string_view text, bool cell_text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        switch (c) {
            case u'"':
                out += "&quot;";
                continue;
            case u'&':
                out += "&amp;";
                continue;
            case u'<':
                out += "&lt;";
                continue;
            case u'>':
                out += "&gt;";
                continue;
            case u'_':
                if (cell_text && LooksLikeExcelEscape(text, i)) {
                    out += "_x005F_";
                    continue;
                }
                break;
            default:
                break;
        }
        // A carriage return written as it is reads back as a line feed (XML normalizes line
        // ends); a character reference keeps it for every XML reader.
        if (c == u'\r') {
            out += "&#13;";
            continue;
        }
        if (c < 0x20 && c != u'\t' && c != u'\n') {
            out += "_x";
            AppendHex4(out, c);
            out += '_';
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
                ++i;
            } else {
                c = 0xFFFD;
            }
        }
        AppendUtf8(out, c);
    }
}

std::string EscapeXml(std::u16string_view text, bool cell_text) {
    std::string out;
    out.reserve(text.size());
    AppendEscapedUtf8(out, text, cell_text);
    return out;
}

std::string EscapeXml(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
            case '"':
                out += "&quot;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                    out += "_x";
                    AppendHex4(out, static_cast<unsigned char>(c));
                    out += '_';
                } else {
                    out += c;
                }
        }
    }
    return out;
}

void AppendGeneral(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NAN";
        return;
    }
    if (std::isinf(value)) {
        out += value > 0 ? "INF" : "-INF";
        return;
    }
    if (value == 0) {
        out += '0';
        return;
    }
    // Whole numbers within 15 digits are the common case (counters, serial dates without time).
    if (std::fabs(value) < 1e15 && value == std::trunc(value)) {
        AppendInt(out, static_cast<int64_t>(value));
        return;
    }
    // The fewest significant digits (at most 17) that read back as the same double: 15 digits
    // would turn 0.30000000000000004 into 0.3. to_chars never looks at the locale.
    char buffer[40];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    *result.ptr = '\0';
    char* e = std::strchr(buffer, 'e');
    const int exponent = std::atoi(e + 1);
    std::string digits;
    for (const char* p = buffer; p < e; ++p)
        if (*p >= '0' && *p <= '9') digits += *p;
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    if (value < 0) out += '-';
    if (exponent < -5 || exponent >= 15) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out.append(digits, 1);
        }
        out += 'E';
        AppendInt(out, exponent);
    } else if (exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    } else {
        const auto integer_digits = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= integer_digits) {
            out += digits;
            out.append(integer_digits - digits.size(), '0');
        } else {
            out.append(digits, 0, integer_digits);
            out += '.';
            out.append(digits, integer_digits);
        }
    }
}

std::string GeneralText(double value) {
    std::string out;
    AppendGeneral(out, value);
    return out;
}

std::string FixedText(double value) {
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    if (result.ec != std::errc()) return "0.00";
    return std::string(buffer, result.ptr);
}

// ---- TXLSWriteXML -------------------------------------------------------------------------------

TXLSWriteXML::~TXLSWriteXML() noexcept(false) {
    if (stack_.empty() || std::uncaught_exceptions() > 0) return;
    std::string names;
    for (const std::string& name : stack_) {
        names += name;
        names += '\n';
    }
    throw std::runtime_error("Tag stack not empty: " + names);
}

void TXLSWriteXML::XmlDeclaration() {
    buffer_ += R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";
}

void TXLSWriteXML::AppendPending() {
    buffer_ += pending_;
    pending_.clear();
}

void TXLSWriteXML::BeginTag(std::string_view name) {
    stack_.emplace_back(name);
    buffer_ += '<';
    buffer_ += name;
    if (!pending_.empty()) {
        buffer_ += ' ';
        AppendPending();
    }
    buffer_ += '>';
}

void TXLSWriteXML::BeginTag(std::string_view name, std::string_view attributes) {
    stack_.emplace_back(name);
    buffer_ += '<';
    buffer_ += name;
    buffer_ += ' ';
    buffer_ += attributes;
    buffer_ += '>';
}

void TXLSWriteXML::EmptyTag(std::string_view name) {
    buffer_ += '<';
    buffer_ += name;
    buffer_ += ' ';
    if (pending_.empty()) buffer_ += ' ';
    AppendPending();
    buffer_ += "/>";
}

void TXLSWriteXML::EmptyTag(std::string_view name, std::string_view attributes) {
    buffer_ += '<';
    buffer_ += name;
    buffer_ += ' ';
    buffer_ += attributes;
    buffer_ += " />";
}

void TXLSWriteXML::EndTag() {
    if (stack_.empty()) throw std::logic_error("EndTag without an open element");
    buffer_ += "</";
    buffer_ += stack_.back();
    buffer_ += '>';
    stack_.pop_back();
    FlushIfFull();
}

void TXLSWriteXML::AddAttribute(bool condition, std::string_view name, std::string_view value) {
    if (!condition) return;
    pending_ += name;
    pending_ += "=\"";
    pending_ += value;
    pending_ += "\" ";
}

void TXLSWriteXML::AddAttribute(bool condition, std::string_view name, int64_t value) {
    if (!condition) return;
    std::string text;
    AppendInt(text, value);
    AddAttribute(true, name, std::string_view(text));
}

void TXLSWriteXML::AddAttribute(bool condition, std::string_view name, bool value) {
    AddAttribute(condition, name, std::string_view(value ? "1" : "0"));
}

void TXLSWriteXML::AddAttribute(bool condition, std::string_view name, double value) {
    if (!condition) return;
    AddAttribute(true, name, std::string_view(GeneralText(value)));
}

void TXLSWriteXML::TextElement(std::string_view name, std::string_view text) {
    buffer_ += '<';
    buffer_ += name;
    buffer_ += '>';
    buffer_ += text;
    buffer_ += "</";
    buffer_ += name;
    buffer_ += '>';
}

void TXLSWriteXML::PreserveElement(std::string_view name, std::string_view text) {
    buffer_ += '<';
    buffer_ += name;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    if (!text.empty() && (blank(text.front()) || blank(text.back()))) buffer_ += R"( xml:space="preserve")";
    buffer_ += '>';
    buffer_ += text;
    buffer_ += "</";
    buffer_ += name;
    buffer_ += '>';
}

void TXLSWriteXML::ValueTrue(std::string_view name) {
    buffer_ += '<';
    buffer_ += name;
    buffer_ += R"( val="true" />)";
}

void TXLSWriteXML::ValueFalse(std::string_view name) {
    buffer_ += '<';
    buffer_ += name;
    buffer_ += R"( val="false" />)";
}

void TXLSWriteXML::ValueText(std::string_view name, std::string_view value) {
    buffer_ += '<';
    buffer_ += name;
    buffer_ += R"( val=")";
    buffer_ += value;
    buffer_ += R"(" />)";
}

void TXLSWriteXML::ValueInt(std::string_view name, int64_t value) {
    buffer_ += '<';
    buffer_ += name;
    buffer_ += R"( val=")";
    AppendInt(buffer_, value);
    buffer_ += R"(" />)";
}

void TXLSWriteXML::ValueFixed(std::string_view name, double value) {
    ValueText(name, FixedText(value));
}

// ---- TXLSWriteXMLStream ---------------------------------------------------------------------------

void TXLSWriteXML::SetSink(std::function<void(std::string_view)> sink, std::size_t threshold) {
    sink_ = std::move(sink);
    flush_at_ = sink_ ? threshold : static_cast<std::size_t>(-1);
}

void TXLSWriteXML::Flush() {
    if (!sink_) return;
    if (!buffer_.empty()) sink_(buffer_);
    buffer_.clear();
}

void TXLSWriteXMLStream::BeginZipPart(TXLSZipArchive& zip, std::u16string_view name) {
    if (!Text().empty()) throw std::logic_error("XML text written before the part began");
    zip.BeginEntry(u"", name);
    part_zip_ = &zip;
    SetSink([&zip](std::string_view text) { zip.WriteEntryData(text); }, kPartPiece);
}

void TXLSWriteXMLStream::EndZipPart() {
    if (part_zip_ == nullptr) throw std::logic_error("No part is being written");
    TXLSZipArchive& zip = *part_zip_;
    try {
        Flush();
    } catch (...) {
        CancelZipPart();
        throw;
    }
    SetSink(nullptr, 0);
    part_zip_ = nullptr;
    zip.EndEntry();
}

void TXLSWriteXMLStream::CancelZipPart() {
    SetSink(nullptr, 0);
    Clear();
    if (part_zip_ != nullptr) part_zip_->CancelEntry();
    part_zip_ = nullptr;
}

void TXLSWriteXMLStream::AddToZip(TXLSZipArchive& zip, std::u16string_view name) {
    // The buffer moves into the stream and back, so a part's bytes are never copied and the
    // next part reuses the capacity.
    stream_ = TMemoryStream(std::move(Buffer()));
    zip.AddStream(u"", name, stream_);
    Buffer() = stream_.Release();
    Clear();
}

// ---- TXLSWriteExcelXMLStream ------------------------------------------------------------------

void TXLSWriteExcelXMLStream::ColorElement(std::string_view element, const TXc12Color& color) {
    std::string attribute;
    switch (color.kind) {
        case ckAuto:
            attribute = R"(auto="true")";
            break;
        case ckIndexed:
            attribute = "indexed=\"" + std::to_string(color.value) + '"';
            break;
        case ckRgb: {
            char hex[9];
            std::snprintf(hex, sizeof hex, "%.8X", color.value);
            attribute = std::string("rgb=\"") + hex + '"';
            break;
        }
        case ckTheme:
            attribute = "theme=\"" + std::to_string(color.value) + '"';
            break;
        default:
            return;
    }
    std::string& out = Buffer();
    out += '<';
    out += element;
    out += ' ';
    out += attribute;
    if (color.tint != 0) {
        out += R"( tint=")";
        out += FixedText(color.tint);
        out += R"(" />)";
    } else {
        out += " />";
    }
}

// ---- References -------------------------------------------------------------------------------

void AppendColumnName(std::string& out, uint32_t col) {
    char letters[8];
    int n = 0;
    uint64_t value = uint64_t{col} + 1;  // bijective base 26
    while (value > 0) {
        const uint64_t rest = (value - 1) % 26;
        letters[n++] = static_cast<char>('A' + rest);
        value = (value - 1) / 26;
    }
    while (n > 0) out += letters[--n];
}

void AppendCellReference(std::string& out, uint32_t col, uint32_t row) {
    AppendColumnName(out, col);
    AppendInt(out, int64_t{row} + 1);
}

std::string CellReference(uint32_t col, uint32_t row) {
    std::string out;
    AppendCellReference(out, col, row);
    return out;
}

}  // namespace linograf::workbook
