#pragma once
// One-attribute changes of the cell format an object (cell, column, row) refers to. Each returns
// the format the object refers to afterwards: the same one when the attribute already had the
// value, otherwise an equal format found in the list or a new one, the old one released.
#include <cstdint>
#include <string_view>

#include "workbook/model/cell_formats.h"

namespace linograf::workbook {

XfId WithBorderStyle(TCellFormats& formats, XfId xf, TBorderSide side, TCellBorderStyle style);
XfId WithBorderColor(TCellFormats& formats, XfId xf, TBorderSide side, uint8_t color);
XfId WithHorizAlignment(TCellFormats& formats, XfId xf, THorizAlignment value);
XfId WithVertAlignment(TCellFormats& formats, XfId xf, TVertAlignment value);
XfId WithTextFlags(TCellFormats& formats, XfId xf, TTextFlags flags);
XfId WithIndent(TCellFormats& formats, XfId xf, uint8_t indent);
XfId WithRotation(TCellFormats& formats, XfId xf, int degrees);
XfId WithProtection(TCellFormats& formats, XfId xf, TCellProtections flags);
XfId WithFillPattern(TCellFormats& formats, XfId xf, TExcelFillPattern pattern);
XfId WithFillColor(TCellFormats& formats, XfId xf, uint8_t color);
// The format code's text; an empty text means General.
XfId WithNumberFormat(TCellFormats& formats, XfId xf, std::u16string_view text);

XfId WithFontName(TCellFormats& formats, XfId xf, std::u16string_view name);
// Points; 0 or less changes nothing.
XfId WithFontSize(TCellFormats& formats, XfId xf, int points);
XfId WithFontHeight(TCellFormats& formats, XfId xf, uint32_t twips);
XfId WithFontStyle(TCellFormats& formats, XfId xf, TXFontStyles style);
XfId WithFontColor(TCellFormats& formats, XfId xf, uint8_t palette_index);
// RGB with red in the low byte, matched to the nearest palette entry.
XfId WithFontColorRgb(TCellFormats& formats, XfId xf, uint32_t rgb);
XfId WithFontCharset(TCellFormats& formats, XfId xf, uint8_t charset);
XfId WithFontFamily(TCellFormats& formats, XfId xf, uint8_t family);
XfId WithFontSubSuperscript(TCellFormats& formats, XfId xf, TXSubSuperscript value);
XfId WithFontUnderline(TCellFormats& formats, XfId xf, TXUnderline value);

}  // namespace linograf::workbook
