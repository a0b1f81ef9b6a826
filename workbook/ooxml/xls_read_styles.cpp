// The styles and shared strings parts of the Open XML reader.
#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

#include "text/wide_text.h"
#include "workbook/model/open_xml_model.h"
#include "workbook/model/palette.h"
#include "workbook/model/tabulon4.h"
#include "workbook/ooxml/style_names.h"
#include "workbook/ooxml/xls_read_2007_xml.h"
#include "workbook/ooxml/xml_attribute_names.h"
#include "workbook/ooxml/xml_element_numbers.h"
#include "workbook/ooxml/xml_values.h"

namespace linograf::workbook {
namespace {

template <size_t N>
int Lookup(const std::array<std::string_view, N>& names, const std::string* value, int fallback = 0) {
    if (!value) return fallback;
    for (size_t i = 0; i < N; ++i)
        if (names[i] == *value) return static_cast<int>(i);
    return fallback;
}

// The colours of the standard Office theme, by theme colour index (light 1 and dark 1 first, as
// SpreadsheetML numbers them), as 0xRRGGBB.
constexpr uint32_t kThemeColours[12] = {
    0xFFFFFF, 0x000000, 0xEEECE1, 0x1F497D, 0x4F81BD, 0xC0504D,
    0x9BBB59, 0x8064A2, 0x4BACC6, 0xF79646, 0x0000FF, 0x800080,
};

uint8_t Tinted(uint32_t channel, double tint) {
    double c = channel;
    c = tint < 0 ? c * (1 + tint) : c + (255 - c) * tint;
    return static_cast<uint8_t>(std::clamp(std::lround(c), 0L, 255L));
}

// The nearest palette index of an Open XML colour, for the BIFF attributes of the model.
uint8_t PaletteIndexOf(const TXc12Color& color, uint8_t none) {
    uint32_t rgb;
    switch (color.kind) {
        case ckAuto:
            return 64;
        case ckIndexed:
            if (color.value < 8) return static_cast<uint8_t>(color.value + 8);
            return color.value <= 65 ? static_cast<uint8_t>(color.value) : none;
        case ckRgb:
            rgb = color.value & 0xFFFFFF;
            break;
        case ckTheme:
            if (color.value >= 12) return none;
            rgb = kThemeColours[color.value];
            break;
        default:
            return none;
    }
    const double tint = std::clamp(color.tint, -1.0, 1.0);
    return NearestPaletteIndex(
        PaletteRgb(Tinted(rgb >> 16 & 0xFF, tint), Tinted(rgb >> 8 & 0xFF, tint), Tinted(rgb & 0xFF, tint)));
}

TXc12Color ReadColor(const TExXMLTag* tag) {
    TXc12Color c;
    if (!tag) return c;
    const std::string* v;
    if ((v = tag->Value(xa::auto_)) && XmlToBool(*v)) {
        c.kind = ckAuto;
    } else if ((v = tag->Value(xa::indexed))) {
        c.kind = ckIndexed;
        c.value = static_cast<uint32_t>(XmlToInt(*v, 0));
    } else if ((v = tag->Value(xa::rgb))) {
        c.kind = ckRgb;
        c.value = XmlHexToUInt(*v);
    } else if ((v = tag->Value(xa::theme))) {
        c.kind = ckTheme;
        c.value = static_cast<uint32_t>(XmlToInt(*v, 0));
    }
    if ((v = tag->Value(xa::tint))) c.tint = XmlToFloat(*v);
    return c;
}

// A font property element: present and without val, or with a true val.
bool FlagElement(const TExXMLTag& font, int element) {
    const TExXMLTag* e = font.Child(element);
    if (!e) return false;
    const std::string* v = e->Value(xa::val);
    return !v || XmlToBool(*v);
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

bool BoolAttribute(const TExXMLTag& tag, int attribute) {
    const std::string* v = tag.Value(attribute);
    return v && XmlToBool(*v);
}

int IntAttribute(const TExXMLTag& tag, int attribute, int fallback) {
    const std::string* v = tag.Value(attribute);
    return v ? XmlToInt(*v, fallback) : fallback;
}

double FloatAttribute(const TExXMLTag& tag, int attribute) {
    const std::string* v = tag.Value(attribute);
    return v ? XmlToFloat(*v) : 0;
}

// A style list position from the file, checked against the list read before.
int StyleIndex(const TExXMLTag& tag, int attribute, int count, const char* what) {
    const int index = IntAttribute(tag, attribute, 0);
    if (index < 0 || index >= std::max(count, 1))
        throw std::out_of_range(std::string("Style index out of range: ") + what + " " +
                                std::to_string(index));
    return index;
}

void PutU16(std::array<uint8_t, 20>& b, int at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(std::array<uint8_t, 20>& b, int at, uint32_t v) {
    PutU16(b, at, v & 0xFFFF);
    PutU16(b, at + 2, v >> 16);
}

// The BIFF8 XF body of an Open XML xf, so everything that works on the model's formats (the
// BIFF8 writer, range formatting) sees its font, number format, alignment, border and fill.
std::array<uint8_t, 20> XfBytes(int font, int num_fmt, const TCellFormatEx12& x, const TFill* fill,
                                const TBorder* border, bool style) {
    std::array<uint8_t, 20> b{};
    PutU16(b, 0, static_cast<uint32_t>(font));
    PutU16(b, 2, static_cast<uint32_t>(num_fmt));
    uint32_t prot = (x.protection & 3u) | (style ? 4u : 0u);
    prot |= style ? 0xFFF0u : (static_cast<uint32_t>(x.xf_id) & 0xFFFu) << 4;
    PutU16(b, 4, prot);
    int rotation = x.text_rotation;
    if (rotation < 0 || (rotation > 180 && rotation != 255)) rotation = 0;
    PutU16(b, 6,
           (x.horizontal & 7u) | ((x.text_flags & kXfWrapText) ? 8u : 0u) | ((x.vertical & 7u) << 4) |
               ((x.text_flags & kXfJustifyLastLine) ? 0x80u : 0u) | (static_cast<uint32_t>(rotation) << 8));
    uint32_t used = 0;
    if ((x.apply & kApplyNumberFormat) || num_fmt != 0) used |= 1u << 10;
    if ((x.apply & kApplyFont) || font != 0) used |= 1u << 11;
    if (x.apply & kApplyAlignment) used |= 1u << 12;
    if ((x.apply & kApplyBorder) || x.border != 0) used |= 1u << 13;
    if ((x.apply & kApplyFill) || x.fill != 0) used |= 1u << 14;
    if (x.apply & kApplyProtection) used |= 1u << 15;
    PutU16(b, 8,
           static_cast<uint32_t>(std::clamp(x.indent, 0, 15)) |
               ((x.text_flags & kXfShrinkToFit) ? 0x10u : 0u) |
               ((static_cast<uint32_t>(x.reading_order) & 3u) << 6) | used);

    auto line = [&](TBorderLineKind k) -> const TBorderLine* { return border ? &border->lines[k] : nullptr; };
    auto style_of = [&](TBorderLineKind k) { return line(k) ? line(k)->style & 0xFu : 0u; };
    auto colour_of = [&](TBorderLineKind k) {
        return line(k) && line(k)->style ? PaletteIndexOf(line(k)->color, 64) & 0x7Fu : 64u;
    };
    PutU16(b, 10,
           style_of(blLeft) | (style_of(blRight) << 4) | (style_of(blTop) << 8) | (style_of(blBottom) << 12));
    const uint8_t diagonal = border ? border->options : 0;
    PutU16(b, 12,
           colour_of(blLeft) | (colour_of(blRight) << 7) | ((diagonal & kBorderDiagonalDown) ? 0x4000u : 0u) |
               ((diagonal & kBorderDiagonalUp) ? 0x8000u : 0u));
    uint32_t pattern = 0, fg = 64, bg = 65;
    if (fill && fill->kind == fkPattern) {
        pattern = fill->pattern;
        fg = PaletteIndexOf(fill->foreground, 64);
        bg = PaletteIndexOf(fill->background, 65);
    } else if (fill && !fill->stops.empty()) {
        // A gradient shows as its first colour.
        pattern = 1;
        fg = PaletteIndexOf(fill->stops.front().color, 64);
    }
    PutU32(b, 14,
           colour_of(blTop) | (colour_of(blBottom) << 7) | (colour_of(blDiagonal) << 14) |
               (style_of(blDiagonal) << 21) | ((pattern & 0x3Fu) << 26));
    PutU16(b, 18, (fg & 0x7Fu) | ((bg & 0x7Fu) << 7));
    return b;
}

}  // namespace

bool TXLSRead2007XML::StylesElementEnded(TExXMLTag& tag, int depth) {
    if (depth != 2) return false;
    TOpenXmlBook& ox = book_.OpenXml();
    if (tag.number == xe::numFmts)
        ReadNumberFormats(tag);
    else if (tag.number == xe::fonts)
        ReadFonts(tag);
    else if (tag.number == xe::fills)
        ReadFills(tag);
    else if (tag.number == xe::borders)
        ReadBorders(tag);
    else if (tag.number == xe::cellStyleXfs)
        ReadCellFormats(tag, false);
    else if (tag.number == xe::cellXfs)
        ReadCellFormats(tag, true);
    else if (tag.number == xe::cellStyles)
        ReadCellStyles(tag);
    else if (tag.number == xe::dxfs)
        ox.Dxfs() = tag.SavedXml();
    else if (tag.number == xe::tableStyles)
        ox.TableStyles() = tag.SavedXml();
    else if (tag.number == xe::colors)
        ox.Colors() = tag.SavedXml();
    return true;
}

void TXLSRead2007XML::ReadNumberFormats(const TExXMLTag& tag) {
    TNumberFormats& formats = book_.Formats().NumberFormats();
    for (const auto& child : tag.children) {
        ExpectChild(*child, xe::numFmt);
        const int id = XmlToInt(Required(*child, xa::numFmtId), -1);
        if (id < 0 || id > 0xFFFF) throw std::runtime_error("Invalid number format id");
        formats.AddFromRecord(id, DecodeText(Required(*child, xa::formatCode)), 1);
    }
}

void TXLSRead2007XML::BuildFont(const TExXMLTag& tag, bool run, TXFont& font, TXFontEx12& ex) const {
    const int name_element = run ? xe::rFont : xe::name;
    const TExXMLTag* name = tag.Child(name_element);
    if (run) {
        if (!name || !name->Value(xa::val)) throw std::runtime_error("Tag value rFont:val missing");
    }
    font.name = name && name->Value(xa::val) ? DecodeText(*name->Value(xa::val)) : u"Arial";
    auto int_val = [&](int element, int fallback) {
        const TExXMLTag* e = tag.Child(element);
        return e && e->Value(xa::val) ? XmlToInt(*e->Value(xa::val), fallback) : fallback;
    };
    font.charset = static_cast<uint8_t>(int_val(xe::charset, 0));
    font.family = static_cast<uint8_t>(int_val(xe::family, 0));
    TXFontStyles style;
    if (FlagElement(tag, xe::b)) style.Include(xfsBold);
    if (FlagElement(tag, xe::i)) style.Include(xfsItalic);
    if (FlagElement(tag, xe::strike)) style.Include(xfsStrikeOut);
    font.style = style;
    ex.outline = FlagElement(tag, xe::outline);
    ex.shadow = FlagElement(tag, xe::shadow);
    ex.condense = FlagElement(tag, xe::condense);
    ex.extend = FlagElement(tag, xe::extend);
    double size = 8;
    if (const TExXMLTag* sz = tag.Child(xe::sz); sz && sz->Value(xa::val))
        size = XmlToFloat(*sz->Value(xa::val));
    font.height = static_cast<uint32_t>(std::clamp(std::lround(size * 20), 0L, 0x7FFFL));
    font.underline = xulNone;
    if (const TExXMLTag* u = tag.Child(xe::u)) {
        const std::string* v = u->Value(xa::val);
        font.underline = !v                         ? xulSingle
                         : *v == "double"           ? xulDouble
                         : *v == "singleAccounting" ? xulSingleAccount
                         : *v == "doubleAccounting" ? xulDoubleAccount
                                                    : xulSingle;
    }
    font.sub_superscript = xssNone;
    if (const TExXMLTag* va = tag.Child(xe::vertAlign); va && va->Value(xa::val)) {
        const std::string v = Lower(*va->Value(xa::val));
        font.sub_superscript = v == "superscript" ? xssSuperscript
                               : v == "subscript" ? xssSubscript
                                                  : xssNone;
    }
    ex.scheme = 0;
    if (const TExXMLTag* sc = tag.Child(xe::scheme); sc && sc->Value(xa::val)) {
        const std::string v = Lower(*sc->Value(xa::val));
        ex.scheme = v == "minor" ? 1 : v == "major" ? 2 : 0;
    }
    ex.color = ReadColor(tag.Child(xe::color));
    font.color = PaletteIndexOf(ex.color, 8);
}

void TXLSRead2007XML::ReadFonts(const TExXMLTag& tag) {
    TXFonts& fonts = book_.Fonts();
    for (const auto& child : tag.children) {
        ExpectChild(*child, xe::font);
        TXFont built;
        TXFontEx12 ex;
        BuildFont(*child, false, built, ex);
        TXFont& font = fonts.Add();
        font.AssignAttributes(built);
        book_.OpenXml().Fonts()[font.Position()] = ex;
    }
}

void TXLSRead2007XML::ReadFills(const TExXMLTag& tag) {
    for (const auto& child : tag.children) {
        ExpectChild(*child, xe::fill);
        TFill fill;
        if (const TExXMLTag* p = child->Child(xe::patternFill)) {
            fill.kind = fkPattern;
            fill.pattern = static_cast<uint8_t>(Lookup(kPatternNames, p->Value(xa::patternType)));
            fill.foreground = ReadColor(p->Child(xe::fgColor));
            fill.background = ReadColor(p->Child(xe::bgColor));
        } else if (const TExXMLTag* g = child->Child(xe::gradientFill)) {
            fill.kind = fkGradient;
            const std::string* type = g->Value(xa::type);
            fill.path = type && *type != "linear";
            fill.degree = FloatAttribute(*g, xa::degree);
            fill.left = FloatAttribute(*g, xa::left);
            fill.right = FloatAttribute(*g, xa::right);
            fill.top = FloatAttribute(*g, xa::top);
            fill.bottom = FloatAttribute(*g, xa::bottom);
            for (const auto& stop : g->children) {
                if (stop->number != xe::stop) continue;
                fill.stops.push_back(
                    {XmlToFloat(Required(*stop, xa::position)), ReadColor(stop->Child(xe::color))});
            }
        } else {
            throw std::runtime_error("Unknown fill type");
        }
        book_.OpenXml().Fills().push_back(std::move(fill));
    }
}

void TXLSRead2007XML::ReadBorders(const TExXMLTag& tag) {
    static constexpr std::pair<int, TBorderLineKind> kLines[] = {
        {xe::left, blLeft},
        {xe::right, blRight},
        {xe::top, blTop},
        {xe::bottom, blBottom},
        {xe::diagonal, blDiagonal},
        {xe::vertical, blVertical},
        {xe::horizontal, blHorizontal},
    };
    for (const auto& child : tag.children) {
        ExpectChild(*child, xe::border);
        TBorder border;
        if (BoolAttribute(*child, xa::diagonalDown)) border.options |= kBorderDiagonalDown;
        if (BoolAttribute(*child, xa::diagonalUp)) border.options |= kBorderDiagonalUp;
        if (BoolAttribute(*child, xa::outline)) border.options |= kBorderOutline;
        for (auto [element, kind] : kLines) {
            const TExXMLTag* line = child->Child(element);
            if (!line) continue;
            border.lines[kind].style = static_cast<uint8_t>(Lookup(kLineStyleNames, line->Value(xa::style)));
            border.lines[kind].color = ReadColor(line->Child(xe::color));
        }
        book_.OpenXml().Borders().push_back(std::move(border));
    }
}

void TXLSRead2007XML::ReadCellFormats(const TExXMLTag& tag, bool master) {
    TOpenXmlBook& ox = book_.OpenXml();
    TCellFormats& list = master ? book_.Formats() : book_.StyleFormats();
    const int font_count = book_.Fonts().Count();
    const int fill_count = static_cast<int>(ox.Fills().size());
    const int border_count = static_cast<int>(ox.Borders().size());
    for (const auto& child : tag.children) {
        ExpectChild(*child, xe::xf);
        const TExXMLTag& xf = *child;
        TCellFormatEx12 x;
        static constexpr std::pair<int, uint8_t> kApply[] = {
            {xa::applyNumberFormat, kApplyNumberFormat},
            {xa::applyFont, kApplyFont},
            {xa::applyFill, kApplyFill},
            {xa::applyBorder, kApplyBorder},
            {xa::applyAlignment, kApplyAlignment},
            {xa::applyProtection, kApplyProtection},
        };
        for (auto [attribute, bit] : kApply)
            if (BoolAttribute(xf, attribute)) x.apply |= bit;
        const int font = StyleIndex(xf, xa::fontId, font_count, "fontId");
        x.fill = fill_count == 0 && IntAttribute(xf, xa::fillId, 0) == 0
                     ? 0
                     : StyleIndex(xf, xa::fillId, fill_count, "fillId");
        x.border = border_count == 0 && IntAttribute(xf, xa::borderId, 0) == 0
                       ? 0
                       : StyleIndex(xf, xa::borderId, border_count, "borderId");
        const int num_fmt = std::clamp(IntAttribute(xf, xa::numFmtId, 0), 0, 0xFFFF);
        if (master) x.xf_id = std::max(IntAttribute(xf, xa::xfId, 0), 0);
        x.quote_prefix = BoolAttribute(xf, xa::quotePrefix);
        x.pivot_button = BoolAttribute(xf, xa::pivotButton);
        if (const TExXMLTag* a = xf.Child(xe::alignment)) {
            x.horizontal = static_cast<uint8_t>(Lookup(kHorizontalNames, a->Value(xa::horizontal), 0));
            x.vertical = static_cast<uint8_t>(Lookup(kVerticalNames, a->Value(xa::vertical), 2));
            x.text_rotation = IntAttribute(*a, xa::textRotation, 0);
            x.indent = IntAttribute(*a, xa::indent, 0);
            x.relative_indent = IntAttribute(*a, xa::relativeIndent, 0);
            x.reading_order = IntAttribute(*a, xa::readingOrder, 0);
            if (BoolAttribute(*a, xa::wrapText)) x.text_flags |= kXfWrapText;
            if (BoolAttribute(*a, xa::shrinkToFit)) x.text_flags |= kXfShrinkToFit;
            if (BoolAttribute(*a, xa::justifyLastLine)) x.text_flags |= kXfJustifyLastLine;
        }
        // Cells are locked unless the file says otherwise.
        x.protection = 1;
        if (const TExXMLTag* p = xf.Child(xe::protection)) {
            const std::string* locked = p->Value(xa::locked);
            x.protection = (!locked || XmlToBool(*locked) ? 1 : 0) | (BoolAttribute(*p, xa::hidden) ? 2 : 0);
        }
        const TFill* fill = x.fill < fill_count ? &ox.Fills()[static_cast<size_t>(x.fill)] : nullptr;
        const TBorder* border =
            x.border < border_count ? &ox.Borders()[static_cast<size_t>(x.border)] : nullptr;
        const auto bytes = XfBytes(font, num_fmt, x, fill, border, !master);
        TCellFormat& format = list.Add();
        format.LoadFromRecord(bytes);
        (master ? ox.MasterFormats() : ox.StyleFormats())[format.Id()] = x;
    }
}

void TXLSRead2007XML::ReadCellStyles(const TExXMLTag& tag) {
    for (const auto& child : tag.children) {
        ExpectChild(*child, xe::cellStyle);
        TEx12CellStyle s;
        s.builtin_id = IntAttribute(*child, xa::builtinId, -1);
        s.custom_builtin = BoolAttribute(*child, xa::customBuiltin);
        s.hidden = BoolAttribute(*child, xa::hidden);
        s.i_level = IntAttribute(*child, xa::iLevel, -1);
        s.xf_id = XmlToInt(Required(*child, xa::xfId), 0);
        if (const std::string* name = child->Value(xa::name)) s.name = DecodeText(*name);
        book_.OpenXml().CellStyles().push_back(std::move(s));
    }
}

bool TXLSRead2007XML::SharedStringsElementEnded(TExXMLTag& tag, int depth) {
    if (depth != 2) return false;
    if (tag.number == xe::si) ReadSharedString(tag);
    return true;
}

void TXLSRead2007XML::ReadSharedString(const TExXMLTag& si) {
    TSST2& sst = book_.SST();
    std::u16string& text = text_;
    text.clear();
    std::vector<TSSTRun> runs;
    bool has_runs = false;
    for (const auto& child : si.children) {
        if (child->number != xe::r) continue;
        has_runs = true;
        const TExXMLTag* t = child->Child(xe::t);
        if (!t) throw std::runtime_error("Excepcted tag missing: \"T\"");
        uint16_t font_index = 0;
        if (const TExXMLTag* rpr = child->Child(xe::rPr)) {
            TXFont font;
            TXFontEx12 ex;
            BuildFont(*rpr, true, font, ex);
            int found = book_.Fonts().Find(font);
            // Run fonts need not be in the styles part (Excel itself writes them only here):
            // one that is not there joins the font list.
            if (found < 0) {
                TXFont& added = book_.Fonts().Add();
                added.AssignAttributes(font);
                book_.OpenXml().Fonts()[added.Position()] = ex;
                found = added.Position();
            }
            font_index = static_cast<uint16_t>(std::min(found, 0xFFFF));
        }
        const std::u16string part = DecodeCellText(t->text);
        if (text.size() + part.size() > 0xFFFF) throw std::length_error("Text longer than 65535 characters");
        runs.push_back({static_cast<uint16_t>(text.size()), font_index});
        text += part;
    }
    if (!has_runs) {
        // An si without t still takes its place, so later indexes keep pointing at their string.
        if (const TExXMLTag* t = si.Child(xe::t)) DecodeCellText(t->text, text);
    }
    sst.AddLoaded(sst.AddEntry(text, false, runs, {}));
}

}  // namespace linograf::workbook
