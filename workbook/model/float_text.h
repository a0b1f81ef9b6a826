#pragma once
// Numbers as text in general format: the shortest decimal form with at most 15 significant
// digits, scientific notation ("1.5E20", "1E-6") when the magnitude is below 0.00001 or needs
// more than 15 integer digits. Used for float cells read as text and for Open XML values.
#include <string>

namespace linograf::workbook {

std::u16string FormatFloatGeneral(double value, char16_t decimal_separator = u'.');

}  // namespace linograf::workbook
