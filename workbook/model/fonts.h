#pragma once
// Fonts of a workbook. Cell formats refer to a font by its position in the list, which is also
// the font index of the file: BIFF8 has no font index 4, so position 4 holds a font that is never
// written.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/enum_set.h"

namespace linograf::workbook {

enum TXFontStyle : uint8_t { xfsBold = 0, xfsItalic = 1, xfsStrikeOut = 2 };
using TXFontStyles = EnumSet<TXFontStyle>;
enum TXSubSuperscript : uint8_t { xssNone = 0, xssSuperscript = 1, xssSubscript = 2 };
enum TXUnderline : uint8_t { xulNone = 0, xulSingle, xulDouble, xulSingleAccount, xulDoubleAccount };

// What a font looks like on a screen device: the form the column pixel width and formatted text
// runs are measured and built in.
struct TScreenFont {
    std::u16string name;
    uint8_t charset = 0;
    int size = 10;  // points
    bool bold = false, italic = false, underline = false, strike_out = false;
    uint32_t color = 0;  // RGB, red in the low byte
};

class TXFont {
  public:
    // A font built from nothing: "Arial" 10 pt, black.
    TXFont();

    std::u16string name = u"Arial";
    uint8_t charset = 0;
    uint8_t family = 2;
    uint8_t color = 8;      // palette index
    uint32_t height = 200;  // twips
    TXFontStyles style;
    TXSubSuperscript sub_superscript = xssNone;
    TXUnderline underline = xulNone;

    int Position() const { return position_; }
    int UseCount() const { return use_count_; }

    // Same look: names equal ignoring case and the ten attribute bytes equal.
    bool SameAs(const TXFont& other) const;
    // Attributes only; position and use count stay.
    void AssignAttributes(const TXFont& other);

    // A FONT record body (BIFF8 layout). Throws "Invalid FONT record" when it is too short for
    // what it announces.
    void LoadFromRecord(std::span<const uint8_t> data);

    TScreenFont ToScreenFont() const;
    void FromScreenFont(const TScreenFont& font);

  private:
    friend class TXFonts;
    int position_ = -1;
    int use_count_ = 0;
};

class TXFonts {
  public:
    // A new list holds the default set.
    TXFonts();

    // Five default fonts, positions below 5 fixed.
    void Reset();
    void Clear();

    int Count() const { return static_cast<int>(fonts_.size()); }
    TXFont& Items(int position) { return *fonts_.at(position); }
    const TXFont& Items(int position) const { return *fonts_.at(position); }

    int Find(const TXFont& font) const;
    TXFont& Add();

    // Fonts below the boundary are never removed by use counting.
    int Boundary() const { return boundary_; }
    void SetFixedBoundary() { boundary_ = Count(); }

    // Use counting for fonts at or above the boundary. Release returns the position of a font it
    // removed (the caller renumbers the cell formats that referred to later fonts), else -1.
    void Acquire(int position);
    int Release(int position);

  private:
    std::vector<std::unique_ptr<TXFont>> fonts_;
    int boundary_ = 0;
};

}  // namespace linograf::workbook
