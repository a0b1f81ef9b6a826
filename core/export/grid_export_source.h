#pragma once
// What the grid export needs of a data grid, and what it tells the progress window. The grid
// side is an interface so the export builds and tests without widgets: the journal grid's
// adapter (db_grid_export_source.h) and the table-backed source used by tests implement it.
//
// Texts (titles, pick lists, values) are Windows-1251 strings, as everywhere in the interface.
#include <cstdint>
#include <string>
#include <vector>

#include "workbook/model/cell_variant.h"

namespace linograf {

// How a bound column's value goes into a cell.
enum class TExportKind {
    ekText,      // AsWideString
    ekInteger,   // small, word, integer and 64-bit integers: AsInteger (low 32 bits)
    ekFloat,     // floating point and currency: AsFloat
    ekDateTime,  // date, time, date-time: AsDateTime, nothing for an empty value
    ekOther,     // AsVariant
    ekUnbound,   // no table column: the text the grid displays
};

struct TExportColumn {
    bool visible = true;
    bool has_pictures = false;  // a column showing pictures is not exported
    std::string title;          // "|" separates the levels of a stacked title
    int width = 64;             // pixels
    std::string field_name;     // the table column shown; empty when unbound
    TExportKind kind = TExportKind::ekText;
    std::vector<std::string> pick_list;  // shown texts
    std::vector<std::string> key_list;   // stored values matching pick_list, may be empty
    // A text column's values are UTF-8 rather than Windows-1251 (a device with an encoding of its
    // own); titles and pick lists stay Windows-1251.
    bool text_is_utf8 = false;
    // A date-time column's number format; empty: a date, time or date-time format chosen by the
    // value.
    std::u16string number_format;
};

class TGridExportSource {
  public:
    virtual ~TGridExportSource() = default;

    // Columns in display order.
    virtual int ColumnCount() const = 0;
    virtual const TExportColumn& Column(int index) const = 0;
    // The column's width in pixels as the grid shows it now; may raise.
    virtual int ColumnWidth(int index) const = 0;
    virtual std::string FontName() const = 0;
    virtual int FontSize() const = 0;  // points

    // The rows, through the table's cursor. A closed table raises on any of these.
    // Rows the operator selected; 0 means all rows.
    virtual int SelectedCount() const = 0;
    virtual void GotoSelected(int index) = 0;
    virtual int RecordCount() const = 0;
    virtual void First() = 0;
    virtual void Last() = 0;
    virtual void Next() = 0;
    virtual bool Eof() const = 0;
    // Remembers the current row; RestoreCursor goes back to it and forgets it (forgotten also
    // when going back raises).
    virtual void SaveCursor() = 0;
    virtual void RestoreCursor() = 0;
    // Suspends and resumes the refreshing of the grids bound to the table.
    virtual void DisableControls() = 0;
    virtual void EnableControls() = 0;

    // The current row's value of a bound column.
    virtual bool IsNull(int column) const = 0;
    virtual std::string AsString(int column) const = 0;
    virtual int64_t AsInteger(int column) const = 0;
    virtual double AsFloat(int column) const = 0;
    virtual workbook::TCellVariant AsVariant(int column) const = 0;
    // What the grid displays in an unbound column for the current row.
    virtual std::string DisplayText(int column) const = 0;
};

// The progress window as the export drives it.
class TExportProgress {
  public:
    virtual ~TExportProgress() = default;
    virtual void SetMax(int max) = 0;
    virtual void Step() = 0;
    // Lets the window (and the main window) handle pending input and repaint.
    virtual void ProcessMessages() = 0;
    // True once the operator asked to stop (Esc).
    virtual bool CancelRequested() const = 0;
};

}  // namespace linograf
