#include "text/code_page_text.h"

#include <string_view>

#include "text/cp1251.h"
#include "text/iconv_text.h"

namespace linograf::workbook {
namespace {

// The iconv name of a code page number as BIFF files give it ([MS-XLS] CodePage).
std::string IconvName(uint16_t code_page) {
    switch (code_page) {
        case 367:
            return "ASCII";
        case 1200:
            return "UTF-16LE";
        case 10000:
        case 32768:  // Mac Roman in BIFF2 and BIFF3
            return "MACINTOSH";
        case 32769:  // Windows 1252 in BIFF2 and BIFF3
            return "CP1252";
        case 65001:
            return "UTF-8";
        default:
            return "CP" + std::to_string(code_page);
    }
}

constexpr std::string_view kReplacementUtf16 = "\xFD\xFF";  // U+FFFD, little-endian

}  // namespace

std::u16string DecodeSystemCodePage(std::span<const uint8_t> bytes) {
    return Cp1251ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

TCodePageDecoder::TCodePageDecoder(uint16_t code_page) : code_page_(code_page) {
    if (code_page == kSystemCodePage) return;
    converter_ = std::make_unique<TIconvText>("UTF-16LE", IconvName(code_page), kReplacementUtf16);
    if (!converter_->Opened()) converter_.reset();
}

TCodePageDecoder::~TCodePageDecoder() = default;

std::u16string TCodePageDecoder::Decode(std::span<const uint8_t> bytes) const {
    if (!converter_) return DecodeSystemCodePage(bytes);
    const std::string units =
        converter_->Convert(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    std::u16string out;
    out.reserve(units.size() / 2);
    for (size_t i = 0; i + 1 < units.size(); i += 2)
        out.push_back(static_cast<char16_t>(static_cast<uint8_t>(units[i]) |
                                            (static_cast<uint8_t>(units[i + 1]) << 8)));
    return out;
}

}  // namespace linograf::workbook
