#pragma once
// The export as the main window calls it (action "excel"): the grid's columns, widths and font,
// its table's rows, and the progress window for the time it runs.
#include <QString>
#include <string>

namespace linograf {

class TDbGrid;

// Exports `grid` to `file_name` under the title line `title` (the window's caption). Errors
// reach the caller (and so the general error handler) after the progress window is gone; Esc
// in the progress window ends the export with EAbort and writes nothing.
void ExportGrid(const QString& file_name, TDbGrid& grid, const QString& title);

}  // namespace linograf
