#include "workbook/model/open_xml_model.h"

#include <algorithm>
#include <stdexcept>

namespace linograf::workbook {
namespace {

constexpr std::array<int, 22> kRelationTypeWeights = {
    0, 0, 7000, 0, 0, 0, 0, 6000, 0, 0, 5000, 4000, 0, 0, 0, 2000, 3000, 0, 1000, 900000, 901000, 0,
};

}  // namespace

std::string SavedTagPlaceholder(int element, std::string_view attributes) {
    std::string text = "<";
    text += kXmlElementNames.at(static_cast<std::size_t>(element));
    text += ' ';
    if (!attributes.empty()) {
        text += attributes;
        text += ' ';
    }
    text += "/>";
    return text;
}

std::string_view RelationPrefixText(uint8_t prefix) {
    switch (prefix) {
        case rpOfficeDocument:
            return "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
        case rpMicrosoft2006:
            return "http://schemas.microsoft.com/office/2006/relationships/";
        default:
            return "";
    }
}

int RelationTypeNumber(std::string_view type) {
    for (std::size_t i = 0; i < kXmlRelationTypeNames.size(); ++i)
        if (kXmlRelationTypeNames[i] == type) return static_cast<int>(i) + 1;
    return 0;
}

int RelationTypeWeight(std::string_view type) {
    const int number = RelationTypeNumber(type);
    return number == 0 ? 0 : kRelationTypeWeights[static_cast<std::size_t>(number - 1)];
}

void TXMLRelations::SetSorted(bool sorted) {
    if (sorted && !sorted_) {
        std::stable_sort(items_.begin(), items_.end(),
                         [](const TXMLRelation& a, const TXMLRelation& b) { return a.id < b.id; });
        for (std::size_t i = 1; i < items_.size(); ++i)
            if (items_[i].id == items_[i - 1].id) throw std::runtime_error("Duplicate relation id");
    }
    sorted_ = sorted;
}

TXMLRelation& TXMLRelations::Add(TXMLRelation relation) {
    if (!sorted_) return items_.emplace_back(std::move(relation));
    auto at = std::lower_bound(items_.begin(), items_.end(), relation.id,
                               [](const TXMLRelation& r, const std::string& id) { return r.id < id; });
    if (at != items_.end() && at->id == relation.id) throw std::runtime_error("Duplicate relation id");
    return *items_.insert(at, std::move(relation));
}

const TXMLRelation* TXMLRelations::Find(std::string_view id) const {
    for (const TXMLRelation& r : items_)
        if (r.id == id) return &r;
    return nullptr;
}

bool TXMLRelations::HasType(std::string_view type) const {
    return std::any_of(items_.begin(), items_.end(), [&](const TXMLRelation& r) { return r.type == type; });
}

void TOpenXmlBook::Clear() {
    *this = TOpenXmlBook();
}

TOpenXmlSheet& TOpenXmlBook::Sheet(int index) {
    if (index < 0) throw std::out_of_range("Sheet index out of range");
    while (static_cast<int>(sheets_.size()) <= index) sheets_.push_back(std::make_unique<TOpenXmlSheet>());
    return *sheets_[static_cast<std::size_t>(index)];
}

}  // namespace linograf::workbook
