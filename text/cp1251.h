#pragma once
// Windows-1251 is the code page of the INI file, the journal and every interface text, so files
// made by the Windows program read unchanged. Workbooks hold UTF-16 and the Linux terminal and
// Qt speak UTF-8; these conversions sit at those boundaries and nowhere else.
#include <string>
#include <string_view>

namespace linograf {

// Every byte maps to one UTF-16 unit; the one unassigned byte (0x98) becomes U+FFFD.
std::u16string Cp1251ToUtf16(std::string_view text);
std::string Cp1251ToUtf8(std::string_view text);

// Characters outside the code page become '?', as the Windows conversion does by default.
std::string Utf16ToCp1251(std::u16string_view text);
// Invalid UTF-8 sequences become '?' as well; nothing is dropped silently.
std::string Utf8ToCp1251(std::string_view text);

// Upper-cases Windows-1251 letters (Latin and Cyrillic) for comparisons without regard to case.
char Cp1251Upper(char c);
std::string Cp1251UpperCase(std::string_view text);
bool Cp1251EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace linograf
