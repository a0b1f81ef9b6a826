#include "workbook/model/extra_objects.h"

namespace linograf::workbook {

bool TExtraObjects::IsRecordStreamName(std::u16string_view name) {
    return ElementNamesEqual(name, u"Workbook") || ElementNamesEqual(name, u"Book");
}

void TExtraObjects::Assign(const TCompoundDocument& read) {
    TCompoundDocument kept;
    read.Root().CopyTo(kept.Root(), [](const TCompoundElementInfo& e) {
        return !IsRecordStreamName(e.name) && e.name != kMacroStorageName;
    });
    document_ = std::move(kept);
}

}  // namespace linograf::workbook
