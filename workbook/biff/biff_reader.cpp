// TBiffReader: the record loop, the substream structure (BOF, EOF, BOUNDSHEET), the
// workbook-globals records and the settings records kept through the template lists.
#include "workbook/biff/biff_reader.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "text/wide_text.h"
#include "workbook/biff/biff_string.h"
#include "workbook/model/biff_records.h"
#include "workbook/model/palette.h"
#include "workbook/model/process_values.h"
#include "workbook/model/record_storage.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook {
namespace {

// Records of later Excel versions that a BIFF8 file may carry in its globals; the writer puts
// them back after the shared string table.
constexpr uint16_t kFutureRecords[] = {
    rec::BOOKEXT,  rec::XFCRC, rec::XFEXT,       rec::COMPAT12,         rec::TABLESTYLES,
    rec::STYLEEXT, rec::THEME, rec::MTRSETTINGS, rec::COMPRESSPICTURES, rec::FORCEFULLCALCULATION};

constexpr size_t kWriteAccessSize = 112;

bool IsBof(uint16_t id) {
    return (id & 0xFF) == 0x09;
}

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return Get16(p) | (uint32_t{Get16(p + 2)} << 16);
}
void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

// A BIFF5 XF (16 bytes) in the BIFF8 layout (20 bytes): font, number format and type words
// stay; alignment, orientation, used-attribute flags, borders and fill move to their new places.
std::vector<uint8_t> XfFromBiff5(std::span<const uint8_t> d) {
    std::vector<uint8_t> x(20, 0);
    std::memcpy(x.data(), d.data(), 6);
    x[6] = d[6] & 0x7F;  // horizontal alignment, wrap, vertical alignment
    static constexpr uint8_t kRotation[4] = {0, 255, 90, 180};
    x[7] = kRotation[d[7] & 3];
    x[9] = d[7] & 0xFC;  // used-attribute flags
    const uint32_t fill = Get32(d.data() + 8), lines = Get32(d.data() + 12);
    const uint32_t fore = fill & 0x7F, back = (fill >> 7) & 0x7F, pattern = (fill >> 16) & 0x3F;
    const uint32_t bottom_style = (fill >> 22) & 7, bottom_color = (fill >> 25) & 0x7F;
    const uint32_t top_style = lines & 7, left_style = (lines >> 3) & 7, right_style = (lines >> 6) & 7;
    const uint32_t top_color = (lines >> 9) & 0x7F, left_color = (lines >> 16) & 0x7F,
                   right_color = (lines >> 23) & 0x7F;
    Put32(x.data() + 10, left_style | (right_style << 4) | (top_style << 8) | (bottom_style << 12) |
                             (left_color << 16) | (right_color << 23));
    Put32(x.data() + 14, top_color | (bottom_color << 7) | (pattern << 26));
    Put16(x.data() + 18, fore | (back << 7));
    return x;
}

// A BIFF8 string of 16-bit characters: character count (u16), the option byte 0x01 and the
// characters.
std::vector<uint8_t> WideBiff8String(std::u16string_view text) {
    std::vector<uint8_t> d = {static_cast<uint8_t>(text.size()), static_cast<uint8_t>(text.size() >> 8),
                              0x01};
    for (char16_t c : text) {
        d.push_back(static_cast<uint8_t>(c));
        d.push_back(static_cast<uint8_t>(c >> 8));
    }
    return d;
}

}  // namespace

TBiffReader::TBiffReader(TTabulon4& book) : book_(book), decoder_(std::make_unique<TCodePageDecoder>()) {}

TBiffReader::~TBiffReader() = default;

void TBiffReader::ReadWorkbook(TStream* source) {
    boundsheets_.clear();
    next_substream_ = -1;
    sheet_index_ = -1;
    globals_ = TGlobals::kNotBegun;
    biff_ = input_.Open(WideToUtf8(book_.Filename()), source, &book_.ExtraObjects());
    book_.SetVersion(biff_ == 8   ? xvExcel97
                     : biff_ == 5 ? xvExcel50
                     : biff_ == 4 ? xvExcel40
                     : biff_ == 3 ? xvExcel30
                                  : xvExcel21);
    limit_ = static_cast<size_t>(book_.RecordLimit());
    last_col_ = static_cast<uint32_t>(LastColumn());
    last_row_ = static_cast<uint32_t>(LastRow());
    list_ = &book_.Globals();
    // The load index points at entries that cells own once the read is over, successful or not,
    // and that a later release may free.
    struct TLoadIndexEnd {
        TSST2& sst;
        ~TLoadIndexEnd() { sst.ClearLoadIndex(); }
    } load_index_end{book_.SST()};
    book_.SST().ClearLoadIndex();
    if (biff_ <= 2)
        for (int i = 0; i < 16; ++i) book_.Formats().Add();
    FixFormats();

    long last_percent = 0;
    if (book_.OnProgress) book_.OnProgress(0);
    auto wrap = [this](uint16_t id, const char* message) {
        char head[96];
        std::snprintf(head, sizeof head, "Error on reading record # %d, %.4X Offs: %.8X\r", record_number_,
                      static_cast<unsigned>(id), static_cast<unsigned>(input_.Position()));
        return head + std::string(message);
    };
    uint16_t id, length;
    bool finished = false;
    while (input_.ReadHeader(id, length)) {
        bool go_on = true;
        try {
            if ((id & 0x8000) || length > limit_) throw std::runtime_error("Bad record in file");
            data_ = input_.Take(length);
            id_ = id;
            length_ = length;
            if (book_.OnProgress && input_.Size() > 0) {
                const long percent = std::lround(static_cast<double>(input_.Position()) * 100.0 /
                                                 static_cast<double>(input_.Size()));
                if (percent > last_percent) {
                    last_percent = percent;
                    book_.OnProgress(static_cast<int>(percent));
                }
            }
            // Custom views describe windows and print setups the model does not keep.
            if (skipping_views_) {
                if (id == rec::USERSVIEWEND) skipping_views_ = false;
                continue;
            }
            if (id == rec::USERSVIEWBEGIN) {
                skipping_views_ = true;
                continue;
            }
            if (FastCell()) {
                ++record_number_;
                continue;
            }
            consumed_ = false;
            go_on = Dispatch();
            if (!consumed_) list_->AddRaw(id_, Data());
        } catch (const std::exception& error) {
            throw EBiffReadError(wrap(id, error.what()));
        }
        ++record_number_;
        if (!go_on) {
            finished = true;
            break;
        }
    }
    // A file cut short must not read as a complete, smaller workbook.
    if (!finished) throw EBiffReadError(wrap(id_, "Unexpected end of file"));
    if (book_.OnProgress) book_.OnProgress(100);
    input_.Close();
    data_ = next_ = nullptr;
}

bool TBiffReader::Dispatch() {
    if (IsBof(id_)) return Bof();
    if (id_ == rec::EOF_) return Eof();
    if (DispatchSettings() || DispatchCell()) return true;
    if (in_sheet_ ? DispatchSheet() : DispatchGlobals()) return true;
    switch (id_) {
        case rec::DBCELL:
        case rec::INDEX:
        case rec::EXTSST:
        case rec::USERBVIEW:
        case rec::MSODRAWINGSELECTION:
            // Regenerated by the writer, or describing what the model does not keep.
            consumed_ = true;
            break;
        default:
            break;
    }
    return true;
}

bool TBiffReader::DispatchGlobals() {
    switch (id_) {
        case rec::FONT:
        case rec::FONT34:
            Font();
            return true;
        case rec::FORMAT:
            Format();
            return true;
        case rec::XF:
        case rec::XF3:
        case rec::XF4:
            Xf();
            return true;
        case rec::STYLE:
            Style();
            return true;
        case rec::PALETTE:
            Palette();
            return true;
        case rec::BOUNDSHEET:
            if (biff_ < 5) return false;
            Boundsheet();
            return true;
        case rec::SST:
            if (biff_ < 8) return false;
            Sst();
            return true;
        case rec::FILESHARING:
            consumed_ = true;
            book_.ReadOnlyBlock().assign(Data().begin(), Data().end());
            return true;
        case rec::FILEPASS:
            FilePass();
            return true;
        case rec::EXTERNSHEET:
            // Its sheet references would point at the wrong sheets in a file written after a
            // special BOF.
            if (special_bof_) consumed_ = true;
            return consumed_;
        default:
            break;
    }
    if (biff_ == 8 && sheet_index_ < 0) {
        for (uint16_t future : kFutureRecords) {
            if (id_ != future) continue;
            consumed_ = true;
            book_.OpenXmlOnlyRecords().push_back({id_, std::vector<uint8_t>(Data().begin(), Data().end())});
            return true;
        }
    }
    return false;
}

bool TBiffReader::DispatchSettings() {
    switch (id_) {
        case rec::CALCCOUNT:
        case rec::CALCMODE:
        case rec::PRECISION:
        case rec::REFMODE:
        case rec::DELTA:
        case rec::ITERATION:  // calculation
        case rec::WINDOWPROTECT:
        case rec::PRINTHEADERS:
        case rec::PRINTGRIDLINES:
        case rec::BACKUP:
        case rec::DEFCOLWIDTH:
        case rec::SAVERECALC:
        case rec::GUTS:
        case rec::GRIDSET:
        case rec::HCENTER:
        case rec::VCENTER:
        case rec::HIDEOBJ:
        case rec::SETUP:
        case rec::DEFAULTROWHEIGHT:
        case rec::TABID:
            consumed_ = true;
            if (biff_ >= 5) Store(id_, Data());
            return true;
        case rec::PROTECT:
        case rec::FNGROUPCOUNT:
        case rec::DSF:
        case rec::PROT4REV:
        case rec::REFRESHALL:
        case rec::RECALCID:
            Store(id_, Data());
            return true;
        case rec::PASSWORD:
            // A sheet's password belongs to the sheet's own protection, kept as it is.
            if (sheet_index_ >= 0) return false;
            Store(id_, Data());
            return true;
        case rec::DATEMODE:
            // The same two bytes in every version: the 1904 date system of a Mac workbook of any
            // age stays, so its date numbers keep their days, and dates put into it count from 1904.
            Store(id_, Data());
            book_.SetDate1904(Data().size() >= 2 && U16(0) == 1);
            return true;
        case rec::CODEPAGE:
            CodePage();
            return true;
        case rec::WINDOW1:
            consumed_ = true;
            if (biff_ == 8) Store(id_, Data());
            return true;
        case rec::WRITEACCESS: {
            consumed_ = true;
            if (biff_ < 5) return true;
            if (biff_ == 8) {
                std::vector<uint8_t> d(Data().begin(), Data().end());
                if (d.size() < kWriteAccessSize) d.resize(kWriteAccessSize, 0x20);
                Store(id_, d);
            } else if (length_ > 0) {
                // BIFF5: a byte-counted 8-bit name, in the code page of the CODEPAGE record that
                // usually follows it; decoded now and again when that record comes.
                const size_t count = std::min<size_t>(U8(0), length_ - 1);
                write_access_name_.assign(data_ + 1, data_ + 1 + static_cast<std::ptrdiff_t>(count));
                Store(id_, WriteAccessRecord());
            }
            return true;
        }
        case rec::WSBOOL:
            if (!in_sheet_) return false;
            consumed_ = true;
            if (biff_ >= 5) Store(id_, Data());
            return true;
        case rec::COUNTRY:
            consumed_ = true;
            if (biff_ == 8 && !special_bof_) Store(id_, Data());
            return true;
        case rec::BOOKBOOL:
            consumed_ = true;
            if (biff_ >= 5) Store(id_, Data());
            Place(kPlaceholderFormats);
            return true;
        default:
            return false;
    }
}

bool TBiffReader::HasDefault(uint16_t id) const {
    return static_cast<const TDefaultRecordStorage*>(list_)->HasNamed(id);
}

void TBiffReader::Store(uint16_t id, std::span<const uint8_t> data) {
    consumed_ = true;
    if (!HasDefault(id) || placed_[id]) {
        list_->AddRaw(id, data);
        return;
    }
    placed_[id] = true;
    // The model and the writer reach a named record through fields at fixed offsets. A damaged
    // file's shorter record of fixed size is filled up with zeros to its size, so the workbook
    // read can be written again instead of failing at every write.
    std::vector<uint8_t> kept(data.begin(), data.end());
    if (const TBiffRecordInfo* info = FindBiffRecord(id);
        info && info->size > 0 && kept.size() < size_t(info->size))
        kept.resize(static_cast<size_t>(info->size), 0);
    try {
        list_->SetDefault(id, kept);
    } catch (const std::runtime_error&) {
        // The default entry was moved in by a later record already and has another length.
        list_->Named(id).data = kept;
    }
}

void TBiffReader::Place(uint16_t placeholder) {
    if (HasDefault(placeholder)) list_->SetDefault(placeholder, {});
}

void TBiffReader::PlaceCells() {
    if (cells_placed_ || !in_sheet_) return;
    cells_placed_ = true;
    Place(kPlaceholderCells);
}

void TBiffReader::EnterSheet(bool in_sheet) {
    in_sheet_ = in_sheet;
    sheet_ = in_sheet_ && sheet_index_ >= 0 && sheet_index_ < book_.Sheets().Count()
                 ? &book_.Sheet(sheet_index_)
                 : nullptr;
}

bool TBiffReader::Bof() {
    consumed_ = true;
    shared_formulas_.clear();
    const uint16_t type = U16(2);
    // A sheet before the workbook globals have ended, or a sheet inside a sheet, would leave the
    // globals or the sheet around it without its end: the workbook would read, but what is
    // written from it would lack the records that follow (the globals' sheet directory and string
    // table, or the sheet's EOF) and not read again.
    const bool sheet_type = type == 0x0010 || type == 0x0006 || type == 0x0040;
    if (in_sheet_ && (sheet_type || type == 0x0005))
        throw std::runtime_error("Substream begins before the previous one ends");
    if (biff_ >= 5 && globals_ != TGlobals::kEnded && (sheet_type || type == 0x0020))
        throw std::runtime_error("Sheet begins before the workbook globals end");
    if (type == 0x0020) {
        if (in_sheet_) {
            // A chart embedded in the sheet: its whole substream stays in the sheet's records.
            SkipSubstream(true);
            return true;
        }
        ChartSheet();
        return !boundsheets_.empty() && next_substream_ < static_cast<int>(boundsheets_.size()) - 1;
    }
    if (type == 0x0100) throw std::runtime_error("BIFF4 Workbook unhandled");
    // BIFF8 BOFs are kept with the build field the writer's files carry; older ones cannot go
    // into a BIFF8 file and are replaced by the default.
    auto store_bof = [&] {
        std::vector<uint8_t> d;
        if (biff_ == 8) {
            d.assign(Data().begin(), Data().end());
            if (type == 0x0005 && d.size() >= 6) Put16(d.data() + 4, 0x1002);
        } else {
            d = list_->Named(rec::BOF).data;
        }
        Store(rec::BOF, d);
    };
    if (type == 0x0005) {
        if (length_ > 256) throw std::runtime_error("Invalid BOF size");
        if (biff_ > 5 && length_ >= 12) book_.SetIsMac((U32(8) & 0x10) != 0);
        special_bof_ = length_ >= 16 && U16(6) == 1998 && U32(8) == 0 && U32(12) == 6;
        list_ = &book_.Globals();
        placed_.reset();
        globals_ = TGlobals::kOpen;
        store_bof();
        return true;
    }
    if (type != 0x0010 && type != 0x0006 && type != 0x0040) return true;
    ++next_substream_;
    ++sheet_index_;
    // Cells, columns and rows fall back to format 15; a file with fewer formats gets defaults up
    // to it, so neither its cells nor the rows appended later fail for want of one.
    while (book_.Formats().Count() <= kDefaultCellFormat) book_.Formats().Add();
    FixFormats();
    TSheet& sheet = book_.Sheets().Add(type == 0x0010 ? 0 : type == 0x0006 ? 1 : 2);
    list_ = &sheet.Records();
    placed_.reset();
    cells_placed_ = false;
    selection_kept_ = false;
    EnterSheet(true);
    if (biff_ >= 5) {
        if (next_substream_ < static_cast<int>(boundsheets_.size())) {
            sheet.SetName(boundsheets_[next_substream_].name);
            sheet.SetHidden(boundsheets_[next_substream_].hidden);
        }
    } else {
        sheet.SetName(u"Sheet1");
    }
    store_bof();
    lowest_version_ = length_ >= 16 ? U32(12) : 0;
    return true;
}

// The model has no charts: a BIFF8 chart sheet's substream is kept whole, in a sheet of its own
// that the writer puts back unchanged, so the sheets after it keep the positions that formulas and
// names refer to. An older file's chart cannot go into a BIFF8 file and is left out.
void TBiffReader::ChartSheet() {
    ++next_substream_;
    if (biff_ != 8) {
        SkipSubstream(false);
        return;
    }
    ++sheet_index_;
    TSheet& sheet = book_.Sheets().Add(kChartSheetKind);
    if (next_substream_ < static_cast<int>(boundsheets_.size())) {
        sheet.SetName(boundsheets_[next_substream_].name);
        sheet.SetHidden(boundsheets_[next_substream_].hidden);
    }
    TDefaultRecordStorage* list = list_;
    list_ = &sheet.Records();
    SkipSubstream(true);
    list_ = list;
}

// Walks to the EOF that closes the substream whose BOF is the current record, keeping its
// records in the current template list or dropping them.
void TBiffReader::SkipSubstream(bool keep) {
    if (keep) list_->AddRaw(id_, Data());
    int depth = 1;
    uint16_t id, length;
    while (depth > 0 && input_.ReadHeader(id, length)) {
        if ((id & 0x8000) || length > limit_) throw std::runtime_error("Bad record in file");
        data_ = input_.Take(length);
        id_ = id;
        length_ = length;
        if (keep) list_->AddRaw(id, Data());
        if (IsBof(id)) ++depth;
        if (id == rec::EOF_) --depth;
    }
}

bool TBiffReader::Eof() {
    consumed_ = true;
    Store(rec::EOF_, {});
    if (!in_sheet_ && globals_ == TGlobals::kOpen) globals_ = TGlobals::kEnded;
    shared_formulas_.clear();
    EnterSheet(false);
    return !boundsheets_.empty() && next_substream_ < static_cast<int>(boundsheets_.size()) - 1;
}

void TBiffReader::Font() {
    consumed_ = true;
    Place(kPlaceholderFormats);
    std::vector<uint8_t> d;
    if (biff_ == 8) {
        d.assign(Data().begin(), Data().end());
    } else {
        // The older layouts in the BIFF8 form: height, options, colour, weight, escapement,
        // underline, family, character set, reserved, name length, option byte, 8-bit name.
        d.assign(16, 0);
        size_t name_at;
        Put16(d.data(), U16(0));
        Put16(d.data() + 2, U16(2));
        Put16(d.data() + 4, 0x7FFF);
        Put16(d.data() + 6, (U16(2) & 1) ? 700 : 400);
        if (biff_ == 5) {
            Need(15);
            std::memcpy(d.data() + 4, data_ + 4, 10);
            name_at = 14;
        } else if (id_ == rec::FONT34) {
            Put16(d.data() + 4, U16(4));
            name_at = 6;
        } else {
            name_at = 4;
        }
        const size_t count = U8(name_at);
        Need(name_at + 1 + count);
        // The name in the file's code page becomes UTF-16.
        const std::u16string name = Decode({data_ + name_at + 1, count});
        d[14] = static_cast<uint8_t>(name.size());
        d[15] = 0x01;
        for (char16_t c : name) d.insert(d.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
    }
    TXFont font;
    font.LoadFromRecord(d);
    book_.Fonts().Add().AssignAttributes(font);
    // BIFF has no font index 4: a font that is never written fills that position, so the file's
    // font indices are list positions.
    if (++fonts_read_ == 4) book_.Fonts().Add();
    FixFormats();
}

void TBiffReader::Format() {
    consumed_ = true;
    Place(kPlaceholderFormats);
    const uint16_t id = U16(0);
    size_t at = 2;
    const std::u16string text = biff_ == 8 ? WideString(at, false) : ByteString(at, true);
    book_.Formats().NumberFormats().AddFromRecord(id, text, 1);
}

void TBiffReader::Xf() {
    consumed_ = true;
    Place(kPlaceholderFormats);
    TNumberFormats& numbers = book_.Formats().NumberFormats();
    if (numbers.Count() > 0) numbers.Items(0);  // sorts the list by id
    if (biff_ == 8) {
        Need(20);
        book_.Formats().Add().LoadFromRecord(Data());
    } else if (biff_ == 5) {
        Need(16);
        book_.Formats().Add().LoadFromRecord(XfFromBiff5(Data()));
    } else if (biff_ >= 3) {
        book_.Formats().Add();
    }
    FixFormats();
}

// Fonts and cell formats of the file are fixed while it is read: a cell format must not go away
// when the last cell using it so far takes another one.
void TBiffReader::FixFormats() {
    book_.Formats().SetFixedBoundary();
    book_.Fonts().SetFixedBoundary();
}

void TBiffReader::Style() {
    consumed_ = true;
    Place(kPlaceholderFormats);
    std::vector<uint8_t> d(Data().begin(), Data().end());
    // A user style's name has at most 255 characters; the writer gives the record the length its
    // count calls for, and a damaged count would make a record no reader takes.
    if (biff_ == 8 && d.size() >= 4 && !(Get16(d.data()) & 0x8000) && Get16(d.data() + 2) > 255)
        throw std::runtime_error("Style name longer than 255 characters");
    if (biff_ < 8 && d.size() >= 3 && !(Get16(d.data()) & 0x8000)) {
        // A user style's byte-counted 8-bit name, in the file's code page, becomes a BIFF8 string
        // of 16-bit characters.
        const size_t count = std::min<size_t>(d[2], d.size() - 3);
        std::vector<uint8_t> wide = {d[0], d[1]};
        const std::vector<uint8_t> name = WideBiff8String(Decode({d.data() + 3, count}));
        wide.insert(wide.end(), name.begin(), name.end());
        d = std::move(wide);
    }
    book_.NamedStyles().push_back({rec::STYLE, std::move(d)});
    book_.SetHasOwnStyles(true);
}

void TBiffReader::Palette() {
    // The colours go into the palette and the writer writes the one PALETTE record from it (when
    // they differ from the default palette); a copy of the record would make it two.
    consumed_ = true;
    const size_t count = std::min<size_t>(U16(0), 57);
    Need(2 + 4 * count);
    TPalette& palette = workbook::Palette();
    for (size_t i = 0; i < count; ++i) palette[8 + i] = U32(2 + 4 * i);
}

void TBiffReader::Boundsheet() {
    consumed_ = true;
    Place(kPlaceholderBoundsheets);
    size_t at = 6;
    std::u16string name = biff_ == 8 ? WideString(at, true) : ByteString(at, true);
    const uint8_t state = U8(4) & 3;
    boundsheets_.push_back({std::move(name), state == 0 ? hsVisible : state == 2 ? hsVeryHidden : hsHidden});
}

void TBiffReader::FilePass() {
    consumed_ = true;
    const uint16_t type = U16(0);
    if (type == 0) throw std::runtime_error("File encrypted with non-standard key. French?");
    if (type != 1) throw std::runtime_error("Can not read file, unknown type of encryption.");
    if (book_.Password().empty()) throw std::runtime_error("File is encrypted. Password required.");
    throw std::runtime_error("Encrypted files can not be read");
}

void TBiffReader::Need(size_t end) const {
    if (end > length_) throw std::runtime_error("Record too short");
}
uint8_t TBiffReader::U8(size_t at) const {
    Need(at + 1);
    return data_[at];
}
uint16_t TBiffReader::U16(size_t at) const {
    Need(at + 2);
    return Get16(data_ + at);
}
uint32_t TBiffReader::U32(size_t at) const {
    Need(at + 4);
    return Get32(data_ + at);
}
double TBiffReader::F64(size_t at) const {
    Need(at + 8);
    double v;
    std::memcpy(&v, data_ + at, 8);
    return v;
}

std::u16string TBiffReader::WideString(size_t& at, bool short_count) const {
    Need(at);
    TBiffStringSource source(data_, length_, at);
    TBiffString text;
    ReadBiffString(source, text, short_count);
    at = source.pos;
    return text.Text();
}

std::u16string TBiffReader::ByteString(size_t& at, bool short_count) const {
    const size_t count = short_count ? U8(at) : U16(at);
    at += short_count ? 1 : 2;
    Need(at + count);
    std::u16string text = Decode({data_ + at, count});
    at += count;
    return text;
}

// The code page of the file's 8-bit texts. A BIFF8 file holds its texts in UTF-16 and says so
// (1200); the texts of an older file become UTF-16 as they are read, so the BIFF8 file written
// from it says 1200 as well.
void TBiffReader::CodePage() {
    consumed_ = true;
    const uint16_t code_page = U16(0);
    if (biff_ < 8 && code_page != 1200) decoder_ = std::make_unique<TCodePageDecoder>(code_page);
    if (biff_ < 5) return;
    if (biff_ < 8 && !write_access_name_.empty() && book_.Globals().HasNamed(rec::WRITEACCESS))
        book_.Globals().Named(rec::WRITEACCESS).data = WriteAccessRecord();
    std::vector<uint8_t> d(2);
    Put16(d.data(), biff_ == 8 ? code_page : 1200);
    Store(id_, d);
}

// The BIFF8 WRITEACCESS record of a BIFF5 file's user name: a string of 16-bit characters (as
// many as fit) padded with blanks to the record's fixed size.
std::vector<uint8_t> TBiffReader::WriteAccessRecord() const {
    std::u16string name = Decode(write_access_name_);
    name.resize(std::min<size_t>(name.size(), (kWriteAccessSize - 3) / 2));
    std::vector<uint8_t> d = WideBiff8String(name);
    d.resize(kWriteAccessSize, 0x20);
    return d;
}

bool TBiffReader::ReadNextIf(std::initializer_list<uint16_t> ids) {
    uint16_t id, length;
    if (!input_.PeekHeader(id, length)) return false;
    bool wanted = false;
    for (uint16_t i : ids) wanted = wanted || i == id;
    if (!wanted) return false;
    if (length > limit_) throw std::runtime_error("Bad record in file");
    input_.ReadHeader(id, length);
    next_ = input_.Take(length);
    next_id_ = id;
    next_length_ = length;
    return true;
}

void ReadBiffWorkbook(TTabulon4& book, TStream* source) {
    TBiffReader(book).ReadWorkbook(source);
}

}  // namespace linograf::workbook
