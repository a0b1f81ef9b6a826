#include "workbook/model/cell_format.h"

#include <stdexcept>

#include "workbook/model/cell_formats.h"

namespace linograf::workbook {
namespace {

constexpr int kFontAt = 0, kAlignAt = 6, kWord3At = 8, kStylesAt = 10, kColours1At = 12, kColours2At = 14,
              kFillColoursAt = 18;
constexpr int kBitAlignmentUsed = 12, kBitBordersUsed = 13, kBitFillUsed = 14;

}  // namespace

TCellFormat::TCellFormat() {
    SetU16(4, 0x0001);            // locked
    SetU16(kAlignAt, 0x0020);     // general, bottom
    SetU16(kColours1At, 0x2040);  // left and right colour automatic
    SetU32(kColours2At, 0x00102040);
    SetU16(kFillColoursAt, 0x20C0);
    (void)kFontAt;
}

TCellFormat::TCellFormat(const TCellFormat& other) : bytes_(other.bytes_), parent_(other.parent_) {}

TCellFormat& TCellFormat::operator=(const TCellFormat& other) {
    bytes_ = other.bytes_;
    parent_ = other.parent_;
    return *this;
}

void TCellFormat::LoadFromRecord(std::span<const uint8_t> data) {
    if (data.size() < static_cast<size_t>(kSize)) throw std::runtime_error("Invalid XF record");
    for (int i = 0; i < kSize; ++i) bytes_[i] = data[i];
}

void TCellFormat::SetNumberFormat(std::u16string_view text) {
    if (text.empty()) {
        SetNumberFormatIndex(0);
        return;
    }
    if (!parent_) throw std::runtime_error("CellFormat has no parent");
    // Every format code is accepted: the model has no format-code parser to reject one with.
    SetNumberFormatIndex(static_cast<uint16_t>(parent_->NumberFormats().FindOrAdd(text)));
}

TCellBorderStyle TCellFormat::BorderStyle(TBorderSide side) const {
    return static_cast<TCellBorderStyle>((U16(kStylesAt) >> (4 * side)) & 0xF);
}

void TCellFormat::SetBorderStyle(TBorderSide side, TCellBorderStyle style) {
    uint16_t w = U16(kStylesAt);
    w = static_cast<uint16_t>((w & ~(0xFu << (4 * side))) | ((style & 0xFu) << (4 * side)));
    SetU16(kStylesAt, w);
    UpdateBordersUsed();
}

uint8_t TCellFormat::BorderColor(TBorderSide side) const {
    switch (side) {
        case bsLeft:
            return U16(kColours1At) & 0x7F;
        case bsRight:
            return (U16(kColours1At) >> 7) & 0x7F;
        case bsTop:
            return U32(kColours2At) & 0x7F;
        case bsBottom:
            return (U32(kColours2At) >> 7) & 0x7F;
    }
    return 0;
}

void TCellFormat::SetBorderColor(TBorderSide side, uint8_t color) {
    uint32_t c = color & 0x7Fu;
    if (side == bsLeft || side == bsRight) {
        int shift = side == bsLeft ? 0 : 7;
        SetU16(kColours1At, static_cast<uint16_t>((U16(kColours1At) & ~(0x7Fu << shift)) | (c << shift)));
    } else {
        int shift = side == bsTop ? 0 : 7;
        SetU32(kColours2At, (U32(kColours2At) & ~(0x7Fu << shift)) | (c << shift));
    }
}

TCellBorderStyle TCellFormat::DiagonalStyle() const {
    return static_cast<TCellBorderStyle>((U32(kColours2At) >> 21) & 0xF);
}

void TCellFormat::SetDiagonalStyle(TCellBorderStyle style) {
    SetU32(kColours2At, (U32(kColours2At) & ~(0xFu << 21)) | ((style & 0xFu) << 21));
    UpdateBordersUsed();
}

uint8_t TCellFormat::DiagonalColor() const {
    return (U32(kColours2At) >> 14) & 0x7F;
}

void TCellFormat::SetDiagonalColor(uint8_t color) {
    SetU32(kColours2At, (U32(kColours2At) & ~(0x7Fu << 14)) | ((color & 0x7Fu) << 14));
}

TDiagonalLines TCellFormat::DiagonalLines() const {
    return TDiagonalLines::FromMask((U16(kColours1At) >> 14) & 3);
}

void TCellFormat::SetDiagonalLines(TDiagonalLines lines) {
    SetU16(kColours1At, static_cast<uint16_t>((U16(kColours1At) & 0x3FFF) | ((lines.Mask() & 3) << 14)));
}

void TCellFormat::UpdateBordersUsed() {
    bool any = U16(kStylesAt) != 0 || DiagonalStyle() != cbsNone;
    SetBit(kWord3At, kBitBordersUsed, any);
}

THorizAlignment TCellFormat::HorizAlignment() const {
    return static_cast<THorizAlignment>(U16(kAlignAt) & 7);
}

void TCellFormat::SetHorizAlignment(THorizAlignment value) {
    SetU16(kAlignAt, static_cast<uint16_t>((U16(kAlignAt) & ~7u) | (value & 7u)));
    bool used = (U16(kAlignAt) & 0x08) != 0 || HorizAlignment() != haGeneral || VertAlignment() != vaTop;
    SetBit(kWord3At, kBitAlignmentUsed, used);
}

TVertAlignment TCellFormat::VertAlignment() const {
    return static_cast<TVertAlignment>((U16(kAlignAt) >> 4) & 7);
}

void TCellFormat::SetVertAlignment(TVertAlignment value) {
    SetU16(kAlignAt, static_cast<uint16_t>((U16(kAlignAt) & ~0x70u) | ((value & 7u) << 4)));
    bool used = (U16(kAlignAt) & 0x08) != 0 || HorizAlignment() != haGeneral || VertAlignment() != vaTop;
    SetBit(kWord3At, kBitAlignmentUsed, used);
}

TTextFlags TCellFormat::TextFlags() const {
    TTextFlags f;
    if (U16(kAlignAt) & 0x08) f.Include(tfWrapText);
    if (U16(kWord3At) & 0x10) f.Include(tfShrinkToFit);
    return f;
}

void TCellFormat::SetTextFlags(TTextFlags flags) {
    uint16_t align = U16(kAlignAt) & ~0x88u;
    if (flags.Contains(tfWrapText)) align |= 0x08;
    SetU16(kAlignAt, align);
    SetBit(kWord3At, 4, flags.Contains(tfShrinkToFit));
    // Unlike the alignment setters, the vertical alignment does not count here.
    bool used = flags.Contains(tfWrapText) || HorizAlignment() != haGeneral;
    SetBit(kWord3At, kBitAlignmentUsed, used);
}

uint8_t TCellFormat::Indent() const {
    return U16(kWord3At) & 0xF;
}

void TCellFormat::SetIndent(uint8_t indent) {
    SetU16(kWord3At, static_cast<uint16_t>((U16(kWord3At) & ~0xFu) | (indent & 0xFu)));
}

TCellProtections TCellFormat::Protection() const {
    return TCellProtections::FromMask(U16(4) & 3);
}

void TCellFormat::SetProtection(TCellProtections flags) {
    SetU16(4, static_cast<uint16_t>((U16(4) & ~3u) | (flags.Mask() & 3)));
}

uint8_t TCellFormat::RotationByte() const {
    return static_cast<uint8_t>(U16(kAlignAt) >> 8);
}

void TCellFormat::SetRotation(int degrees) {
    int stored;
    if (degrees >= 255)
        stored = 255;
    else if (degrees > 90)
        stored = 90;
    else if (degrees >= 0)
        stored = degrees;
    else if (degrees >= -90)
        stored = 90 - degrees;
    else
        stored = 180;  // below -90: as far clockwise as the format goes
    SetU16(kAlignAt, static_cast<uint16_t>((U16(kAlignAt) & 0x00FF) | (stored << 8)));
}

TExcelFillPattern TCellFormat::FillPattern() const {
    return static_cast<TExcelFillPattern>(U32(kColours2At) >> 26);
}

void TCellFormat::SetFillPattern(TExcelFillPattern pattern) {
    SetU32(kColours2At, (U32(kColours2At) & 0x03FFFFFFu) | ((pattern & 0x3Fu) << 26));
    SetBit(kWord3At, kBitFillUsed, (pattern & 0x3F) != 0);
}

uint8_t TCellFormat::FillColor() const {
    return U16(kFillColoursAt) & 0x7F;
}

void TCellFormat::SetFillColor(uint8_t color) {
    SetU16(kFillColoursAt, static_cast<uint16_t>((U16(kFillColoursAt) & ~0x7Fu) | (color & 0x7Fu)));
    UpdateFillUsed();
    if (color != 64) {
        SetFillPattern(1);
        SetFillBackColor(9);
    }
}

uint8_t TCellFormat::FillBackColor() const {
    return (U16(kFillColoursAt) >> 7) & 0x7F;
}

void TCellFormat::SetFillBackColor(uint8_t color) {
    SetU16(kFillColoursAt,
           static_cast<uint16_t>((U16(kFillColoursAt) & ~(0x7Fu << 7)) | ((color & 0x7Fu) << 7)));
    UpdateFillUsed();
}

void TCellFormat::UpdateFillUsed() {
    SetBit(kWord3At, kBitFillUsed, (U16(kFillColoursAt) & 0x3FFF) != 0x2040);
}

}  // namespace linograf::workbook
