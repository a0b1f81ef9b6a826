#include "workbook/model/format_changes.h"

#include <string>

#include "workbook/model/palette.h"

namespace linograf::workbook {

XfId WithBorderStyle(TCellFormats& formats, XfId xf, TBorderSide side, TCellBorderStyle style) {
    return formats.Change(
        xf, [&](const TCellFormat& f) { return f.BorderStyle(side) == style; },
        [&](TCellFormat& f) { f.SetBorderStyle(side, style); });
}

XfId WithBorderColor(TCellFormats& formats, XfId xf, TBorderSide side, uint8_t color) {
    return formats.Change(
        xf, [&](const TCellFormat& f) { return f.BorderColor(side) == (color & 0x7F); },
        [&](TCellFormat& f) { f.SetBorderColor(side, color); });
}

XfId WithHorizAlignment(TCellFormats& formats, XfId xf, THorizAlignment value) {
    return formats.Change(
        xf, [&](const TCellFormat& f) { return f.HorizAlignment() == value; },
        [&](TCellFormat& f) { f.SetHorizAlignment(value); });
}

XfId WithVertAlignment(TCellFormats& formats, XfId xf, TVertAlignment value) {
    return formats.Change(
        xf, [&](const TCellFormat& f) { return f.VertAlignment() == value; },
        [&](TCellFormat& f) { f.SetVertAlignment(value); });
}

XfId WithTextFlags(TCellFormats& formats, XfId xf, TTextFlags flags) {
    return formats.Change(
        xf, [&](const TCellFormat& f) { return f.TextFlags() == flags; },
        [&](TCellFormat& f) { f.SetTextFlags(flags); });
}

XfId WithIndent(TCellFormats& formats, XfId xf, uint8_t indent) {
    return formats.Change(
        xf, [&](const TCellFormat& f) { return f.Indent() == (indent & 0xF); },
        [&](TCellFormat& f) { f.SetIndent(indent); });
}

XfId WithRotation(TCellFormats& formats, XfId xf, int degrees) {
    TCellFormat probe;
    probe.SetRotation(degrees);
    uint8_t stored = probe.RotationByte();
    return formats.Change(
        xf, [&](const TCellFormat& f) { return f.RotationByte() == stored; },
        [&](TCellFormat& f) { f.SetRotation(degrees); });
}

XfId WithProtection(TCellFormats& formats, XfId xf, TCellProtections flags) {
    return formats.Change(
        xf, [&](const TCellFormat& f) { return f.Protection() == flags; },
        [&](TCellFormat& f) { f.SetProtection(flags); });
}

XfId WithFillPattern(TCellFormats& formats, XfId xf, TExcelFillPattern pattern) {
    return formats.Change(
        xf, [&](const TCellFormat& f) { return f.FillPattern() == (pattern & 0x3F); },
        [&](TCellFormat& f) { f.SetFillPattern(pattern); });
}

XfId WithFillColor(TCellFormats& formats, XfId xf, uint8_t color) {
    return formats.Change(
        xf, [&](const TCellFormat& f) { return f.FillColor() == (color & 0x7F); },
        [&](TCellFormat& f) { f.SetFillColor(color); });
}

XfId WithNumberFormat(TCellFormats& formats, XfId xf, std::u16string_view text) {
    return formats.Change(
        xf,
        [&](const TCellFormat& f) {
            const TNumberFormat* now = formats.NumberFormats().FindById(f.NumberFormatIndex());
            if (text.empty()) return f.NumberFormatIndex() == 0;
            return now && f.NumberFormatIndex() != 0 && now->Text() == text;
        },
        [&](TCellFormat& f) { f.SetNumberFormat(text); });
}

XfId WithFontName(TCellFormats& formats, XfId xf, std::u16string_view name) {
    return formats.ChangeFont(xf, [&](TXFont& font) { font.name = std::u16string(name); });
}

XfId WithFontSize(TCellFormats& formats, XfId xf, int points) {
    if (points <= 0) return xf;
    return WithFontHeight(formats, xf, static_cast<uint32_t>(points) * 20);
}

XfId WithFontHeight(TCellFormats& formats, XfId xf, uint32_t twips) {
    return formats.ChangeFont(xf, [&](TXFont& font) { font.height = twips; });
}

XfId WithFontStyle(TCellFormats& formats, XfId xf, TXFontStyles style) {
    return formats.ChangeFont(xf, [&](TXFont& font) { font.style = style; });
}

XfId WithFontColor(TCellFormats& formats, XfId xf, uint8_t palette_index) {
    return formats.ChangeFont(xf, [&](TXFont& font) { font.color = palette_index; });
}

XfId WithFontColorRgb(TCellFormats& formats, XfId xf, uint32_t rgb) {
    return WithFontColor(formats, xf, NearestPaletteIndex(rgb));
}

XfId WithFontCharset(TCellFormats& formats, XfId xf, uint8_t charset) {
    return formats.ChangeFont(xf, [&](TXFont& font) { font.charset = charset; });
}

XfId WithFontFamily(TCellFormats& formats, XfId xf, uint8_t family) {
    return formats.ChangeFont(xf, [&](TXFont& font) { font.family = family; });
}

XfId WithFontSubSuperscript(TCellFormats& formats, XfId xf, TXSubSuperscript value) {
    return formats.ChangeFont(xf, [&](TXFont& font) { font.sub_superscript = value; });
}

XfId WithFontUnderline(TCellFormats& formats, XfId xf, TXUnderline value) {
    return formats.ChangeFont(xf, [&](TXFont& font) { font.underline = value; });
}

}  // namespace linograf::workbook
