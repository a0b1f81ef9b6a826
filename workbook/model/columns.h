#pragma once
// Column objects of a sheet: width and format of the columns that have them. Absent columns
// have the default width and format.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "workbook/model/formatted_object.h"

namespace linograf::workbook {

inline constexpr int kColumnSlots = 16384;
inline constexpr int kDefaultColumnWidth = 2500;

// Pixel width of the digit "8" in a font at 96 dots per inch. Without a screen to measure on,
// it is taken from the digit width of Arial (0.556 em), which gives the 7 pixels of Arial 10.
int DigitPixelWidth(const TXFont& font);

class TXLSColumns;

class TXLSColumn : public TFormattedObject {
  public:
    TXLSColumn(TXLSColumns& owner, uint32_t number);
    ~TXLSColumn() override;

    uint32_t Number() const { return number_; }
    // 1/256 of the width of the digit zero.
    int Width() const { return width_; }
    // Throws "Invalid value" outside 0..65535.
    void SetWidth(int width);
    // Width := pixels × 256 div the pixel width of "8" in the workbook's font 0.
    void SetPixelWidth(int pixels);
    bool Hidden() const { return hidden_; }
    void SetHidden(bool hidden) { hidden_ = hidden; }
    int OutlineLevel() const { return outline_level_; }
    // Throws "Invalid value" above 16 (and below 0).
    void SetOutlineLevel(int level);
    bool Collapsed() const { return collapsed_; }
    void SetCollapsed(bool collapsed) { collapsed_ = collapsed; }
    // Kept from a read file: the width was set by the user.
    bool UserSet() const { return user_set_; }
    void SetUserSet(bool user_set) { user_set_ = user_set; }

    // Width, hidden, outline level, collapsed and format equal (what lets COLINFO cover both).
    bool SameAs(const TXLSColumn& other) const;

  private:
    friend class TXLSColumns;
    void FormatChanged() override;

    TXLSColumns& owner_;
    uint32_t number_;
    int width_ = kDefaultColumnWidth;
    bool hidden_ = false;
    int outline_level_ = 0;
    bool collapsed_ = false;
    bool user_set_ = false;
};

class TXLSColumns {
  public:
    TXLSColumns(TCellFormats& formats, TFormatChangeListener* listener);
    ~TXLSColumns();
    TXLSColumns(const TXLSColumns&) = delete;
    TXLSColumns& operator=(const TXLSColumns&) = delete;

    // The column object, or null (also for columns outside 0..16383).
    TXLSColumn* Items(int col) const;
    // Creates the missing objects of col .. col + count - 1.
    void AddIfNone(int col, int count);
    // Throws "Invalid columns" unless 0 <= c1 <= c2 <= 16383.
    void Delete(int c1, int c2);
    void Clear() { Delete(0, kColumnSlots - 1); }
    // A COLINFO record body.
    void LoadFromRecord(std::span<const uint8_t> data);

    TCellFormats& Formats() const { return formats_; }

  private:
    friend class TXLSColumn;
    TCellFormats& formats_;
    TFormatChangeListener* listener_;
    std::vector<std::unique_ptr<TXLSColumn>> slots_;
};

}  // namespace linograf::workbook
