#include "gui/grid_log_columns.h"

#include <QHeaderView>
#include <stdexcept>

#include "gui/db_grid.h"
#include "gui/qt_text.h"

namespace linograf {

int TGridLogColumns::ColumnCount() const {
    return grid_.Model()->columnCount();
}

std::string TGridLogColumns::ColumnTitle(int column) const {
    return ToCp1251(grid_.Model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
}

int TGridLogColumns::ColumnPixelWidth(int column) const {
    if (column < 0 || column >= grid_.horizontalHeader()->count())
        throw std::out_of_range("List index out of bounds");
    return grid_.horizontalHeader()->sectionSize(column);
}

}  // namespace linograf
