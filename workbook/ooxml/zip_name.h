#pragma once
// Entry names: the stored form, lookup without regard to letter case, and the 16-bit names the
// Open XML layers use.
#include <string>
#include <string_view>

namespace linograf::workbook {

// Stored form of a path (`ToZipName`): "\" becomes "/"; a drive prefix up to and including ":/"
// is dropped; after "//" the server and share folders are dropped as well.
std::string ToZipName(std::string_view name);

// Letter case is ignored for ASCII letters; other bytes compare exactly.
bool ZipNamesEqual(std::string_view a, std::string_view b);

// 16-bit names go into the archive as UTF-8. Bytes that are no valid UTF-8 (names written by
// other programs in some 8-bit code page) come back as the code units U+DC80-U+DCFF and go out
// again as the same bytes, so every stored name survives the round trip and is found again.
std::string ZipNameFromUtf16(std::u16string_view name);
std::u16string ZipNameToUtf16(std::string_view name);

// True when the name holds bytes beyond ASCII and all of them form valid UTF-8.
bool IsNonAsciiUtf8(std::string_view name);

}  // namespace linograf::workbook
