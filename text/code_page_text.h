#pragma once
// 8-bit texts of old record layouts (RSTRING, BIFF2 LABEL) are in the code page of the system
// that wrote them; this program's systems use Windows-1251.
#include <span>
#include <string>

namespace linograf::workbook {

// Windows-1251 bytes as UTF-16; the one unassigned byte (0x98) becomes U+FFFD.
std::u16string DecodeSystemCodePage(std::span<const uint8_t> bytes);

}  // namespace linograf::workbook
