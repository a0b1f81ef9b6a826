#include "workbook/biff/biff_writer.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "text/wide_text.h"
#include "workbook/biff/biff_record_buffer.h"
#include "workbook/model/biff_records.h"
#include "workbook/model/palette.h"
#include "workbook/model/record_storage.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook {
namespace {

// The built-in styles a workbook without styles of its own gets: XF index with bit 15 set,
// built-in style number, outline level.
struct BuiltInStyle {
    uint16_t xf;
    uint8_t number;
};
constexpr BuiltInStyle kBuiltInStyles[] = {
    {0x8010, 3}, {0x8011, 6}, {0x8012, 4}, {0x8013, 7}, {0x8000, 0}, {0x8014, 5},
};

std::string WrapMessage(int index, const std::exception& error) {
    return "Error on writing record # " + std::to_string(index) + "\r" + error.what();
}

}  // namespace

TBiffWriter::TBiffWriter(TTabulon4& book) : book_(book) {}

void TBiffWriter::Write(TStream* target) {
    PrepareDirectory();
    stream_.OpenForWrite(WideToUtf8(book_.Filename()), target, &book_.ExtraObjects());
    if (book_.Globals().Count() == 0) book_.Globals().CopyDefaults();
    WriteGlobals();
    for (int i = 0; i < book_.Sheets().Count(); ++i) {
        TSheet& sheet = book_.Sheet(i);
        sheet_index_ = i;
        if (sheet.Kind() == kChartSheetKind) {
            PatchBoundsheet(i);
            for (int r = 0; r < sheet.Records().Count(); ++r) {
                const TRawRecord& entry = sheet.Records().Items(r);
                stream_.WriteRecord(entry.id, entry.data.data(), entry.data.size());
            }
            continue;
        }
        sheet.Records().SetU16(rec::PROTECT, 0, sheet.SheetProtection() == kAllSheetProtections ? 0 : 1);
        sheet.CalcDimensions();
        if (!sheet.Records().DefaultsCopied()) sheet.Records().CopyDefaults();
        sheet_index_ = i;
        PatchBoundsheet(i);
        WriteSheet(sheet);
    }
    stream_.Close();
    directory_.clear();
}

// One directory entry per sheet; the selected sheet's window is marked as such.
void TBiffWriter::PrepareDirectory() {
    directory_.clear();
    const uint16_t selected = book_.Workbook().SelectedTab();
    for (int i = 0; i < book_.Sheets().Count(); ++i) {
        TSheet& sheet = book_.Sheet(i);
        uint16_t options = sheet.Records().U16(rec::WINDOW2, 0);
        options = i == selected ? (options | 0x0200) : (options & ~0x0200);
        sheet.Records().SetU16(rec::WINDOW2, 0, options);
        // A chart sheet writes only the records it was read with: cells put on it would be lost.
        if (sheet.Kind() == kChartSheetKind && !sheet.Cells().Empty())
            throw EBiffWriteError("Cells cannot be written to the chart sheet \"" + WideToUtf8(sheet.Name()) +
                                  "\"");
        // BOUNDSHEET sheet types: worksheet 0, macro module 6, macro sheet 1, chart 2.
        const uint8_t type = sheet.Kind() == 1                 ? 6
                             : sheet.Kind() == 2               ? 1
                             : sheet.Kind() == kChartSheetKind ? 2
                                                               : 0;
        directory_.push_back({type, static_cast<uint8_t>(sheet.Hidden()), sheet.Name(), 0});
    }
}

void TBiffWriter::WriteGlobals() {
    TRecordStorageGlobals& globals = book_.Globals();
    for (int i = 0; i < globals.Count(); ++i) {
        try {
            WriteGlobalsEntry(globals.Items(i));
        } catch (const std::exception& error) {
            throw EBiffWriteError(WrapMessage(i, error));
        }
    }
}

void TBiffWriter::WriteGlobalsEntry(const TRawRecord& entry) {
    switch (entry.id) {
        case rec::WRITEACCESS: {
            stream_.WriteRecord(entry.id, entry.data.data(), entry.data.size());
            const std::vector<uint8_t>& block = book_.ReadOnlyBlock();
            if (block.size() > 1) stream_.WriteRecord(rec::FILESHARING, block.data(), block.size());
            break;
        }
        case rec::TABID:
            if (entry.data.empty()) {
                TRecordBuffer ids;
                for (int i = 1; i <= book_.Sheets().Count(); ++i) ids.U16(static_cast<uint16_t>(i));
                stream_.WriteRecord(rec::TABID, ids.View());
            } else {
                stream_.WriteRecord(entry.id, entry.data.data(), entry.data.size());
            }
            break;
        case rec::OBPROJ:
            if (book_.PreserveMacros()) stream_.WriteRecord(rec::OBPROJ, nullptr, 0);
            break;
        case kPlaceholderFormats:
            WriteFormatRecords();
            break;
        case kPlaceholderBoundsheets:
            WriteBoundsheets();
            break;
        case kPlaceholderNames:
        case kPlaceholderDrawingGroup:
            // External references, names and pictures: this program's workbooks have none.
            break;
        case kPlaceholderSST:
            WriteSST();
            for (const TRawRecord& r : book_.OpenXmlOnlyRecords())
                stream_.WriteRecord(r.id, r.data.data(), r.data.size());
            break;
        default:
            stream_.WriteRecord(entry.id, entry.data.data(), entry.data.size());
            break;
    }
}

void TBiffWriter::WriteFormatRecords() {
    WriteFonts();
    WriteNumberFormats();
    TCellFormats& formats = book_.Formats();
    for (int i = 0; i < formats.Count(); ++i) {
        const auto& bytes = formats.Items(i).Bytes();
        stream_.WriteRecord(rec::XF, bytes.data(), bytes.size());
    }
    WriteStyles();
    WritePalette();
}

// Font index 4 does not exist in BIFF; the font at list position 4 is never written, so list
// positions and file indices agree.
void TBiffWriter::WriteFonts() {
    TXFonts& fonts = book_.Fonts();
    TRecordBuffer r;
    for (int i = 0; i < fonts.Count(); ++i) {
        if (i == 4) continue;
        const TXFont& f = fonts.Items(i);
        const std::u16string_view name = std::u16string_view(f.name).substr(0, 255);
        uint16_t options = 0;
        if (f.style.Contains(xfsItalic)) options |= 0x0002;
        if (f.style.Contains(xfsStrikeOut)) options |= 0x0008;
        uint8_t underline = 0;
        switch (f.underline) {
            case xulNone:
                underline = 0;
                break;
            case xulSingle:
                underline = 1;
                break;
            case xulDouble:
                underline = 2;
                break;
            case xulSingleAccount:
                underline = 0x21;
                break;
            case xulDoubleAccount:
                underline = 0x22;
                break;
        }
        r.Clear()
            .U16(static_cast<uint16_t>(f.height))
            .U16(options)
            .U16(f.color == 0 ? 0x7FFF : (f.color & 0x7F))
            .U16(f.style.Contains(xfsBold) ? 700 : 400)
            .U16(static_cast<uint16_t>(f.sub_superscript))
            .U8(underline)
            .U8(f.family)
            .U8(f.charset)
            .U8(0)
            .U8(static_cast<uint8_t>(name.size()))
            .U8(0x01)
            .Wide(name);
        stream_.WriteRecord(rec::FONT, r.View());
    }
}

// "General" (position 0) is implied; built-in formats nothing uses carry a negative count.
void TBiffWriter::WriteNumberFormats() {
    TNumberFormats& formats = book_.Formats().NumberFormats();
    TRecordBuffer r;
    for (int i = 1; i < formats.Count(); ++i) {
        const TNumberFormat& f = formats.Items(i);
        if (f.UseCount() < 0) continue;
        r.Clear()
            .U16(static_cast<uint16_t>(f.Id()))
            .U16(static_cast<uint16_t>(f.Text().size()))
            .U8(0x01)
            .Wide(f.Text());
        stream_.WriteRecord(rec::FORMAT, r.View());
    }
}

void TBiffWriter::WriteStyles() {
    TRecordBuffer r;
    if (!book_.HasOwnStyles()) {
        for (const BuiltInStyle& s : kBuiltInStyles) {
            r.Clear().U16(s.xf).U8(s.number).U8(0xFF);
            stream_.WriteRecord(rec::STYLE, r.View());
        }
        return;
    }
    // A stored style goes out with the length its own layout gives: 4 bytes for a built-in
    // style, else the XF word, the name's character count and option byte and its characters.
    for (const TRawRecord& s : book_.NamedStyles()) {
        std::vector<uint8_t> data = s.data;
        data.resize(std::max<size_t>(data.size(), 4), 0);
        size_t length = 4;
        const uint16_t xf = static_cast<uint16_t>(data[0] | (data[1] << 8));
        if (!(xf & 0x8000)) {
            const size_t chars = data[2] | (data[3] << 8);
            if (chars > 0) {
                const bool wide = data.size() > 4 && (data[4] & 1);
                length = 4 + (wide ? 2 * chars : chars) + 1;
            }
        }
        data.resize(length, 0);
        stream_.WriteRecord(rec::STYLE, data.data(), data.size());
    }
}

void TBiffWriter::WritePalette() {
    if (!PaletteIsCustom()) return;
    TRecordBuffer r;
    r.U16(56);
    for (int i = 8; i < 64; ++i) r.U32(Palette()[i]);
    stream_.WriteRecord(rec::PALETTE, r.View());
}

// BOUNDSHEET, one per sheet, in the globals; the sheet's substream position is patched in once the
// sheet is written (PatchBoundsheet).
//
//   OFFSET  SIZE  DESCRIPTION
//   0       4     stream position of the sheet's BOF record
//   4       1     visibility: 0 visible, 1 hidden, 2 very hidden
//   5       1     sheet type: 0 worksheet, 1 macro sheet, 2 chart, 6 VB module
//   6       1     name length in characters (1..255)
//   7       1     option byte: 0 compressed 8-bit characters, 1 UTF-16LE
//   8       var   the name's characters (we always write UTF-16LE)
void TBiffWriter::WriteBoundsheets() {
    TRecordBuffer r;
    for (TBoundsheet& b : directory_) {
        const std::u16string_view name = std::u16string_view(b.name).substr(0, 255);
        b.position_field = stream_.Position() + 4;
        r.Clear().U32(0).U8(b.hidden).U8(b.type).U8(static_cast<uint8_t>(name.size())).U8(0x01).Wide(name);
        stream_.WriteRecord(rec::BOUNDSHEET, r.View());
    }
}

void TBiffWriter::PatchBoundsheet(int index) {
    if (index < 0 || index >= static_cast<int>(directory_.size()) || directory_[index].position_field == 0)
        return;
    stream_.PatchU32(directory_[index].position_field, static_cast<uint32_t>(stream_.Position()));
}

}  // namespace linograf::workbook
