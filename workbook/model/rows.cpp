#include "workbook/model/rows.h"

#include <algorithm>
#include <stdexcept>

#include "workbook/model/process_values.h"

namespace linograf::workbook {

TXLSRow::TXLSRow(TXLSRows& owner, uint32_t number)
    : TFormattedObject(owner.formats_),
      owner_(owner),
      number_(number),
      last_column_plus1_(static_cast<uint16_t>(LastColumn())) {}

TXLSRow::~TXLSRow() {
    ReleaseFormat();
}

void TXLSRow::SetHeight(uint16_t height) {
    height_ = height;
    SetFlag(kRowCustomHeight, height != kDefaultRowHeight);
}

void TXLSRow::SetOutlineLevel(uint8_t level) {
    outline_level_ = level;
    options_ = static_cast<uint16_t>((options_ & ~kRowOutlineMask) | (level & kRowOutlineMask));
}

void TXLSRow::FormatChanged() {
    if (owner_.listener_) owner_.listener_->RowFormatChanged(number_, Format());
}

TXLSRows::TXLSRows(TCellFormats& formats, TFormatChangeListener* listener)
    : formats_(formats), listener_(listener) {}

TXLSRows::~TXLSRows() = default;

TXLSRow* TXLSRows::Find(int64_t row) const {
    if (row < 0 || rows_.empty() || row > LastRow()) return nullptr;
    auto it = std::lower_bound(rows_.begin(), rows_.end(), row,
                               [](const auto& r, int64_t v) { return r->number_ < v; });
    return it != rows_.end() && (*it)->number_ == row ? it->get() : nullptr;
}

TXLSRow& TXLSRows::AddIfNone(uint32_t row) {
    if (!rows_.empty() && row > rows_.back()->number_) {
        rows_.push_back(std::make_unique<TXLSRow>(*this, row));
        return *rows_.back();
    }
    if (TXLSRow* found = Find(row)) return *found;
    rows_.push_back(std::make_unique<TXLSRow>(*this, row));
    TXLSRow& added = *rows_.back();
    Sort();
    return added;
}

void TXLSRows::Sort() {
    std::stable_sort(rows_.begin(), rows_.end(),
                     [](const auto& a, const auto& b) { return a->number_ < b->number_; });
}

// ROW body:
//   OFFSET SIZE DESCRIPTION
//   0      2    row
//   2      2    first column
//   4      2    last column + 1
//   6      2    height in twips
//   8      4    reserved
//   12     2    options: bits 0-2 outline level, 0x10 collapsed, 0x20 hidden, 0x40 custom
//               height, 0x80 has its own format
//   14     2    XF index (bits 0-11)
void TXLSRows::LoadFromRecord(std::span<const uint8_t> d) {
    if (d.size() < 16) throw std::runtime_error("Invalid ROW record");
    auto u16 = [&](size_t at) { return static_cast<uint16_t>(d[at] | (d[at + 1] << 8)); };
    auto row = std::make_unique<TXLSRow>(*this, u16(0));
    row->first_column_ = u16(2);
    row->last_column_plus1_ = u16(4);
    row->height_ = u16(6);
    row->options_ = u16(12);
    row->outline_level_ = static_cast<uint8_t>(row->options_ & kRowOutlineMask);
    if (row->options_ & kRowHasFormat) row->AssignFormat(formats_.IdAt(u16(14) & 0x0FFF));
    rows_.push_back(std::move(row));
}

}  // namespace linograf::workbook
