#include "core/live_book_settings.h"

#include "workbook/model/print_settings.h"
#include "workbook/model/sheet.h"

namespace linograf {

void ApplyLiveBookSettings(workbook::TTabulon4& book) {
    book.SetDefaultPaperSize(workbook::psA4);
    for (int i = 0; i < book.Sheets().Count(); ++i) {
        workbook::TPrintSettings& print = book.Sheet(i).PrintSettings();
        print.SetPaperSize(workbook::psA4);
        print.SetOptions({workbook::psoPortrait});
        print.margin_left = 0.75;
        print.margin_right = 0.75;
        print.margin_top = 1.0;
        print.margin_bottom = 1.0;
        print.SetHeaderMargin(0.5);
        print.SetFooterMargin(0.5);
    }
}

}  // namespace linograf
