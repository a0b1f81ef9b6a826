// TBiffReader: the records of a sheet substream other than cells (rows, columns, window,
// merged areas, print settings, protection).
#include <cstring>

#include "workbook/biff/biff_reader.h"
#include "workbook/model/biff_records.h"
#include "workbook/model/process_values.h"
#include "workbook/model/record_storage.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook {
namespace {

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

// A sheet's own records in three groups: its layout (rows, columns, extent, window), its print
// settings, and what lies on it besides cells. The groups take disjoint record ids; false leaves
// the record to the template list as it is.
bool TBiffReader::DispatchSheet() {
    TSheet* sheet = CurrentSheet();
    if (!sheet) return false;
    return SheetLayoutRecord(*sheet) || SheetPrintRecord(*sheet) || SheetContentRecord(*sheet);
}

bool TBiffReader::SheetLayoutRecord(TSheet& sheet) {
    switch (id_) {
        case rec::ROW:
            consumed_ = true;
            PlaceCells();
            sheet.Rows().LoadFromRecord(Data());
            return true;
        case rec::COLINFO:
            if (biff_ < 5) return false;
            consumed_ = true;
            Place(kPlaceholderColInfo);
            sheet.Columns().LoadFromRecord(Data());
            return true;
        case rec::DIMENSIONS:
        case rec::DIMENSIONS2:
            Dimensions();
            return true;
        case rec::WINDOW2: {
            consumed_ = true;
            if (biff_ < 5) return true;
            // A worksheet's or macro sheet's WINDOW2 has 18 bytes in BIFF8. BIFF5's, and a damaged
            // file's in the 10-byte layout of chart sheets, end before the zoom fields the model
            // reads and writes; zero there is the default zoom.
            std::vector<uint8_t> d(Data().begin(), Data().end());
            if (d.size() < 18) d.resize(18, 0);
            Store(rec::WINDOW2, d);
            return true;
        }
        case rec::SELECTION:
            // The writer writes one selection (cell A1) per sheet; further ones (of split or
            // frozen panes) would only repeat it.
            consumed_ = true;
            if (biff_ >= 5 && !selection_kept_) {
                selection_kept_ = true;
                Store(rec::SELECTION, Data());
            }
            return true;
        case rec::PANE:
            if (U8(8) > 3) throw std::runtime_error("Value out of range");
            return false;
        default:
            return false;
    }
}

void TBiffReader::Dimensions() {
    consumed_ = true;
    if (biff_ < 5 || (id_ == rec::DIMENSIONS2 && (biff_ == 5 || special_bof_))) return;
    if (biff_ == 8) {
        Store(rec::DIMENSIONS, Data());
        return;
    }
    // BIFF5 holds 16-bit rows; BIFF8 has 32-bit ones.
    std::vector<uint8_t> d(14, 0);
    Put16(d.data(), U16(0));
    Put16(d.data() + 4, U16(2));
    Put16(d.data() + 8, U16(4));
    Put16(d.data() + 10, U16(6));
    Store(rec::DIMENSIONS, d);
}

bool TBiffReader::SheetPrintRecord(TSheet& sheet) {
    switch (id_) {
        case rec::HEADER:
        case rec::FOOTER:
            consumed_ = true;
            if (biff_ < 5) return true;
            Header(id_ == rec::FOOTER);
            return true;
        case rec::LEFTMARGIN:
        case rec::RIGHTMARGIN:
        case rec::TOPMARGIN:
        case rec::BOTTOMMARGIN: {
            consumed_ = true;
            if (biff_ < 5) return true;
            Place(kPlaceholderMargins);
            const double value = F64(0);
            TPrintSettings& p = sheet.PrintSettings();
            (id_ == rec::LEFTMARGIN    ? p.margin_left
             : id_ == rec::RIGHTMARGIN ? p.margin_right
             : id_ == rec::TOPMARGIN   ? p.margin_top
                                       : p.margin_bottom) = value;
            return true;
        }
        case rec::HORIZONTALPAGEBREAKS:
        case rec::VERTICALPAGEBREAKS:
            consumed_ = true;
            PageBreaks(id_ == rec::HORIZONTALPAGEBREAKS);
            return true;
        default:
            return false;
    }
}

bool TBiffReader::SheetContentRecord(TSheet& sheet) {
    switch (id_) {
        case rec::MERGEDCELLS:
            MergedCells();
            return true;
        case rec::NOTE:
            if (biff_ >= 5) return false;
            consumed_ = true;
            return true;
        case rec::SHEETEXT:
            if (length_ > 16) sheet.SetTabColor(U8(16));
            return false;
        case rec::SHEETPROTECTION:
            consumed_ = true;
            sheet.SetSheetProtection(TSheetProtections::FromMask(U16(19) & 0x7FFF));
            return true;
        case rec::SHRFMLA:
        case rec::SHRFMLA5:
        case rec::ARRAY:
        case rec::TABLE:
        case rec::STRING:
            // Parts of formula cells, taken with the FORMULA they follow; one found on its own has
            // no cell to belong to, and the writer generates what the cells need.
            consumed_ = true;
            return true;
        default:
            return false;
    }
}

void TBiffReader::MergedCells() {
    consumed_ = true;
    Place(kPlaceholderSheetObjects);
    const size_t count = U16(0);
    Need(2 + 8 * count);
    for (size_t i = 0; i < count; ++i) {
        const size_t at = 2 + 8 * i;
        const int32_t row1 = U16(at), row2 = U16(at + 2), col1 = U16(at + 4), col2 = U16(at + 6);
        if (row1 <= row2 && col1 <= col2) CurrentSheet()->MergedCells().Add(col1, row1, col2, row2);
    }
}

void TBiffReader::Header(bool footer) {
    Place(kPlaceholderHeaderFooter);
    std::u16string text;
    if (length_ > 0) {
        size_t at = 0;
        text = biff_ == 8 ? WideString(at, false) : ByteString(at, true);
    }
    (footer ? CurrentSheet()->PrintSettings().footer : CurrentSheet()->PrintSettings().header) =
        std::move(text);
}

void TBiffReader::PageBreaks(bool horizontal) {
    Place(kPlaceholderPageBreaks);
    if (biff_ < 5) return;
    TPrintSettings& p = CurrentSheet()->PrintSettings();
    std::vector<TPageBreak>& breaks = horizontal ? p.horiz_pagebreaks : p.vert_pagebreaks;
    const size_t count = U16(0);
    // Stored one below the file's values; the writer adds the one back.
    if (biff_ == 8) {
        Need(2 + 6 * count);
        for (size_t i = 0; i < count; ++i) {
            const size_t at = 2 + 6 * i;
            breaks.push_back({uint32_t{U16(at)} - 1, uint32_t{U16(at + 2)} - 1, uint32_t{U16(at + 4)} - 1});
        }
    } else {
        Need(2 + 2 * count);
        const uint32_t last = horizontal ? 255 : static_cast<uint32_t>(LastRow());
        for (size_t i = 0; i < count; ++i) breaks.push_back({uint32_t{U16(2 + 2 * i)} - 1, 0, last});
    }
}

}  // namespace linograf::workbook
