#pragma once
// Values of Open XML attributes and texts as the reader takes them into the model: texts are
// UTF-8 with the references already resolved by the tokenizer, numbers use "." whatever the
// locale, and cell references are A1 style.
#include <cstdint>
#include <string>
#include <string_view>

namespace linograf::workbook {

// UTF-8 to the model's 16-bit text.
std::u16string DecodeText(std::string_view text);
// The same into `out`, whose storage is reused: for the many short texts of a large part.
void DecodeText(std::string_view text, std::u16string& out);
// Cell text (shared and inline strings, string results): DecodeText, then each "_xHHHH_" is the
// character of that UTF-16 code, as the writers escape characters XML cannot carry ("_x000D_"
// for a carriage return, "_x005F_" for an underscore that would otherwise start such an escape).
std::u16string DecodeCellText(std::string_view text);
void DecodeCellText(std::string_view text, std::u16string& out);
// An ISO 8601 date, date-time or time ("2024-03-01", "2024-03-01T10:30:00.5Z", "10:30:00") as a
// serial date of the 1900 or the 1904 date system; false for text of another shape. A time zone
// suffix is ignored: cells hold wall-clock times.
bool XmlIsoDateToSerial(std::string_view text, bool date1904, double& serial);
// A decimal number with "." as separator; text that is no finite number gives 0.
double XmlToFloat(std::string_view text);
// A decimal integer; text that is no integer (or does not fit) gives the default.
int XmlToInt(std::string_view text, int default_value);
// "1" and "true" are true.
bool XmlToBool(std::string_view text);
// Hexadecimal digits read one by one; other characters are skipped.
uint32_t XmlHexToUInt(std::string_view text);

struct TCellAddress {
    uint32_t col = 0;
    uint32_t row = 0;
};
// Column letters (A = 0, bijective base 26) and the 1-based row number, "$" signs allowed. Raises
// "Invalid cell reference: X" for anything else and for addresses beyond column XFD or row
// 1048576.
TCellAddress ParseCellReference(std::string_view text);
struct TCellArea {
    TCellAddress first, last;
};
// "A1:C3" or a single cell; the corners are put in order.
TCellArea ParseAreaReference(std::string_view text);

}  // namespace linograf::workbook
