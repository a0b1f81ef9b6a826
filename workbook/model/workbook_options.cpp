#include "workbook/model/workbook_options.h"

namespace linograf::workbook {
namespace {

constexpr uint16_t kWindow1Options = 8;
struct OptionBit {
    TWorkbookOption option;
    uint16_t bit;
};
constexpr OptionBit kWindow1Bits[] = {
    {woHidden, 0x01}, {woIconized, 0x02}, {woHScroll, 0x08}, {woVScroll, 0x10}, {woTabs, 0x20},
};

}  // namespace

TWorkbookOptions TWorkbookData::Options() const {
    const uint16_t word = records_.U16(rec::WINDOW1, kWindow1Options);
    TWorkbookOptions options;
    for (const OptionBit& b : kWindow1Bits)
        if (word & b.bit) options.Include(b.option);
    return options;
}

void TWorkbookData::SetOptions(TWorkbookOptions options) {
    uint16_t word = records_.U16(rec::WINDOW1, kWindow1Options);
    for (const OptionBit& b : kWindow1Bits)
        word = options.Contains(b.option) ? (word | b.bit) : (word & ~b.bit);
    records_.SetU16(rec::WINDOW1, kWindow1Options, word);
}

void TOptionsDialog::SetCalcCount(uint32_t count) {
    calc_count_ = static_cast<uint16_t>(count == 0 ? 1 : count > 32767 ? 32767 : count);
}

}  // namespace linograf::workbook
