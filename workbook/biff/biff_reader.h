#pragma once
// TBiffReader: loads an Excel workbook file (BIFF8, and the older BIFF5 and BIFF2-4 layouts as far
// as they map onto the model) into a TTabulon4. Records the model understands become sheets,
// cells, fonts, formats, shared strings, columns, rows, merged areas and print settings; every
// other record goes, in file order, into the record template list of the workbook or of the
// sheet it came in, so that the BIFF8 writer puts it back where it was. One reader serves one
// Read.
#include <bitset>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "text/code_page_text.h"
#include "workbook/biff/biff_record_input.h"
#include "workbook/model/sheet.h"

namespace linograf::workbook {

class TTabulon4;
class TDefaultRecordStorage;
class TStream;

// Reads the BIFF workbook named by book.Filename() (or, when source is given, the compound
// document in that stream). Called after the workbook was cleared and its sheets, fonts and cell
// formats emptied and its number formats reset to the built-in ones.
void ReadBiffWorkbook(TTabulon4& book, TStream* source);

// Any failure while handling one record: "Error on reading record # N, IIII Offs: PPPPPPPP\r"
// followed by the message of the underlying error.
class EBiffReadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TBiffReader {
  public:
    explicit TBiffReader(TTabulon4& book);
    ~TBiffReader();

    // Reads the file named by the workbook's Filename, or the compound document in source.
    // The workbook was emptied by the caller; after a failure it keeps what was read so far.
    void ReadWorkbook(TStream* source);

  private:
    struct TBoundsheet {
        std::u16string name;
        THiddenState hidden;
    };
    struct TSharedFormula {
        uint32_t first_row, last_row, first_col, last_col;
        std::vector<uint8_t> tokens;
        std::vector<uint8_t> extra;  // the array constants' values after the tokens
    };
    // A FORMULA record's fields in any of the layouts.
    struct TFormulaRecord {
        uint32_t row = 0, col = 0;
        int xf = 0;
        uint8_t result[8] = {};
        uint16_t options = 0;
        std::vector<uint8_t> tokens;
        std::vector<uint8_t> extra;  // after the tokens, up to the record's end
    };

    // Returns false when the record ends the read.
    bool Dispatch();
    bool DispatchGlobals();
    bool DispatchSheet();
    bool SheetLayoutRecord(TSheet& sheet);
    bool SheetPrintRecord(TSheet& sheet);
    bool SheetContentRecord(TSheet& sheet);
    void Dimensions();
    bool DispatchCell();
    bool DispatchSettings();

    bool Bof();
    bool Eof();
    void SkipSubstream(bool keep);
    void ChartSheet();
    void Font();
    void Format();
    void Xf();
    void Style();
    void FixFormats();
    void Palette();
    void Boundsheet();
    void FilePass();
    void Sst();
    void Header(bool footer);
    void PageBreaks(bool horizontal);
    void MergedCells();
    // A FORMULA record and the records it brings along: its fields, the shared formula, array
    // or data table it belongs to, its cached result, and the cell it becomes.
    void Formula();
    TFormulaRecord FormulaFields() const;
    // False when the tokens cannot be kept and the cell becomes its cached result.
    bool FormulaGroup(TFormulaRecord& f, TFormulaData& data);
    bool SharedFormulaTokens(TFormulaRecord& f);
    TCellType FormulaResult(const TFormulaRecord& f, TFormulaData& data);
    void PlaceFormula(const TFormulaRecord& f, TCellType kind, std::unique_ptr<TFormulaData> data, bool keep);
    void LabelSst();
    // LABELSST into the current sheet; a missing string raises "Read error at" the position.
    void SetSSTString(uint32_t col, uint32_t row, int xf, uint32_t index);
    void Label();

    // Template list helpers. A settings record replaces its default entry (a second one of the
    // same id is kept as it is, behind the first); placeholders mark where the writer generates
    // records from the model.
    void Store(uint16_t id, std::span<const uint8_t> data);
    void Place(uint16_t placeholder);
    bool HasDefault(uint16_t id) const;
    void PlaceCells();

    // Field access into the current record's data; reading past its length raises.
    void Need(size_t end) const;
    uint8_t U8(size_t at) const;
    uint16_t U16(size_t at) const;
    uint32_t U32(size_t at) const;
    double F64(size_t at) const;
    std::span<const uint8_t> Data() const { return {data_, length_}; }
    // A BIFF8 string at `at`: character count (u16, or u8 with short_count), option byte and
    // characters; `at` is moved past it.
    std::u16string WideString(size_t& at, bool short_count) const;
    // BIFF5 string: count (u8 or u16) and 8-bit characters in the file's code page.
    std::u16string ByteString(size_t& at, bool short_count) const;
    // 8-bit characters in the code page of the file's CODEPAGE record (BIFF5 and older).
    std::u16string Decode(std::span<const uint8_t> bytes) const { return decoder_->Decode(bytes); }
    void CodePage();
    std::vector<uint8_t> WriteAccessRecord() const;

    // The record after the current one, read into next_ when it has one of the given ids.
    bool ReadNextIf(std::initializer_list<uint16_t> ids);

    TSheet* CurrentSheet() const { return sheet_; }
    void EnterSheet(bool in_sheet);
    // The cell records that make up most of a file, handled before the general dispatch; false
    // for any other record.
    bool FastCell();
    bool CellInLimits(uint32_t col, uint32_t row) const { return col <= last_col_ && row <= last_row_; }

    TTabulon4& book_;
    TBiffRecordInput input_;
    int biff_ = 8;  // 2, 3, 4, 5 or 8
    size_t limit_ = 8224;
    uint32_t last_col_ = 0, last_row_ = 0;  // the sheet limits, for the cells

    uint16_t id_ = 0;
    size_t length_ = 0;
    const uint8_t* data_ = nullptr;  // in the record stream, valid until it is closed
    bool consumed_ = false;
    int record_number_ = 0;

    // The record ReadNextIf took.
    uint16_t next_id_ = 0;
    size_t next_length_ = 0;
    const uint8_t* next_ = nullptr;

    TDefaultRecordStorage* list_ = nullptr;
    std::bitset<0x10000> placed_;  // settings ids the current list already took
    bool cells_placed_ = false;
    bool in_sheet_ = false;  // between a sheet's BOF and its EOF
    // BIFF5 and later: the workbook globals come first, and every sheet follows their EOF.
    enum class TGlobals { kNotBegun, kOpen, kEnded };
    TGlobals globals_ = TGlobals::kNotBegun;
    TSheet* sheet_ = nullptr;  // the sheet being read, while in_sheet_
    bool selection_kept_ = false;
    std::vector<TBoundsheet> boundsheets_;
    int next_substream_ = -1;
    int sheet_index_ = -1;
    uint32_t lowest_version_ = 0;
    bool special_bof_ = false;
    bool skipping_views_ = false;
    int fonts_read_ = 0;
    std::vector<TSharedFormula> shared_formulas_;
    std::unique_ptr<TCodePageDecoder> decoder_;
    std::vector<uint8_t> write_access_name_;  // a BIFF5 file's user name, as its bytes
};

}  // namespace linograf::workbook
