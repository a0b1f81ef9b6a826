#pragma once
// One worksheet: its cells, columns, rows, merged areas, print settings and the record templates
// its BIFF8 substream is written from. Text cells point into the workbook's shared string table;
// every cell, column and row refers to a format of the workbook's master format list.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/enum_set.h"
#include "workbook/model/cell_storage.h"
#include "workbook/model/cell_variant.h"
#include "workbook/model/columns.h"
#include "workbook/model/merged_cells.h"
#include "workbook/model/print_settings.h"
#include "workbook/model/record_storage.h"
#include "workbook/model/rows.h"

namespace linograf::workbook {

class TSheets;
class TWorkbookModel;
class TXLSRange;
class TSST2;

// A text cell as a reader found it: its place, its format position and the shared string it
// names by its place in the file's table.
struct TLoadedString {
    uint32_t col;
    uint32_t row;
    int xf;
    uint32_t index;
};

// Days from 1899-12-30 to 1904-01-01, the origins of the two date systems.
inline constexpr double kDays1900To1904 = 1462;

enum THiddenState : uint8_t { hsVisible = 0, hsHidden = 1, hsVeryHidden = 2 };

enum TSheetOption : uint8_t {
    soShowFormulas = 0,
    soGridlines,
    soRowColHeadings,
    soFrozenPanes,
    soShowZeros,
    soProtected,
    soR1C1Mode,
    soIteration,
};
using TSheetOptions = EnumSet<TSheetOption>;

enum TWorkspaceOption : uint8_t {
    woShowAutoBreaks = 0,
    woApplyStyles,
    woRowSumsBelow,
    woColSumsRight,
    woFitToPage,
    woOutlineSymbols,
};
using TWorkspaceOptions = EnumSet<TWorkspaceOption>;

// The 15 things a protected sheet may still allow, in the bit order of the SHEETPROTECTION
// option word. All 15 set means the sheet is not protected.
enum TSheetProtection : uint8_t {
    spEditObjects = 0,
    spEditScenarios,
    spFormatCells,
    spFormatColumns,
    spFormatRows,
    spInsertColumns,
    spInsertRows,
    spInsertHyperlinks,
    spDeleteColumns,
    spDeleteRows,
    spSelectLockedCells,
    spSortCellRange,
    spEditAutoFilters,
    spEditPivotTables,
    spSelectUnlockedCells,
};
using TSheetProtections = EnumSet<TSheetProtection>;
inline constexpr TSheetProtections kAllSheetProtections = TSheetProtections::FromMask(0x7FFF);

// Sheet kinds besides the worksheet (0): a VB module (1), a macro sheet (2), and a chart sheet,
// whose records the model keeps as they were read and whose cells it never writes.
inline constexpr uint8_t kChartSheetKind = 3;

class TSheet final : public TFormatChangeListener {
  public:
    TSheet(TSheets& owner, TWorkbookModel& book, int creation_number, uint8_t kind);
    ~TSheet();
    TSheet(const TSheet&) = delete;
    TSheet& operator=(const TSheet&) = delete;

    const std::u16string& Name() const { return name_; }
    // Throws "Sheet name "X" allready exists" when another sheet of the collection has the name
    // (compared without regard to case).
    void SetName(std::u16string_view name);
    uint8_t Kind() const { return kind_; }
    THiddenState Hidden() const { return hidden_; }
    void SetHidden(THiddenState state) { hidden_ = state; }
    uint8_t TabColor() const { return tab_color_; }
    void SetTabColor(uint8_t color) { tab_color_ = color; }
    TSheetProtections SheetProtection() const { return protection_; }
    void SetSheetProtection(TSheetProtections flags) { protection_ = flags; }
    bool RecalcFormulas() const { return recalc_formulas_; }
    void SetRecalcFormulas(bool on) { recalc_formulas_ = on; }

    // Views of the sheet's records.
    uint16_t DefaultColWidth() const;
    void SetDefaultColWidth(uint16_t characters);
    uint16_t DefaultRowHeight() const;
    void SetDefaultRowHeight(uint16_t twips);
    TSheetOptions Options() const;
    void SetOptions(TSheetOptions options);
    TWorkspaceOptions WorkspaceOptions() const;
    void SetWorkspaceOptions(TWorkspaceOptions options);
    uint16_t Zoom() const;
    void SetZoom(uint16_t percent);
    uint16_t ZoomPreview() const;
    void SetZoomPreview(uint16_t percent);

    TPrintSettings& PrintSettings() { return print_settings_; }
    TMergedCells& MergedCells() { return merged_cells_; }
    TXLSColumns& Columns() { return columns_; }
    TXLSRows& Rows() { return rows_; }
    TXLSRange& Range() { return *range_; }
    TRecordStorageSheet& Records() { return records_; }
    TCellStorage& Cells() { return cells_; }
    TWorkbookModel& Workbook() { return book_; }

    // Values. Setters make the cell with the format a new cell gets (or keep the format of the
    // cell they replace); they do not check the sheet limits of the file format.
    void SetAsInteger(uint32_t col, uint32_t row, int32_t value);
    void SetAsFloat(uint32_t col, uint32_t row, double value);
    void SetAsBoolean(uint32_t col, uint32_t row, bool value);
    void SetAsWideString(uint32_t col, uint32_t row, std::u16string_view text);
    // A number with a date, time or date-and-time format chosen by its whole and fractional parts.
    // The value counts days from 1899-12-30; in a workbook of the 1904 date system it is stored
    // counted from 1904-01-01. Variant dates are converted the same way.
    void SetAsDateTime(uint32_t col, uint32_t row, double value);
    void SetAsVariant(uint32_t col, uint32_t row, const TCellVariant& value);

    // Readers: the cell format is given by its position; a position beyond the list means 15.
    void SetBlank(uint32_t col, uint32_t row, int xf);
    void SetBoolean(uint32_t col, uint32_t row, int xf, bool value);
    void SetError(uint32_t col, uint32_t row, int xf, uint8_t code);
    void SetFloat(uint32_t col, uint32_t row, int xf, double value);
    void SetString(uint32_t col, uint32_t row, int xf, std::u16string_view text);
    // Points the cell at entry `index` of the shared strings as read; throws
    // "Read error at ..." style failures to the caller as std::out_of_range when there is none.
    void SetSSTString(uint32_t col, uint32_t row, int xf, uint32_t index);
    // The same for a run of text cells, in order. Their strings are looked up together first:
    // the lookups do not depend on each other, so their misses in main memory overlap instead of
    // coming one after another, cell by cell.
    void SetSSTStrings(std::span<const TLoadedString> cells);
    // A formula cell of kind ctNumberFormula..ctStringArrayFormula, for the readers.
    void SetFormula(uint32_t col, uint32_t row, int xf, TCellType kind, std::unique_ptr<TFormulaData> data);

    // 0 for anything but number cells (and absent cells).
    double AsFloat(uint32_t col, uint32_t row);
    std::u16string AsString(uint32_t col, uint32_t row);
    // The type code, ctNone for an absent cell.
    TCellType CellType(uint32_t col, uint32_t row);
    void DeleteCell(uint32_t col, uint32_t row);

    // The cell's format position in the master list: the XF index the writers put in records.
    int CellFormatIndex(const TCell& cell) const;
    // The format a cell made at (col, row) gets: the column's if it has one other than 15, else
    // the row's, else 15. The returned format has been counted for the new cell.
    XfId NewCellFormat(uint32_t col, uint32_t row);
    // A blank cell at an empty position (with the new-cell format); an existing cell is left as
    // it is. Returns the cell at the position.
    TCell& FillBlank(uint32_t col, uint32_t row);

    // The used area: smallest and largest column and row of any cell, all 0 without cells.
    // Computing it also stores it in the DIMENSIONS record.
    void CalcDimensions();
    uint32_t FirstCol() const { return first_col_; }
    uint32_t LastCol() const { return last_col_; }
    uint32_t FirstRow() const { return first_row_; }
    uint32_t LastRow() const { return last_row_; }
    // Sets the used area as a reader found it.
    void SetUsedArea(uint32_t first_col, uint32_t first_row, uint32_t last_col, uint32_t last_row);

    // Back to the state of a new sheet (name and kind stay).
    void Clear();

    void ColumnFormatChanged(uint32_t col, XfId xf) override;
    void RowFormatChanged(uint32_t row, XfId xf) override;

  private:
    void Put(uint32_t col, uint32_t row, TCell cell);
    void FreeCellData(TCell& cell);
    void ApplyFormatToCell(TCell& cell, XfId xf);

    TSheets& owner_;
    TWorkbookModel& book_;
    std::u16string name_;
    uint8_t kind_;
    THiddenState hidden_ = hsVisible;
    uint8_t tab_color_ = 64;
    TSheetProtections protection_ = kAllSheetProtections;
    bool recalc_formulas_ = true;
    uint32_t first_col_ = 0, last_col_ = 0, first_row_ = 0, last_row_ = 0;

    TRecordStorageSheet records_;
    TPrintSettings print_settings_;
    TMergedCells merged_cells_;
    TCellStorage cells_;
    TXLSColumns columns_;
    TXLSRows rows_;
    std::unique_ptr<TXLSRange> range_;
};

}  // namespace linograf::workbook
