#include "gui/db_grid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <numeric>

#include "gui/error_handler.h"
#include "gui/find_dialog.h"
#include "gui/stacked_header_view.h"

namespace linograf {

TDbGrid::TDbGrid(TTableModel* model, QWidget* parent)
    : QTableView(parent), model_(model), header_(new TStackedHeaderView(this)) {
    setHorizontalHeader(header_);
    setModel(model_);
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    header_->setSectionResizeMode(QHeaderView::Interactive);
    header_->setMinimumSectionSize(8);
    // The columns always fit the width, so there is nothing to scroll sideways.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setWordWrap(false);
    setTabKeyNavigation(false);
    // Typing is for the incremental search, so only these open the editor.
    setEditTriggers(model_->ReadOnly()
                        ? QAbstractItemView::NoEditTriggers
                        : QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    connect(model_, &TTableModel::CursorRowChanged, this, &TDbGrid::FollowCursor);
    connect(header_, &QHeaderView::sectionResized, this, &TDbGrid::SectionResized);
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { FollowCursor(model_->CursorRow()); });
}

void TDbGrid::ColumnsChanged() {
    base_widths_.clear();
    stretch_.clear();
    for (const TGridColumn& column : model_->Columns()) {
        base_widths_.push_back(std::max(column.width, 1));
        stretch_.push_back(column.stretch);
    }
    header_->updateGeometry();
    header_->resize(header_->width(), header_->sizeHint().height());
    updateGeometries();
    FitColumns();
}

std::vector<int> TDbGrid::ColumnWidths() const {
    std::vector<int> widths;
    for (int i = 0; i < header_->count(); ++i) widths.push_back(header_->sectionSize(i));
    return widths;
}

void TDbGrid::FitColumns() {
    const int count = std::min<int>(header_->count(), static_cast<int>(base_widths_.size()));
    if (count == 0) return;
    int available = viewport()->width();
    int stretch_total = 0;
    int last_stretch = -1;
    for (int i = 0; i < count; ++i) {
        if (stretch_[i]) {
            stretch_total += base_widths_[i];
            last_stretch = i;
        } else {
            available -= base_widths_[i];
        }
    }
    fitting_ = true;
    int given = 0;
    for (int i = 0; i < count; ++i) {
        int width = base_widths_[i];
        if (stretch_[i]) {
            // The last stretched column takes what rounding left over, so the columns end exactly
            // at the grid's right edge.
            width =
                i == last_stretch
                    ? available - given
                    : static_cast<int>(static_cast<long long>(available) * base_widths_[i] / stretch_total);
            width = std::max(width, 8);
            given += width;
        }
        header_->resizeSection(i, width);
    }
    fitting_ = false;
}

void TDbGrid::SectionResized(int logical, int /*old_size*/, int new_size) {
    if (fitting_ || logical >= static_cast<int>(base_widths_.size())) return;
    // The operator dragged a column edge: that column keeps its new width as its proportion, and
    // the stretched columns to its right share what is left of the width.
    base_widths_[static_cast<std::size_t>(logical)] = new_size;
    int used = 0;
    for (int i = 0; i <= logical; ++i) used += header_->sectionSize(i);
    int rest_total = 0;
    for (int i = logical + 1; i < header_->count(); ++i) {
        if (stretch_[i])
            rest_total += base_widths_[i];
        else
            used += base_widths_[i];
    }
    if (rest_total == 0) return;
    const int rest = std::max(viewport()->width() - used, 0);
    fitting_ = true;
    for (int i = logical + 1; i < header_->count(); ++i) {
        if (!stretch_[i]) continue;
        int width = static_cast<int>(static_cast<long long>(rest) * base_widths_[i] / rest_total);
        width = std::max(width, 8);
        base_widths_[i] = width;
        header_->resizeSection(i, width);
    }
    fitting_ = false;
}

void TDbGrid::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    FitColumns();
}

QLineEdit* TDbGrid::Editor() const {
    if (!IsEditing()) return nullptr;
    return viewport()->findChild<QLineEdit*>();
}

void TDbGrid::OpenEditor(int column) {
    const int row = model_->CursorRow();
    if (row < 0 || column < 0 || column >= model_->columnCount()) return;
    const QModelIndex target = model_->index(row, column);
    setCurrentIndex(target);
    edit(target);
    if (QLineEdit* editor = Editor()) editor->selectAll();
}

void TDbGrid::CommitEditor() {
    if (QLineEdit* editor = Editor()) {
        commitData(editor);
        QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

void TDbGrid::OpenFindDialog() {
    TFindDialog dialog(this);
    dialog.exec();
}

void TDbGrid::keyPressEvent(QKeyEvent* event) {
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (event->key() == Qt::Key_F7 && plain) {
        OpenFindDialog();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && plain && !IsEditing()) {
        if (currentIndex().isValid() && (model_->flags(currentIndex()) & Qt::ItemIsEditable)) {
            OpenEditor(currentIndex().column());
            return;
        }
    }
    QTableView::keyPressEvent(event);
}

void TDbGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (following_ || !current.isValid() || current.row() == model_->CursorRow()) return;
    Guarded([&] { model_->MoveCursorTo(current.row()); });
}

void TDbGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    QTableView::closeEditor(editor, hint);
    if (hint == QAbstractItemDelegate::SubmitModelCache) Q_EMIT EditorSubmitted();
}

void TDbGrid::FollowCursor(int row) {
    if (row < 0 || row >= model_->rowCount()) return;
    if (currentIndex().row() == row) return;
    following_ = true;
    const int column = std::max(currentIndex().column(), 0);
    setCurrentIndex(model_->index(row, std::min(column, std::max(model_->columnCount() - 1, 0))));
    following_ = false;
}

}  // namespace linograf
