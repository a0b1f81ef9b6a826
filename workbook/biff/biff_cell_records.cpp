// TBiffReader: cell records, formula cells with their cached results and shared formulas.
#include <cstdio>
#include <cstring>

#include "workbook/model/biff_records.h"
#include "workbook/model/process_values.h"
#include "workbook/biff/biff_reader.h"
#include "workbook/biff/biff_shared_formula.h"
#include "workbook/biff/biff_string.h"
#include "text/code_page_text.h"
#include "workbook/model/record_storage.h"
#include "workbook/biff/rk_number.h"
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
                              length <= limit_ && input_.Rest().size() - 4 >= length;
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
            sheet->SetString(col, row, U16(4), DecodeSystemCodePage({data_ + 8, count}));
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
            sheet->SetString(col, row, kDefaultCellFormat, DecodeSystemCodePage({data_ + 8, count}));
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
        text.assign(data_ + 8, data_ + 8 + static_cast<std::ptrdiff_t>(count));
    }
    CurrentSheet()->SetString(U16(2), U16(0), U16(4), text);
}

// The formula's token list is kept for BIFF8 files, whose tokens the writer can write back; the
// tokens of older files, array formulas and data tables (which need records the writer does not
// write) are replaced by the cached result as a plain value.
void TBiffReader::Formula() {
    TSheet& sheet = *CurrentSheet();
    const uint32_t row = U16(0), col = U16(2);
    size_t result_at = 6, options_at = 14, count_at = 20, tokens_at = 22;
    int xf;
    bool short_count = false;
    if (biff_ == 2 && id_ == rec::FORMULA) {
        result_at = 7, options_at = 15, count_at = 16, tokens_at = 17;
        short_count = true;
        xf = kDefaultCellFormat;
    } else {
        if ((biff_ == 3 || biff_ == 4) && lowest_version_ != 6) count_at = 16, tokens_at = 18;
        xf = U16(4);
    }
    uint8_t result[8];
    Need(result_at + 8);
    std::memcpy(result, data_ + result_at, 8);
    const uint16_t options = short_count ? U8(options_at) : U16(options_at);
    const size_t count = short_count ? U8(count_at) : U16(count_at);
    Need(tokens_at + count);
    std::vector<uint8_t> tokens(data_ + static_cast<std::ptrdiff_t>(tokens_at),
                                data_ + static_cast<std::ptrdiff_t>(tokens_at + count));
    bool keep = biff_ == 8 && count > 0;
    const int first = count > 0 ? tokens[0] : -1;

    // The records a formula cell may bring along come first: the shared formula or array it
    // starts, then the text of its result.
    if (first == 0x01 && (options & 0x0008)) {
        if (ReadNextIf({rec::SHRFMLA, rec::SHRFMLA5})) {
            const Fields f{next_, next_length_};
            const size_t shared_count = f.U16(8);
            f.Need(10 + shared_count);
            shared_formulas_.push_back(
                {f.U16(0), f.U16(2), f.U8(4), f.U8(5),
                 std::vector<uint8_t>(next_ + 10, next_ + 10 + static_cast<std::ptrdiff_t>(shared_count))});
        }
        if (keep) {
            if (count < 5) throw std::runtime_error("Record too short");
            const uint32_t master_row = static_cast<uint32_t>(tokens[1] | (tokens[2] << 8));
            const uint32_t master_col = static_cast<uint32_t>(tokens[3] | (tokens[4] << 8));
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
                std::snprintf(message, sizeof message, "Fixup error in shared formula at C=%u,R=%u (%s)", col,
                              row, CellName(col, row).c_str());
                throw std::runtime_error(message);
            }
            std::optional<std::vector<uint8_t>> own = SharedFormulaForCell(group->tokens, col, row);
            if (own)
                tokens = std::move(*own);
            else
                keep = false;
        }
    } else if (first == 0x01) {
        ReadNextIf({rec::ARRAY});
        keep = false;
    } else if (first == 0x02) {
        ReadNextIf({rec::TABLE});
        keep = false;
    }

    const bool special = result[6] == 0xFF && result[7] == 0xFF && result[0] < 4;
    auto data = std::make_unique<TFormulaData>();
    data->tokens = std::move(tokens);
    data->options = options;
    TCellType kind = ctNumberFormula;
    if (special && result[0] == 0) {
        kind = ctStringFormula;
        // A text result missing its STRING record reads as an empty text.
        if (ReadNextIf({biff_ == 2 ? rec::STRING2 : rec::STRING})) {
            const Fields f{next_, next_length_};
            if (biff_ == 2) {
                const size_t chars = f.U8(0);
                f.Need(1 + chars);
                data->string_result.assign(next_ + 1, next_ + 1 + static_cast<std::ptrdiff_t>(chars));
            } else if (biff_ < 8) {
                const size_t chars = f.U16(0);
                f.Need(2 + chars);
                data->string_result.assign(next_ + 2, next_ + 2 + static_cast<std::ptrdiff_t>(chars));
            } else {
                TBiffStringSource source(next_, next_length_, 0);
                TBiffString text;
                ReadBiffString(source, text);
                data->string_result = text.Text();
            }
        }
    } else if (special && result[0] == 1) {
        kind = ctBooleanFormula;
        data->boolean_or_error = result[2] ? 1 : 0;
    } else if (special && result[0] == 2) {
        kind = ctErrorFormula;
        data->boolean_or_error = result[2];
    } else if (special && result[0] == 3) {
        kind = ctStringFormula;
    } else {
        std::memcpy(&data->number, result, 8);
        if (count == 0) return;
    }
    if (!CellInLimits(col, row)) return;
    if (keep) {
        sheet.SetFormula(col, row, xf, kind, std::move(data));
        return;
    }
    switch (kind) {
        case ctStringFormula:
            sheet.SetString(col, row, xf, data->string_result);
            break;
        case ctBooleanFormula:
            sheet.SetBoolean(col, row, xf, data->boolean_or_error != 0);
            break;
        case ctErrorFormula:
            sheet.SetError(col, row, xf, ErrorCode(data->boolean_or_error));
            break;
        default:
            sheet.SetFloat(col, row, xf, data->number);
            break;
    }
}

}  // namespace linograf::workbook
