#include "workbook/model/sheets.h"

#include "text/wide_text.h"
#include "workbook/model/workbook_model.h"

namespace linograf::workbook {

TSheets::TSheets(TWorkbookModel& book) : book_(book) {}

TSheets::~TSheets() = default;

TSheet& TSheets::Add(uint8_t kind) {
    ++created_;
    sheets_.push_back(std::make_unique<TSheet>(*this, book_, created_, kind));
    return *sheets_.back();
}

void TSheets::Clear() {
    for (auto& s : sheets_) s->Clear();
    book_.SST().Clear();
    sheets_.clear();
    created_ = 0;
}

TSheet* TSheets::Find(std::u16string_view name) {
    std::u16string wanted = WideUpperCase(name);
    for (auto& s : sheets_)
        if (WideUpperCase(s->Name()) == wanted) return s.get();
    return nullptr;
}

std::vector<std::u16string> TSheets::Names() const {
    std::vector<std::u16string> names;
    for (const auto& s : sheets_) names.push_back(s->Name());
    return names;
}

}  // namespace linograf::workbook
