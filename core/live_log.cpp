#include "core/live_log.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "base/atomic_file.h"
#include "core/file_ext.h"
#include "text/cp1251.h"
#include "text/wide_text.h"
#include "workbook/model/format_changes.h"

namespace linograf {

namespace {

constexpr int kLastRowExcel97 = 65535;
constexpr int kLastRowExcel2007 = 1048575;
constexpr int kLastColumnExcel97 = 255;
constexpr int kLastColumnExcel2007 = 16383;

// Any directory entry counts, a folder or a dangling link too: the log must not make a file where
// something of that name is.
bool EntryExists(const std::string& utf8_path) {
    struct stat info;
    return ::lstat(utf8_path.c_str(), &info) == 0;
}

// "A" for column 0, "Z", "AA", ... as spreadsheet programs name columns.
std::string ColumnLetters(int column) {
    std::string letters;
    for (int n = column + 1; n > 0; n = (n - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
    return letters;
}

std::string ErrorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

// Another program holds the file open for editing: the rows wait, which is news, not a failure.
class EFileLocked : public ELiveLogError {
  public:
    EFileLocked(const std::string& message, std::string notice)
        : ELiveLogError(message), notice_(std::move(notice)) {}
    const std::string& Notice() const { return notice_; }

  private:
    std::string notice_;
};

// The folders of a path the template names may not exist yet (a new "{yyyy}" folder on New
// Year's Day); the write that follows reports what could not be made.
void MakeFolderOf(const std::string& utf8_path) {
    const std::filesystem::path folder = std::filesystem::path(utf8_path).parent_path();
    if (folder.empty()) return;
    std::error_code ignored;
    if (!std::filesystem::is_directory(folder, ignored)) std::filesystem::create_directories(folder, ignored);
}

}  // namespace

TLiveLog::TLiveLog(workbook::TTabulon4& book, const TLogColumns& columns) : book_(book), columns_(columns) {
    // The log only ever adds rows after the last one, so a write can go on from the bytes of the
    // one before instead of making every row's text again; the workbook itself notices any other
    // change and then writes the file whole.
    book_.SetAppendWrites(true);
}

TLiveLog::~TLiveLog() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    // The writer empties the queue before it ends: rows posted are written, not dropped.
    if (writer_.joinable()) writer_.join();
}

void TLiveLog::StartWriter() {
    if (!writer_.joinable()) writer_ = std::thread([this] { WriterLoop(); });
}

void TLiveLog::CaptureStarting(TLogVersionChoice version) {
    WaitIdle();
    {
        std::lock_guard book_lock(book_mutex_);
        LeaveFile();
        if (version == TLogVersionChoice::kExcel97) book_.SetVersion(workbook::xvExcel97);
        if (version == TLogVersionChoice::kExcel2007) book_.SetVersion(workbook::xvExcel2007);
        book_.SetFilename(u"");
        expanded_name_.clear();
    }
    reselect_next_ = true;
    last_posted_name_.clear();
    DeliverEvents();
}

int TLiveLog::LastRowIndex() const {
    return book_.Version() == workbook::xvExcel2007 ? kLastRowExcel2007 : kLastRowExcel97;
}

int TLiveLog::LastColumnIndex() const {
    return book_.Version() == workbook::xvExcel2007 ? kLastColumnExcel2007 : kLastColumnExcel97;
}

std::string TLiveLog::SiblingName(const std::string& name, int n) {
    if (n <= 1) return name;
    const std::string_view extension = ExtractFileExt(name);
    std::string sibling = name.substr(0, name.size() - extension.size());
    sibling += " (" + std::to_string(n) + ")";
    sibling += extension;
    return sibling;
}

std::string TLiveLog::LockFileName(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + ".~lock." + file + "#";
}

void TLiveLog::Report(TEvent::Kind kind, std::string text) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back({kind, std::move(text)});
    }
    if (OnEventsWaiting) OnEventsWaiting();
}

void TLiveLog::ReportWriteFailure(const std::exception& error) {
    if (error.what() == last_failure_) return;
    last_failure_ = error.what();
    if (const auto* locked = dynamic_cast<const EFileLocked*>(&error))
        Report(TEvent::kNotice, locked->Notice());
    else
        Report(TEvent::kError, error.what());
}

void TLiveLog::DeliverEvents() {
    std::vector<TEvent> events;
    {
        std::lock_guard lock(mutex_);
        events.swap(events_);
    }
    std::string unhandled;
    for (const TEvent& event : events) {
        switch (event.kind) {
            case TEvent::kStatus:
                if (OnStatusText) OnStatusText(event.text);
                break;
            case TEvent::kNotice:
                if (OnNotice) OnNotice(event.text);
                break;
            case TEvent::kError:
                if (OnError) {
                    OnError(ELiveLogError(event.text));
                } else {
                    if (!unhandled.empty()) unhandled += "; ";
                    unhandled += event.text;
                }
                break;
        }
    }
    if (!unhandled.empty()) throw ELiveLogError(unhandled);
}

void TLiveLog::cdataAfterPost(TMemTable& journal) {
    TPostedRow row;
    // A journal with an arrival column (the window's) was stamped as the line ended, and the file
    // gets the time its grid shows; otherwise the post runs as the line's carriage return is
    // taken, which is when the line ended.
    const TField* journal_arrival = journal.FindField(kArrivalField);
    if (journal_arrival != nullptr && journal_arrival->DataType() != TFieldType::ftDateTime)
        journal_arrival = nullptr;
    if (StampArrival) {
        row.arrival = journal_arrival != nullptr && !journal_arrival->IsNull() ? journal_arrival->AsDateTime()
                                                                               : Clock();
    }
    row.name = ExpandFileTemplate(FileTemplate ? FileTemplate() : std::string(), Clock);
    // Column 0 of the journal is its id, which is not logged; the arrival column goes in as a
    // date-time of its own.
    row.values.reserve(static_cast<std::size_t>(journal.FieldCount()));
    for (int j = 1; j < journal.FieldCount(); ++j) {
        if (journal_arrival != nullptr && j == journal_arrival->Index()) continue;
        row.values.push_back(journal.Fields(j).AsString());
    }
    // The grid is asked here, on its own thread, whenever the row may start a new file.
    if (reselect_next_ || row.name != last_posted_name_) {
        auto header = std::make_shared<THeader>();
        const int count = columns_.ColumnCount();
        if (StampArrival) {
            header->titles.push_back(ArrivalTitle());
            header->widths.push_back(kArrivalColumnWidth);
        }
        for (int i = 0; i < count; ++i) {
            header->titles.push_back(columns_.ColumnTitle(i));
            int width = -1;
            try {
                width = columns_.ColumnPixelWidth(i);
            } catch (...) {
                width = -1;
            }
            header->widths.push_back(width);
        }
        row.header = std::move(header);
    }
    row.reselect = reselect_next_;
    reselect_next_ = false;
    last_posted_name_ = row.name;
    StartWriter();
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(row));
        ++posted_;
    }
    changed_.notify_all();
    DeliverEvents();
}

bool TLiveLog::Idle() const {
    std::lock_guard lock(mutex_);
    return queue_.empty() && !writing_ && !retry_requested_;
}

void TLiveLog::WaitIdle() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return queue_.empty() && !writing_ && !retry_requested_; });
    }
    DeliverEvents();
}

void TLiveLog::StartFlush() {
    // Without a writer no row was ever posted, so none is left unwritten.
    if (!writer_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        retry_requested_ = true;
        retry_ran_ = false;
    }
    changed_.notify_all();
}

void TLiveLog::Flush() {
    if (!writer_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        if (!retry_ran_) retry_requested_ = true;
    }
    changed_.notify_all();
    WaitIdle();
    std::string error;
    {
        std::lock_guard lock(mutex_);
        retry_ran_ = false;
        error.swap(retry_error_);
    }
    if (!error.empty()) throw ELiveLogError(error);
}

std::int64_t TLiveLog::RowsPosted() const {
    std::lock_guard lock(mutex_);
    return posted_;
}
std::int64_t TLiveLog::RowsWritten() const {
    std::lock_guard lock(mutex_);
    return written_;
}
std::int64_t TLiveLog::RowsLost() const {
    std::lock_guard lock(mutex_);
    return lost_rows_;
}
std::int64_t TLiveLog::UnwrittenRows() const {
    std::lock_guard lock(mutex_);
    return posted_ - written_ - lost_rows_;
}

std::int64_t TLiveLog::Writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

std::vector<std::string> TLiveLog::FilesWritten() const {
    std::lock_guard lock(mutex_);
    return files_written_;
}

void TLiveLog::WriterLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto ready = [this] { return stopping_ || !queue_.empty() || retry_requested_; };
        if (retry_due_ && !retry_requested_) {
            // A held or failed file: try again now and then, so the rows reach it once it is
            // free without waiting for the device's next line.
            if (!changed_.wait_for(lock, RetryInterval, ready)) {
                writing_ = true;
                lock.unlock();
                RetryWrite();
                lock.lock();
                writing_ = false;
                changed_.notify_all();
                continue;
            }
        } else {
            changed_.wait(lock, ready);
        }
        if (queue_.empty() && retry_requested_) {
            // Flush's one more write of rows a failed write left: here, so that the thread that
            // asked (the window's) goes on painting meanwhile.
            writing_ = true;
            lock.unlock();
            std::string error;
            {
                std::lock_guard book_lock(book_mutex_);
                if (unwritten_rows_ > 0) {
                    try {
                        WriteFile();
                    } catch (const std::exception& failure) {
                        error = failure.what();
                    }
                }
                NoteRetry();
            }
            lock.lock();
            retry_requested_ = false;
            retry_ran_ = true;
            retry_error_ = std::move(error);
            writing_ = false;
            changed_.notify_all();
            continue;
        }
        if (queue_.empty()) break;  // stopping, and nothing is left to write
        std::vector<TPostedRow> batch(std::make_move_iterator(queue_.begin()),
                                      std::make_move_iterator(queue_.end()));
        queue_.clear();
        writing_ = true;
        lock.unlock();
        {
            std::lock_guard book_lock(book_mutex_);
            PutBatch(batch);
        }
        batch.clear();
        lock.lock();
        writing_ = false;
        changed_.notify_all();
    }
}

void TLiveLog::RetryWrite() {
    std::lock_guard book_lock(book_mutex_);
    if (unwritten_rows_ == 0 || file_name_.empty()) return;
    try {
        WriteFile();
    } catch (const std::exception& error) {
        ReportWriteFailure(error);
    }
    NoteRetry();
}

void TLiveLog::NoteRetry() {
    std::lock_guard lock(mutex_);
    retry_due_ = unwritten_rows_ > 0 && !file_name_.empty();
}

void TLiveLog::PutBatch(std::vector<TPostedRow>& batch) {
    for (TPostedRow& row : batch) {
        try {
            PutOne(row);
        } catch (const std::exception& error) {
            // No file could be chosen for the row: it is in no workbook.
            {
                std::lock_guard lock(mutex_);
                ++lost_rows_;
            }
            Report(TEvent::kError, error.what());
        }
    }
    if (unwritten_rows_ > 0) {
        try {
            WriteFile();
        } catch (const std::exception& error) {
            ReportWriteFailure(error);
        }
    }
    NoteRetry();
}

void TLiveLog::PutOne(TPostedRow& row) {
    if (row.header) header_ = row.header;
    // The row itself says whether it is stamped: StampArrival belongs to the posting thread, which
    // may set it for the next capture while this one's last rows are still written.
    stamping_ = row.arrival.has_value();
    // An empty Filename is the mark of a capture start (the window may clear it itself).
    if (row.reselect || book_.Filename().empty() || row.name != expanded_name_) SelectFile(row.name, 1, {});
    if (book_.Tag() > LastRowIndex()) {
        SelectFile(
            expanded_name_, sibling_ + 1,
            "файл " + file_name_ + " заполнен (последняя строка " + std::to_string(LastRowIndex()) + ")");
    }
    PutRow(row.values, row.arrival);
}

void TLiveLog::LeaveFile() {
    if (unwritten_rows_ == 0 || file_name_.empty()) return;
    try {
        WriteFile();
    } catch (const std::exception& error) {
        {
            std::lock_guard lock(mutex_);
            lost_rows_ += unwritten_rows_;
        }
        Report(TEvent::kError, std::to_string(unwritten_rows_) + " rows could not be written to \"" +
                                   file_name_ + "\": " + error.what());
    }
    unwritten_rows_ = 0;
}

void TLiveLog::SelectFile(const std::string& name, int first, std::string why) {
    LeaveFile();
    Report(TEvent::kStatus, "Выгрузка в файл " + name);
    expanded_name_ = name;
    for (int n = first;; ++n) {
        if (n > kMaxSiblings) {
            // Nothing can be logged for this name; the next row tries again from the start.
            book_.SetFilename(u"");
            throw ELiveLogError("No file name is left for the log: \"" + name + "\" and " +
                                std::to_string(kMaxSiblings - 1) + " siblings are in use");
        }
        const std::string candidate = SiblingName(name, n);
        file_name_ = candidate;
        sibling_ = n;
        book_.SetFilename(workbook::Utf8ToWide(candidate));
        if (!EntryExists(candidate)) {
            StartNewFile();
            break;
        }
        const std::string refused = OpenExistingFile(candidate);
        if (refused.empty()) break;
        // The file is left exactly as it is, and the next sibling name is tried.
        if (!why.empty()) why += "; ";
        why += refused;
    }
    // A write of this file that a kill cut short left its temporary beside it; nobody else
    // removes it.
    try {
        workbook::RemoveStaleTempFiles(file_name_);
    } catch (...) {
        // Leftovers that cannot be removed cost disk space only; the log goes on.
    }
    if (file_name_ != name || !why.empty()) {
        Report(TEvent::kStatus, "Выгрузка в файл " + file_name_);
        Report(TEvent::kNotice, "Запись идёт в файл " + file_name_ + ": " + why);
    }
}

// Reads the existing file `candidate` to log after its last row. Returns why the log cannot go on
// in it (the file is then left as it is), or nothing when it can.
std::string TLiveLog::OpenExistingFile(const std::string& candidate) {
    try {
        book_.Read();
    } catch (...) {
        // It holds something this log cannot account for.
        return "файл " + candidate + " не удалось прочитать (" + ErrorText(std::current_exception()) + ")";
    }
    // The rows go into the first sheet, so a workbook that opens with a chart sheet (or a macro or
    // module sheet) has nowhere to take them; found now, not at the first write, so the rows are
    // not held back by it.
    if (book_.Sheets().Count() > 0 && !book_.IsWorksheet(0))
        return "первый лист файла " + candidate + " — не рабочий лист (диаграмма или макросы)";
    // A file in which the reader found no cell at all may be no workbook (an empty or a text file
    // that a lenient reader took for an empty package): it is not replaced either.
    bool any_cell = false;
    for (int i = 0; i < book_.Sheets().Count() && !any_cell; ++i) any_cell = !book_.Sheet(i).Cells().Empty();
    if (!any_cell) return "файл " + candidate + " не содержит ни одной ячейки";
    workbook::TSheet& sheet = book_.Sheet(0);
    if (sheet.Cells().Empty()) {
        PutHeader();
        book_.SetTag(1);
        return {};
    }
    // After the last used row, whatever the rows before it hold: a file with gaps or one made by
    // another program keeps all its cells.
    sheet.CalcDimensions();
    const long long next = static_cast<long long>(sheet.LastRow()) + 1;
    if (next > LastRowIndex())
        return "файл " + candidate + " заполнен (последняя строка " + std::to_string(LastRowIndex()) + ")";
    book_.SetTag(static_cast<int>(next));
    FitLayoutToFile();
    return {};
}

void TLiveLog::FitLayoutToFile() {
    // The rows already in the file fix its columns: the new ones line up with them whatever the
    // arrival setting is now, so no value lands under another column's title.
    workbook::TSheet& sheet = book_.Sheet(0);
    const std::u16string title = Cp1251ToUtf16(ArrivalTitle());
    int found = -1;
    for (uint32_t c = 0; c <= sheet.LastCol() && found < 0; ++c) {
        if (sheet.AsString(c, 0) == title) found = static_cast<int>(c);
    }
    // An arrival column first is this log's layout; one further right is where an earlier run
    // put it for a file made without it.
    values_at_ = found == 0 ? 1 : 0;
    if (!stamping_) {
        arrival_at_ = -1;
        if (found >= 0) {
            Report(TEvent::kNotice, "В файле " + file_name_ + " есть столбец «Время поступления»; " +
                                        "время поступления не записывается, в новых строках он пуст");
        }
        return;
    }
    if (found >= 0) {
        arrival_at_ = found;
        return;
    }
    // A file made without the column: the time goes after every column the file uses, titled.
    const long long column = static_cast<long long>(sheet.LastCol()) + 1;
    if (column > LastColumnIndex()) {
        arrival_at_ = -1;
        Report(TEvent::kNotice, "В файле " + file_name_ +
                                    " нет столбца «Время поступления» и нет места для " +
                                    "него; время поступления в этот файл не записывается");
        return;
    }
    arrival_at_ = static_cast<int>(column);
    sheet.Columns().AddIfNone(static_cast<uint32_t>(column), 1);
    sheet.SetAsWideString(static_cast<uint32_t>(column), 0, title);
    if (workbook::TXLSColumn* item = sheet.Columns().Items(static_cast<int>(column))) {
        try {
            item->SetPixelWidth(kArrivalColumnWidth);
        } catch (...) {
            // The width is cosmetic; the column is there.
        }
    }
    Report(TEvent::kNotice, "Файл " + file_name_ + " сделан без столбца «Время поступления»: время " +
                                "поступления записывается в столбец " +
                                ColumnLetters(static_cast<int>(column)) + ", после его столбцов");
}

void TLiveLog::StartNewFile() {
    // Nothing of an earlier file stays: the content a new workbook object has. Version, Filename
    // and Tag are the log's and survive the clearing.
    book_.Clear();
    PutHeader();
    // The header is written together with the first row: a header-only file would be replaced
    // at once, and a failed write of it must not make the rows start anywhere but row 1.
    book_.SetTag(1);
}

void TLiveLog::PutHeader() {
    // A file this log starts has the configured layout.
    arrival_at_ = stamping_ ? 0 : -1;
    values_at_ = stamping_ ? 1 : 0;
    workbook::TSheet& sheet = book_.Sheet(0);
    static const THeader kNone;
    const THeader& header = header_ ? *header_ : kNone;
    const int count = static_cast<int>(header.titles.size());
    sheet.Columns().AddIfNone(0, count + 2);
    sheet.Rows().AddIfNone(0);
    for (int i = 0; i < count; ++i) {
        sheet.SetAsWideString(i, 0, Cp1251ToUtf16(header.titles[static_cast<std::size_t>(i)]));
        workbook::TXLSColumn* column = sheet.Columns().Items(i);
        if (column == nullptr) continue;
        const int width = header.widths[static_cast<std::size_t>(i)];
        try {
            column->SetPixelWidth(width >= 0 ? width : kFallbackColumnWidth);
        } catch (...) {
            column->SetPixelWidth(kFallbackColumnWidth);
        }
    }
}

void TLiveLog::PutRow(const std::vector<std::string>& values, std::optional<TDateTime> arrival) {
    workbook::TSheet& sheet = book_.Sheet(0);
    const int row = book_.Tag();
    sheet.Rows().AddIfNone(static_cast<uint32_t>(row));
    if (arrival && arrival_at_ >= 0) {
        const auto column = static_cast<uint32_t>(arrival_at_);
        sheet.SetAsFloat(column, static_cast<uint32_t>(row), *arrival);
        workbook::TCell* cell = sheet.Cells().Find(column, static_cast<uint32_t>(row));
        if (cell != nullptr)
            cell->xf = workbook::WithNumberFormat(sheet.Workbook().Formats(), cell->xf, kArrivalFormat);
    }
    const auto first = static_cast<std::size_t>(values_at_);
    for (std::size_t j = 0; j < values.size(); ++j)
        sheet.SetAsWideString(static_cast<int>(first + j), row,
                              ValuesAreUtf8 ? workbook::Utf8ToWide(values[j]) : Cp1251ToUtf16(values[j]));
    book_.SetTag(row + 1);
    ++unwritten_rows_;
}

void TLiveLog::WriteFile() {
    // The window clears Filename at a capture start; rows left from before still belong here.
    book_.SetFilename(workbook::Utf8ToWide(file_name_));
    const std::string& path = file_name_;
    const std::string lock = LockFileName(path);
    if (EntryExists(lock)) {
        throw EFileLocked("Cannot write \"" + path + "\": it is open for editing in another program (\"" +
                              lock + "\" exists); the rows wait in memory for the next write",
                          "Файл " + path + " открыт в другой программе (есть " + lock +
                              "); строки ждут в памяти и будут записаны, как только файл освободится");
    }
    MakeFolderOf(path);
    book_.Write();
    {
        std::lock_guard guard(mutex_);
        written_ += unwritten_rows_;
        ++writes_;
        if (std::find(files_written_.begin(), files_written_.end(), path) == files_written_.end())
            files_written_.push_back(path);
    }
    unwritten_rows_ = 0;
    if (!last_failure_.empty()) {
        last_failure_.clear();
        Report(TEvent::kStatus, "Выгрузка в файл " + file_name_);
    }
}

}  // namespace linograf
