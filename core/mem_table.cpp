#include "core/mem_table.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "base/date_time.h"
#include "text/cp1251.h"
#include "text/integer_text.h"

namespace linograf {

namespace detail {

struct TRecord {
    std::vector<TCellValue> values;
};

// The rows and columns every cursor of one table shares.
struct TTableStore {
    std::vector<TFieldDef> defs;
    std::unordered_map<std::string, int> column_by_upper_name;
    std::vector<std::shared_ptr<TRecord>> rows;  // in index order
    int index_column = -1;
    std::vector<TMemTable*> cursors;

    void Broadcast(const TDataChange& change) {
        std::vector<TMemTable*> listeners = cursors;  // an observer may open or close cursors
        for (TMemTable* cursor : listeners) cursor->Notify(change);
    }

    bool KeyLess(const TRecord& a, const TRecord& b) const { return KeyLess(a.values, b.values); }
    bool KeyLess(const std::vector<TCellValue>& a, const std::vector<TCellValue>& b) const {
        const TCellValue& x = a[static_cast<std::size_t>(index_column)];
        const TCellValue& y = b[static_cast<std::size_t>(index_column)];
        const TFieldType type = defs[static_cast<std::size_t>(index_column)].type;
        if (type == TFieldType::ftString) return x.text < y.text;
        if (x.null || y.null) return x.null && !y.null;  // empty values first
        if (type == TFieldType::ftDateTime) return x.date_time < y.date_time;
        return x.integer < y.integer;
    }

    // Where a row goes: after every row whose key is not greater, so rows with equal keys stay in
    // the order they reached it.
    std::size_t InsertPosition(const TRecord& row) const {
        // Rows mostly arrive in key order (journal ids): then the place is the end.
        if (index_column < 0 || rows.empty() || !KeyLess(row, *rows.back())) return rows.size();
        auto it = std::upper_bound(
            rows.begin(), rows.end(), row,
            [this](const TRecord& r, const std::shared_ptr<TRecord>& other) { return KeyLess(r, *other); });
        return static_cast<std::size_t>(it - rows.begin());
    }

    void Sort() {
        if (index_column < 0) return;
        std::stable_sort(rows.begin(), rows.end(),
                         [this](const std::shared_ptr<TRecord>& a, const std::shared_ptr<TRecord>& b) {
                             return KeyLess(*a, *b);
                         });
    }

    int ColumnOf(std::string_view name) const {
        auto it = column_by_upper_name.find(Cp1251UpperCase(name));
        return it == column_by_upper_name.end() ? -1 : it->second;
    }
};

}  // namespace detail

namespace {

const TCellValue kNoValue;

[[noreturn]] void ThrowNotInteger(std::string_view text, const std::string& field) {
    throw EDatabaseError("'" + std::string(text) + "' is not a valid integer value for field '" + field +
                         "'");
}

[[noreturn]] void ThrowNotDateTime(std::string_view text, const std::string& field) {
    throw EDatabaseError("'" + std::string(text) + "' is not a valid date and time for field '" + field +
                         "'");
}

std::string DateTimeText(double value) {
    const DateTimeParts p = DecodeDateTime(value);
    char text[40];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d.%03d", p.day, p.month, p.year, p.hour,
                  p.minute, p.second, p.millisecond);
    return text;
}

// The text form of any column's value.
std::string ValueText(const TCellValue& v, TFieldType type) {
    if (type == TFieldType::ftString) return v.text;
    if (v.null) return std::string();
    return type == TFieldType::ftDateTime ? DateTimeText(v.date_time) : std::to_string(v.integer);
}

}  // namespace

// ---- TField ----

const std::string& TField::FieldName() const {
    return table_->store_->defs[index_].name;
}
TFieldType TField::DataType() const {
    return table_->store_->defs[index_].type;
}
int TField::Size() const {
    return table_->store_->defs[index_].size;
}

const TCellValue& TField::Value() const {
    table_->CheckActive();
    if (table_->state_ == TDataSetState::dsEdit || table_->state_ == TDataSetState::dsInsert) {
        return table_->buffer_[static_cast<std::size_t>(index_)];
    }
    return table_->current_ ? table_->current_->values[static_cast<std::size_t>(index_)] : kNoValue;
}

bool TField::IsNull() const {
    const TCellValue& v = Value();
    return DataType() == TFieldType::ftString ? v.text.empty() : v.null;
}

std::string TField::AsString() const {
    return ValueText(Value(), DataType());
}

double TField::AsDateTime() const {
    if (DataType() != TFieldType::ftDateTime)
        throw EDatabaseError("Field '" + FieldName() + "' is not a date and time field");
    const TCellValue& v = Value();
    return v.null ? 0 : v.date_time;
}

void TField::SetAsDateTime(double value) {
    if (DataType() != TFieldType::ftDateTime)
        throw EDatabaseError("Field '" + FieldName() + "' is not a date and time field");
    TCellValue& v = table_->EditValue(index_);
    v.null = false;
    v.date_time = value;
}

std::int32_t TField::AsInteger() const {
    const TCellValue& v = Value();
    if (DataType() == TFieldType::ftInteger) return v.null ? 0 : v.integer;
    if (DataType() == TFieldType::ftDateTime) ThrowNotInteger(AsString(), FieldName());
    if (v.text.empty()) return 0;
    auto parsed = ParseIntegerText(v.text);
    if (!parsed) ThrowNotInteger(v.text, FieldName());
    return *parsed;
}

void TField::SetAsString(std::string_view text) {
    TCellValue& v = table_->EditValue(index_);
    if (DataType() == TFieldType::ftInteger) {
        if (text.empty()) {
            v.null = true;
            v.integer = 0;
        } else {
            auto parsed = ParseIntegerText(text);
            if (!parsed) ThrowNotInteger(text, FieldName());
            v.null = false;
            v.integer = *parsed;
        }
    } else if (DataType() == TFieldType::ftDateTime) {
        // Only the empty text, which clears the value: date-times are set as numbers.
        if (!text.empty()) ThrowNotDateTime(text, FieldName());
        v = TCellValue();
    } else {
        // The stored text ends at a NUL byte, as C strings do in the Windows program's tables.
        text = text.substr(0, text.find('\0'));
        if (Size() > 0 && text.size() > static_cast<std::size_t>(Size())) text = text.substr(0, Size());
        v.text.assign(text);
        v.null = text.empty();
    }
}

void TField::SetAsInteger(std::int32_t value) {
    if (DataType() != TFieldType::ftInteger) {
        SetAsString(std::to_string(value));
        return;
    }
    TCellValue& v = table_->EditValue(index_);
    v.null = false;
    v.integer = value;
}

void TField::Clear() {
    TCellValue& v = table_->EditValue(index_);
    v = TCellValue();
}

// ---- TMemTable ----

TMemTable::TMemTable() = default;
TMemTable::TMemTable(std::string name) : name_(std::move(name)) {}

TMemTable::~TMemTable() {
    Detach();
}

void TMemTable::CheckActive() const {
    if (!store_) throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

void TMemTable::AttachTo(std::shared_ptr<detail::TTableStore> store) {
    ++layout_version_;
    store_ = std::move(store);
    store_->cursors.push_back(this);
    BuildFields();
}

void TMemTable::Detach() {
    if (!store_) return;
    ++layout_version_;
    auto& cursors = store_->cursors;
    cursors.erase(std::remove(cursors.begin(), cursors.end(), this), cursors.end());
    store_.reset();
    fields_.clear();
    current_.reset();
    buffer_.clear();
}

void TMemTable::BuildFields() {
    fields_.clear();
    for (std::size_t i = 0; i < store_->defs.size(); ++i) {
        fields_.push_back(std::unique_ptr<TField>(new TField(this, static_cast<int>(i))));
    }
}

void TMemTable::SetIndexFieldNames(std::string_view field_name) {
    index_field_names_ = std::string(field_name);
    if (!store_) return;
    int column = field_name.empty() ? -1 : store_->ColumnOf(field_name);
    if (!field_name.empty() && column < 0) {
        throw EDatabaseError("Field '" + std::string(field_name) + "' not found");
    }
    store_->index_column = column;
    store_->Sort();
    store_->Broadcast({TDataChangeKind::kReset});
}

void TMemTable::CreateDataSet() {
    Close();
    auto store = std::make_shared<detail::TTableStore>();
    store->defs = field_defs_;
    for (std::size_t i = 0; i < field_defs_.size(); ++i) {
        if (!store->column_by_upper_name.emplace(Cp1251UpperCase(field_defs_[i].name), static_cast<int>(i))
                 .second) {
            throw EDatabaseError("Duplicate field name '" + field_defs_[i].name + "'");
        }
    }
    if (!index_field_names_.empty()) {
        store->index_column = store->ColumnOf(index_field_names_);
        if (store->index_column < 0) throw EDatabaseError("Field '" + index_field_names_ + "' not found");
    }
    AttachTo(std::move(store));
    bof_ = eof_ = true;
    state_ = TDataSetState::dsBrowse;
    Notify({TDataChangeKind::kLayout});
}

void TMemTable::Close() {
    if (!store_) return;
    Detach();
    bof_ = eof_ = true;
    state_ = TDataSetState::dsInactive;
    Notify({TDataChangeKind::kLayout});
}

void TMemTable::CloneCursor(TMemTable& source) {
    source.CheckActive();
    std::shared_ptr<detail::TTableStore> store = source.store_;  // survives our own Close
    Close();
    field_defs_ = store->defs;
    index_field_names_ = source.index_field_names_;
    index_name_ = source.index_name_;
    AttachTo(std::move(store));
    state_ = TDataSetState::dsBrowse;
    Notify({TDataChangeKind::kLayout});
    First();
}

int TMemTable::FieldCount() const {
    return static_cast<int>(fields_.size());
}

TField& TMemTable::Fields(int index) {
    if (index < 0 || index >= FieldCount()) throw std::out_of_range("field index out of range");
    return *fields_[static_cast<std::size_t>(index)];
}

TField* TMemTable::FindField(std::string_view name) {
    if (!store_) return nullptr;
    int column = store_->ColumnOf(name);
    return column < 0 ? nullptr : fields_[static_cast<std::size_t>(column)].get();
}

TField& TMemTable::FieldByName(std::string_view name) {
    TField* field = FindField(name);
    if (!field) throw EDatabaseError("Field '" + std::string(name) + "' not found");
    return *field;
}

std::size_t TMemTable::Position() const {
    const auto& rows = store_->rows;
    if (position_hint_ < rows.size() && rows[position_hint_] == current_) return position_hint_;
    auto it = std::find(rows.begin(), rows.end(), current_);
    position_hint_ = static_cast<std::size_t>(it - rows.begin());
    return position_hint_;
}

void TMemTable::MoveTo(std::size_t position, bool bof, bool eof) {
    current_ = store_->rows[position];
    position_hint_ = position;
    bof_ = bof;
    eof_ = eof;
    Notify({TDataChangeKind::kCursorMoved, static_cast<int>(position)});
}

void TMemTable::SetEmptyPosition() {
    current_.reset();
    bof_ = eof_ = true;
    Notify({TDataChangeKind::kCursorMoved, -1});
}

void TMemTable::First() {
    CheckActive();
    CheckBrowseMode();
    if (store_->rows.empty()) return SetEmptyPosition();
    MoveTo(0, true, false);
}

void TMemTable::Last() {
    CheckActive();
    CheckBrowseMode();
    if (store_->rows.empty()) return SetEmptyPosition();
    MoveTo(store_->rows.size() - 1, false, true);
}

void TMemTable::Next() {
    CheckActive();
    CheckBrowseMode();
    const std::size_t count = store_->rows.size();
    if (count == 0) return SetEmptyPosition();
    if (!current_) return MoveTo(0, false, false);
    std::size_t position = Position();
    if (position + 1 < count) return MoveTo(position + 1, false, false);
    bof_ = false;
    eof_ = true;
}

void TMemTable::Prior() {
    CheckActive();
    CheckBrowseMode();
    const std::size_t count = store_->rows.size();
    if (count == 0) return SetEmptyPosition();
    if (!current_) return MoveTo(count - 1, false, false);
    std::size_t position = Position();
    if (position > 0) return MoveTo(position - 1, false, false);
    bof_ = true;
    eof_ = false;
}

bool TMemTable::IsEmpty() const {
    return !store_ || store_->rows.empty();
}

int TMemTable::RecordCount() const {
    return store_ ? static_cast<int>(store_->rows.size()) : 0;
}

int TMemTable::RecNo() const {
    return store_ && current_ ? static_cast<int>(Position()) + 1 : 0;
}

void TMemTable::SetState(TDataSetState state) {
    if (state_ == state) return;
    state_ = state;
    Notify({TDataChangeKind::kStateChanged, current_ ? static_cast<int>(Position()) : -1});
}

void TMemTable::BeginInsert() {
    CheckActive();
    CheckBrowseMode();
    buffer_.assign(store_->defs.size(), TCellValue());
    SetState(TDataSetState::dsInsert);
    if (AfterInsert) AfterInsert(*this);
}

void TMemTable::Append() {
    BeginInsert();
}
void TMemTable::Insert() {
    BeginInsert();
}

void TMemTable::Edit() {
    CheckActive();
    if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
    if (store_->rows.empty()) return Append();
    if (!current_) First();
    buffer_ = current_->values;
    SetState(TDataSetState::dsEdit);
}

TCellValue& TMemTable::EditValue(int column) {
    CheckActive();
    if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) {
        throw EDatabaseError("Dataset not in edit or insert mode");
    }
    return buffer_[static_cast<std::size_t>(column)];
}

void TMemTable::Post() {
    CheckActive();
    auto& rows = store_->rows;
    if (state_ == TDataSetState::dsInsert) {
        auto row = std::make_shared<detail::TRecord>();
        row->values = std::move(buffer_);
        buffer_.clear();
        std::size_t position = store_->InsertPosition(*row);
        rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(position), row);
        current_ = row;
        position_hint_ = position;
        bof_ = eof_ = false;
        store_->Broadcast({TDataChangeKind::kRowInserted, static_cast<int>(position)});
    } else if (state_ == TDataSetState::dsEdit) {
        std::size_t from = Position();
        bool key_changed = store_->index_column >= 0 && (store_->KeyLess(current_->values, buffer_) ||
                                                         store_->KeyLess(buffer_, current_->values));
        current_->values = std::move(buffer_);
        buffer_.clear();
        if (key_changed) {
            std::shared_ptr<detail::TRecord> row = current_;
            rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(from));
            std::size_t to = store_->InsertPosition(*row);
            rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(to), row);
            position_hint_ = to;
            store_->Broadcast({TDataChangeKind::kRowMoved, static_cast<int>(from), static_cast<int>(to)});
        } else {
            store_->Broadcast({TDataChangeKind::kRowChanged, static_cast<int>(from)});
        }
    } else {
        return;
    }
    SetState(TDataSetState::dsBrowse);
    if (AfterPost) AfterPost(*this);
}

void TMemTable::Cancel() {
    if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
    buffer_.clear();
    SetState(TDataSetState::dsBrowse);
}

void TMemTable::CheckBrowseMode() {
    if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) Post();
}

void TMemTable::Delete() {
    CheckActive();
    if (state_ == TDataSetState::dsInsert) return Cancel();
    Cancel();
    if (store_->rows.empty()) throw EDatabaseError("Cannot perform this operation on an empty dataset");
    if (!current_) First();
    auto& rows = store_->rows;
    std::shared_ptr<detail::TRecord> removed = current_;
    const std::size_t position = Position();
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(position));
    // Every cursor that stood on the row goes to its successor; one editing it loses the edit,
    // which would otherwise be stored into that successor.
    for (TMemTable* cursor : std::vector<TMemTable*>(store_->cursors)) {
        if (cursor->current_ != removed) continue;
        if (cursor != this) cursor->Cancel();
        if (rows.empty()) {
            cursor->current_.reset();
            cursor->bof_ = cursor->eof_ = true;
        } else {
            cursor->current_ = rows[std::min(position, rows.size() - 1)];
            cursor->position_hint_ = std::min(position, rows.size() - 1);
            cursor->bof_ = cursor->eof_ = false;
        }
    }
    store_->Broadcast({TDataChangeKind::kRowRemoved, static_cast<int>(position)});
    Notify({TDataChangeKind::kCursorMoved, current_ ? static_cast<int>(Position()) : -1});
}

void TMemTable::DeleteFirstRows(int count) {
    CheckActive();
    CheckBrowseMode();
    auto& rows = store_->rows;
    const std::size_t n = std::min<std::size_t>(count > 0 ? static_cast<std::size_t>(count) : 0, rows.size());
    if (n == 0) return;
    // Cursors on a removed row go to the new first row (an edit there is dropped, as Delete drops
    // it); the others keep their row, n places further up.
    std::vector<TMemTable*> moved;
    for (TMemTable* cursor : store_->cursors) {
        if (!cursor->current_) continue;
        const bool removed = std::find(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(n),
                                       cursor->current_) != rows.begin() + static_cast<std::ptrdiff_t>(n);
        if (removed) {
            moved.push_back(cursor);
        } else {
            cursor->position_hint_ = cursor->position_hint_ >= n ? cursor->position_hint_ - n : 0;
        }
    }
    rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(n));
    for (TMemTable* cursor : moved) {
        if (cursor != this) cursor->Cancel();
        if (rows.empty()) {
            cursor->current_.reset();
            cursor->bof_ = cursor->eof_ = true;
        } else {
            cursor->current_ = rows.front();
            cursor->position_hint_ = 0;
            cursor->bof_ = cursor->eof_ = false;
        }
    }
    store_->Broadcast({TDataChangeKind::kRowRemoved, 0, static_cast<int>(n) - 1});
    Notify({TDataChangeKind::kCursorMoved, current_ ? static_cast<int>(Position()) : -1});
}

TBookmark TMemTable::GetBookmark() const {
    TBookmark bookmark;
    bookmark.row_ = current_;
    return bookmark;
}

bool TMemTable::BookmarkValid(const TBookmark& bookmark) const {
    auto row = bookmark.row_.lock();
    if (!row || !store_) return false;
    const auto& rows = store_->rows;
    return std::find(rows.begin(), rows.end(), row) != rows.end();
}

void TMemTable::GotoBookmark(const TBookmark& bookmark) {
    CheckActive();
    CheckBrowseMode();
    auto row = bookmark.row_.lock();
    const auto& rows = store_->rows;
    auto it = row ? std::find(rows.begin(), rows.end(), row) : rows.end();
    if (it == rows.end()) throw EDatabaseError("Record not found");
    MoveTo(static_cast<std::size_t>(it - rows.begin()), false, false);
}

const TCellValue& TMemTable::Cell(int row, int column) const {
    CheckActive();
    if (row < 0 || static_cast<std::size_t>(row) >= store_->rows.size() || column < 0 ||
        static_cast<std::size_t>(column) >= store_->defs.size()) {
        throw std::out_of_range("cell out of range");
    }
    return store_->rows[static_cast<std::size_t>(row)]->values[static_cast<std::size_t>(column)];
}

std::string TMemTable::CellText(int row, int column) const {
    return ValueText(Cell(row, column), store_->defs[static_cast<std::size_t>(column)].type);
}

int TMemTable::AddObserver(TObserver observer) {
    observers_.emplace_back(next_observer_id_, std::move(observer));
    return next_observer_id_++;
}

void TMemTable::RemoveObserver(int id) {
    std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
}

void TMemTable::DisableControls() {
    ++disable_count_;
}

void TMemTable::EnableControls() {
    if (disable_count_ == 0) return;
    if (--disable_count_ == 0 && missed_change_) {
        missed_change_ = false;
        Notify({TDataChangeKind::kReset});
    }
}

void TMemTable::Notify(const TDataChange& change) {
    if (observers_.empty()) return;
    if (disable_count_ > 0) {
        missed_change_ = true;
        return;
    }
    auto observers = observers_;  // an observer may remove itself
    for (auto& entry : observers) entry.second(change);
}

}  // namespace linograf
