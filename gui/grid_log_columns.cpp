#include "gui/grid_log_columns.h"

#include <QHeaderView>
#include <algorithm>
#include <stdexcept>

#include "core/arrival_column.h"
#include "gui/db_grid.h"
#include "gui/qt_text.h"

namespace linograf {

namespace {

bool IsArrival(const TGridColumn& column) {
    return column.field_name == kArrivalField;
}

}  // namespace

int TGridLogColumns::GridColumn(int column) const {
    const std::vector<TGridColumn>& columns = grid_.Model()->Columns();
    int seen = -1;
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        if (!IsArrival(columns[static_cast<std::size_t>(i)]) && ++seen == column) return i;
    }
    return -1;
}

int TGridLogColumns::ColumnCount() const {
    const std::vector<TGridColumn>& columns = grid_.Model()->Columns();
    return static_cast<int>(columns.size()) -
           static_cast<int>(std::count_if(columns.begin(), columns.end(), IsArrival));
}

std::string TGridLogColumns::ColumnTitle(int column) const {
    return ToCp1251(
        grid_.Model()->headerData(GridColumn(column), Qt::Horizontal, Qt::DisplayRole).toString());
}

int TGridLogColumns::ColumnPixelWidth(int column) const {
    column = GridColumn(column);
    if (column < 0 || column >= grid_.horizontalHeader()->count())
        throw std::out_of_range("List index out of bounds");
    return grid_.horizontalHeader()->sectionSize(column);
}

}  // namespace linograf
