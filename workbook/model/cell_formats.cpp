#include "workbook/model/cell_formats.h"

#include <stdexcept>

namespace linograf::workbook {

TCellFormats::TCellFormats(TXFonts& fonts, bool master) : fonts_(fonts), master_(master) {
    if (master_) Reset();
}

XfId TCellFormats::IdAt(int position) const {
    if (position < 0 || position >= Count()) position = kDefaultCellFormat;
    if (position >= Count()) throw std::runtime_error("Cell format list has no default format");
    return formats_[position]->id_;
}

int TCellFormats::Find(const TCellFormat& format) const {
    for (const auto& f : formats_)
        if (f->SameBytes(format)) return f->position_;
    return -1;
}

TCellFormat& TCellFormats::Append(std::unique_ptr<TCellFormat> format) {
    format->parent_ = this;
    format->position_ = Count();
    format->use_count_ = 0;
    if (free_ids_.empty()) {
        format->id_ = static_cast<XfId>(by_id_.size());
        by_id_.push_back(format.get());
    } else {
        format->id_ = free_ids_.back();
        free_ids_.pop_back();
        by_id_[format->id_] = format.get();
    }
    formats_.push_back(std::move(format));
    return *formats_.back();
}

TCellFormat& TCellFormats::Add() {
    return Append(std::make_unique<TCellFormat>());
}

void TCellFormats::Clear() {
    formats_.clear();
    by_id_.clear();
    free_ids_.clear();
    boundary_ = 0;
}

void TCellFormats::Reset() {
    Clear();
    number_formats_.Reset();
    if (!master_) return;
    AddDefaultFormats();
    Add();
    SetFixedBoundary();
}

void TCellFormats::AddDefaultFormats() {
    if (!formats_.empty()) throw std::runtime_error("Add default formats when not empty.");
    struct Row {
        uint16_t font, number_format, protection, word3;
    };
    static constexpr Row kTable[21] = {
        {0, 0, 0xFFF5, 0x0000},  {1, 0, 0xFFF5, 0xF400},  {1, 0, 0xFFF5, 0xF400},  {2, 0, 0xFFF5, 0xF400},
        {2, 0, 0xFFF5, 0xF400},  {0, 0, 0xFFF5, 0xF400},  {0, 0, 0xFFF5, 0xF400},  {0, 0, 0xFFF5, 0xF400},
        {0, 0, 0xFFF5, 0xF400},  {0, 0, 0xFFF5, 0xF400},  {0, 0, 0xFFF5, 0xF400},  {0, 0, 0xFFF5, 0xF400},
        {0, 0, 0xFFF5, 0xF400},  {0, 0, 0xFFF5, 0xF400},  {0, 0, 0xFFF5, 0xF400},  {0, 0, 0x0001, 0x0000},
        {0, 42, 0xFFF5, 0x0000}, {0, 43, 0xFFF5, 0x0000}, {0, 44, 0xFFF5, 0x0000}, {0, 45, 0xFFF5, 0x0000},
        {0, 9, 0xFFF5, 0x0000},
    };
    for (const Row& r : kTable) {
        TCellFormat& f = Add();
        f.SetU16(0, r.font);
        f.SetU16(2, r.number_format);
        f.SetU16(4, r.protection);
        f.SetU16(6, 0x0020);
        f.SetU16(8, r.word3);
        f.SetU16(10, 0);
        f.SetU16(12, 0);
        f.SetU32(14, 0);
        f.SetU16(18, 0x20C0);
        if (r.number_format != 0) number_formats_.MarkUsed(r.number_format);
    }
}

void TCellFormats::Acquire(XfId id) {
    TCellFormat& f = ById(id);
    if (f.position_ >= boundary_) ++f.use_count_;
}

void TCellFormats::Release(XfId id) {
    TCellFormat& f = ById(id);
    if (f.position_ < boundary_) return;
    if (--f.use_count_ <= 0) Remove(f.position_);
}

void TCellFormats::Remove(int position) {
    std::unique_ptr<TCellFormat> gone = std::move(formats_[position]);
    formats_.erase(formats_.begin() + position);
    for (int i = position; i < Count(); ++i) formats_[i]->position_ = i;
    by_id_[gone->id_] = nullptr;
    free_ids_.push_back(gone->id_);
    // Fonts are counted by the formats that use them, so a font outlives every format (and thus
    // every cell) that shows it.
    int removed_font = fonts_.Release(gone->FontIndex());
    if (removed_font >= 0) {
        for (auto& f : formats_)
            if (f->FontIndex() > removed_font) f->SetFontIndex(static_cast<uint16_t>(f->FontIndex() - 1));
    }
}

XfId TCellFormats::Replace(XfId current, const TCellFormat& wanted) {
    // The wanted format is found or added before the old one is released: the end result is the
    // same positions, and a font index held by the wanted format is renumbered with the list
    // should releasing the old format remove a font.
    XfId result;
    int found = Find(wanted);
    if (found >= 0) {
        result = formats_[found]->id_;
        Acquire(result);
    } else {
        auto copy = std::make_unique<TCellFormat>(wanted);
        TCellFormat& added = Append(std::move(copy));
        added.use_count_ = 1;
        fonts_.Acquire(added.FontIndex());
        result = added.id_;
    }
    Release(current);
    return result;
}

XfId TCellFormats::ChangeFontTo(XfId current, const TXFont& font) {
    int position = fonts_.Find(font);
    if (position < 0) {
        TXFont& added = fonts_.Add();
        added.AssignAttributes(font);
        position = added.Position();
    }
    uint16_t index = static_cast<uint16_t>(position);
    return Change(
        current, [&](const TCellFormat& f) { return f.FontIndex() == index; },
        [&](TCellFormat& f) { f.SetFontIndex(index); });
}

}  // namespace linograf::workbook
