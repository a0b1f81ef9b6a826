#include "workbook/model/number_formats.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace linograf::workbook {
namespace {

uint16_t HashText(std::u16string_view text) {
    // FNV-1a folded to 16 bits: only a quick pre-filter before the text comparison.
    uint32_t h = 2166136261u;
    for (char16_t c : text) {
        h ^= static_cast<uint8_t>(c);
        h *= 16777619u;
        h ^= static_cast<uint8_t>(c >> 8);
        h *= 16777619u;
    }
    return static_cast<uint16_t>(h ^ (h >> 16));
}

const char16_t* BuiltInText(int id) {
    switch (id) {
        case 0:
            return u"General";
        case 1:
            return u"0";
        case 2:
            return u"0.00";
        case 3:
            return u"#,##0";
        case 4:
            return u"#,##0.00";
        case 5:
            return u"_($#,##0_);($#,##0)";
        case 6:
            return u"_($#,##0_);[Red]($#,##0)";
        case 7:
            return u"_($#,##0.00_);($#,##0.00)";
        case 8:
            return u"_($#,##0.00_);[Red]($#,##0.00)";
        case 9:
            return u"0%";
        case 10:
            return u"0.00%";
        case 11:
            return u"0.00E+00";
        case 12:
            return u"# ?/?";
        case 13:
            return u"# ?\?/?\?";
        case 14:
            return u"m/d/yy";
        case 15:
            return u"d-mmm-y";
        case 16:
            return u"d-mmm";
        case 17:
            return u"mmmm-yy";
        case 18:
            return u"h:mm AM/PM";
        case 19:
            return u"h:mm:ss AM/PM";
        case 20:
            return u"h:mm";
        case 21:
            return u"h:mm:SS";
        case 22:
            return u"m/d/yy h:mm";
        case 37:
            return u"_(#,##0_);(#,##0)";
        case 38:
            return u"_(#,##0_);[Red](#,##0)";
        case 39:
            return u"_(#,##0.00_);(#,##0.00)";
        case 40:
            return u"_(#,##0.00_);[Red](#,##0.00)";
        case 41:
            return u"_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)";
        case 42:
            return u"_($* #,##0_);_($* (#,##0);_($* \"-\"_);_(@_)";
        case 43:
            return u"_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"??_);_(@_)";
        case 44:
            return u"_($* #,##0.00_);_($* (#,##0.00);_($* \"-\"??_);_(@_)";
        case 45:
            return u"mm:ss";
        case 46:
            return u"[h]:mm:ss";
        case 47:
            return u"mm:ss.0";
        case 48:
            return u"# #0.0E+0";
        case 49:
            return u"@";
        default:
            return u"";
    }
}

}  // namespace

TNumberFormat::TNumberFormat(int id, std::u16string text, int use_count)
    : id_(id), text_(std::move(text)), use_count_(use_count), hash_(HashText(text_)) {}

void TNumberFormat::SetText(std::u16string text) {
    text_ = std::move(text);
    hash_ = HashText(text_);
}

TNumberFormats::TNumberFormats() {
    Reset();
}

void TNumberFormats::Reset() {
    formats_.clear();
    for (int id = 0; id <= kLastBuiltInNumberFormat; ++id)
        formats_.push_back(std::make_unique<TNumberFormat>(id, BuiltInText(id), -1));
    highest_id_ = kLastBuiltInNumberFormat;
    sorted_ = true;
}

int TNumberFormats::FindOrAdd(std::u16string_view text) {
    if (text.empty()) return 0;
    uint16_t hash = HashText(text);
    for (auto& f : formats_) {
        if (f->hash_ == hash && f->text_ == text) {
            // A built-in format goes from -1 ("unused") to 0, which is enough to be written.
            ++f->use_count_;
            return f->id_;
        }
    }
    highest_id_ = std::max(highest_id_, kFirstCustomNumberFormat - 1) + 1;
    formats_.push_back(std::make_unique<TNumberFormat>(highest_id_, std::u16string(text), 1));
    return highest_id_;
}

void TNumberFormats::AddFromRecord(int id, std::u16string_view text, int count) {
    int pos = PositionOf(id);
    if (pos > 0) {
        TNumberFormat& f = *formats_[pos];
        f.SetText(std::u16string(text));
        f.use_count_ = f.use_count_ < 0 ? count : f.use_count_ + count;
    } else {
        formats_.push_back(std::make_unique<TNumberFormat>(id, std::u16string(text), count));
        sorted_ = false;
    }
    highest_id_ = std::max(highest_id_, id);
}

void TNumberFormats::Release(int id) {
    if (id <= kLastBuiltInNumberFormat) return;
    int pos = PositionOf(id);
    if (pos < 0) return;
    if (--formats_[pos]->use_count_ <= 0) formats_.erase(formats_.begin() + pos);
}

void TNumberFormats::MarkUsed(int id) {
    int pos = PositionOf(id);
    if (pos >= 0 && formats_[pos]->use_count_ < 1) formats_[pos]->use_count_ = 1;
}

const TNumberFormat* TNumberFormats::FindById(int id) {
    int pos = PositionOf(id);
    return pos < 0 ? nullptr : formats_[pos].get();
}

const TNumberFormat& TNumberFormats::ById(int id) {
    const TNumberFormat* f = FindById(id);
    if (!f) {
        char message[64];
        std::snprintf(message, sizeof message, "Can not find number format# %d", id);
        throw std::runtime_error(message);
    }
    return *f;
}

const TNumberFormat& TNumberFormats::Items(int position) {
    SortIfNeeded();
    return *formats_.at(position);
}

void TNumberFormats::SortIfNeeded() {
    if (sorted_) return;
    std::stable_sort(formats_.begin(), formats_.end(),
                     [](const auto& a, const auto& b) { return a->id_ < b->id_; });
    sorted_ = true;
}

int TNumberFormats::PositionOf(int id) {
    SortIfNeeded();
    auto it = std::lower_bound(formats_.begin(), formats_.end(), id,
                               [](const auto& f, int v) { return f->id_ < v; });
    if (it == formats_.end() || (*it)->id_ != id) return -1;
    return static_cast<int>(it - formats_.begin());
}

}  // namespace linograf::workbook
