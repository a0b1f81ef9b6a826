#pragma once
// The record format the operator defines (cformat), the second cursor the line capture walks it
// with (cformat_), and the journal of captured lines (cdata): their columns, the load of the
// format from the settings file, the defaults of a new field, the journal's rebuild from the
// format and the numbering of its rows. The windows own one of these and bind grids to it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/ini_file.h"
#include "core/mem_table.h"

namespace linograf {

// A column of the journal grid as the last rebuild made it.
struct TJournalColumn {
    std::string field_name;  // "field" followed by the format row's id
    std::string title;       // the format row's name (Windows-1251)
    int width = 90;          // pixels, before the grid stretches its columns
};

class TFormatJournal {
  public:
    static constexpr int kJournalValueLength = 255;
    static constexpr int kNameLength = 20;
    static constexpr int kJournalColumnWidth = 90;
    // A field count above this in the settings file is taken as this: a worksheet has no more
    // columns to log the fields to, and a damaged count must not make the start-up loop for hours.
    static constexpr std::int32_t kMaxFields = 16384;

    // cformat is created here, empty and open, ordered by npp; cdata and cformat_ stay closed
    // until the first rebuild with at least one field.
    TFormatJournal();

    // The journal column of the format row with this id.
    static std::string JournalFieldName(std::int32_t id);

    // Appends the fields stored in the settings file (app/format fields; names and sizes in
    // section format), then rebuilds the journal.
    void LoadFormat(const TIniFile& ini);
    // Erases section format and writes app/format and every field's name and size in npp order.
    // Stops at the first refused write (EIniFileException), as the file functions do.
    void SaveFormat(TIniFile& ini) const;

    // Makes the journal's columns from the format anew, discarding its rows; nothing happens when
    // the format has no rows. A row of the format being edited or inserted is posted first.
    void RebuildJournal();

    // The next rebuild gives the journal the arrival column (kArrivalField, a date-time) right
    // after its id, shown first in the grid under ArrivalTitle(); the line capture stamps it.
    bool ArrivalColumn = false;

    const std::vector<TJournalColumn>& JournalColumns() const { return journal_columns_; }

    TMemTable cformat{"cformat"};
    TMemTable cformat_{"cformat_"};
    TMemTable cdata{"cdata"};

    // Called by a rebuild before it touches the journal, so that an open port stops delivering
    // lines into it (the main window closes its port here).
    std::function<void()> StopCapture;
    // Called at the end of every rebuild, when JournalColumns() holds the new grid columns.
    std::function<void()> JournalRebuilt;

  private:
    void cformatAfterInsert(TMemTable& table);
    void cdataAfterInsert(TMemTable& table);

    std::vector<TJournalColumn> journal_columns_;
};

}  // namespace linograf
