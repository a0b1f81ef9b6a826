#pragma once
// TBiffWriter: writes a workbook as a BIFF8 (Excel 97-2003) file. It walks the record template
// lists of the workbook and of each sheet, writing stored records unchanged and generating the
// records of placeholder entries (fonts, formats, sheets directory, shared strings, cells, ...)
// from the model. One writer serves one Write.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "workbook/biff/xls_stream.h"

namespace linograf::workbook {

class TTabulon4;
class TSheet;
class TStream;
struct TRawRecord;

// A failure while writing one record (or cell): "Error on writing record # N\r" followed by the
// message of the underlying error.
class EBiffWriteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TBiffWriter {
  public:
    explicit TBiffWriter(TTabulon4& book);

    // Writes the whole workbook. Without a target the document becomes the file named by the
    // workbook's Filename; with one, the document's bytes are written into it.
    void Write(TStream* target);

    // Largest data length of a BIFF8 record.
    static constexpr int kRecordLimit = 8224;

  private:
    struct TBoundsheet {
        uint8_t type;
        uint8_t hidden;
        std::u16string name;
        uint64_t position_field = 0;  // stream offset of the BOUNDSHEET's position field
    };

    void PrepareDirectory();
    void WriteGlobals();
    void WriteGlobalsEntry(const TRawRecord& entry);
    void WriteFormatRecords();
    void WriteFonts();
    void WriteNumberFormats();
    void WriteStyles();
    void WritePalette();
    void WriteBoundsheets();
    void WriteSST();
    void PatchBoundsheet(int index);

    // The sheet substream.
    void WriteSheet(TSheet& sheet);
    void WriteSheetEntry(TSheet& sheet, const TRawRecord& entry);
    void WriteSelection();
    void WriteHeaderFooter(TSheet& sheet);
    void WriteMargins(TSheet& sheet);
    void WriteColInfo(TSheet& sheet);
    void WriteRows(TSheet& sheet);
    void WriteCells(TSheet& sheet);
    void WriteSheetObjects(TSheet& sheet);
    void WritePageBreaks(TSheet& sheet);

    TTabulon4& book_;
    TXLSStream stream_;
    std::vector<TBoundsheet> directory_;
    int sheet_index_ = 0;
};

}  // namespace linograf::workbook
