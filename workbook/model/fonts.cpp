#include "workbook/model/fonts.h"

#include <stdexcept>

#include "text/wide_text.h"
#include "workbook/model/palette.h"

namespace linograf::workbook {
namespace {

uint16_t U16(std::span<const uint8_t> d, size_t at) {
    return static_cast<uint16_t>(d[at] | (d[at + 1] << 8));
}

}  // namespace

TXFont::TXFont() = default;

bool TXFont::SameAs(const TXFont& o) const {
    return charset == o.charset && family == o.family && color == o.color && height == o.height &&
           style == o.style && sub_superscript == o.sub_superscript && underline == o.underline &&
           WideLowerCase(name) == WideLowerCase(o.name);
}

void TXFont::AssignAttributes(const TXFont& o) {
    name = o.name;
    charset = o.charset;
    family = o.family;
    color = o.color;
    height = o.height;
    style = o.style;
    sub_superscript = o.sub_superscript;
    underline = o.underline;
}

// FONT body:
//   OFFSET SIZE DESCRIPTION
//   0      2    height in twips
//   2      2    options: 0x0002 italic, 0x0008 strike-out
//   4      2    colour index (0x7FFF: automatic)
//   6      2    weight (700 bold)
//   8      2    escapement: 0 none, 1 superscript, 2 subscript
//   10     1    underline: 0, 1, 2, 0x21, 0x22
//   11     1    family
//   12     1    character set
//   13     1    reserved
//   14     1    name length in characters
//   15     1    name option byte: bit 0 set for 16-bit characters
//   16     var  name
void TXFont::LoadFromRecord(std::span<const uint8_t> d) {
    if (d.size() < 16) throw std::runtime_error("Invalid FONT record");
    size_t length = d[14];
    bool wide = (d[15] & 1) != 0;
    if (d.size() < 16 + length * (wide ? 2 : 1)) throw std::runtime_error("Invalid FONT record");
    height = U16(d, 0);
    uint16_t options = U16(d, 2);
    uint16_t colour = U16(d, 4);
    color = colour == 0x7FFF ? static_cast<uint8_t>(xcAutomatic) : static_cast<uint8_t>(colour & 0x7F);
    style = {};
    if (U16(d, 6) >= 700) style.Include(xfsBold);
    if (options & 0x0002) style.Include(xfsItalic);
    if (options & 0x0008) style.Include(xfsStrikeOut);
    uint16_t escapement = U16(d, 8);
    sub_superscript = escapement <= 2 ? static_cast<TXSubSuperscript>(escapement) : xssNone;
    switch (d[10]) {
        case 0x01:
            underline = xulSingle;
            break;
        case 0x02:
            underline = xulDouble;
            break;
        case 0x21:
            underline = xulSingleAccount;
            break;
        case 0x22:
            underline = xulDoubleAccount;
            break;
        default:
            underline = xulNone;
            break;
    }
    family = d[11];
    charset = d[12];
    name.clear();
    for (size_t i = 0; i < length; ++i)
        name.push_back(wide ? static_cast<char16_t>(U16(d, 16 + 2 * i)) : static_cast<char16_t>(d[16 + i]));
}

TScreenFont TXFont::ToScreenFont() const {
    TScreenFont f;
    f.name = name;
    f.charset = charset;
    f.size = static_cast<int>(height / 20);
    f.underline = underline != xulNone;
    f.bold = style.Contains(xfsBold);
    f.italic = style.Contains(xfsItalic);
    f.strike_out = style.Contains(xfsStrikeOut);
    f.color = color < kPaletteSize && color != xcAutomatic ? Palette()[color] & 0x00FFFFFF : 0;
    return f;
}

void TXFont::FromScreenFont(const TScreenFont& f) {
    charset = f.charset;
    family = 2;
    color = ScreenColorToPaletteIndex(f.color);
    name = f.name;
    height = static_cast<uint32_t>(f.size * 20);
    style = {};
    if (f.bold) style.Include(xfsBold);
    if (f.italic) style.Include(xfsItalic);
    if (f.strike_out) style.Include(xfsStrikeOut);
    underline = f.underline ? xulSingle : xulNone;
    sub_superscript = xssNone;
}

TXFonts::TXFonts() {
    Reset();
}

void TXFonts::Clear() {
    fonts_.clear();
    boundary_ = 0;
}

void TXFonts::Reset() {
    Clear();
    for (int i = 0; i < 5; ++i) Add();
    SetFixedBoundary();
}

int TXFonts::Find(const TXFont& font) const {
    for (const auto& f : fonts_)
        if (f->SameAs(font)) return f->position_;
    return -1;
}

TXFont& TXFonts::Add() {
    auto font = std::make_unique<TXFont>();
    font->position_ = Count();
    fonts_.push_back(std::move(font));
    return *fonts_.back();
}

void TXFonts::Acquire(int position) {
    if (position >= boundary_ && position < Count()) ++fonts_[position]->use_count_;
}

int TXFonts::Release(int position) {
    if (position < boundary_ || position >= Count()) return -1;
    if (--fonts_[position]->use_count_ > 0) return -1;
    fonts_.erase(fonts_.begin() + position);
    for (int i = position; i < Count(); ++i) fonts_[i]->position_ = i;
    return position;
}

}  // namespace linograf::workbook
