#pragma once
// A grid export source over an in-memory table: the columns are given, each bound to a table
// column by name (or unbound), and the rows are the table's, through its cursor. The journal
// grid's adapter builds one from the grid; tests use it directly.
#include <functional>
#include <string>
#include <vector>

#include "core/export/grid_export_source.h"
#include "core/mem_table.h"

namespace linograf {

class TTableExportSource : public TGridExportSource {
  public:
    // A bound column's kind follows its table column's type (integer or text); columns whose
    // field name is empty are unbound. The table may be closed: the rows part then raises.
    TTableExportSource(TMemTable& table, std::vector<TExportColumn> columns, std::string font_name,
                       int font_size);

    // Rows the operator selected, in selection order; empty for all rows.
    std::vector<TBookmark> selection;
    // Text of an unbound column (grid column index) in the current row.
    std::function<std::string(int column)> display_text;

    int ColumnCount() const override { return static_cast<int>(columns_.size()); }
    const TExportColumn& Column(int index) const override { return columns_.at(static_cast<size_t>(index)); }
    int ColumnWidth(int index) const override { return Column(index).width; }
    std::string FontName() const override { return font_name_; }
    int FontSize() const override { return font_size_; }

    int SelectedCount() const override { return static_cast<int>(selection.size()); }
    void GotoSelected(int index) override { table_.GotoBookmark(selection.at(static_cast<size_t>(index))); }
    int RecordCount() const override { return table_.RecordCount(); }
    void First() override { table_.First(); }
    void Last() override { table_.Last(); }
    void Next() override { table_.Next(); }
    bool Eof() const override { return table_.Eof(); }
    void SaveCursor() override;
    void RestoreCursor() override;
    void DisableControls() override { table_.DisableControls(); }
    void EnableControls() override { table_.EnableControls(); }

    bool IsNull(int column) const override { return Field(column).IsNull(); }
    std::string AsString(int column) const override { return Field(column).AsString(); }
    int64_t AsInteger(int column) const override { return Field(column).AsInteger(); }
    double AsFloat(int column) const override;
    workbook::TCellVariant AsVariant(int column) const override;
    std::string DisplayText(int column) const override;

  private:
    TField& Field(int column) const;

    TMemTable& table_;
    std::vector<TExportColumn> columns_;
    std::string font_name_;
    int font_size_;
    TBookmark saved_;
    // The table column of each column, looked up by name once per export (SaveCursor starts one):
    // a row's values then cost no name search. Looked up again when the table's columns were
    // made anew meanwhile (a journal rebuild while the export pumps events frees the old ones).
    mutable std::vector<TField*> fields_;
    mutable std::uint64_t fields_layout_ = 0;
};

}  // namespace linograf
