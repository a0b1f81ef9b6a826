#pragma once
// What the sheets of a workbook share: fonts, cell formats (with their number formats), the
// shared string table, the paper size new sheets start with, and how formula cells read as
// text. The workbook component builds on it; the model itself reads and writes no files.
#include "workbook/model/cell_formats.h"
#include "workbook/model/fonts.h"
#include "workbook/model/print_settings.h"
#include "workbook/model/shared_strings.h"
#include "workbook/model/sheets.h"

namespace linograf::workbook {

class TWorkbookModel {
  public:
    // Default fonts and formats and one sheet, "Sheet1". Also resets the process-wide palette,
    // as constructing a workbook object does.
    TWorkbookModel();
    virtual ~TWorkbookModel();
    TWorkbookModel(const TWorkbookModel&) = delete;
    TWorkbookModel& operator=(const TWorkbookModel&) = delete;

    TXFonts& Fonts() { return fonts_; }
    TCellFormats& Formats() { return formats_; }
    // The cell styles of Open XML files; shares the font list.
    TCellFormats& StyleFormats() { return style_formats_; }
    TSST2& SST() { return sst_; }
    TSheets& Sheets() { return sheets_; }
    TSheet& Sheet(int index) { return sheets_.Items(index); }

    TPaperSize DefaultPaperSize() const { return default_paper_size_; }
    void SetDefaultPaperSize(TPaperSize size) { default_paper_size_ = size; }
    // Serial dates count from 1904-01-01 instead of 1899-12-30 (a workbook saved so keeps it;
    // dates put into it are converted).
    bool Date1904() const { return date1904_; }
    void SetDate1904(bool on) { date1904_ = on; }
    bool ShowFormulas() const { return show_formulas_; }
    void SetShowFormulas(bool on) { show_formulas_ = on; }

    // Empties the model: shared strings, sheets (one new sheet added), default formats and
    // fonts again.
    void ClearModel();

  private:
    // Declared in this order so the sheets, which refer to the formats and strings, go first.
    TXFonts fonts_;
    TCellFormats formats_;
    TCellFormats style_formats_;
    TSST2 sst_;
    TPaperSize default_paper_size_ = psA4;
    bool show_formulas_ = false;
    bool date1904_ = false;
    TSheets sheets_;
};

}  // namespace linograf::workbook
