#include "workbook/model/sheet.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "text/wide_text.h"
#include "workbook/model/date_formats.h"
#include "workbook/model/float_text.h"
#include "workbook/model/format_changes.h"
#include "workbook/model/process_values.h"
#include "workbook/model/range.h"
#include "workbook/model/sheets.h"
#include "workbook/model/workbook_model.h"

namespace linograf::workbook {
namespace {

// WINDOW2 body:
//   OFFSET SIZE DESCRIPTION
//   0      2    options: 0x01 formulas, 0x02 grid lines, 0x04 headings, 0x08 frozen panes,
//               0x10 zero values, 0x20 automatic grid colour, 0x80 outline symbols,
//               0x0200 selected, 0x0400 shown in its window
//   2      2    top row
//   4      2    left column
//   6      4    grid line colour
//   10     2    page break preview magnification
//   12     2    normal magnification
//   14     4    reserved
constexpr size_t kWindow2Options = 0, kWindow2PreviewZoom = 10, kWindow2Zoom = 12;

struct Flag {
    uint8_t value;
    uint16_t bit;
};
constexpr Flag kSheetOptionBits[] = {
    {soShowFormulas, 0x0001}, {soGridlines, 0x0002}, {soRowColHeadings, 0x0004},
    {soFrozenPanes, 0x0008},  {soShowZeros, 0x0010},
};
constexpr Flag kWorkspaceBits[] = {
    {woShowAutoBreaks, 0x0001}, {woApplyStyles, 0x0020}, {woRowSumsBelow, 0x0040},
    {woColSumsRight, 0x0080},   {woFitToPage, 0x0100},   {woOutlineSymbols, 0x0400},
};

}  // namespace

TSheet::TSheet(TSheets& owner, TWorkbookModel& book, int creation_number, uint8_t kind)
    : owner_(owner),
      book_(book),
      name_(u"Sheet" + Utf8ToWide(std::to_string(creation_number))),
      kind_(kind),
      print_settings_(records_),
      columns_(book.Formats(), this),
      rows_(book.Formats(), this),
      range_(std::make_unique<TXLSRange>(*this)) {
    print_settings_.SetPaperSize(book.DefaultPaperSize());
}

TSheet::~TSheet() = default;

void TSheet::SetName(std::u16string_view name) {
    if (WideEqualsIgnoreCase(name, name_)) return;
    if (owner_.Find(name))
        throw std::runtime_error("Sheet name \"" + WideToUtf8(name) + "\" allready exists");
    name_ = std::u16string(name);
}

uint16_t TSheet::DefaultColWidth() const {
    return records_.U16(rec::DEFCOLWIDTH, 0);
}
void TSheet::SetDefaultColWidth(uint16_t characters) {
    records_.SetU16(rec::DEFCOLWIDTH, 0, characters);
}

// DEFAULTROWHEIGHT: option word (bit 0 custom height), then the height in twips.
uint16_t TSheet::DefaultRowHeight() const {
    return records_.U16(rec::DEFAULTROWHEIGHT, 2);
}

void TSheet::SetDefaultRowHeight(uint16_t twips) {
    records_.SetU16(rec::DEFAULTROWHEIGHT, 2, twips);
    uint16_t options = records_.U16(rec::DEFAULTROWHEIGHT, 0);
    options = twips == kDefaultRowHeight ? (options & ~1u) : (options | 1u);
    records_.SetU16(rec::DEFAULTROWHEIGHT, 0, options);
}

TSheetOptions TSheet::Options() const {
    uint16_t word = records_.U16(rec::WINDOW2, kWindow2Options);
    TSheetOptions o;
    for (const Flag& f : kSheetOptionBits)
        if (word & f.bit) o.Include(static_cast<TSheetOption>(f.value));
    return o;
}

void TSheet::SetOptions(TSheetOptions options) {
    uint16_t word = 0x04A0;
    for (const Flag& f : kSheetOptionBits)
        if (options.Contains(static_cast<TSheetOption>(f.value))) word |= f.bit;
    records_.SetU16(rec::WINDOW2, kWindow2Options, word);
}

TWorkspaceOptions TSheet::WorkspaceOptions() const {
    uint16_t word = records_.U16(rec::WSBOOL, 0);
    TWorkspaceOptions o;
    for (const Flag& f : kWorkspaceBits)
        if (word & f.bit) o.Include(static_cast<TWorkspaceOption>(f.value));
    return o;
}

void TSheet::SetWorkspaceOptions(TWorkspaceOptions options) {
    uint16_t word = 0;
    for (const Flag& f : kWorkspaceBits)
        if (options.Contains(static_cast<TWorkspaceOption>(f.value))) word |= f.bit;
    records_.SetU16(rec::WSBOOL, 0, word);
}

uint16_t TSheet::Zoom() const {
    return records_.U16(rec::WINDOW2, kWindow2Zoom);
}
void TSheet::SetZoom(uint16_t percent) {
    records_.SetU16(rec::WINDOW2, kWindow2Zoom, percent);
}
uint16_t TSheet::ZoomPreview() const {
    return records_.U16(rec::WINDOW2, kWindow2PreviewZoom);
}
void TSheet::SetZoomPreview(uint16_t percent) {
    records_.SetU16(rec::WINDOW2, kWindow2PreviewZoom, percent);
}

int TSheet::CellFormatIndex(const TCell& cell) const {
    return book_.Formats().PositionOf(cell.xf);
}

XfId TSheet::NewCellFormat(uint32_t col, uint32_t row) {
    TCellFormats& formats = book_.Formats();
    if (TXLSColumn* c = columns_.Items(static_cast<int>(col)); c && c->FormatIndex() != kDefaultCellFormat) {
        formats.Acquire(c->Format());
        return c->Format();
    }
    if (TXLSRow* r = rows_.Find(row); r && r->FormatIndex() != kDefaultCellFormat) {
        formats.Acquire(r->Format());
        return r->Format();
    }
    return formats.DefaultId();
}

void TSheet::FreeCellData(TCell& cell) {
    if (cell.type == ctString) book_.SST().Release(cell.value.entry);
    if (IsFormulaCell(cell.type)) delete cell.value.formula;
}

void TSheet::Put(uint32_t col, uint32_t row, TCell cell) {
    TCell* slot;
    try {
        slot = &cells_.Place(col, row);
        if (slot->type != ctNone) {
            if (IsFormulaCell(slot->type) && slot->value.formula->in_shared_group)
                throw std::runtime_error("Can not delete shared formula");
            // The new value keeps the formatting the position had.
            book_.Formats().Release(cell.xf);
            cell.xf = slot->xf;
            FreeCellData(*slot);
        }
    } catch (...) {
        FreeCellData(cell);
        book_.Formats().Release(cell.xf);
        throw;
    }
    *slot = cell;
}

void TSheet::SetAsInteger(uint32_t col, uint32_t row, int32_t value) {
    TCell c;
    c.type = ctInteger;
    c.xf = NewCellFormat(col, row);
    c.value.integer = value;
    Put(col, row, c);
}

void TSheet::SetAsFloat(uint32_t col, uint32_t row, double value) {
    TCell c;
    c.type = ctFloat;
    c.xf = NewCellFormat(col, row);
    c.value.number = value;
    Put(col, row, c);
}

void TSheet::SetAsBoolean(uint32_t col, uint32_t row, bool value) {
    TCell c;
    c.type = ctBoolean;
    c.xf = NewCellFormat(col, row);
    c.small = value ? 1 : 0;
    Put(col, row, c);
}

void TSheet::SetAsWideString(uint32_t col, uint32_t row, std::u16string_view text) {
    TCell c;
    c.type = ctString;
    c.xf = NewCellFormat(col, row);
    try {
        c.value.entry = book_.SST().Add(text);
    } catch (...) {
        book_.Formats().Release(c.xf);
        throw;
    }
    Put(col, row, c);
}

void TSheet::SetAsDateTime(uint32_t col, uint32_t row, double value) {
    SetAsFloat(col, row, book_.Date1904() ? value - kDays1900To1904 : value);
    std::u16string format = DateTimeFormatFor(value);
    if (format.empty()) return;
    TCell* cell = cells_.Find(col, row);
    cell->xf = WithNumberFormat(book_.Formats(), cell->xf, format);
}

void TSheet::SetAsVariant(uint32_t col, uint32_t row, const TCellVariant& value) {
    std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>) {
                SetAsBoolean(col, row, v);
            } else if constexpr (std::is_same_v<T, uint32_t>) {
                // Above the signed range an integer cell would show a negative number.
                if (v > 0x7FFFFFFFu)
                    SetAsFloat(col, row, static_cast<double>(v));
                else
                    SetAsInteger(col, row, static_cast<int32_t>(v));
            } else if constexpr (std::is_same_v<T, int8_t> || std::is_same_v<T, uint8_t> ||
                                 std::is_same_v<T, int16_t> || std::is_same_v<T, uint16_t> ||
                                 std::is_same_v<T, int32_t>) {
                SetAsInteger(col, row, static_cast<int32_t>(v));
            } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double> ||
                                 std::is_same_v<T, int64_t>) {
                SetAsFloat(col, row, static_cast<double>(v));
            } else if constexpr (std::is_same_v<T, TVariantCurrency>) {
                SetAsFloat(col, row, static_cast<double>(v.scaled) / 10000.0);
            } else if constexpr (std::is_same_v<T, TVariantDate>) {
                SetAsFloat(col, row, book_.Date1904() ? v.value - kDays1900To1904 : v.value);
            } else if constexpr (std::is_same_v<T, std::u16string>) {
                SetAsWideString(col, row, v);
            } else if constexpr (std::is_same_v<T, std::string>) {
                SetAsWideString(col, row, Utf8ToWide(v));
            }
            // Empty, null and error variants leave the cell alone.
        },
        value);
}

void TSheet::SetBlank(uint32_t col, uint32_t row, int xf) {
    TCell c;
    c.type = ctBlank;
    c.xf = book_.Formats().IdAt(xf);
    book_.Formats().Acquire(c.xf);
    Put(col, row, c);
}

void TSheet::SetBoolean(uint32_t col, uint32_t row, int xf, bool value) {
    TCell c;
    c.type = ctBoolean;
    c.xf = book_.Formats().IdAt(xf);
    book_.Formats().Acquire(c.xf);
    c.small = value ? 1 : 0;
    Put(col, row, c);
}

void TSheet::SetError(uint32_t col, uint32_t row, int xf, uint8_t code) {
    TCell c;
    c.type = ctError;
    c.xf = book_.Formats().IdAt(xf);
    book_.Formats().Acquire(c.xf);
    c.small = code;
    Put(col, row, c);
}

void TSheet::SetFloat(uint32_t col, uint32_t row, int xf, double value) {
    TCell c;
    c.type = ctFloat;
    c.xf = book_.Formats().IdAt(xf);
    book_.Formats().Acquire(c.xf);
    c.value.number = value;
    Put(col, row, c);
}

void TSheet::SetString(uint32_t col, uint32_t row, int xf, std::u16string_view text) {
    TCell c;
    c.type = ctString;
    c.xf = book_.Formats().IdAt(xf);
    c.value.entry = book_.SST().Add(text);
    book_.Formats().Acquire(c.xf);
    Put(col, row, c);
}

void TSheet::SetSSTString(uint32_t col, uint32_t row, int xf, uint32_t index) {
    const XfId id = book_.Formats().IdAt(xf);
    TSSTEntry* entry = book_.SST().ReferenceLoaded(index);
    if (!entry) throw std::out_of_range("No shared string " + std::to_string(index));
    TCell c;
    c.type = ctString;
    c.xf = id;
    c.value.entry = entry;
    book_.Formats().Acquire(c.xf);
    Put(col, row, c);
}

void TSheet::SetSSTStrings(std::span<const TLoadedString> cells) {
    TSST2& sst = book_.SST();
    constexpr size_t kBatch = 32;
    TSSTEntry* entries[kBatch];
    for (size_t from = 0; from < cells.size(); from += kBatch) {
        const std::span<const TLoadedString> batch =
            cells.subspan(from, std::min(kBatch, cells.size() - from));
        for (size_t i = 0; i < batch.size(); ++i) entries[i] = sst.LoadedEntry(batch[i].index);
        for (size_t i = 0; i < batch.size(); ++i) {
            const TLoadedString& s = batch[i];
            if (!entries[i]) throw std::out_of_range("No shared string " + std::to_string(s.index));
            sst.CountLoaded(s.index);
            TCell c;
            c.type = ctString;
            c.xf = book_.Formats().IdAt(s.xf);
            c.value.entry = entries[i];
            book_.Formats().Acquire(c.xf);
            Put(s.col, s.row, c);
        }
    }
}

void TSheet::SetFormula(uint32_t col, uint32_t row, int xf, TCellType kind,
                        std::unique_ptr<TFormulaData> data) {
    if (!IsFormulaCell(kind) || !data) throw std::invalid_argument("Not a formula cell");
    TCell c;
    c.type = kind;
    c.xf = book_.Formats().IdAt(xf);
    book_.Formats().Acquire(c.xf);
    c.value.formula = data.release();
    Put(col, row, c);
}

double TSheet::AsFloat(uint32_t col, uint32_t row) {
    const TCell* c = cells_.Find(col, row);
    if (!c) return 0;
    switch (c->type) {
        case ctFloat:
            return c->value.number;
        case ctInteger:
            return c->value.integer;
        case ctNumberFormula:
            return c->value.formula->number;
        default:
            return 0;
    }
}

std::u16string TSheet::AsString(uint32_t col, uint32_t row) {
    const TCell* c = cells_.Find(col, row);
    if (!c) return {};
    if (IsFormulaCell(c->type)) {
        const TFormulaData& f = *c->value.formula;
        if (book_.ShowFormulas()) return f.text;
        switch (c->type) {
            case ctNumberFormula:
            case ctArrayFormula:
                return FormatFloatGeneral(f.number);
            case ctStringFormula:
            case ctStringArrayFormula:
                return f.string_result;
            case ctBooleanFormula:
                return f.boolean_or_error ? StrTRUE() : StrFALSE();
            default:
                return CellErrorText(f.boolean_or_error);
        }
    }
    switch (c->type) {
        case ctInteger:
            return Utf8ToWide(std::to_string(c->value.integer));
        case ctFloat:
            return FormatFloatGeneral(c->value.number);
        case ctString:
            return TSST2::Text(c->value.entry);
        case ctBoolean:
            return c->small ? StrTRUE() : StrFALSE();
        case ctError:
            return CellErrorText(c->small);
        default:
            return {};
    }
}

TCellType TSheet::CellType(uint32_t col, uint32_t row) {
    const TCell* c = cells_.Find(col, row);
    return c ? c->type : ctNone;
}

void TSheet::DeleteCell(uint32_t col, uint32_t row) {
    try {
        TCell* c = cells_.Find(col, row);
        if (!c) return;
        TCell gone = *c;
        cells_.Erase(col, row);
        FreeCellData(gone);
        book_.Formats().Release(gone.xf);
    } catch (const std::exception&) {
        char message[64];
        std::snprintf(message, sizeof message, "Error on deleting cell %u:%u", col, row);
        throw std::runtime_error(message);
    }
}

TCell& TSheet::FillBlank(uint32_t col, uint32_t row) {
    if (TCell* existing = cells_.Find(col, row)) return *existing;
    TCell c;
    c.type = ctBlank;
    c.xf = NewCellFormat(col, row);
    TCell& slot = cells_.Place(col, row);
    slot = c;
    return slot;
}

void TSheet::CalcDimensions() {
    bool any = false;
    uint32_t first_col = 0, last_col = 0, first_row = 0, last_row = 0;
    auto it = cells_.Cells();
    for (TCellRef r = it.Next(); r; r = it.Next()) {
        if (!any) {
            first_col = last_col = r.col;
            first_row = r.row;
            any = true;
        }
        if (r.col < first_col) first_col = r.col;
        if (r.col > last_col) last_col = r.col;
        last_row = r.row;  // visited in row order
    }
    SetUsedArea(first_col, first_row, last_col, last_row);
}

// DIMENSIONS body: first row (u32), last row + 1 (u32), first column (u16), last column + 1
// (u16), reserved (u16); BIFF8 cannot name rows beyond 65535 or columns beyond 255.
void TSheet::SetUsedArea(uint32_t first_col, uint32_t first_row, uint32_t last_col, uint32_t last_row) {
    first_col_ = first_col;
    first_row_ = first_row;
    last_col_ = last_col;
    last_row_ = last_row;
    records_.SetU32(rec::DIMENSIONS, 0, first_row > 65535 ? 65535 : first_row);
    records_.SetU32(rec::DIMENSIONS, 4, first_row > 65534 ? 65535 : last_row + 1);
    records_.SetU16(rec::DIMENSIONS, 8, static_cast<uint16_t>(first_col > 255 ? 255 : first_col));
    records_.SetU16(rec::DIMENSIONS, 10, static_cast<uint16_t>(first_col > 254 ? 255 : last_col + 1));
}

void TSheet::ApplyFormatToCell(TCell& cell, XfId xf) {
    if (cell.xf == xf) return;
    book_.Formats().Acquire(xf);
    book_.Formats().Release(cell.xf);
    cell.xf = xf;
}

void TSheet::ColumnFormatChanged(uint32_t col, XfId xf) {
    if (col < first_col_ || col > last_col_) return;
    for (uint32_t row = first_row_; row <= last_row_; ++row)
        if (TCell* c = cells_.Find(col, row)) ApplyFormatToCell(*c, xf);
}

void TSheet::RowFormatChanged(uint32_t row, XfId xf) {
    if (row < first_row_ || row > last_row_) return;
    for (uint32_t col = first_col_; col <= last_col_; ++col)
        if (TCell* c = cells_.Find(col, row)) ApplyFormatToCell(*c, xf);
}

void TSheet::Clear() {
    tab_color_ = 64;
    protection_ = kAllSheetProtections;
    records_.Reset();
    merged_cells_.Clear();
    print_settings_.Reset();
    print_settings_.SetPaperSize(book_.DefaultPaperSize());
    columns_.Clear();
    rows_.Clear();
    auto it = cells_.Cells();
    for (TCellRef r = it.Next(); r; r = it.Next()) {
        FreeCellData(*r.cell);
        r.cell->type = ctNone;
        book_.Formats().Release(r.cell->xf);
    }
    cells_.Clear();
    first_col_ = last_col_ = first_row_ = last_row_ = 0;
}

}  // namespace linograf::workbook
