#pragma once
// Row objects of a sheet: height, flags and format of the rows that have them, kept sorted by
// row number.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "workbook/model/formatted_object.h"

namespace linograf::workbook {

inline constexpr uint16_t kDefaultRowHeight = 255;

// Option flags of a row (the ROW record's option word).
inline constexpr uint16_t kRowOutlineMask = 0x0007;
inline constexpr uint16_t kRowCollapsed = 0x0010;
inline constexpr uint16_t kRowHidden = 0x0020;
inline constexpr uint16_t kRowCustomHeight = 0x0040;
inline constexpr uint16_t kRowHasFormat = 0x0080;

class TXLSRows;

class TXLSRow : public TFormattedObject {
  public:
    TXLSRow(TXLSRows& owner, uint32_t number);
    ~TXLSRow() override;

    // Held 32 bits wide: Open XML sheets have rows beyond 65535.
    uint32_t Number() const { return number_; }
    uint16_t FirstColumn() const { return first_column_; }
    void SetFirstColumn(uint16_t col) { first_column_ = col; }
    // Last column + 1; a new row takes the last column of the current sheet limits.
    uint16_t LastColumnPlus1() const { return last_column_plus1_; }
    void SetLastColumnPlus1(uint16_t col) { last_column_plus1_ = col; }
    // Twips.
    uint16_t Height() const { return height_; }
    // Any height but 255 marks the height as custom.
    void SetHeight(uint16_t height);
    uint16_t Options() const { return options_; }
    bool Collapsed() const { return (options_ & kRowCollapsed) != 0; }
    void SetCollapsed(bool on) { SetFlag(kRowCollapsed, on); }
    bool Hidden() const { return (options_ & kRowHidden) != 0; }
    void SetHidden(bool on) { SetFlag(kRowHidden, on); }
    uint8_t OutlineLevel() const { return outline_level_; }
    void SetOutlineLevel(uint8_t level);

  private:
    friend class TXLSRows;
    void FormatChanged() override;
    void SetFlag(uint16_t flag, bool on) { options_ = on ? (options_ | flag) : (options_ & ~flag); }

    TXLSRows& owner_;
    uint32_t number_;
    uint16_t first_column_ = 0;
    uint16_t last_column_plus1_;
    uint16_t height_ = kDefaultRowHeight;
    uint16_t options_ = 0;
    uint8_t outline_level_ = 0;
};

class TXLSRows {
  public:
    TXLSRows(TCellFormats& formats, TFormatChangeListener* listener);
    ~TXLSRows();
    TXLSRows(const TXLSRows&) = delete;
    TXLSRows& operator=(const TXLSRows&) = delete;

    // The row object, or null (also for a negative row or one beyond the sheet limits).
    TXLSRow* Find(int64_t row) const;
    TXLSRow& AddIfNone(uint32_t row);
    int Count() const { return static_cast<int>(rows_.size()); }
    TXLSRow& Items(int index) const { return *rows_.at(index); }
    void Clear() { rows_.clear(); }
    // A ROW record body, appended unsorted: the reader sorts once the file is read.
    void LoadFromRecord(std::span<const uint8_t> data);
    void Sort();

    TCellFormats& Formats() const { return formats_; }

  private:
    friend class TXLSRow;
    TCellFormats& formats_;
    TFormatChangeListener* listener_;
    std::vector<std::unique_ptr<TXLSRow>> rows_;
};

}  // namespace linograf::workbook
