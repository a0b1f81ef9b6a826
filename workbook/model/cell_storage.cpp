#include "workbook/model/cell_storage.h"

#include <stdexcept>

namespace linograf::workbook {

const char16_t* CellErrorText(uint8_t code) {
    switch (code) {
        case ceNull:
            return u"#NULL!";
        case ceDiv0:
            return u"#DIV/0!";
        case ceValue:
            return u"#VALUE!";
        case ceRef:
            return u"#REF!";
        case ceName:
            return u"#NAME?";
        case ceNum:
            return u"#NUM!";
        case ceNA:
            return u"#N/A";
        default:
            return u"";
    }
}

TCellStorage::~TCellStorage() {
    Clear();
}

TCell* TCellStorage::Find(uint32_t col, uint32_t row) {
    if (row < lowest_changed_) lowest_changed_ = row;
    if (cached_ && col == cached_col_ && row == cached_row_)
        return cached_->type != ctNone ? cached_ : nullptr;
    if (col >= kStoreColumns || row >= kStoreRows) return nullptr;
    Level2* l2 = level1_[row >> 10].get();
    if (!l2) return nullptr;
    RowBlocks& blocks = l2->rows[row & 0x3FF];
    uint32_t i3 = col >> 7, i4 = col & 0x7F;
    if (i3 >= blocks.size()) return nullptr;
    Block& block = blocks[i3];
    if (i4 >= block.size() || block[i4].type == ctNone) return nullptr;
    cached_col_ = col;
    cached_row_ = row;
    cached_ = &block[i4];
    placed_block_ = &block;
    return cached_;
}

TCell& TCellStorage::Place(uint32_t col, uint32_t row) {
    if (row < lowest_changed_) lowest_changed_ = row;
    if (placed_block_ && row == cached_row_ && col == cached_col_ + 1 && (col & 0x7F) != 0) {
        Block& block = *placed_block_;
        const uint32_t i4 = col & 0x7F;
        if (i4 < block.size() || (i4 == block.size() && i4 < block.capacity())) {
            if (i4 == block.size()) block.emplace_back();
            cached_col_ = col;
            cached_ = &block[i4];
            return block[i4];
        }
    }
    if (col >= kStoreColumns || row >= kStoreRows) throw std::out_of_range("Cell address beyond the sheet");
    std::unique_ptr<Level2>& l2 = level1_[row >> 10];
    if (!l2) l2 = std::make_unique<Level2>();
    RowBlocks& blocks = l2->rows[row & 0x3FF];
    uint32_t i3 = col >> 7, i4 = col & 0x7F;
    if (i3 >= blocks.size()) blocks.resize(i3 + 1);
    Block& block = blocks[i3];
    if (i4 >= block.size()) {
        // Grow in steps of 8 cells: a row filled left to right reallocates rarely and wastes
        // at most 7 cells.
        size_t want = (i4 + 8) & ~size_t{7};
        if (want > 128) want = 128;
        if (block.capacity() < want) block.reserve(want);
        block.resize(i4 + 1);
    }
    cached_col_ = col;
    cached_row_ = row;
    cached_ = &block[i4];
    placed_block_ = &block;
    return block[i4];
}

void TCellStorage::Erase(uint32_t col, uint32_t row) {
    TCell* c = Find(col, row);
    if (c) *c = TCell{};
}

bool TCellStorage::Empty() const {
    for (const auto& l2 : level1_) {
        if (!l2) continue;
        for (const RowBlocks& blocks : l2->rows)
            for (const Block& block : blocks)
                for (const TCell& c : block)
                    if (c.type != ctNone) return false;
    }
    return true;
}

void TCellStorage::Clear() {
    for (auto& l2 : level1_) {
        if (!l2) continue;
        for (RowBlocks& blocks : l2->rows)
            for (Block& block : blocks)
                for (TCell& c : block)
                    if (IsFormulaCell(c.type)) delete c.value.formula;
        l2.reset();
    }
    cached_ = nullptr;
    placed_block_ = nullptr;
    lowest_changed_ = 0;
}

TCellStorage::Iterator TCellStorage::CellsFrom(uint32_t row) {
    Iterator it(*this);
    if (row >= kStoreRows) {
        it.i1_ = 1024;  // past the end
        return it;
    }
    it.i1_ = row >> 10;
    it.i2_ = row & 0x3FF;
    return it;
}

TCellRef TCellStorage::Iterator::Next() {
    if (started_) ++i4_;
    started_ = true;
    // Most calls find the next cell in the block of the last one.
    if (block_) {
        const size_t size = block_->size();
        for (; i4_ < size; ++i4_) {
            TCell& c = (*block_)[i4_];
            if (c.type != ctNone) {
                last_ = {(i3_ << 7) | i4_, (i1_ << 10) | i2_, &c};
                return last_;
            }
        }
        block_ = nullptr;
    }
    TCellStorage& s = *store_;
    for (; i1_ < 1024; ++i1_, i2_ = 0, i3_ = 0, i4_ = 0) {
        Level2* l2 = s.level1_[i1_].get();
        if (!l2) continue;
        for (; i2_ < 1024; ++i2_, i3_ = 0, i4_ = 0) {
            RowBlocks& blocks = l2->rows[i2_];
            for (; i3_ < blocks.size(); ++i3_, i4_ = 0) {
                Block& block = blocks[i3_];
                for (; i4_ < block.size(); ++i4_) {
                    if (block[i4_].type != ctNone) {
                        block_ = &block;
                        last_ = {(i3_ << 7) | i4_, (i1_ << 10) | i2_, &block[i4_]};
                        return last_;
                    }
                }
            }
        }
    }
    last_ = {};
    return last_;
}

TCellRef TCellStorage::Iterator::NextBlankInRun() {
    if (!last_) return {};
    uint32_t col = last_.col + 1;
    TCell* c = col < kStoreColumns ? store_->Find(col, last_.row) : nullptr;
    if (!c || c->type != ctBlank) return {};
    if (col >> 7 != i3_) block_ = nullptr;
    i3_ = col >> 7;
    i4_ = col & 0x7F;
    last_ = {col, last_.row, c};
    return last_;
}

}  // namespace linograf::workbook
