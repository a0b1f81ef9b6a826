#pragma once
// 8-bit texts of old record layouts (BIFF5 and older) are in the code page the file names in its
// CODEPAGE record, or, without one, in the code page of the system that wrote them; this
// program's systems use Windows-1251.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace linograf {
class TIconvText;
}

namespace linograf::workbook {

// Windows-1251 bytes as UTF-16; the one unassigned byte (0x98) becomes U+FFFD.
std::u16string DecodeSystemCodePage(std::span<const uint8_t> bytes);

// Texts in one Windows code page number (1252, 1251, 437, 932, 10000 for Mac Roman, ...). A code
// page this system cannot convert is read as the system code page; a byte sequence the code page
// does not define becomes U+FFFD, so no text is cut short.
class TCodePageDecoder {
  public:
    explicit TCodePageDecoder(uint16_t code_page = kSystemCodePage);
    ~TCodePageDecoder();
    TCodePageDecoder(const TCodePageDecoder&) = delete;
    TCodePageDecoder& operator=(const TCodePageDecoder&) = delete;

    std::u16string Decode(std::span<const uint8_t> bytes) const;
    uint16_t CodePage() const { return code_page_; }
    // False when the code page is not one this system converts (the system code page stands in).
    bool Known() const { return converter_ != nullptr || code_page_ == kSystemCodePage; }

    static constexpr uint16_t kSystemCodePage = 1251;

  private:
    uint16_t code_page_;
    std::unique_ptr<TIconvText> converter_;  // null for the system code page
};

}  // namespace linograf::workbook
