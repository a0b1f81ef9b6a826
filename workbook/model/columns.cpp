#include "workbook/model/columns.h"

#include <algorithm>
#include <stdexcept>

namespace linograf::workbook {

int DigitPixelWidth(const TXFont& font) {
    double pixels_per_em = font.height / 20.0 * 96.0 / 72.0;
    int width = static_cast<int>(pixels_per_em * 0.556 + 0.5);
    return std::max(width, 1);
}

TXLSColumn::TXLSColumn(TXLSColumns& owner, uint32_t number)
    : TFormattedObject(owner.formats_), owner_(owner), number_(number) {}

TXLSColumn::~TXLSColumn() {
    ReleaseFormat();
}

void TXLSColumn::SetWidth(int width) {
    if (width < 0 || width > 65535) throw std::runtime_error("Invalid value");
    width_ = width;
}

void TXLSColumn::SetPixelWidth(int pixels) {
    TXFonts& fonts = owner_.formats_.Fonts();
    int digit = fonts.Count() > 0 ? DigitPixelWidth(fonts.Items(0)) : 7;
    SetWidth(pixels * 256 / digit);
}

void TXLSColumn::SetOutlineLevel(int level) {
    if (level < 0 || level > 16) throw std::runtime_error("Invalid value");
    outline_level_ = level;
}

bool TXLSColumn::SameAs(const TXLSColumn& o) const {
    return width_ == o.width_ && hidden_ == o.hidden_ && outline_level_ == o.outline_level_ &&
           collapsed_ == o.collapsed_ && Format() == o.Format();
}

void TXLSColumn::FormatChanged() {
    if (owner_.listener_) owner_.listener_->ColumnFormatChanged(number_, Format());
}

TXLSColumns::TXLSColumns(TCellFormats& formats, TFormatChangeListener* listener)
    : formats_(formats), listener_(listener), slots_(kColumnSlots) {}

TXLSColumns::~TXLSColumns() = default;

TXLSColumn* TXLSColumns::Items(int col) const {
    if (col < 0 || col >= kColumnSlots) return nullptr;
    return slots_[col].get();
}

void TXLSColumns::AddIfNone(int col, int count) {
    for (int c = std::max(col, 0); c < col + count && c < kColumnSlots; ++c)
        if (!slots_[c]) slots_[c] = std::make_unique<TXLSColumn>(*this, static_cast<uint32_t>(c));
}

void TXLSColumns::Delete(int c1, int c2) {
    if (c1 < 0 || c1 > c2 || c2 >= kColumnSlots) throw std::runtime_error("Invalid columns");
    for (int c = c1; c <= c2; ++c) slots_[c].reset();
}

// COLINFO body:
//   OFFSET SIZE DESCRIPTION
//   0      2    first column
//   2      2    last column
//   4      2    width in 1/256 of a digit
//   6      2    XF index
//   8      2    options: bit 0 hidden, bit 1 user-set, bits 8-10 outline level, bit 12 collapsed
//   10     2    reserved
void TXLSColumns::LoadFromRecord(std::span<const uint8_t> d) {
    if (d.size() < 10) throw std::runtime_error("Invalid COLINFO record");
    auto u16 = [&](size_t at) { return static_cast<int>(d[at] | (d[at + 1] << 8)); };
    int first = std::min(u16(0), 255), last = std::min(u16(2), 255);
    XfId xf = formats_.IdAt(u16(6));
    int options = u16(8);
    for (int c = first; c <= last; ++c) {
        auto column = std::make_unique<TXLSColumn>(*this, static_cast<uint32_t>(c));
        column->width_ = u16(4);
        column->AssignFormat(xf);
        column->hidden_ = (options & 0x0001) != 0;
        column->user_set_ = (options & 0x0002) != 0;
        column->outline_level_ = (options >> 8) & 7;
        column->collapsed_ = (options & 0x1000) != 0;
        slots_[c] = std::move(column);
    }
}

}  // namespace linograf::workbook
