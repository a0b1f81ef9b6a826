#pragma once
// The Qt model over an in-memory table: the grids show a table through it, and edits made in a
// grid go to the table's cursor, as a data-aware grid does. The table stays the owner of the data;
// the model only keeps the row count Qt has been told, so every notification reaches the views
// in the begin/end pairs they expect.
//
// A row being inserted is shown as the last row until it is posted, when it moves to its place
// in the table's order. The grid's current row and the table's cursor follow each other.
#include <QAbstractTableModel>
#include <QString>
#include <string>
#include <vector>

#include "core/mem_table.h"

namespace linograf {

struct TGridColumn {
    std::string field_name;  // the table column shown
    QString title;           // "|" splits it into stacked levels where the header draws them
    int width = 64;          // pixels before stretching; the stretched grid keeps the proportions
    bool stretch = true;     // false: the width is kept when the grid stretches its columns
};

class TTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit TTableModel(TMemTable& table, QObject* parent = nullptr);
    ~TTableModel() override;

    TMemTable& Table() { return table_; }
    void SetColumns(std::vector<TGridColumn> columns);
    const std::vector<TGridColumn>& Columns() const { return columns_; }
    void SetReadOnly(bool read_only) { read_only_ = read_only; }
    bool ReadOnly() const { return read_only_; }
    // The table's texts are UTF-8 (a journal of a device with an encoding of its own) rather than
    // Windows-1251.
    void SetValuesAreUtf8(bool utf8);
    bool ValuesAreUtf8() const { return values_utf8_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Puts the row into edit state (moving the cursor there first) and stores the text in the
    // column; a text the column refuses is reported by the general error handler and leaves the
    // value as it was.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // The table's current row as a grid row; -1 when there is none.
    int CursorRow() const;
    // Moves the table's cursor to a grid row; a row being edited or inserted is posted first, and
    // the target still means the same row when posting moved rows around. Errors of the post are
    // thrown.
    void MoveCursorTo(int row);

  Q_SIGNALS:
    // The table's cursor moved, or rows moved under it.
    void CursorRowChanged(int row);

  private:
    void TableChanged(const TDataChange& change);
    void Rebind();
    void RowDataChanged(int row);
    QString Text(int row, int column) const;
    QString FromTable(const std::string& text) const;
    std::string ToTable(const QString& text) const;

    TMemTable& table_;
    int observer_ = 0;
    std::vector<TGridColumn> columns_;
    std::vector<int> table_columns_;  // table column of each grid column, -1 when missing
    bool read_only_ = false;
    bool values_utf8_ = false;
    int posted_ = 0;        // posted rows Qt knows of
    bool pending_ = false;  // a row being inserted is shown after them
    bool moving_ = false;
    int last_inserted_ = -1;  // where the last post put an inserted row
    int last_move_from_ = -1, last_move_to_ = -1;
};

}  // namespace linograf
