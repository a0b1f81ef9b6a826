#include "gui/export/db_grid_export.h"

#include <QHeaderView>
#include <QLabel>
#include <memory>

#include "core/export/grid_export.h"
#include "core/export/table_export_source.h"
#include "gui/db_grid.h"
#include "gui/export/message_form.h"
#include "gui/qt_text.h"
#include "gui/table_model.h"

namespace linograf {
namespace {

// The grid's columns in display order, with the widths the grid shows them at now.
std::vector<TExportColumn> GridColumns(const TDbGrid& grid) {
    std::vector<TExportColumn> columns;
    const std::vector<TGridColumn>& model_columns = grid.Model()->Columns();
    const QHeaderView* header = grid.horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (logical < 0 || logical >= static_cast<int>(model_columns.size())) continue;
        const TGridColumn& source = model_columns[static_cast<size_t>(logical)];
        TExportColumn column;
        column.visible = !grid.isColumnHidden(logical);
        column.title = ToCp1251(source.title);
        column.width = grid.columnWidth(logical);
        column.field_name = source.field_name;
        // The table's texts are in the grid model's encoding; a date-time column ignores it.
        column.text_is_utf8 = grid.Model()->ValuesAreUtf8();
        columns.push_back(std::move(column));
    }
    return columns;
}

}  // namespace

void ExportGrid(const QString& file_name, TDbGrid& grid, const QString& title) {
    // The grid's font as the operator sees it; a pixel-sized font is given in points at 96 dpi.
    const QFont font = grid.font();
    const int points = font.pointSize() > 0 ? font.pointSize() : std::max(1, font.pixelSize() * 72 / 96);
    TTableExportSource source(grid.Model()->Table(), GridColumns(grid), ToCp1251(font.family()), points);
    source.display_text = [&grid](int column) {
        const QModelIndex index = grid.Model()->index(grid.Model()->CursorRow(), column);
        return ToCp1251(grid.Model()->data(index).toString());
    };
    auto progress = std::make_unique<TfrmMessage>();
    progress->LMsg()->setText(QStringLiteral("Экспорт записей..."));
    progress->ShowNow();
    ExportGrid(file_name.toStdU16String(), source, ToCp1251(title), progress.get(), DateTimeNow());
}

}  // namespace linograf
