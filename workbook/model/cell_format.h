#pragma once
// One cell format (XF): the 20-byte body of a BIFF8 XF record, kept byte for byte so the writer
// copies it out unchanged, plus its position in its list and its use count.
//
//   OFFSET SIZE DESCRIPTION
//   0      2    font index (position in the font list)
//   2      2    number format id
//   4      2    protection: bit 0 locked, bit 1 hidden, bit 2 style XF, bits 4-15 parent style
//   6      2    alignment: bits 0-2 horizontal, bit 3 wrap, bits 4-6 vertical, bit 7 justify
//               last line, bits 8-15 rotation
//   8      2    bits 0-3 indent, bit 4 shrink to fit, bit 5 merge, bits 6-7 reading order,
//               bits 10-15 used attributes: number format, font, alignment, borders, fill,
//               protection
//   10     2    border styles: bits 0-3 left, 4-7 right, 8-11 top, 12-15 bottom
//   12     2    bits 0-6 left colour, 7-13 right colour, bit 14 diagonal down, bit 15 diagonal up
//   14     4    bits 0-6 top colour, 7-13 bottom colour, 14-20 diagonal colour, 21-24 diagonal
//               style, 26-31 fill pattern
//   18     2    bits 0-6 pattern (foreground) colour, 7-13 pattern background colour
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/enum_set.h"

namespace linograf::workbook {

class TCellFormats;

// Stable handle of a cell format: cells, columns and rows keep it while the format's position
// moves down as formats before it are removed.
using XfId = uint32_t;

inline constexpr int kDefaultCellFormat = 15;

enum TCellBorderStyle : uint8_t {
    cbsNone = 0,
    cbsThin,
    cbsMedium,
    cbsDashed,
    cbsDotted,
    cbsThick,
    cbsDouble,
    cbsHair,
    cbsMediumDashed,
    cbsDashDot,
    cbsMediumDashDot,
    cbsDashDotDot,
    cbsMediumDashDotDot,
    cbsSlantedDashDot,
};
enum TBorderSide : uint8_t { bsLeft = 0, bsRight, bsTop, bsBottom };
enum THorizAlignment : uint8_t {
    haGeneral = 0,
    haLeft,
    haCenter,
    haRight,
    haFill,
    haJustify,
    haCenterAcross,
    haDistributed,
};
enum TVertAlignment : uint8_t { vaTop = 0, vaCenter, vaBottom, vaJustify, vaDistributed };
enum TTextFlag : uint8_t { tfWrapText = 0, tfShrinkToFit = 1 };
using TTextFlags = EnumSet<TTextFlag>;
enum TCellProtection : uint8_t { cpLocked = 0, cpHidden = 1 };
using TCellProtections = EnumSet<TCellProtection>;
enum TDiagonalLine : uint8_t { dlDown = 0, dlUp = 1 };  // top-left to bottom-right, bottom-left to top-right
using TDiagonalLines = EnumSet<TDiagonalLine>;
// Fill patterns 0..18 in XF order; 1 is solid.
using TExcelFillPattern = uint8_t;

class TCellFormat {
  public:
    // A format built from nothing, belonging to no list.
    TCellFormat();
    // Copies the 20 bytes and the owning list, not the position or use count.
    TCellFormat(const TCellFormat& other);
    TCellFormat& operator=(const TCellFormat& other);

    static constexpr int kSize = 20;
    const std::array<uint8_t, kSize>& Bytes() const { return bytes_; }
    bool SameBytes(const TCellFormat& other) const { return bytes_ == other.bytes_; }
    // An XF record body; throws "Invalid XF record" when shorter than 20 bytes.
    void LoadFromRecord(std::span<const uint8_t> data);

    int Position() const { return position_; }
    int UseCount() const { return use_count_; }
    XfId Id() const { return id_; }
    TCellFormats* Parent() const { return parent_; }

    uint16_t FontIndex() const { return U16(0); }
    void SetFontIndex(uint16_t index) { SetU16(0, index); }
    uint16_t NumberFormatIndex() const { return U16(2); }
    void SetNumberFormatIndex(uint16_t id) { SetU16(2, id); }
    // Empty text: format 0 (General); otherwise the id of the code in the owning list's number
    // formats. Throws "CellFormat has no parent" for a format outside any list.
    void SetNumberFormat(std::u16string_view text);

    uint16_t ProtectionWord() const { return U16(4); }
    uint16_t AlignmentWord() const { return U16(6); }
    uint16_t UsedAttributesWord() const { return U16(8); }

    TCellBorderStyle BorderStyle(TBorderSide side) const;
    void SetBorderStyle(TBorderSide side, TCellBorderStyle style);
    uint8_t BorderColor(TBorderSide side) const;
    void SetBorderColor(TBorderSide side, uint8_t color);
    TCellBorderStyle DiagonalStyle() const;
    void SetDiagonalStyle(TCellBorderStyle style);
    uint8_t DiagonalColor() const;
    void SetDiagonalColor(uint8_t color);
    TDiagonalLines DiagonalLines() const;
    void SetDiagonalLines(TDiagonalLines lines);

    THorizAlignment HorizAlignment() const;
    void SetHorizAlignment(THorizAlignment value);
    TVertAlignment VertAlignment() const;
    void SetVertAlignment(TVertAlignment value);
    TTextFlags TextFlags() const;
    void SetTextFlags(TTextFlags flags);
    uint8_t Indent() const;
    void SetIndent(uint8_t indent);
    TCellProtections Protection() const;
    void SetProtection(TCellProtections flags);
    // The stored byte: 0..90 counter-clockwise, 91..180 clockwise, 255 vertical text.
    uint8_t RotationByte() const;
    // -90..-1 are clockwise degrees; 91..254 clamp to 90; 255 and above mean vertical text.
    void SetRotation(int degrees);

    TExcelFillPattern FillPattern() const;
    void SetFillPattern(TExcelFillPattern pattern);
    uint8_t FillColor() const;  // the pattern (foreground) colour: the cell colour
    void SetFillColor(uint8_t color);
    uint8_t FillBackColor() const;
    void SetFillBackColor(uint8_t color);

  private:
    friend class TCellFormats;
    uint16_t U16(int at) const { return static_cast<uint16_t>(bytes_[at] | (bytes_[at + 1] << 8)); }
    void SetU16(int at, uint16_t v) {
        bytes_[at] = static_cast<uint8_t>(v);
        bytes_[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    uint32_t U32(int at) const { return U16(at) | (uint32_t{U16(at + 2)} << 16); }
    void SetU32(int at, uint32_t v) {
        SetU16(at, static_cast<uint16_t>(v));
        SetU16(at + 2, static_cast<uint16_t>(v >> 16));
    }
    void SetBit(int at, int bit, bool on) {
        uint16_t w = U16(at);
        SetU16(at, on ? static_cast<uint16_t>(w | (1u << bit)) : static_cast<uint16_t>(w & ~(1u << bit)));
    }
    void UpdateBordersUsed();
    void UpdateFillUsed();

    std::array<uint8_t, kSize> bytes_{};
    TCellFormats* parent_ = nullptr;
    int position_ = -1;
    int use_count_ = 0;
    XfId id_ = 0;
};

}  // namespace linograf::workbook
