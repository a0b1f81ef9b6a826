#pragma once
// The live workbook log: every posted journal row goes into the workbook named by the file name
// template, and the whole workbook is written to disk again, so the file is complete after every
// write. When the expanded name changes (a new day, hour or minute) logging moves to the workbook
// of the new name: an existing one is read and extended after its last used row, a missing one is
// started with a header row of the journal grid's titles and widths.
//
// Writing a large workbook takes far longer than a line takes to arrive, so the writing is not
// done inside the post: the post hands the row to a writer thread that owns the workbook. While a
// write runs, further rows queue up; the next write puts all of them into the file at once. When
// lines come slower than a write takes, each still gets a write of its own. A row is therefore in
// the file by the end of the first write that starts after its post. Every write replaces the file
// atomically, so the file is complete and valid after each one and a crash leaves the old or the
// new file.
//
// A file is never written over unless this log can account for all of it: a file that fails to
// read, that reads without a single cell (no workbook of any program's making, or one that holds
// nothing to extend), whose first sheet is a chart sheet or another sheet that takes no rows, or
// that has no room for another row in its format, is left as it is, and
// the rows go to the first sibling "<stem> (2)<ext>", "<stem> (3)<ext>", ... that is free (or a
// readable workbook with room, such as the sibling an earlier run used). A workbook another program holds
// open for editing (its LibreOffice lock file beside it, or such a lock a crash left) is not replaced under
// it: the rows wait in memory, the log says so once, and the writer tries again every
// RetryInterval until the lock is gone, so the rows reach the file without another line arriving.
//
// File names are UTF-8, as the file system takes them: a folder name with "é" or CJK characters
// has no Windows-1251 form. A folder the expanded name needs (a new "{yyyy}" folder) is made.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/arrival_column.h"
#include "core/file_template.h"
#include "core/format_journal.h"
#include "core/log_version.h"
#include "core/mem_table.h"
#include "workbook/model/tabulon4.h"

namespace linograf {

// What the log needs of the journal grid: its columns' titles and current widths. The window
// adapts its grid; the command line, which has no grid, uses the journal's columns. The arrival
// column is not among them: the log puts it in itself (StampArrival). Asked on the thread that
// posts rows only.
class TLogColumns {
  public:
    virtual ~TLogColumns() = default;
    virtual int ColumnCount() const = 0;
    // Windows-1251, whole: a title with "|" (stacked levels in the grid) keeps its "|".
    virtual std::string ColumnTitle(int column) const = 0;
    // Pixels. May raise an error; the column then gets the log's fallback width.
    virtual int ColumnPixelWidth(int column) const = 0;
};

// The journal's columns as its last rebuild made them, at their width before the grid stretches
// them.
class TJournalLogColumns : public TLogColumns {
  public:
    explicit TJournalLogColumns(const TFormatJournal& tables) : tables_(tables) {}
    int ColumnCount() const override { return static_cast<int>(tables_.JournalColumns().size()) - First(); }
    std::string ColumnTitle(int column) const override { return Column(column).title; }
    int ColumnPixelWidth(int column) const override { return Column(column).width; }

  private:
    // The arrival column comes first when the journal has one.
    int First() const {
        const auto& columns = tables_.JournalColumns();
        return !columns.empty() && columns.front().field_name == kArrivalField ? 1 : 0;
    }
    const TJournalColumn& Column(int column) const { return tables_.JournalColumns().at(column + First()); }

    const TFormatJournal& tables_;
};

// Rows could not be put into their file (the file is held by another program, no sibling name is
// left, the disk is full). Rows that failed to write stay in the workbook in memory; the next
// successful write holds them.
class ELiveLogError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TLiveLog {
  public:
    static constexpr int kFallbackColumnWidth = 100;
    // Siblings tried before the log gives up on a name (each one an existing file it cannot use).
    static constexpr int kMaxSiblings = 9999;

    // `book` is the live workbook (Tabulon41): its Filename is the file logged to, its Version
    // the format written, its Tag the index of the sheet row the next journal row fills. From the
    // first posted row on, the writer thread uses it; read it only while the log is idle
    // (WaitIdle).
    TLiveLog(workbook::TTabulon4& book, const TLogColumns& columns);
    // Writes what is still queued, then ends the writer thread.
    ~TLiveLog();
    TLiveLog(const TLiveLog&) = delete;
    TLiveLog& operator=(const TLiveLog&) = delete;

    // Capture starts: the workbook format follows the template's extension, and the first row
    // chooses its file afresh, so an existing file is read again with any changes made meanwhile.
    // Waits until the rows of an earlier capture are written.
    void CaptureStarting(TLogVersionChoice version);

    // The journal's AfterPost handler: the file name template is expanded now (the row's own time
    // chooses its file), the journal's current row is copied and handed to the writer; returns
    // without waiting for the write. Then delivers what the writer has to tell.
    void cdataAfterPost(TMemTable& journal);

    // Blocks until every posted row has been through a write (that may have failed), then
    // delivers what the writer has to tell.
    void WaitIdle();
    // True when no row waits for the writer and no write runs.
    bool Idle() const;
    // WaitIdle, then the rows a failed write left in memory get one more write on the writer
    // thread; nothing when there are none. Raises the write error when it fails again. Capture
    // ends with it, so no row is left unwritten silently. After StartFlush it waits for that
    // write instead of asking for another.
    void Flush();
    // Asks the writer for Flush's one more write and returns at once; Idle is false until it has
    // run. The window calls it, waits for Idle with its event loop running, then calls Flush to
    // learn how the write went. Posting thread only.
    void StartFlush();

    // Posting thread: calls OnStatusText, OnNotice and OnError for what the writer has reported
    // since the last call, in order.
    void DeliverEvents();

    // Counters over the log's life (any thread).
    std::int64_t RowsPosted() const;
    // Rows a successful write has put into a file.
    std::int64_t RowsWritten() const;
    // Rows given up: their file changed while they could not be written, or no file could be
    // chosen for them.
    std::int64_t RowsLost() const;
    // Rows posted and not (yet) in a file: queued, being written, or left by a failed write.
    std::int64_t UnwrittenRows() const;
    // Successful writes of a file.
    std::int64_t Writes() const;
    // The files a write has succeeded for (UTF-8), in the order of their first write.
    std::vector<std::string> FilesWritten() const;

    // The file name template as typed (UTF-8). Asked on the posting thread.
    std::function<std::string()> FileTemplate;
    TClock Clock = DateTimeNow;
    // Called on the posting thread, from DeliverEvents:
    // the status bar text (UTF-8): "Выгрузка в файл " and the file logged to.
    std::function<void(const std::string&)> OnStatusText;
    // Told once per change of file when the rows go to another file than the template names, and
    // why; and once when a write waits for a lock another program holds on the file (UTF-8).
    std::function<void(const std::string&)> OnNotice;
    // A write or a file choice failed (UTF-8 message). A write that fails again with the same
    // message is not reported again until a write succeeds, so a full disk gives one report, not
    // one per line. Without a handler the error is raised from DeliverEvents (and so from the
    // post, WaitIdle or Flush).
    std::function<void(const ELiveLogError&)> OnError;
    // Each row starts with the time it was posted (its line ended) as a date-time cell, under the
    // title kArrivalTitle; the journal's values follow it. Set it before the first post.
    bool StampArrival = false;
    // The journal's values are UTF-8 (a device encoding other than Windows-1251) rather than
    // Windows-1251. Set it before the first post.
    bool ValuesAreUtf8 = false;
    // Windows-1251.
    static const std::string& ArrivalTitle() { return ::linograf::ArrivalTitle(); }
    static constexpr std::u16string_view kArrivalFormat = ::linograf::kArrivalFormat;
    static constexpr int kArrivalColumnWidth = ::linograf::kArrivalColumnWidth;

    // Called on the writer thread when something waits for DeliverEvents; the window uses it to
    // have its event loop call DeliverEvents. Set it before the first post.
    std::function<void()> OnEventsWaiting;
    // How long the writer waits before it tries again to write rows a failed write left.
    std::chrono::milliseconds RetryInterval{1000};

    // The name the template gave for the current file (UTF-8); the file itself may be a
    // sibling of it (the workbook's Filename). Read it while the log is idle.
    const std::string& ExpandedName() const { return expanded_name_; }
    // The last row index the workbook's format can hold: 65535 for Excel 97-2003, 1048575 for
    // Excel 2007.
    int LastRowIndex() const;
    // The last column index: 255 for Excel 97-2003, 16383 for Excel 2007.
    int LastColumnIndex() const;
    // "<stem> (n)<ext>" for n >= 2, the name itself for n = 1.
    static std::string SiblingName(const std::string& name, int n);
    // The LibreOffice lock file that marks `path` as open for editing: ".~lock.<file name>#"
    // in the same folder.
    static std::string LockFileName(const std::string& path);

  private:
    // The header row a new file starts with, taken from the grid on the posting thread.
    struct THeader {
        std::vector<std::string> titles;
        std::vector<int> widths;  // pixels; -1 when reading the width failed
    };
    struct TPostedRow {
        std::string name;  // the expanded template
        std::vector<std::string> values;
        std::optional<TDateTime> arrival;       // with StampArrival
        std::shared_ptr<const THeader> header;  // set when the name changed since the last post
        bool reselect = false;                  // the first row after a capture start
    };
    struct TEvent {
        enum Kind { kStatus, kNotice, kError } kind;
        std::string text;
    };

    void WriterLoop();
    // Writer thread (or the posting thread while the writer is idle), book mutex held.
    void PutBatch(std::vector<TPostedRow>& batch);
    void PutOne(TPostedRow& row);
    // Chooses the file for `name`, trying the name itself and then its siblings from number
    // `first`, and readies the workbook and Tag for the next row.
    void SelectFile(const std::string& name, int first, std::string why);
    void StartNewFile();
    // An existing file's columns decide where the new rows' arrival time and values go.
    std::string OpenExistingFile(const std::string& candidate);
    void FitLayoutToFile();
    void PutHeader();
    void PutRow(const std::vector<std::string>& values, std::optional<TDateTime> arrival);
    void WriteFile();
    // The workbook is about to be given to another file: rows still unwritten get one more try,
    // and when that fails the loss is reported.
    void LeaveFile();
    void Report(TEvent::Kind kind, std::string text);
    // A write failed: told once for each failure in a row of failures with the same message.
    void ReportWriteFailure(const std::exception& error);
    // Writer thread: rows a failed write left get another write.
    void RetryWrite();
    // Book mutex held: whether the writer must come back for rows left in the workbook.
    void NoteRetry();
    void StartWriter();

    workbook::TTabulon4& book_;
    const TLogColumns& columns_;

    // Posting thread only.
    std::string last_posted_name_;
    bool reselect_next_ = true;
    std::shared_ptr<const THeader> header_for_next_;

    // Guarded by mutex_.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TPostedRow> queue_;
    std::vector<TEvent> events_;
    bool writing_ = false;
    bool stopping_ = false;
    bool retry_due_ = false;  // a failed write left rows in the workbook
    // A write of the rows a failed write left is asked for / has run since Flush last looked, and
    // how it failed ("" when it did not).
    bool retry_requested_ = false;
    bool retry_ran_ = false;
    std::string retry_error_;
    std::int64_t posted_ = 0;
    std::int64_t written_ = 0;
    std::int64_t writes_ = 0;
    std::int64_t lost_rows_ = 0;
    std::vector<std::string> files_written_;

    // The workbook's side, used by whoever holds book_mutex_.
    std::mutex book_mutex_;
    std::shared_ptr<const THeader> header_;
    std::string expanded_name_;
    std::string file_name_;  // UTF-8 form of the workbook's Filename
    int sibling_ = 1;        // the number of file_name_ among the siblings of expanded_name_
    int unwritten_rows_ = 0;
    std::string last_failure_;  // the message of the failed write since the last success
    // The current file's layout: the column of the arrival time (-1: none) and that of the first
    // journal value.
    int arrival_at_ = -1;
    int values_at_ = 0;
    bool stamping_ = false;  // the rows being put carry their arrival time

    std::thread writer_;
};

}  // namespace linograf
