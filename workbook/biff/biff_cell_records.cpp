// TBiffReader: cell records, formula cells with their cached results and shared formulas.
#include <cstdio>
#include <cstring>

#include "workbook/biff/biff_reader.h"
#include "workbook/biff/biff_shared_formula.h"
#include "workbook/biff/biff_string.h"
#include "workbook/biff/rk_number.h"
#include "workbook/model/biff_records.h"
#include "workbook/model/process_values.h"
#include "workbook/model/record_storage.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook {
namespace {

// The error codes 1..7 of the BIFF error values; a value BIFF does not define reads as #N/A, the
// one error every writer can write back.
uint8_t ErrorCode(uint8_t value) {
    switch (value) {
        case 0x00:
            return ceNull;
        case 0x07:
            return ceDiv0;
        case 0x0F:
            return ceValue;
        case 0x17:
            return ceRef;
        case 0x1D:
            return ceName;
        case 0x24:
            return ceNum;
        case 0x2A:
            return ceNA;
        default:
            return ceNA;
    }
}

// Field access into a record other than the current one.
struct Fields {
    const uint8_t* p;
    size_t size;
    void Need(size_t end) const {
        if (end > size) throw std::runtime_error("Record too short");
    }
    uint16_t U16(size_t at) const {
        Need(at + 2);
        return static_cast<uint16_t>(p[at] | (p[at + 1] << 8));
    }
    uint8_t U8(size_t at) const {
        Need(at + 1);
        return p[at];
    }
};

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return Get16(p) | (uint32_t{Get16(p + 2)} << 16);
}

std::string CellName(uint32_t col, uint32_t row) {
    std::string letters;
    for (uint32_t c = col + 1; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(row + 1);
}

}  // namespace

bool TBiffReader::FastCell() {
    // The first cell record of a sheet goes the general way, which places the cells.
    if (!sheet_ || !cells_placed_) return false;
    const uint8_t* p = data_;
    switch (id_) {
        case rec::LABELSST:
            if (length_ < 10) return false;
            break;
        case rec::RK:
        case rec::RK2:
            if (length_ < 10) return false;
            break;
        case rec::NUMBER:
            if (length_ < 14) return false;
            break;
        case rec::BLANK:
            if (length_ < 6) return false;
            break;
        default:
            return false;
    }
    if (id_ == rec::LABELSST) {
        // A sheet of texts is long runs of these: the run is read here, record after record,
        // without the general loop's steps for each, and its cells go to the sheet a batch at a
        // time. A cell naming a string the file does not have ends a batch and goes alone, so
        // that its error names its own record.
        const size_t strings = book_.SST().LoadedCount();
        constexpr size_t kBatch = 64;
        TLoadedString batch[kBatch];
        size_t count = 0;
        for (;;) {
            const uint32_t row = Get16(data_), col = Get16(data_ + 2), index = Get32(data_ + 6);
            if (CellInLimits(col, row)) {
                if (index < strings) {
                    batch[count++] = {col, row, Get16(data_ + 4), index};
                } else {
                    sheet_->SetSSTStrings({batch, count});
                    count = 0;
                    SetSSTString(col, row, Get16(data_ + 4), index);
                }
            }
            // A record cut off by the end of the stream goes the general way, after the batch.
            uint16_t id, length;
            const bool more = input_.PeekHeader(id, length) && id == rec::LABELSST && length >= 10 &&
                              length <= limit_ && input_.Left() - 4 >= length;
            if (count == kBatch || !more) {
                sheet_->SetSSTStrings({batch, count});
                count = 0;
            }
            if (!more) return true;
            input_.ReadHeader(id, length);
            data_ = input_.Take(length);
            length_ = length;
            ++record_number_;
        }
    }
    const uint32_t row = Get16(p), col = Get16(p + 2);
    const int xf = Get16(p + 4);
    if (!CellInLimits(col, row)) return true;
    switch (id_) {
        case rec::RK:
        case rec::RK2:
            sheet_->SetFloat(col, row, xf, DecodeRK(Get32(p + 6)));
            break;
        case rec::NUMBER: {
            double v;
            std::memcpy(&v, p + 6, 8);
            sheet_->SetFloat(col, row, xf, v);
            break;
        }
        default:
            sheet_->SetBlank(col, row, xf);
            break;
    }
    return true;
}

void TBiffReader::SetSSTString(uint32_t col, uint32_t row, int xf, uint32_t index) {
    try {
        sheet_->SetSSTString(col, row, xf, index);
    } catch (const std::out_of_range&) {
        char message[48];
        std::snprintf(message, sizeof message, "Read error at %.8llu",
                      static_cast<unsigned long long>(input_.Position()));
        throw std::runtime_error(message);
    }
}

bool TBiffReader::DispatchCell() {
    switch (id_) {
        case rec::BLANK:
        case rec::MULBLANK:
        case rec::NUMBER:
        case rec::RK:
        case rec::RK2:
        case rec::MULRK:
        case rec::LABELSST:
        case rec::LABEL:
        case rec::RSTRING:
        case rec::BOOLERR:
        case rec::FORMULA:
        case rec::FORMULA3:
        case rec::FORMULA4:
            break;
        case rec::INTEGER2:
        case rec::NUMBER2:
        case rec::LABEL2:
            if (biff_ <= 4) break;
            return false;
        default:
            return false;
    }
    TSheet* sheet = CurrentSheet();
    if (!sheet) return false;
    consumed_ = true;
    PlaceCells();
    const uint32_t row = U16(0), col = U16(2);
    // Cells beyond the sheet limits cannot be written back; skipping them also keeps a hostile
    // file from spreading cells over the whole store.
    switch (id_) {
        case rec::MULBLANK: {
            const size_t count = length_ >= 6 ? (length_ - 6) / 2 : 0;
            for (size_t i = 0; i < count; ++i)
                if (CellInLimits(col + i, row))
                    sheet->SetBlank(static_cast<uint32_t>(col + i), row, U16(4 + 2 * i));
            return true;
        }
        case rec::MULRK: {
            const size_t count = length_ >= 6 ? (length_ - 6) / 6 : 0;
            for (size_t i = 0; i < count; ++i)
                if (CellInLimits(col + i, row))
                    sheet->SetFloat(static_cast<uint32_t>(col + i), row, U16(4 + 6 * i),
                                    DecodeRK(U32(6 + 6 * i)));
            return true;
        }
        case rec::FORMULA:
        case rec::FORMULA3:
        case rec::FORMULA4:
            Formula();
            return true;
        default:
            break;
    }
    if (!CellInLimits(col, row)) return true;
    switch (id_) {
        case rec::BLANK:
            sheet->SetBlank(col, row, U16(4));
            break;
        case rec::NUMBER:
            sheet->SetFloat(col, row, U16(4), F64(6));
            break;
        case rec::RK:
        case rec::RK2:
            sheet->SetFloat(col, row, U16(4), DecodeRK(U32(6)));
            break;
        case rec::LABELSST:
            LabelSst();
            break;
        case rec::LABEL:
            Label();
            break;
        case rec::RSTRING: {
            const size_t count = U16(6);
            Need(8 + count);
            sheet->SetString(col, row, U16(4), Decode({data_ + 8, count}));
            break;
        }
        case rec::BOOLERR:
            if (U8(7) == 0)
                sheet->SetBoolean(col, row, U16(4), U8(6) != 0);
            else
                sheet->SetError(col, row, U16(4), ErrorCode(U8(6)));
            break;
        case rec::INTEGER2:
            sheet->SetFloat(col, row, kDefaultCellFormat, U16(7));
            break;
        case rec::NUMBER2:
            sheet->SetFloat(col, row, kDefaultCellFormat, F64(7));
            break;
        case rec::LABEL2: {
            const size_t count = U8(7);
            Need(8 + count);
            sheet->SetString(col, row, kDefaultCellFormat, Decode({data_ + 8, count}));
            break;
        }
        default:
            break;
    }
    return true;
}

void TBiffReader::LabelSst() {
    const uint32_t index = U32(6);
    SetSSTString(U16(2), U16(0), U16(4), index);
}

// BIFF8 has an option byte before the characters; BIFF5 has 8-bit characters right after the
// count.
void TBiffReader::Label() {
    const size_t count = U16(6);
    std::u16string text;
    if (biff_ == 8 && U8(8) <= 1) {
        size_t at = 6;
        text = WideString(at, false);
    } else {
        Need(8 + count);
        text = Decode({data_ + 8, count});
    }
    CurrentSheet()->SetString(U16(2), U16(0), U16(4), text);
}

// The formula's token list is kept for BIFF8 files, whose tokens the writer can write back, with
// the array constants after them and the ARRAY or TABLE record of the range the cell heads; the
// tokens of older files are replaced by the cached result as a plain value.
void TBiffReader::Formula() {
    TFormulaRecord f = FormulaFields();
    auto data = std::make_unique<TFormulaData>();
    const bool keep = FormulaGroup(f, *data) && biff_ == 8 && !f.tokens.empty();
    const TCellType kind = FormulaResult(f, *data);
    // A formula without tokens and with a number for its result is no cell at all.
    if (kind == ctNumberFormula && f.tokens.empty()) return;
    data->tokens = std::move(f.tokens);
    data->extra = std::move(f.extra);
    data->options = f.options;
    PlaceFormula(f, kind, std::move(data), keep);
}

// BIFF2 has a one-byte option and token count and no cell format; BIFF3 and BIFF4 files of
// versions before 6 have a shorter options field.
TBiffReader::TFormulaRecord TBiffReader::FormulaFields() const {
    TFormulaRecord f;
    f.row = U16(0);
    f.col = U16(2);
    size_t result_at = 6, options_at = 14, count_at = 20, tokens_at = 22;
    const bool short_count = biff_ == 2 && id_ == rec::FORMULA;
    if (short_count) {
        result_at = 7, options_at = 15, count_at = 16, tokens_at = 17;
        f.xf = kDefaultCellFormat;
    } else {
        if ((biff_ == 3 || biff_ == 4) && lowest_version_ != 6) count_at = 16, tokens_at = 18;
        f.xf = U16(4);
    }
    Need(result_at + 8);
    std::memcpy(f.result, data_ + result_at, 8);
    f.options = short_count ? U8(options_at) : U16(options_at);
    const size_t count = short_count ? U8(count_at) : U16(count_at);
    Need(tokens_at + count);
    const uint8_t* tokens = data_ + static_cast<std::ptrdiff_t>(tokens_at);
    f.tokens.assign(tokens, tokens + static_cast<std::ptrdiff_t>(count));
    f.extra.assign(tokens + static_cast<std::ptrdiff_t>(count), data_ + static_cast<std::ptrdiff_t>(length_));
    return f;
}

// A formula whose tokens start with ptgExp belongs to a shared formula (its tokens are made the
// cell's own) or to an array formula; ptgTbl marks a cell of a data table. The cell that heads an
// array or table is followed by its ARRAY or TABLE record, kept with the cell; the other cells
// keep their reference to the head.
bool TBiffReader::FormulaGroup(TFormulaRecord& f, TFormulaData& data) {
    const int first = f.tokens.empty() ? -1 : f.tokens[0];
    if (first == 0x01 && (f.options & 0x0008)) return SharedFormulaTokens(f);
    if (first != 0x01 && first != 0x02) return true;
    if (ReadNextIf({first == 0x01 ? rec::ARRAY : rec::TABLE})) {
        data.group_record_id = next_id_;
        data.group_record.assign(next_, next_ + static_cast<std::ptrdiff_t>(next_length_));
    }
    data.in_shared_group = true;
    return true;
}

bool TBiffReader::SharedFormulaTokens(TFormulaRecord& f) {
    if (ReadNextIf({rec::SHRFMLA, rec::SHRFMLA5})) {
        const Fields s{next_, next_length_};
        const size_t shared_count = s.U16(8);
        s.Need(10 + shared_count);
        const uint8_t* tokens = next_ + 10;
        shared_formulas_.push_back(
            {s.U16(0), s.U16(2), s.U8(4), s.U8(5),
             std::vector<uint8_t>(tokens, tokens + static_cast<std::ptrdiff_t>(shared_count)),
             std::vector<uint8_t>(tokens + static_cast<std::ptrdiff_t>(shared_count),
                                  next_ + static_cast<std::ptrdiff_t>(next_length_))});
    }
    if (biff_ != 8) return false;
    if (f.tokens.size() < 5) throw std::runtime_error("Record too short");
    const uint32_t master_row = static_cast<uint32_t>(f.tokens[1] | (f.tokens[2] << 8));
    const uint32_t master_col = static_cast<uint32_t>(f.tokens[3] | (f.tokens[4] << 8));
    const TSharedFormula* group = nullptr;
    for (const TSharedFormula& s : shared_formulas_) {
        if (master_row >= s.first_row && master_row <= s.last_row && master_col >= s.first_col &&
            master_col <= s.last_col) {
            group = &s;
            break;
        }
    }
    if (!group) {
        char message[96];
        std::snprintf(message, sizeof message, "Fixup error in shared formula at C=%u,R=%u (%s)", f.col,
                      f.row, CellName(f.col, f.row).c_str());
        throw std::runtime_error(message);
    }
    std::optional<std::vector<uint8_t>> own = SharedFormulaForCell(group->tokens, f.col, f.row);
    if (!own) return false;
    f.tokens = std::move(*own);
    f.extra = group->extra;
    return true;
}

// The cached result ([MS-XLS] FormulaValue): a double, or, with 0xFFFF in its last two bytes, a
// type byte (0 text, 1 boolean, 2 error, 3 empty text) and the value in its third byte. A text
// result's characters follow in a STRING record.
TCellType TBiffReader::FormulaResult(const TFormulaRecord& f, TFormulaData& data) {
    const uint8_t* result = f.result;
    const bool special = result[6] == 0xFF && result[7] == 0xFF && result[0] < 4;
    if (!special) {
        std::memcpy(&data.number, result, 8);
        return ctNumberFormula;
    }
    switch (result[0]) {
        case 1:
            data.boolean_or_error = result[2] ? 1 : 0;
            return ctBooleanFormula;
        case 2:
            data.boolean_or_error = ErrorCode(result[2]);
            return ctErrorFormula;
        case 3:
            return ctStringFormula;
        default:
            break;
    }
    // A text result missing its STRING record reads as an empty text.
    if (!ReadNextIf({biff_ == 2 ? rec::STRING2 : rec::STRING})) return ctStringFormula;
    const Fields s{next_, next_length_};
    if (biff_ == 2) {
        const size_t chars = s.U8(0);
        s.Need(1 + chars);
        data.string_result = Decode({next_ + 1, chars});
    } else if (biff_ < 8) {
        const size_t chars = s.U16(0);
        s.Need(2 + chars);
        data.string_result = Decode({next_ + 2, chars});
    } else {
        TBiffStringSource source(next_, next_length_, 0);
        TBiffString text;
        ReadBiffString(source, text);
        data.string_result = text.Text();
    }
    return ctStringFormula;
}

void TBiffReader::PlaceFormula(const TFormulaRecord& f, TCellType kind, std::unique_ptr<TFormulaData> data,
                               bool keep) {
    if (!CellInLimits(f.col, f.row)) return;
    TSheet& sheet = *CurrentSheet();
    if (keep) {
        sheet.SetFormula(f.col, f.row, f.xf, kind, std::move(data));
        return;
    }
    switch (kind) {
        case ctStringFormula:
            sheet.SetString(f.col, f.row, f.xf, data->string_result);
            break;
        case ctBooleanFormula:
            sheet.SetBoolean(f.col, f.row, f.xf, data->boolean_or_error != 0);
            break;
        case ctErrorFormula:
            sheet.SetError(f.col, f.row, f.xf, data->boolean_or_error);
            break;
        default:
            sheet.SetFloat(f.col, f.row, f.xf, data->number);
            break;
    }
}

}  // namespace linograf::workbook
