#include "text/code_page_text.h"

#include <iconv.h>

#include <cerrno>

#include <string_view>

#include "text/cp1251.h"

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

void AppendUtf16(std::u16string& out, const char* bytes, size_t size) {
    for (size_t i = 0; i + 1 < size; i += 2)
        out.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
}

}  // namespace

std::u16string DecodeSystemCodePage(std::span<const uint8_t> bytes) {
    return Cp1251ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

TCodePageDecoder::TCodePageDecoder(uint16_t code_page) : code_page_(code_page) {
    if (code_page == kSystemCodePage) return;
    const iconv_t cd = iconv_open("UTF-16LE", IconvName(code_page).c_str());
    if (cd != reinterpret_cast<iconv_t>(-1)) converter_ = cd;
}

TCodePageDecoder::~TCodePageDecoder() {
    if (converter_) iconv_close(static_cast<iconv_t>(converter_));
}

std::u16string TCodePageDecoder::Decode(std::span<const uint8_t> bytes) const {
    if (!converter_) return DecodeSystemCodePage(bytes);
    const iconv_t cd = static_cast<iconv_t>(converter_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::u16string out;
    out.reserve(bytes.size());
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    size_t in_left = bytes.size();
    char buffer[512];
    while (in_left > 0) {
        char* to = buffer;
        size_t to_left = sizeof buffer;
        const size_t done = iconv(cd, &in, &in_left, &to, &to_left);
        AppendUtf16(out, buffer, sizeof buffer - to_left);
        if (done != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // An undefined byte or a sequence cut off at the end: one replacement character for the
        // byte, and on with the next.
        out.push_back(u'\uFFFD');
        ++in;
        --in_left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

}  // namespace linograf::workbook
