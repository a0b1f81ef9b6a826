#pragma once
// A data-aware grid over a TTableModel: its current row is the table's cursor, its columns are
// stretched to fill its width in the proportions of their widths (a column marked not to stretch
// keeps its width), rows are 17 pixels high, typing searches incrementally in the current column
// and F7 opens the find dialog "Поиск". An editable grid opens its in-place editor with Enter,
// F2 or a double click; Enter in the editor stores the value and reports EditorSubmitted.
#include <QTableView>
#include <vector>

#include "gui/table_model.h"

class QLineEdit;

namespace linograf {

class TStackedHeaderView;

class TDbGrid : public QTableView {
    Q_OBJECT

  public:
    static constexpr int kRowHeight = 17;

    TDbGrid(TTableModel* model, QWidget* parent = nullptr);

    TTableModel* Model() const { return model_; }
    TStackedHeaderView* Header() const { return header_; }
    // Takes the model's columns anew (their widths as the base proportions) and fits them.
    void ColumnsChanged();
    // Current widths in pixels of the shown columns, in order.
    std::vector<int> ColumnWidths() const;
    // Spreads the viewport's width over the columns.
    void FitColumns();

    bool IsEditing() const { return state() == QAbstractItemView::EditingState; }
    // The open in-place editor, or null.
    QLineEdit* Editor() const;
    // Opens the in-place editor in `column` of the current row with its whole text selected.
    void OpenEditor(int column);
    // Stores the open editor's text in the table and closes it (before a button acts on the row).
    void CommitEditor();

    void OpenFindDialog();

  Q_SIGNALS:
    void EditorSubmitted();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

  private:
    void FollowCursor(int row);
    void SectionResized(int logical, int old_size, int new_size);

    TTableModel* model_;
    TStackedHeaderView* header_;
    std::vector<int> base_widths_;
    std::vector<bool> stretch_;
    bool fitting_ = false;
    bool following_ = false;
};

}  // namespace linograf
