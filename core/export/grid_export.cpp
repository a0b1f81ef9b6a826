#include "core/export/grid_export.h"

#include <cstdio>
#include <memory>

#include "core/export/export_tokens.h"
#include "core/export/header_layout.h"
#include "core/silent_abort.h"
#include "text/cp1251.h"
#include "text/wide_text.h"
#include "workbook/model/columns.h"
#include "workbook/model/format_changes.h"
#include "workbook/model/range.h"
#include "workbook/model/sheet.h"
#include "workbook/model/tabulon4.h"

namespace linograf {
namespace {

using namespace workbook;

constexpr int kFallbackWidth = 100;
// Tables narrower than this many pixels are printed upright.
constexpr int kPortraitWidthLimit = 850;

TExcelVersion VersionFor(const std::u16string& file_name) {
    const size_t slash = file_name.find_last_of(u"/\\");
    const size_t dot = file_name.rfind(u'.');
    if (dot == std::u16string::npos || (slash != std::u16string::npos && dot < slash)) return xvExcel97;
    const std::u16string ext = file_name.substr(dot);
    return ext == u".xlsx" ? xvExcel2007 : xvExcel97;
}

// Thin lines around and inside the block of the sheet's range selection. Every position of the
// block must already hold a cell (an earlier setter on the same block filled it): each outline
// side is then drawn on its edge row or column alone, which changes the same cells in the same
// order as on the whole block, without walking all of it again only to find nothing to fill.
void ThinBorders(TSheet& sheet) {
    TXLSRange& range = sheet.Range();
    const int c1 = range.Col1(), r1 = range.Row1(), c2 = range.Col2(), r2 = range.Row2();
    range.Items(c1, r1, c2, r1).SetBorderTopStyle(cbsThin);
    range.Items(c1, r2, c2, r2).SetBorderBottomStyle(cbsThin);
    range.Items(c1, r1, c1, r2).SetBorderLeftStyle(cbsThin);
    range.Items(c2, r1, c2, r2).SetBorderRightStyle(cbsThin);
    range.Items(c1, r1, c2, r2);
    range.SetBorderInsideHorizStyle(cbsThin);
    range.SetBorderInsideVertStyle(cbsThin);
}

// Index of the first key equal to the text, letter case ignored; -1 when none is.
int KeyIndex(const std::vector<std::string>& keys, const std::string& text) {
    for (size_t i = 0; i < keys.size(); ++i)
        if (Cp1251EqualsIgnoreCase(keys[i], text)) return static_cast<int>(i);
    return -1;
}

class TGridExport {
  public:
    TGridExport(TGridExportSource& grid, TExportProgress* progress) : grid_(grid), progress_(progress) {}

    void Run(const std::u16string& file_name, const std::string& title, TDateTime now) {
        book_.SetVersion(VersionFor(file_name));
        TSheet& sheet = book_.Sheet(0);
        sheet.SetAsWideString(0, 0, Cp1251ToUtf16(title + " " + FormatExportStamp(now)));
        sheet.Columns().AddIfNone(0, grid_.ColumnCount() + 1);

        for (int i = 0; i < grid_.ColumnCount(); ++i) {
            const TExportColumn& column = grid_.Column(i);
            if (column.visible && !column.has_pictures) exported_.push_back(i);
        }
        const int count = static_cast<int>(exported_.size());
        std::vector<std::string> titles;
        int table_width = 0;
        for (int c = 0; c < count; ++c) {
            titles.push_back(grid_.Column(exported_[c]).title);
            int width = kFallbackWidth;
            try {
                width = grid_.ColumnWidth(exported_[c]);
                sheet.Columns().Items(c)->SetPixelWidth(width);
            } catch (const std::exception&) {
                width = kFallbackWidth;
                sheet.Columns().Items(c)->SetPixelWidth(kFallbackWidth);
            }
            table_width += width;
        }

        const THeaderLayout header = LayoutHeader(titles, 2);
        for (const THeaderMerge& m : header.merges)
            sheet.Range().Items(m.col1, m.row1, m.col2, m.row2).SetMerged(true);
        for (const THeaderCell& cell : header.cells)
            sheet.SetAsWideString(static_cast<uint32_t>(cell.col), static_cast<uint32_t>(cell.row),
                                  Cp1251ToUtf16(cell.text));
        const int last_header_row = header.levels + 1;
        const std::u16string font_name = Cp1251ToUtf16(grid_.FontName());
        const int font_size = grid_.FontSize();
        if (count > 0) {
            TXLSRange& range = sheet.Range().Items(0, 2, count - 1, last_header_row);
            range.SetTextFlags({tfWrapText});
            range.SetFontName(font_name);
            range.SetFontSize(font_size);
            range.SetFontStyle({xfsBold});
            range.SetHorizAlignment(haCenter);
            range.SetVertAlignment(vaCenter);
            ThinBorders(sheet);
        }

        row_ = static_cast<uint32_t>(last_header_row + 1);
        WriteRows();

        if (count > 0) {
            TXLSRange& range = sheet.Range().Items(0, last_header_row, count - 1, static_cast<int>(row_) - 1);
            range.SetFontName(font_name);
            range.SetFontSize(font_size);
            ThinBorders(sheet);
        }
        sheet.PrintSettings().SetOptions({});
        if (table_width < kPortraitWidthLimit) sheet.PrintSettings().SetOptions({psoPortrait});

        book_.SetFilename(file_name);
        book_.Write();
    }

  private:
    // The table's cursor and its grids' refreshing are given back whatever happens.
    void WriteRows() {
        grid_.SaveCursor();
        grid_.DisableControls();
        try {
            const int selected = grid_.SelectedCount();
            if (selected > 0) {
                if (progress_) progress_->SetMax(selected);
                for (int i = 0; i < selected; ++i) {
                    grid_.GotoSelected(i);
                    WriteRow();
                    Advance();
                }
            } else {
                grid_.Last();
                grid_.First();
                if (progress_) progress_->SetMax(grid_.RecordCount());
                while (!grid_.Eof()) {
                    WriteRow();
                    Advance();
                    grid_.Next();
                }
            }
        } catch (...) {
            Restore();
            throw;
        }
        Restore();
    }

    void Restore() {
        try {
            grid_.RestoreCursor();
        } catch (...) {
            grid_.EnableControls();
            throw;
        }
        grid_.EnableControls();
    }

    void Advance() {
        if (!progress_) return;
        progress_->Step();
        progress_->ProcessMessages();
        if (progress_->CancelRequested()) throw EAbort();
    }

    void WriteRow() {
        TSheet& sheet = book_.Sheet(0);
        for (uint32_t c = 0; c < exported_.size(); ++c) {
            const int i = exported_[c];
            const TExportColumn& column = grid_.Column(i);
            if (!column.pick_list.empty()) {
                const int64_t p = column.key_list.empty() ? grid_.AsInteger(i)
                                                          : KeyIndex(column.key_list, grid_.AsString(i));
                if (p >= 0 && p < static_cast<int64_t>(column.pick_list.size()))
                    sheet.SetAsWideString(c, row_, Cp1251ToUtf16(column.pick_list[static_cast<size_t>(p)]));
                continue;
            }
            switch (column.kind) {
                case TExportKind::ekText:
                    sheet.SetAsWideString(c, row_,
                                          column.text_is_utf8 ? Utf8ToWide(grid_.AsString(i))
                                                              : Cp1251ToUtf16(grid_.AsString(i)));
                    break;
                case TExportKind::ekInteger:
                    sheet.SetAsInteger(c, row_,
                                       static_cast<int32_t>(static_cast<uint32_t>(grid_.AsInteger(i))));
                    break;
                case TExportKind::ekFloat:
                    sheet.SetAsFloat(c, row_, grid_.AsFloat(i));
                    break;
                case TExportKind::ekDateTime:
                    if (grid_.IsNull(i)) break;
                    sheet.SetAsDateTime(c, row_, grid_.AsFloat(i));
                    if (!column.number_format.empty()) {
                        if (TCell* cell = sheet.Cells().Find(c, row_))
                            cell->xf =
                                WithNumberFormat(sheet.Workbook().Formats(), cell->xf, column.number_format);
                    }
                    break;
                case TExportKind::ekOther:
                    sheet.SetAsVariant(c, row_, grid_.AsVariant(i));
                    break;
                case TExportKind::ekUnbound:
                    sheet.SetAsWideString(c, row_, Cp1251ToUtf16(grid_.DisplayText(i)));
                    break;
            }
        }
        ++row_;
    }

    TGridExportSource& grid_;
    TExportProgress* progress_;
    TTabulon4 book_;
    std::vector<int> exported_;  // grid column of each output column
    uint32_t row_ = 0;
};

}  // namespace

std::string FormatExportStamp(TDateTime when) {
    const DateTimeParts p = DecodeDateTime(when);
    char text[32];
    std::snprintf(text, sizeof text, "%02d.%02d.%02d %02d:%02d", p.day % 100, p.month % 100, p.year % 100,
                  p.hour % 100, p.minute % 100);
    return text;
}

void ExportGrid(const std::u16string& file_name, TGridExportSource& grid, const std::string& title,
                TExportProgress* progress, TDateTime now) {
    TGridExport(grid, progress).Run(file_name, title, now);
}

}  // namespace linograf
