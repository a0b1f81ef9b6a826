#include "workbook/model/workbook_model.h"

#include "workbook/model/palette.h"

namespace linograf::workbook {

TWorkbookModel::TWorkbookModel() : formats_(fonts_, true), style_formats_(fonts_, false), sheets_(*this) {
    ResetPalette();
    sheets_.Add();
}

TWorkbookModel::~TWorkbookModel() = default;

void TWorkbookModel::ClearModel() {
    // The sheets first: their text cells give their strings back to the table as they go.
    sheets_.Clear();
    sst_.Clear();
    // Formats and fonts are rebuilt before the new sheet exists, so nothing refers to the old ones.
    fonts_.Reset();
    formats_.Reset();
    style_formats_.Reset();
    date1904_ = false;
    sheets_.Add();
}

}  // namespace linograf::workbook
