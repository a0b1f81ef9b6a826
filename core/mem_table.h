#pragma once
// In-memory tables: the record format, its second cursor and the journal. A table is a cursor over
// rows kept in one index order; a clone cursor shares the rows of another. Views (the Qt grid
// models, the live workbook log) bind through observers and the AfterInsert/AfterPost events, so
// nothing here knows about Qt.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace linograf {

class EDatabaseError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// ftDateTime holds a TDateTime (days since 1899-12-30) and reads as text in the form
// "dd.mm.yyyy hh:mm:ss.zzz", to the millisecond.
enum class TFieldType { ftInteger, ftString, ftDateTime };

struct TFieldDef {
    std::string name;
    TFieldType type = TFieldType::ftString;
    int size = 0;  // maximum length in bytes of a text column; unused for integers
};

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

// One stored value. Text columns never hold null: empty text is their empty value.
struct TCellValue {
    bool null = true;
    std::int32_t integer = 0;
    double date_time = 0;
    std::string text;
};

// What changed, for bound views. Row numbers are zero-based positions in index order.
enum class TDataChangeKind {
    kLayout,        // opened, closed, or columns replaced: rebuild everything
    kReset,         // rows changed wholesale (also sent once when refreshing resumes)
    kRowInserted,   // row: the new row's position
    kRowRemoved,    // row: the position it had; to_row, when not -1, the last of a range removed at once
    kRowChanged,    // row: its position; values changed in place
    kRowMoved,      // row -> to_row: an edited key moved it (values may have changed too)
    kCursorMoved,   // row: the cursor's new position, -1 when the table is empty
    kStateChanged,  // browse, edit or insert began
};

struct TDataChange {
    TDataChangeKind kind;
    int row = -1;
    int to_row = -1;
};

namespace detail {
struct TRecord;
struct TTableStore;
}  // namespace detail

class TMemTable;

// A column of a table as seen through one cursor: reads the cursor's current row (or the row
// being edited or inserted) and writes the row being edited or inserted.
class TField {
  public:
    const std::string& FieldName() const;
    TFieldType DataType() const;
    int Size() const;
    int Index() const { return index_; }

    bool IsNull() const;
    // Integers as decimal text, date-times as "dd.mm.yyyy hh:mm:ss.zzz", empty text when there is
    // no value.
    std::string AsString() const;
    // Null integers and empty text give 0; text that is no integer raises
    // "'<text>' is not a valid integer value for field '<name>'".
    std::int32_t AsInteger() const;
    // A date-time column's value; 0 when it has none. Other columns raise.
    double AsDateTime() const;

    // Text columns keep the text up to a NUL byte and then at most Size() bytes. Integer columns
    // take the text by ParseIntegerText: empty text clears the value, text that does not parse
    // raises "'<text>' is not a valid integer value for field '<name>'".
    void SetAsString(std::string_view text);
    void SetAsInteger(std::int32_t value);
    // Date-time columns only; others raise.
    void SetAsDateTime(double value);
    void Clear();

  private:
    friend class TMemTable;
    TField(TMemTable* table, int index) : table_(table), index_(index) {}
    const TCellValue& Value() const;

    TMemTable* table_;
    int index_;
};

// A remembered row; valid while that row exists.
class TBookmark {
  public:
    TBookmark() = default;
    bool Empty() const { return row_.expired(); }

  private:
    friend class TMemTable;
    std::weak_ptr<detail::TRecord> row_;
};

class TMemTable {
  public:
    using TEvent = std::function<void(TMemTable&)>;
    using TObserver = std::function<void(const TDataChange&)>;

    TMemTable();
    explicit TMemTable(std::string name);
    ~TMemTable();
    TMemTable(const TMemTable&) = delete;
    TMemTable& operator=(const TMemTable&) = delete;

    const std::string& Name() const { return name_; }

    // Column definitions used by the next CreateDataSet.
    std::vector<TFieldDef>& FieldDefs() { return field_defs_; }
    // The order: ascending by one column, duplicates allowed, rows with equal keys in the order
    // they reached that key. Empty means the order rows were stored in. Takes effect at once on
    // an open table (a stable re-sort) and is kept at every insert, edit and deletion.
    void SetIndexFieldNames(std::string_view field_name);
    const std::string& IndexFieldNames() const { return index_field_names_; }
    // The name of the index, for those who ask for it; the order is given by SetIndexFieldNames.
    void SetIndexName(std::string name) { index_name_ = std::move(name); }
    const std::string& IndexName() const { return index_name_; }

    // Opens an empty table from FieldDefs (a column name given twice raises
    // "Duplicate field name '<name>'"). An open table is closed first.
    void CreateDataSet();
    // Leaves the rows. The last cursor to leave them discards them; a clone's rows stay with
    // the other cursors.
    void Close();
    bool Active() const { return store_ != nullptr; }
    TDataSetState State() const { return state_; }

    // A second cursor over the rows of `source` (which must be open): same rows, same columns,
    // same order, its own current row, starting on the first row. This table is closed first.
    void CloneCursor(TMemTable& source);

    // Raised whenever the table's columns are made anew or left (open, close, clone): a TField
    // pointer taken under one layout is freed under the next.
    std::uint64_t LayoutVersion() const { return layout_version_; }

    // Columns of the open table.
    int FieldCount() const;
    TField& Fields(int index);
    // Case-insensitive; raises "Field '<name>' not found".
    TField& FieldByName(std::string_view name);
    TField* FindField(std::string_view name);

    // Moving posts a row being edited or inserted first.
    void First();
    void Last();
    void Next();
    void Prior();
    bool Bof() const { return bof_; }
    bool Eof() const { return eof_; }
    bool IsEmpty() const;
    int RecordCount() const;  // posted rows
    int RecNo() const;        // 1-based position of the current row, 0 when there is none

    // Begins a new row in insert state (a row being edited or inserted is posted first); the
    // AfterInsert event fires before the call returns so its handler can preset values.
    void Append();
    void Insert();
    // Begins editing the current row; on an empty table a new row is appended instead.
    void Edit();
    // Stores the row being edited or inserted, puts it in its index place, returns to browse
    // state and then fires AfterPost. An error from AfterPost reaches the caller; the row stays.
    void Post();
    void Cancel();
    // Removes the current row (cancels an insert); the cursor goes to the row that followed it,
    // or to the new last row.
    void Delete();
    // Posts a row being edited or inserted; nothing in browse state.
    void CheckBrowseMode();
    // Removes the first `count` rows in index order at once (all of them when there are fewer):
    // a journal that keeps only its newest rows drops the oldest without moving the others one
    // by one. Views hear one kRowRemoved for the range.
    void DeleteFirstRows(int count);

    TBookmark GetBookmark() const;
    // Raises "Record not found" when the row is gone.
    void GotoBookmark(const TBookmark& bookmark);
    bool BookmarkValid(const TBookmark& bookmark) const;
    void FreeBookmark(TBookmark& bookmark) { bookmark = TBookmark(); }

    // Reading any posted row without moving the cursor, for views and writers.
    const TCellValue& Cell(int row, int column) const;
    std::string CellText(int row, int column) const;

    // Bound views: observers hear every change made through any cursor of the same rows, and
    // the moves and state changes of this cursor. While refreshing is suspended they hear
    // nothing; when the last suspension ends they get one kReset if anything happened.
    int AddObserver(TObserver observer);
    void RemoveObserver(int id);
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return disable_count_ > 0; }

    int Tag() const { return tag_; }
    void SetTag(int tag) { tag_ = tag; }

    TEvent AfterInsert;
    TEvent AfterPost;

  private:
    friend class TField;
    friend struct detail::TTableStore;

    void CheckActive() const;
    void AttachTo(std::shared_ptr<detail::TTableStore> store);
    void Detach();
    void BuildFields();
    std::size_t Position() const;  // of current_, which must be set
    void MoveTo(std::size_t position, bool bof, bool eof);
    void SetEmptyPosition();
    void BeginInsert();
    void SetState(TDataSetState state);
    void Notify(const TDataChange& change);
    void CellWritten(int column);
    TCellValue& EditValue(int column);

    std::string name_;
    std::vector<TFieldDef> field_defs_;
    std::string index_field_names_;
    std::string index_name_;
    std::shared_ptr<detail::TTableStore> store_;
    std::vector<std::unique_ptr<TField>> fields_;

    std::shared_ptr<detail::TRecord> current_;
    mutable std::size_t position_hint_ = 0;
    bool bof_ = true;
    bool eof_ = true;
    TDataSetState state_ = TDataSetState::dsInactive;
    std::vector<TCellValue> buffer_;  // the row being edited or inserted

    std::vector<std::pair<int, TObserver>> observers_;
    int next_observer_id_ = 1;
    int disable_count_ = 0;
    std::uint64_t layout_version_ = 0;
    bool missed_change_ = false;
    int tag_ = 0;
};

}  // namespace linograf
