#pragma once
// The journal grid as the live log sees it: the titles and the current widths of its columns, so
// a new log file starts with the header row the operator sees. The grid's arrival column is left
// out: the log puts the arrival time in itself.
#include "core/live_log.h"

namespace linograf {

class TDbGrid;

class TGridLogColumns : public TLogColumns {
  public:
    explicit TGridLogColumns(const TDbGrid& grid) : grid_(grid) {}
    int ColumnCount() const override;
    std::string ColumnTitle(int column) const override;
    int ColumnPixelWidth(int column) const override;

  private:
    // The grid column of the log's column `column`.
    int GridColumn(int column) const;

    const TDbGrid& grid_;
};

}  // namespace linograf
