#pragma once
// ExportGrid: writes a data grid into a new, formatted workbook: a title line with the date and
// time, the column titles as a (multi-level) header block, one row per table row (or per
// selected row), thin borders, and portrait or landscape pages by the table's width.
#include <string>

#include "base/date_time.h"
#include "core/export/grid_export_source.h"

namespace linograf {

// The title line's stamp: "dd.mm.yy hh:nn" (two-digit year, 24-hour clock).
std::string FormatExportStamp(TDateTime when);

// Writes the grid to `file_name`: ".xls" gives an Excel 97-2003 file, ".xlsx" an Excel 2007
// one (the extension compared as written). `title` (Windows-1251) starts the title line, `now`
// is the date and time it shows. `progress` may be null.
//
// Errors are raised to the caller after the table's cursor and refreshing are restored; the
// target file is replaced only by a complete new one, so a failed export leaves a file that
// was there unchanged. When the operator cancels in the progress window, EAbort is raised and
// nothing is written.
void ExportGrid(const std::u16string& file_name, TGridExportSource& grid, const std::string& title,
                TExportProgress* progress, TDateTime now);

}  // namespace linograf
