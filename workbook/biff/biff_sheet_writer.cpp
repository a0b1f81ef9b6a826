// The sheet substream of TBiffWriter: the walk over a sheet's record template list and the
// records generated from the sheet model (columns, rows, cells, margins, merged areas, ...).
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "workbook/biff/biff_record_buffer.h"
#include "workbook/biff/biff_writer.h"
#include "workbook/biff/rk_number.h"
#include "workbook/model/biff_records.h"
#include "workbook/model/record_storage.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook {
namespace {

constexpr uint32_t kLastBiffColumn = 255;
constexpr uint32_t kLastBiffRow = 65535;
constexpr int kMergedPerRecord = (TBiffWriter::kRecordLimit - 2) / 8;  // 1027

// BIFF error bytes of the error codes 1..7.
constexpr uint8_t kErrorBytes[] = {0x00, 0x07, 0x0F, 0x17, 0x1D, 0x24, 0x2A};

inline void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}
// Every cell record starts with the same six bytes after its header; what follows them:
//
//   OFFSET  SIZE  DESCRIPTION (data of the record; the 4-byte id and length come before it)
//   0       2     row
//   2       2     column
//   4       2     cell format (XF) index
//   LABELSST  6  4  index of the text in the SST
//   NUMBER    6  8  IEEE 754 double
//   RK        6  4  RK number (30 bits of value; bit 0 divides by 100, bit 1 marks an integer)
//   BOOLERR   6  1  value (0/1, or an error code), 7 1: 0 boolean, 1 error
//   BLANK     -     nothing more
//   MULRK     4  6*n  XF (2) and RK (4) per cell from the column on, then the last column (2)
//   MULBLANK  4  2*n  XF per cell from the column on, then the last column (2)
//   FORMULA   6  8  cached result, 14 2 options, 16 4 unused, 20 2 token size, 22 var tokens
inline void PutCellHeader(uint8_t* p, uint16_t id, uint16_t length, uint32_t row, uint32_t col, uint32_t xf) {
    Put16(p, id);
    Put16(p + 2, length);
    Put16(p + 4, row);
    Put16(p + 6, col);
    Put16(p + 8, xf);
}

// Consecutive RK numbers of one row, written as one MULRK (or RK for a single one).
class TRKRun {
  public:
    bool Empty() const { return count_ == 0; }
    bool Continues(uint32_t col) const { return count_ == 0 || col == last_col_ + 1; }
    void Add(uint32_t row, uint32_t col, uint16_t xf, uint32_t rk) {
        if (count_ == kCapacity) throw std::runtime_error("RK Cache overflow");
        if (count_ == 0) {
            row_ = row;
            first_col_ = col;
        }
        entries_[count_++] = {xf, rk};
        last_col_ = col;
    }
    // Built in place in the record stream.
    void Flush(TXLSStream& stream) {
        if (count_ == 0) return;
        if (count_ == 1) {
            uint8_t* buffer = stream.Reserve(14);
            PutCellHeader(buffer, rec::RK, 10, row_, first_col_, entries_[0].xf);
            Put32(buffer + 10, entries_[0].rk);
            stream.Advance(14);
        } else {
            const uint16_t length = static_cast<uint16_t>(6 + 6 * count_);
            uint8_t* buffer = stream.Reserve(4 + length);
            PutCellHeader(buffer, rec::MULRK, length, row_, first_col_, entries_[0].xf);
            uint8_t* p = buffer + 8;
            for (int i = 0; i < count_; ++i, p += 6) {
                Put16(p, entries_[i].xf);
                Put32(p + 2, entries_[i].rk);
            }
            Put16(p, last_col_);
            stream.Advance(4 + length);
        }
        count_ = 0;
    }

  private:
    static constexpr int kCapacity = 256;
    struct Entry {
        uint16_t xf;
        uint32_t rk;
    };
    Entry entries_[kCapacity];
    int count_ = 0;
    uint32_t row_ = 0, first_col_ = 0, last_col_ = 0;
};

// Every cell record goes into the stream one way: room for the whole record, its header and the
// cell's six bytes put in place, the rest filled in by the caller through Body.
class TCellRecord {
  public:
    TCellRecord(TXLSStream& stream, uint16_t id, size_t length, const TCellRef& c, uint32_t xf)
        : stream_(stream), size_(4 + length) {
        if (length > static_cast<size_t>(TBiffWriter::kRecordLimit))
            throw std::runtime_error("Record too long");
        p_ = stream_.Reserve(size_);
        PutCellHeader(p_, id, static_cast<uint16_t>(length), c.row, c.col, xf);
    }
    uint8_t* Body() { return p_ + 10; }
    void Done() { stream_.Advance(size_); }

  private:
    TXLSStream& stream_;
    size_t size_;
    uint8_t* p_;
};

// A blank cell and the blank cells right after it in the same row, also across the store's
// 128-column blocks, up to the last column a BIFF8 row has: one BLANK or one MULBLANK.
void PutBlankRun(TXLSStream& stream, TSheet& sheet, TCellStorage::Iterator& it, const TCellRef& c,
                 uint32_t xf, int& visited) {
    uint16_t xfs[kLastBiffColumn + 1];
    size_t count = 0;
    xfs[count++] = static_cast<uint16_t>(xf);
    uint32_t last = c.col;
    while (last < kLastBiffColumn) {
        const TCellRef next = it.NextBlankInRun();
        if (!next) break;
        ++visited;
        if (next.col != last + 1) throw std::runtime_error("Row error in writing MULBLANK");
        xfs[count++] = static_cast<uint16_t>(sheet.CellFormatIndex(*next.cell));
        last = next.col;
    }
    if (count == 1) {
        TCellRecord(stream, rec::BLANK, 6, c, xf).Done();
        return;
    }
    TCellRecord r(stream, rec::MULBLANK, 6 + 2 * count, c, xf);
    uint8_t* p = r.Body() - 2;  // the first cell's format is the one in the cell bytes
    for (size_t i = 0; i < count; ++i) Put16(p + 2 * i, xfs[i]);
    Put16(p + 2 * count, last);
    r.Done();
}

// A number goes into the row's run of RK numbers when it has an RK form; else a NUMBER.
void PutNumber(TXLSStream& stream, TRKRun& run, const TCellRef& c, uint32_t xf, double value) {
    const std::optional<uint32_t> rk = EncodeRK(value);
    if (rk && run.Continues(c.col)) {
        run.Add(c.row, c.col, static_cast<uint16_t>(xf), *rk);
        return;
    }
    run.Flush(stream);
    TCellRecord r(stream, rec::NUMBER, 14, c, xf);
    std::memcpy(r.Body(), &value, 8);
    r.Done();
}

void PutBoolErr(TXLSStream& stream, const TCellRef& c, uint32_t xf, uint8_t value, bool error) {
    TCellRecord r(stream, rec::BOOLERR, 8, c, xf);
    r.Body()[0] = value;
    r.Body()[1] = error ? 1 : 0;
    r.Done();
}

uint8_t ErrorByte(uint8_t code, const TCellRef& c) {
    if (code < 1 || code > 7) {
        char message[64];
        std::snprintf(message, sizeof message, "Invalid error value in cell %u:%u", c.col, c.row);
        throw std::runtime_error(message);
    }
    return kErrorBytes[code - 1];
}

// FORMULA options as read: fAlwaysCalc (0x0001, volatile functions), fFill (0x0004), fClearErrors
// (0x0020) and the reserved bits. fShrFmla (0x0008) only while the tokens still point to a shared
// formula (ptgExp): the reader makes a group member's tokens its own. A result not known is
// asked to be calculated (fAlwaysCalc), so the cached 0 is never shown; 0x0002 asks for a
// calculation when the file is opened.
uint16_t FormulaOptions(const TFormulaData& f, bool recalc) {
    constexpr uint16_t kAlwaysCalc = 0x0001, kCalcOnLoad = 0x0002, kSharedFormula = 0x0008;
    uint16_t options = f.options;
    if (f.tokens.empty() || f.tokens[0] != 0x01) options &= ~kSharedFormula;
    if (!f.result_known) options |= kAlwaysCalc;
    if (recalc) options |= kCalcOnLoad;
    return options;
}

// FORMULA: the cached result, the options, the tokens and the data after them; then the ARRAY or
// TABLE record of the range the cell heads, and the text of a text result.
void PutFormula(TXLSStream& stream, const TCell& cell, const TCellRef& c, uint32_t xf, bool recalc) {
    const TFormulaData& f = *cell.value.formula;
    // The cached result: a number, or a type byte (0 text, 1 boolean, 2 error) with the value in
    // the third byte and 0xFFFF in the last two.
    uint8_t result[8] = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (cell.type == ctNumberFormula || cell.type == ctArrayFormula) {
        std::memcpy(result, &f.number, 8);
    } else if (cell.type == ctBooleanFormula) {
        result[0] = 1;
        result[2] = f.boolean_or_error;
    } else if (cell.type == ctErrorFormula) {
        result[0] = 2;
        result[2] = ErrorByte(f.boolean_or_error, c);
    }
    // Tokens and their data are one formula: cut short, the formula would be another one, or
    // none that reads at all.
    if (22 + f.tokens.size() + f.extra.size() > static_cast<size_t>(TBiffWriter::kRecordLimit))
        throw std::runtime_error("Formula too long in cell " + std::to_string(c.col) + ":" +
                                 std::to_string(c.row));
    // A formula without tokens (one read from Open XML, which keeps only its text) would be an
    // empty formula here.
    if (f.tokens.empty())
        throw std::runtime_error("Formula without tokens in cell " + std::to_string(c.col) + ":" +
                                 std::to_string(c.row) + " cannot be written as BIFF8");
    TCellRecord r(stream, rec::FORMULA, 22 + f.tokens.size() + f.extra.size(), c, xf);
    uint8_t* p = r.Body();
    std::memcpy(p, result, 8);
    Put16(p + 8, FormulaOptions(f, recalc));
    Put32(p + 10, 0);
    Put16(p + 14, static_cast<uint32_t>(f.tokens.size()));
    if (!f.tokens.empty()) std::memcpy(p + 16, f.tokens.data(), f.tokens.size());
    if (!f.extra.empty()) std::memcpy(p + 16 + f.tokens.size(), f.extra.data(), f.extra.size());
    r.Done();
    if (f.group_record_id != 0)
        stream.WriteRecord(f.group_record_id, f.group_record.data(), f.group_record.size());
    if (cell.type == ctStringFormula || cell.type == ctStringArrayFormula) {
        const std::u16string_view s = std::u16string_view(f.string_result).substr(0, 4000);
        TRecordBuffer text;
        text.U16(static_cast<uint16_t>(s.size())).U8(0x01).Wide(s);
        stream.WriteRecord(rec::STRING, text.View());
    }
}

// One cell of a row in the record of its kind.
void PutCell(TXLSStream& stream, TSheet& sheet, TCellStorage::Iterator& it, const TCellRef& c, TRKRun& run,
             int& visited) {
    const TCell& cell = *c.cell;
    const uint32_t xf = static_cast<uint32_t>(sheet.CellFormatIndex(cell));
    switch (cell.type) {
        case ctNone:
            break;
        case ctBlank:
            PutBlankRun(stream, sheet, it, c, xf, visited);
            break;
        case ctInteger:
            PutNumber(stream, run, c, xf, static_cast<double>(cell.value.integer));
            break;
        case ctFloat:
            PutNumber(stream, run, c, xf, cell.value.number);
            break;
        case ctString: {
            if (!cell.value.entry) throw std::runtime_error("Text cell without a string");
            TCellRecord r(stream, rec::LABELSST, 10, c, xf);
            Put32(r.Body(), cell.value.entry->Index());
            r.Done();
            break;
        }
        case ctBoolean:
            PutBoolErr(stream, c, xf, cell.small ? 1 : 0, false);
            break;
        case ctError:
            PutBoolErr(stream, c, xf, ErrorByte(cell.small, c), true);
            break;
        default:
            if (IsFormulaCell(cell.type) && cell.value.formula)
                PutFormula(stream, cell, c, xf, sheet.RecalcFormulas());
            break;
    }
}

}  // namespace

void TBiffWriter::WriteSheet(TSheet& sheet) {
    TRecordStorageSheet& records = sheet.Records();
    for (int i = 0; i < records.Count(); ++i) WriteSheetEntry(sheet, records.Items(i));
}

void TBiffWriter::WriteSheetEntry(TSheet& sheet, const TRawRecord& entry) {
    switch (entry.id) {
        case rec::SELECTION:
            WriteSelection();
            break;
        case rec::DIMENSIONS: {
            std::vector<uint8_t> data = entry.data;
            if (data.size() >= 14) {
                const uint32_t last_row =
                    data[4] | (data[5] << 8) | (data[6] << 16) | (uint32_t{data[7]} << 24);
                if (last_row > 0xFFFF) Put32(data.data() + 4, 0xFFFF);
                if ((data[10] | (data[11] << 8)) >= 256) Put16(data.data() + 10, 255);
            }
            stream_.WriteRecord(entry.id, data.data(), data.size());
            break;
        }
        case rec::WINDOW2: {
            const uint16_t zoom = sheet.Zoom();
            if (zoom != 0 && zoom != 100) {
                TRecordBuffer scl;
                scl.U16(zoom).U16(100);
                stream_.WriteRecord(rec::SCL, scl.View());
            }
            stream_.WriteRecord(entry.id, entry.data.data(), entry.data.size());
            break;
        }
        case kPlaceholderPageBreaks:
            WritePageBreaks(sheet);
            break;
        case kPlaceholderHeaderFooter:
            WriteHeaderFooter(sheet);
            break;
        case kPlaceholderMargins:
            WriteMargins(sheet);
            break;
        case kPlaceholderColInfo:
            WriteColInfo(sheet);
            break;
        case kPlaceholderCells:
            WriteRows(sheet);
            WriteCells(sheet);
            break;
        case kPlaceholderSheetObjects:
            WriteSheetObjects(sheet);
            break;
        default:
            stream_.WriteRecord(entry.id, entry.data.data(), entry.data.size());
            break;
    }
}

// Cell A1 selected, as in a sheet nobody has clicked in.
void TBiffWriter::WriteSelection() {
    TRecordBuffer r;
    r.U8(3).U16(0).U16(0).U16(0).U16(1).U16(0).U16(0).U8(0).U8(0);
    stream_.WriteRecord(rec::SELECTION, r.View());
}

void TBiffWriter::WritePageBreaks(TSheet& sheet) {
    auto write = [this](uint16_t id, const std::vector<TPageBreak>& breaks) {
        if (breaks.empty()) return;
        TRecordBuffer r;
        const size_t count = std::min<size_t>(breaks.size(), (kRecordLimit - 2) / 6);
        r.U16(static_cast<uint16_t>(count));
        for (size_t i = 0; i < count; ++i)
            r.U16(static_cast<uint16_t>(breaks[i].position + 1))
                .U16(static_cast<uint16_t>(breaks[i].first + 1))
                .U16(static_cast<uint16_t>(breaks[i].last + 1));
        stream_.WriteRecord(id, r.View());
    };
    write(rec::HORIZONTALPAGEBREAKS, sheet.PrintSettings().horiz_pagebreaks);
    write(rec::VERTICALPAGEBREAKS, sheet.PrintSettings().vert_pagebreaks);
}

void TBiffWriter::WriteHeaderFooter(TSheet& sheet) {
    for (const auto& [id, text] :
         {std::pair<uint16_t, const std::u16string*>{rec::HEADER, &sheet.PrintSettings().header},
          {rec::FOOTER, &sheet.PrintSettings().footer}}) {
        TRecordBuffer r;
        if (!text->empty()) {
            // Header and footer texts are limited to 255 characters.
            const std::u16string_view t = std::u16string_view(*text).substr(0, 255);
            r.U16(static_cast<uint16_t>(t.size())).U8(0x01).Wide(t);
        }
        stream_.WriteRecord(id, r.View());
    }
}

void TBiffWriter::WriteMargins(TSheet& sheet) {
    const TPrintSettings& p = sheet.PrintSettings();
    for (const auto& [id, value] : {std::pair<uint16_t, double>{rec::LEFTMARGIN, p.margin_left},
                                    {rec::RIGHTMARGIN, p.margin_right},
                                    {rec::TOPMARGIN, p.margin_top},
                                    {rec::BOTTOMMARGIN, p.margin_bottom}}) {
        if (!(value >= 0)) continue;
        TRecordBuffer r;
        r.F64(value);
        stream_.WriteRecord(id, r.View());
    }
}

// Runs of equal neighbouring columns share one COLINFO.
void TBiffWriter::WriteColInfo(TSheet& sheet) {
    TXLSColumns& columns = sheet.Columns();
    TRecordBuffer r;
    uint32_t i = 0;
    while (i <= kLastBiffColumn) {
        const TXLSColumn* c = columns.Items(static_cast<int>(i));
        if (!c) {
            ++i;
            continue;
        }
        uint32_t j = i + 1;
        while (j <= kLastBiffColumn) {
            const TXLSColumn* next = columns.Items(static_cast<int>(j));
            if (!next || !next->SameAs(*c)) break;
            ++j;
        }
        uint16_t options = 0;
        if (c->Width() != kDefaultColumnWidth || c->UserSet()) options |= 0x0002;
        if (c->Hidden()) options |= 0x0001;
        options |= static_cast<uint16_t>(c->OutlineLevel() << 8);
        if (c->Collapsed()) options |= 0x1000;
        r.Clear()
            .U16(static_cast<uint16_t>(i))
            .U16(static_cast<uint16_t>(j - 1))
            .U16(static_cast<uint16_t>(c->Width()))
            .U16(static_cast<uint16_t>(c->FormatIndex()))
            .U16(options)
            .U16(0);
        stream_.WriteRecord(rec::COLINFO, r.View());
        i = j;
    }
}

void TBiffWriter::WriteRows(TSheet& sheet) {
    TXLSRows& rows = sheet.Rows();
    for (int i = 0; i < rows.Count(); ++i) {
        const TXLSRow& row = rows.Items(i);
        // A row number BIFF8 cannot hold would land on another row.
        if (row.Number() > kLastBiffRow) continue;
        const int xf = row.FormatIndex();
        uint16_t options = row.Options();
        options = xf != kDefaultCellFormat ? (options | kRowHasFormat) : (options & ~kRowHasFormat);
        options |= 0x0100;
        uint8_t* buffer = stream_.Reserve(20);
        Put16(buffer, rec::ROW);
        Put16(buffer + 2, 16);
        Put16(buffer + 4, row.Number());
        Put16(buffer + 6, row.FirstColumn());
        Put16(buffer + 8, std::min<uint16_t>(row.LastColumnPlus1(), 255));
        Put16(buffer + 10, row.Height());
        Put16(buffer + 12, 0);
        Put16(buffer + 14, 0);
        Put16(buffer + 16, options);
        Put16(buffer + 18, static_cast<uint32_t>(xf));
        stream_.Advance(20);
    }
}

void TBiffWriter::WriteCells(TSheet& sheet) {
    TRKRun run;
    uint32_t previous_row = UINT32_MAX;
    int visited = 0;
    const bool progress = static_cast<bool>(book_.OnProgress);
    auto it = sheet.Cells().Cells();
    try {
        for (TCellRef c = it.Next(); c; c = it.Next()) {
            ++visited;
            if (progress && visited % 100 == 0) book_.ProgressStep();
            // A run of RK numbers ends with its row, at a cell BIFF8 cannot hold and at any cell
            // other than a number.
            const TCell& cell = *c.cell;
            const bool fits = c.col <= kLastBiffColumn && c.row <= kLastBiffRow;
            if (!fits || c.row != previous_row || (cell.type != ctInteger && cell.type != ctFloat))
                run.Flush(stream_);
            if (!fits) continue;
            previous_row = c.row;
            PutCell(stream_, sheet, it, c, run, visited);
        }
        run.Flush(stream_);
    } catch (const std::exception& error) {
        throw EBiffWriteError("Error on writing record # " + std::to_string(visited) + "\r" + error.what());
    }
}

void TBiffWriter::WriteSheetObjects(TSheet& sheet) {
    const TMergedCells& merged = sheet.MergedCells();
    TRecordBuffer r;
    for (int first = 0; first < merged.Count(); first += kMergedPerRecord) {
        const int count = std::min(kMergedPerRecord, merged.Count() - first);
        r.Clear().U16(static_cast<uint16_t>(count));
        for (int i = first; i < first + count; ++i) {
            const TMergedArea& a = merged.Items(i);
            r.U16(static_cast<uint16_t>(a.row1))
                .U16(static_cast<uint16_t>(a.row2))
                .U16(static_cast<uint16_t>(a.col1))
                .U16(static_cast<uint16_t>(a.col2));
        }
        stream_.WriteRecord(rec::MERGEDCELLS, r.View());
    }
    const TSheetProtections protection = sheet.SheetProtection();
    if (!(protection == kAllSheetProtections)) {
        // Shared feature header: frt header (id, flags, 8 reserved bytes), feature type 2
        // (enhanced protection), a reserved byte, "no feature data" size, the allowed actions.
        r.Clear()
            .U16(rec::SHEETPROTECTION)
            .U16(0)
            .U32(0)
            .U32(0)
            .U16(0x0002)
            .U8(0)
            .U32(0xFFFFFFFF)
            .U16(static_cast<uint16_t>(protection.Mask() & 0x7FFF));
        stream_.WriteRecord(rec::SHEETPROTECTION, r.View());
    }
}

}  // namespace linograf::workbook
