#pragma once
// Case folding of 16-bit workbook texts (sheet names, font names) for comparisons without regard
// to case. Covers the scripts the operator's texts come in: Latin (with Latin-1 and Latin
// Extended-A), Greek and Cyrillic.
#include <string>
#include <string_view>

namespace linograf::workbook {

char16_t WideUpper(char16_t c);
char16_t WideLower(char16_t c);
std::u16string WideUpperCase(std::u16string_view text);
std::u16string WideLowerCase(std::u16string_view text);
bool WideEqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

// UTF-16 to UTF-8 and back, for messages and tests; unpaired surrogates become U+FFFD.
std::string WideToUtf8(std::u16string_view text);
std::u16string Utf8ToWide(std::string_view text);
// Appends one code point (at most 0x10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

}  // namespace linograf::workbook
