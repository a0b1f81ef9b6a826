// The styles part: number formats, fonts, fills, borders, cell style formats, cell formats, cell
// styles and the raw blocks kept from a read file.
//
// Formats read from .xlsx (with a TCellFormatEx12) refer to fills and borders of the lists read
// with them. Formats made by the program or read from .xls carry their fill and border in their
// BIFF bytes; each of those that has one gets a fill or border of its own, appended behind the
// list, in format order. Their alignment goes into the xf whenever it is not the default one, so
// wrapped, centred or turned text keeps its look.
#include <array>
#include <string>
#include <vector>

#include "workbook/model/palette.h"
#include "workbook/model/tabulon4.h"
#include "workbook/ooxml/style_names.h"
#include "workbook/ooxml/xls_write_2007_xml.h"

namespace linograf::workbook {
namespace {

constexpr int kFirstCellFormat = 21;  // master formats below are BIFF's built-in ones
constexpr int kBuiltInNumberFormats = 59;

constexpr std::array<std::string_view, 5> kUnderlineNames = {"", "single", "double", "singleAccounting",
                                                             "doubleAccounting"};

template <size_t N>
std::string_view NameAt(const std::array<std::string_view, N>& names, unsigned index) {
    return index < N ? names[index] : names[0];
}

bool CarriesFill(const TCellFormat& f) {
    return f.FillPattern() != 0;
}

bool CarriesBorder(const TCellFormat& f) {
    for (TBorderSide side : {bsLeft, bsRight, bsTop, bsBottom})
        if (f.BorderStyle(side) != cbsNone) return true;
    return false;
}

// The alignment of a BIFF-style format in the terms of an Open XML xf.
TCellFormatEx12 AlignmentOf(const TCellFormat& f) {
    TCellFormatEx12 a;
    a.horizontal = f.HorizAlignment();
    a.vertical = f.VertAlignment();
    a.text_rotation = f.RotationByte();  // same encoding: 0..90 up, 91..180 down, 255 stacked
    a.indent = f.Indent();
    a.reading_order = (f.UsedAttributesWord() >> 6) & 3;
    const TTextFlags flags = f.TextFlags();
    if (flags.Contains(tfWrapText)) a.text_flags |= kXfWrapText;
    if (flags.Contains(tfShrinkToFit)) a.text_flags |= kXfShrinkToFit;
    if (f.AlignmentWord() & 0x80) a.text_flags |= kXfJustifyLastLine;
    return a;
}

bool IsDefaultAlignment(const TCellFormatEx12& a) {
    const TCellFormatEx12 plain;
    return a.horizontal == plain.horizontal && a.vertical == plain.vertical &&
           a.text_rotation == plain.text_rotation && a.indent == plain.indent &&
           a.relative_indent == plain.relative_indent && a.reading_order == plain.reading_order &&
           a.text_flags == plain.text_flags;
}

void WriteAlignment(TXLSWriteExcelXMLStream& xml, const TCellFormatEx12& a) {
    xml.AddAttribute(a.horizontal != 0, "horizontal", NameAt(kHorizontalNames, a.horizontal));
    xml.AddAttribute(a.vertical != 2, "vertical", NameAt(kVerticalNames, a.vertical));
    xml.AddAttribute(a.text_rotation != 0, "textRotation", a.text_rotation);
    xml.AddAttribute((a.text_flags & kXfWrapText) != 0, "wrapText", true);
    xml.AddAttribute(a.indent != 0, "indent", a.indent);
    xml.AddAttribute(a.relative_indent != 0, "relativeIndent", a.relative_indent);
    xml.AddAttribute((a.text_flags & kXfJustifyLastLine) != 0, "justifyLastLine", true);
    xml.AddAttribute((a.text_flags & kXfShrinkToFit) != 0, "shrinkToFit", true);
    xml.AddAttribute(a.reading_order != 0, "readingOrder", a.reading_order);
    xml.EmptyTag("alignment");
}

}  // namespace

void TXLSWrite2007XML::WriteFont(int position, bool run_font) {
    const TXFont& font = book_.Fonts().Items(position);
    TXFontEx12 ex12;
    const auto& kept = book_.OpenXml().Fonts();
    if (const auto it = kept.find(position); it != kept.end())
        ex12 = it->second;
    else
        ex12.color = TXc12Color::Indexed(font.color);

    xml_.ValueText(run_font ? "rFont" : "name", EscapeXml(font.name));
    if (font.charset != 0) xml_.ValueInt("charset", font.charset);
    if (font.family != 0) xml_.ValueInt("family", font.family);
    if (font.style.Contains(xfsBold)) xml_.WriteRaw("<b />");
    if (font.style.Contains(xfsItalic)) xml_.WriteRaw("<i />");
    if (font.style.Contains(xfsStrikeOut)) xml_.ValueTrue("strike");
    if (ex12.outline) xml_.ValueTrue("outline");
    if (ex12.shadow) xml_.ValueTrue("shadow");
    if (ex12.condense) xml_.ValueTrue("condense");
    if (ex12.extend) xml_.ValueTrue("extend");
    xml_.ColorElement("color", ex12.color);
    xml_.ValueFixed("sz", font.height / 20.0);
    if (font.underline >= xulSingle && font.underline <= xulDoubleAccount)
        xml_.ValueText("u", kUnderlineNames[font.underline]);
    if (font.sub_superscript == xssSuperscript) xml_.ValueText("vertAlign", "superscript");
    if (font.sub_superscript == xssSubscript) xml_.ValueText("vertAlign", "subscript");
    if (ex12.scheme == 1) xml_.ValueText("scheme", "minor");
    if (ex12.scheme == 2) xml_.ValueText("scheme", "major");
}

void TXLSWrite2007XML::WritePatternFill(uint8_t pattern, const TXc12Color& foreground,
                                        const TXc12Color& background) {
    xml_.BeginTag("fill");
    xml_.BeginTag("patternFill", "patternType=\"" + std::string(NameAt(kPatternNames, pattern)) + '"');
    xml_.ColorElement("fgColor", foreground);
    xml_.ColorElement("bgColor", background);
    xml_.EndTag();
    xml_.EndTag();
}

void TXLSWrite2007XML::WriteFill(const TFill& fill) {
    if (fill.kind == fkPattern) {
        WritePatternFill(fill.pattern, fill.foreground, fill.background);
        return;
    }
    std::string attributes = fill.path ? R"(type="path")" : "degree=\"" + FixedText(fill.degree) + '"';
    const std::pair<const char*, double> sides[] = {
        {"left", fill.left}, {"right", fill.right}, {"top", fill.top}, {"bottom", fill.bottom}};
    for (const auto& [name, value] : sides)
        if (value != 0) attributes += std::string(" ") + name + "=\"" + FixedText(value) + '"';
    xml_.BeginTag("fill");
    xml_.BeginTag("gradientFill", attributes);
    for (const TGradientStop& stop : fill.stops) {
        xml_.BeginTag("stop", "position=\"" + FixedText(stop.position) + '"');
        xml_.ColorElement("color", stop.color);
        xml_.EndTag();
    }
    xml_.EndTag();
    xml_.EndTag();
}

void TXLSWrite2007XML::WriteBorderLine(std::string_view name, uint8_t style, const TXc12Color& color) {
    if (style == 0 || style >= kLineStyleNames.size()) {
        xml_.WriteRaw("<" + std::string(name) + " />");
        return;
    }
    xml_.BeginTag(name, "style=\"" + std::string(kLineStyleNames[style]) + '"');
    xml_.ColorElement("color", color);
    xml_.EndTag();
}

void TXLSWrite2007XML::WriteCellFormatEx12(const TCellFormat& format, const TCellFormatEx12& ex12,
                                           bool with_xf_id) {
    xml_.AddAttribute(true, "numFmtId", static_cast<int>(format.NumberFormatIndex()));
    xml_.AddAttribute(true, "fontId", static_cast<int>(format.FontIndex()));
    xml_.AddAttribute(true, "fillId", ex12.fill);
    xml_.AddAttribute(true, "borderId", ex12.border);
    xml_.AddAttribute(with_xf_id && ex12.xf_id != 0, "xfId", ex12.xf_id);
    xml_.AddAttribute(ex12.quote_prefix, "quotePrefix", true);
    xml_.AddAttribute(ex12.pivot_button, "pivotButton", true);
    xml_.AddAttribute((ex12.apply & kApplyNumberFormat) != 0, "applyNumberFormat", true);
    xml_.AddAttribute((ex12.apply & kApplyFont) != 0, "applyFont", true);
    xml_.AddAttribute((ex12.apply & kApplyFill) != 0, "applyFill", true);
    xml_.AddAttribute((ex12.apply & kApplyBorder) != 0, "applyBorder", true);
    xml_.AddAttribute((ex12.apply & kApplyAlignment) != 0, "applyAlignment", true);
    xml_.AddAttribute((ex12.apply & kApplyProtection) != 0, "applyProtection", true);
    const bool alignment = (ex12.apply & kApplyAlignment) != 0;
    const bool protection = (ex12.apply & kApplyProtection) != 0;
    if (!alignment && !protection) {
        xml_.EmptyTag("xf");
        return;
    }
    xml_.BeginTag("xf");
    if (alignment) WriteAlignment(xml_, ex12);
    if (protection) {
        xml_.AddAttribute((ex12.protection & 1) != 0, "locked", true);
        xml_.AddAttribute((ex12.protection & 2) != 0, "hidden", true);
        xml_.EmptyTag("protection");
    }
    xml_.EndTag();
}

// The master format a cell format was read with from an Open XML file, or null for a format made
// the BIFF way (those get fills and borders of their own after the lists read from the file).
const TCellFormatEx12* TXLSWrite2007XML::MasterFormatOf(const TCellFormat& format) {
    const auto& masters = book_.OpenXml().MasterFormats();
    const auto it = masters.find(format.Id());
    return it == masters.end() ? nullptr : &it->second;
}

void TXLSWrite2007XML::WriteStyles() {
    // Fill 0 and border 0 are what cells without a fill or border refer to, and Excel takes fill
    // 1 as gray125 whatever it says: without lists read from a file, the defaults go first.
    fill_defaults_ = write_defaults_ || book_.OpenXml().Fills().empty();
    border_defaults_ = write_defaults_ || book_.OpenXml().Borders().empty();

    xml_.XmlDeclaration();
    xml_.BeginTag("styleSheet", R"(xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main")");
    WriteNumberFormats();
    WriteFonts();
    WriteFills();
    WriteBorders();
    WriteCellStyleFormats();
    WriteCellFormats();
    WriteCellStyles();
    TOpenXmlBook& ox = book_.OpenXml();
    if (!ox.Dxfs().empty()) xml_.WriteRaw(ox.Dxfs());
    if (!ox.TableStyles().empty()) xml_.WriteRaw(ox.TableStyles());
    if (!ox.Colors().empty()) xml_.WriteRaw(ox.Colors());
    xml_.EndTag();
}

void TXLSWrite2007XML::WriteNumberFormats() {
    TNumberFormats& numbers = book_.Formats().NumberFormats();
    if (numbers.Count() <= kBuiltInNumberFormats) return;
    xml_.BeginTag("numFmts", "count=\"" + std::to_string(numbers.Count() - kBuiltInNumberFormats) + '"');
    for (int i = kBuiltInNumberFormats; i < numbers.Count(); ++i) {
        const TNumberFormat& n = numbers.Items(i);
        xml_.WriteRaw("<numFmt numFmtId=\"" + std::to_string(n.Id()) + "\" formatCode=\"" +
                      EscapeXml(n.Text()) + "\" />");
    }
    xml_.EndTag();
}

void TXLSWrite2007XML::WriteFonts() {
    TXFonts& fonts = book_.Fonts();
    if (fonts.Count() == 0) {
        xml_.BeginTag("fonts", R"(count="1")");
        xml_.WriteRaw(R"(<font><sz val="11" /><color theme="1" /><name val="Calibri" /><family val="2" />)"
                      R"(<scheme val="minor" /></font>)");
        xml_.EndTag();
        return;
    }
    xml_.BeginTag("fonts", "count=\"" + std::to_string(fonts.Count()) + '"');
    for (int i = 0; i < fonts.Count(); ++i) {
        xml_.BeginTag("font");
        WriteFont(i, false);
        xml_.EndTag();
    }
    xml_.EndTag();
}

// The defaults, the fills read from a file, then one fill for each BIFF-style format from
// position 21 on that brings one of its own; cellXfs refers to them in that order.
void TXLSWrite2007XML::WriteFills() {
    TCellFormats& formats = book_.Formats();
    std::vector<const TCellFormat*> own;
    for (int p = kFirstCellFormat; p < formats.Count(); ++p) {
        const TCellFormat& f = formats.Items(p);
        if (!MasterFormatOf(f) && CarriesFill(f)) own.push_back(&f);
    }
    const auto& read = book_.OpenXml().Fills();
    xml_.BeginTag("fills",
                  "count=\"" + std::to_string(read.size() + own.size() + (fill_defaults_ ? 2 : 0)) + '"');
    if (fill_defaults_) {
        for (const char* pattern : {R"(patternType="none")", R"(patternType="gray125")"}) {
            xml_.BeginTag("fill");
            xml_.EmptyTag("patternFill", pattern);
            xml_.EndTag();
        }
    }
    for (const TFill& fill : read) WriteFill(fill);
    for (const TCellFormat* f : own)
        WritePatternFill(f->FillPattern(), TXc12Color::Indexed(f->FillColor()),
                         TXc12Color::Indexed(f->FillBackColor()));
    xml_.EndTag();
}

// As the fills: the default, the borders read from a file, then the BIFF-style formats' own.
void TXLSWrite2007XML::WriteBorders() {
    TCellFormats& formats = book_.Formats();
    std::vector<const TCellFormat*> own;
    for (int p = kFirstCellFormat; p < formats.Count(); ++p) {
        const TCellFormat& f = formats.Items(p);
        if (!MasterFormatOf(f) && CarriesBorder(f)) own.push_back(&f);
    }
    const auto& read = book_.OpenXml().Borders();
    xml_.BeginTag("borders",
                  "count=\"" + std::to_string(read.size() + own.size() + (border_defaults_ ? 1 : 0)) + '"');
    if (border_defaults_) {
        xml_.BeginTag("border");
        for (const char* side : {"left", "right", "top", "bottom", "diagonal"}) xml_.EmptyTag(side, "");
        xml_.EndTag();
    }
    for (const TBorder& border : read) WriteBorder(border);
    for (const TCellFormat* f : own) {
        xml_.BeginTag("border", "");
        const std::pair<const char*, TBorderSide> sides[] = {
            {"left", bsLeft}, {"right", bsRight}, {"top", bsTop}, {"bottom", bsBottom}};
        for (const auto& [name, side] : sides)
            WriteBorderLine(name, f->BorderStyle(side), TXc12Color::Indexed(f->BorderColor(side)));
        xml_.EndTag();
    }
    xml_.EndTag();
}

void TXLSWrite2007XML::WriteBorder(const TBorder& border) {
    std::string attributes;
    if (border.options & kBorderDiagonalUp) attributes += R"(diagonalUp="true" )";
    if (border.options & kBorderDiagonalDown) attributes += R"(diagonalDown="true" )";
    if (border.options & kBorderOutline) attributes += R"(outline="true" )";
    if (!attributes.empty()) attributes.pop_back();
    xml_.BeginTag("border", attributes);
    const std::pair<const char*, TBorderLineKind> lines[] = {
        {"left", blLeft}, {"right", blRight}, {"top", blTop}, {"bottom", blBottom}, {"diagonal", blDiagonal}};
    for (const auto& [name, kind] : lines)
        WriteBorderLine(name, border.lines[kind].style, border.lines[kind].color);
    for (const auto& [name, kind] :
         {std::pair{"vertical", blVertical}, std::pair{"horizontal", blHorizontal}})
        if (border.lines[kind].style != 0)
            WriteBorderLine(name, border.lines[kind].style, border.lines[kind].color);
    xml_.EndTag();
}

void TXLSWrite2007XML::WriteCellStyleFormats() {
    TCellFormats& style_formats = book_.StyleFormats();
    if (style_formats.Count() == 0) {
        // Every cell format's xfId="0" names this one, the Normal style's format; without it
        // openpyxl warns "Workbook contains no default style" and stricter programs repair.
        xml_.WriteRaw(R"(<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" />)"
                      "</cellStyleXfs>");
        return;
    }
    const auto& read = book_.OpenXml().StyleFormats();
    xml_.BeginTag("cellStyleXfs", "count=\"" + std::to_string(style_formats.Count()) + '"');
    for (int p = 0; p < style_formats.Count(); ++p) {
        const TCellFormat& f = style_formats.Items(p);
        const auto it = read.find(f.Id());
        WriteCellFormatEx12(f, it != read.end() ? it->second : TCellFormatEx12{}, false);
    }
    xml_.EndTag();
}

void TXLSWrite2007XML::WriteCellFormats() {
    TCellFormats& formats = book_.Formats();
    if (formats.Count() <= kFirstCellFormat) {
        xml_.BeginTag("cellXfs", R"(count="1")");
        xml_.EmptyTag("xf", R"(numFmtId= "0" fontId="0" fillId="0" borderId="0" xfId="0")");
        xml_.EndTag();
        return;
    }
    xml_.BeginTag(
        "cellXfs",
        "count=\"" + std::to_string(formats.Count() - kFirstCellFormat + (write_defaults_ ? 1 : 0)) + '"');
    if (write_defaults_) xml_.EmptyTag("xf", R"(numFmtId= "0" fontId="0" fillId="0" borderId="0" xfId="0")");
    // The BIFF-style formats' own fills and borders follow the defaults and the read lists, in
    // the order WriteFills and WriteBorders wrote them.
    const int fill_list = static_cast<int>(book_.OpenXml().Fills().size());
    const int border_list = static_cast<int>(book_.OpenXml().Borders().size());
    int fill_count = fill_defaults_ ? 2 : 0;
    int border_count = border_defaults_ ? 1 : 0;
    for (int p = kFirstCellFormat; p < formats.Count(); ++p) {
        const TCellFormat& f = formats.Items(p);
        if (const TCellFormatEx12* ex12 = MasterFormatOf(f)) {
            WriteCellFormatEx12(f, *ex12, true);
            continue;
        }
        const bool fill = CarriesFill(f);
        const bool border = CarriesBorder(f);
        xml_.AddAttribute(true, "numFmtId", static_cast<int>(f.NumberFormatIndex()));
        xml_.AddAttribute(true, "fontId", static_cast<int>(f.FontIndex()));
        xml_.AddAttribute(true, "fillId", fill ? fill_list + fill_count++ : 0);
        xml_.AddAttribute(true, "borderId", border ? border_list + border_count++ : 0);
        xml_.AddAttribute(true, "xfId", 0);
        xml_.AddAttribute(fill, "applyFill", true);
        xml_.AddAttribute(border, "applyBorder", true);
        xml_.AddAttribute(f.FontIndex() != 0, "applyFont", true);
        xml_.AddAttribute(f.NumberFormatIndex() > 0, "applyNumberFormat", true);
        const TCellFormatEx12 alignment = AlignmentOf(f);
        const bool aligned = !IsDefaultAlignment(alignment);
        xml_.AddAttribute(aligned, "applyAlignment", true);
        if (!aligned) {
            xml_.EmptyTag("xf");
            continue;
        }
        xml_.BeginTag("xf");
        WriteAlignment(xml_, alignment);
        xml_.EndTag();
    }
    xml_.EndTag();
}

void TXLSWrite2007XML::WriteCellStyles() {
    const auto& styles = book_.OpenXml().CellStyles();
    if (styles.empty()) {
        xml_.WriteRaw(R"(<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0" />)"
                      "</cellStyles>");
        return;
    }
    xml_.BeginTag("cellStyles", "count=\"" + std::to_string(styles.size()) + '"');
    for (const TEx12CellStyle& s : styles) {
        xml_.AddAttribute(s.builtin_id >= 0, "builtinId", s.builtin_id);
        xml_.AddAttribute(s.custom_builtin, "customBuiltin", true);
        xml_.AddAttribute(s.hidden, "hidden", true);
        xml_.AddAttribute(s.i_level >= 0, "iLevel", s.i_level);
        xml_.AddAttribute(!s.name.empty(), "name", EscapeXml(s.name));
        xml_.AddAttribute(true, "xfId", s.xf_id);
        xml_.EmptyTag("cellStyle");
    }
    xml_.EndTag();
}

}  // namespace linograf::workbook
