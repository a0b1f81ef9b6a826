#include "gui/table_model.h"

#include "gui/error_handler.h"
#include "gui/qt_text.h"

namespace linograf {

TTableModel::TTableModel(TMemTable& table, QObject* parent) : QAbstractTableModel(parent), table_(table) {
    observer_ = table_.AddObserver([this](const TDataChange& change) { TableChanged(change); });
    Rebind();
    posted_ = table_.RecordCount();
    pending_ = table_.State() == TDataSetState::dsInsert;
}

TTableModel::~TTableModel() {
    table_.RemoveObserver(observer_);
}

void TTableModel::SetColumns(std::vector<TGridColumn> columns) {
    beginResetModel();
    columns_ = std::move(columns);
    Rebind();
    posted_ = table_.RecordCount();
    pending_ = table_.State() == TDataSetState::dsInsert;
    endResetModel();
    Q_EMIT CursorRowChanged(CursorRow());
}

void TTableModel::Rebind() {
    table_columns_.clear();
    for (const TGridColumn& column : columns_) {
        TField* field = table_.FindField(column.field_name);
        table_columns_.push_back(field ? field->Index() : -1);
    }
}

int TTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : posted_ + (pending_ ? 1 : 0);
}

int TTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QString TTableModel::Text(int row, int column) const {
    const int table_column = table_columns_[static_cast<std::size_t>(column)];
    if (table_column < 0 || !table_.Active()) return {};
    TMemTable& table = const_cast<TMemTable&>(table_);
    // The row being inserted or edited shows the values typed so far, not the stored ones.
    const bool being_inserted = pending_ && row == posted_;
    const bool being_edited = table.State() == TDataSetState::dsEdit && row == table.RecNo() - 1;
    if (being_inserted || being_edited) return FromTable(table.Fields(table_column).AsString());
    if (row >= table.RecordCount()) return {};
    return FromTable(table.CellText(row, table_column));
}

void TTableModel::SetValuesAreUtf8(bool utf8) {
    if (utf8 == values_utf8_) return;
    beginResetModel();
    values_utf8_ = utf8;
    endResetModel();
}

// Integers and date-times read as ASCII, which both encodings share.
QString TTableModel::FromTable(const std::string& text) const {
    return values_utf8_ ? QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
                        : FromCp1251(text);
}

std::string TTableModel::ToTable(const QString& text) const {
    return values_utf8_ ? text.toStdString() : ToCp1251(text);
}

QVariant TTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole) return Text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole) {
        const int table_column = table_columns_[static_cast<std::size_t>(index.column())];
        const bool numeric =
            table_column >= 0 && table_.Active() &&
            const_cast<TMemTable&>(table_).Fields(table_column).DataType() == TFieldType::ftInteger;
        return QVariant::fromValue(Qt::AlignVCenter | (numeric ? Qt::AlignRight : Qt::AlignLeft));
    }
    return {};
}

QVariant TTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
    if (role == Qt::DisplayRole) return columns_[static_cast<std::size_t>(section)].title;
    return {};
}

Qt::ItemFlags TTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!read_only_ && table_columns_[static_cast<std::size_t>(index.column())] >= 0)
        result |= Qt::ItemIsEditable;
    return result;
}

bool TTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || read_only_) return false;
    const int table_column = table_columns_[static_cast<std::size_t>(index.column())];
    if (table_column < 0) return false;
    return Guarded([&] {
        MoveCursorTo(index.row());
        table_.Edit();
        table_.Fields(table_column).SetAsString(ToTable(value.toString()));
        RowDataChanged(CursorRow());
    });
}

int TTableModel::CursorRow() const {
    if (!table_.Active()) return -1;
    if (pending_ && table_.State() == TDataSetState::dsInsert) return posted_;
    return table_.RecNo() - 1;
}

void TTableModel::MoveCursorTo(int row) {
    if (row < 0 || row >= rowCount() || row == CursorRow()) return;
    struct Moving {
        TTableModel& model;
        explicit Moving(TTableModel& m) : model(m) { model.moving_ = true; }
        ~Moving() { model.moving_ = false; }
    };
    {
        Moving moving(*this);
        const TDataSetState state = table_.State();
        const int edited = table_.RecNo() - 1;
        last_inserted_ = last_move_from_ = last_move_to_ = -1;
        table_.CheckBrowseMode();
        // Posting put the inserted or edited row into its place; the rows between moved by one.
        if (state == TDataSetState::dsInsert && last_inserted_ >= 0 && row >= last_inserted_) ++row;
        if (state == TDataSetState::dsEdit && last_move_from_ == edited && row != edited) {
            if (last_move_from_ < row && last_move_to_ >= row) --row;
            if (last_move_from_ > row && last_move_to_ <= row) ++row;
        }
        table_.First();
        for (int i = 0; i < row && !table_.Eof(); ++i) table_.Next();
    }
    Q_EMIT CursorRowChanged(CursorRow());
}

void TTableModel::RowDataChanged(int row) {
    if (row < 0 || row >= rowCount() || columnCount() == 0) return;
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void TTableModel::TableChanged(const TDataChange& change) {
    switch (change.kind) {
        case TDataChangeKind::kLayout:
        case TDataChangeKind::kReset:
            beginResetModel();
            Rebind();
            posted_ = table_.RecordCount();
            pending_ = table_.State() == TDataSetState::dsInsert;
            endResetModel();
            break;
        case TDataChangeKind::kStateChanged:
            if (table_.State() == TDataSetState::dsInsert && !pending_) {
                beginInsertRows(QModelIndex(), posted_, posted_);
                pending_ = true;
                endInsertRows();
            } else if (table_.State() != TDataSetState::dsInsert && pending_) {
                beginRemoveRows(QModelIndex(), posted_, posted_);  // the insert was cancelled
                pending_ = false;
                endRemoveRows();
            } else {
                RowDataChanged(change.row);  // an edit began, or was cancelled and shows the old values
            }
            break;
        case TDataChangeKind::kRowInserted:
            last_inserted_ = change.row;
            if (pending_ && table_.State() == TDataSetState::dsInsert) {
                if (change.row != posted_) {
                    beginMoveRows(QModelIndex(), posted_, posted_, QModelIndex(), change.row);
                    ++posted_;
                    pending_ = false;
                    endMoveRows();
                } else {
                    ++posted_;
                    pending_ = false;
                }
                RowDataChanged(change.row);
            } else {
                beginInsertRows(QModelIndex(), change.row, change.row);
                ++posted_;
                endInsertRows();
            }
            break;
        case TDataChangeKind::kRowRemoved: {
            const int last = change.to_row >= change.row ? change.to_row : change.row;
            beginRemoveRows(QModelIndex(), change.row, last);
            posted_ -= last - change.row + 1;
            endRemoveRows();
            break;
        }
        case TDataChangeKind::kRowChanged:
            RowDataChanged(change.row);
            break;
        case TDataChangeKind::kRowMoved:
            last_move_from_ = change.row;
            last_move_to_ = change.to_row;
            if (change.row != change.to_row) {
                beginMoveRows(QModelIndex(), change.row, change.row, QModelIndex(),
                              change.to_row > change.row ? change.to_row + 1 : change.to_row);
                endMoveRows();
            }
            RowDataChanged(change.to_row);
            break;
        case TDataChangeKind::kCursorMoved:
            break;
    }
    if (!moving_) Q_EMIT CursorRowChanged(CursorRow());
}

}  // namespace linograf
