#pragma once
// The live workbook log: every posted journal row goes at once into the workbook named by the
// file name template, and the whole workbook is written to disk again, so the file is complete
// after every captured line. When the expanded name changes (a new day, hour or minute) logging
// moves to the workbook of the new name: an existing one is read and extended after its last used
// row, a missing one is started with a header row of the journal grid's titles and widths.
//
// A file is never written over unless this log can account for all of it: a file that fails to
// read, that reads without a single cell (no workbook of any program's making, or one that holds
// nothing to extend), or that has no room for another row in its format, is left as it is, and
// the rows go to the first sibling "<stem> (2)<ext>", "<stem> (3)<ext>", ... that is free (or a
// readable workbook with room, such as the sibling an earlier run used). A workbook another program holds open for
// editing is not replaced under it: the row waits in memory for the next write.
#include <functional>
#include <stdexcept>
#include <string>

#include "core/file_template.h"
#include "core/format_journal.h"
#include "core/log_version.h"
#include "core/mem_table.h"
#include "workbook/model/tabulon4.h"

namespace linograf {

// What the log needs of the journal grid: its columns' titles and current widths. The window
// adapts its grid; the command line, which has no grid, uses the journal's columns.
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
    int ColumnCount() const override { return static_cast<int>(tables_.JournalColumns().size()); }
    std::string ColumnTitle(int column) const override { return tables_.JournalColumns().at(column).title; }
    int ColumnPixelWidth(int column) const override { return tables_.JournalColumns().at(column).width; }

  private:
    const TFormatJournal& tables_;
};

// A row could not be put into its file (the file is held by another program, no sibling name is
// left). The row stays in the workbook in memory; the next successful write holds it.
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
    // the format written, its Tag the index of the sheet row the next journal row fills.
    TLiveLog(workbook::TTabulon4& book, const TLogColumns& columns) : book_(book), columns_(columns) {}

    // Capture starts: the workbook format follows the template's extension, and the first row
    // chooses its file afresh, so an existing file is read again with any changes made meanwhile.
    void CaptureStarting(TLogVersionChoice version);

    // The journal's AfterPost handler: logs the journal's current row. Write errors reach the
    // caller after the row is in the workbook in memory and Tag has moved on.
    void cdataAfterPost(TMemTable& journal);

    // Writes the rows a failed write left in memory; nothing when there are none. Raises the write
    // error when it fails again. Capture ends with it, so no row is left unwritten silently.
    void Flush();
    // Rows in the workbook in memory that no write has put into the file yet.
    int UnwrittenRows() const { return unwritten_rows_; }

    // The file name template as typed (Windows-1251).
    std::function<std::string()> FileTemplate;
    TClock Clock = DateTimeNow;
    // The status bar text (Windows-1251): "Выгрузка в файл " and the file logged to.
    std::function<void(const std::string&)> OnStatusText;
    // Told once per change of file when the rows go to another file than the template names, and
    // why (Windows-1251).
    std::function<void(const std::string&)> OnNotice;

    // The name the template gave for the current file (Windows-1251); the file itself may be a
    // sibling of it (the workbook's Filename).
    const std::string& ExpandedName() const { return expanded_name_; }
    // The last row index the workbook's format can hold: 65535 for Excel 97-2003, 1048575 for
    // Excel 2007.
    int LastRowIndex() const;
    // "<stem> (n)<ext>" for n >= 2, the name itself for n = 1.
    static std::string SiblingName(const std::string& name, int n);
    // The LibreOffice lock file that marks `path` as open for editing: ".~lock.<file name>#"
    // in the same folder.
    static std::string LockFileName(const std::string& path);

  private:
    // Chooses the file for `name`, trying the name itself and then its siblings from number
    // `first`, and readies the workbook and Tag for the next row.
    void SelectFile(const std::string& name, int first, std::string why);
    void StartNewFile();
    void PutHeader();
    void PutRow(TMemTable& journal);
    void WriteFile();
    // The workbook is about to be given to another file: rows still unwritten get one more try,
    // and when that fails the loss is reported with the next row's error.
    void LeaveFile();
    void Status(const std::string& text);

    workbook::TTabulon4& book_;
    const TLogColumns& columns_;
    std::string expanded_name_;
    std::string file_name_;  // Windows-1251 form of the workbook's Filename
    int sibling_ = 1;        // the number of file_name_ among the siblings of expanded_name_
    int unwritten_rows_ = 0;
    std::string lost_;  // UTF-8: rows given up when the file changed, raised after the next row
};

}  // namespace linograf
