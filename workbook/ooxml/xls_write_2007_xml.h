#pragma once
// TXLSWrite2007XML: saves a workbook as an Open XML package (.xlsx). One writer per Write.
//
// The parts of the source package (when the workbook was read from an .xlsx file) are copied into
// the new package first; then the parts this writer generates replace their namesakes, in this
// order: workbook relationships, workbook, theme, styles, shared strings, the worksheets from the
// last to the first (each followed by its relationships), core and application properties,
// package relationships, content types. Each part is appended to one text buffer and goes into the
// archive as it is written, through the deflater in pieces of a few hundred KB, so neither the
// package nor any one part's text is ever held whole.
//
// Elements of the workbook part and of the worksheets that the model does not interpret come
// back from the saved-tag lists in their former order, between the generated elements.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/ooxml/xls_zip_archive.h"
#include "workbook/ooxml/xml_text_writer.h"

namespace linograf::workbook {

class TTabulon4;
class TSheet;
class TStream;
class TSSTEntry;
class TOpenXmlAppendCache;
struct TOpenXmlSheetCache;

// Writes the workbook as an Open XML package into output (an empty file), with the source
// package kept from the last Open XML read, if any.
void WriteOpenXmlWorkbook(TTabulon4& book, TStream& output, TStream* source_package);

// Raises the error a write would meet when it copies the parts of the source package it keeps
// (a damaged entry of a part the reader had no need of), so that a package which reads but
// could never be written again is refused when it is read instead of at every write.
void CheckSourcePackageCopies(TTabulon4& book, TStream& source_package);
// Raises the error a write would meet at a workbook relationship it keeps whose Id it cannot
// renumber (one that is not "rId" followed by an integer), for the same reason.
void CheckWorkbookRelationIds(TTabulon4& book);
struct TCell;

// "xl/worksheets/sheet<number>.xml" and its relationships part.
std::u16string WorksheetPartName(int number);
std::u16string WorksheetRelationsPartName(int number);

class TXLSWrite2007XML {
  public:
    explicit TXLSWrite2007XML(TTabulon4& book);
    TXLSWrite2007XML(const TXLSWrite2007XML&) = delete;
    TXLSWrite2007XML& operator=(const TXLSWrite2007XML&) = delete;

    // Writes the whole package into `output` (an empty stream, which stays open). `source` is
    // the package the workbook was read from, or null.
    void WritePackage(TStream& output, TStream* source);

    // The workbook relationships as the package gets them: the theme (when there is none), one
    // worksheet per sheet, styles and shared strings added, ordered by type and renumbered
    // rId1, rId2, ... Raises "Unknown Id in workbook relationship" for an Id that is not "rId"
    // followed by a number.
    void RebuildWorkbookRelations();

    // The generators, each leaving its part's text in the buffer (public for the tests).
    void WriteWorkbookRelations();
    void WriteWorkbook();
    void WriteTheme();
    void WriteStyles();
    void WriteSharedStrings();
    void WriteWorksheet(int index);
    void WriteWorksheetRelations(int index);
    void WriteCoreProperties();
    void WriteAppProperties();
    void WritePackageRelations();
    void WriteContentTypes();

    TXLSWriteExcelXMLStream& Xml() { return xml_; }
    // The workbook was read from a BIFF file and is saved as Open XML: the default fills, the
    // default border and the default xf go first, and cell style indices move up by one.
    bool WriteDefaults() const { return write_defaults_; }

  private:
    // With the workbook's AppendWrites on: styles, shared strings and worksheets. When the cache
    // of the last write still fits, the shared strings and every worksheet start from their bytes
    // of that write and only the rows added since (with the strings they bring) are made;
    // otherwise they are written whole. Either way the parts' state is kept for the next write.
    void WriteAppendableParts();
    void AppendSharedStrings(TOpenXmlAppendCache& cache, TOpenXmlAppendCache& next);
    void WriteSharedStringsWhole(TOpenXmlAppendCache& next);
    void AppendSheetRows(int index, TOpenXmlSheetCache& before, TOpenXmlSheetCache& kept);
    void WriteWorksheetWhole(int index, TOpenXmlSheetCache& kept);
    // The worksheet's text without its rows; `split` gets the position where the rows would go.
    std::string WorksheetFrame(int index, size_t& split);
    bool AppendCacheFits(const TOpenXmlAppendCache& cache, const std::string& styles,
                         const std::vector<std::string>& frames);
    void WriteSharedString(const TSSTEntry& entry);
    // Writes the rows from `from_row` on; returns one past the last row written, or `from_row`
    // when there was none.
    uint32_t WriteSheetRows(TSheet& sheet, uint32_t from_row);
    void AddPart(std::u16string_view name);
    // Runs `generate` with the text streamed into the part `name` as it is written.
    void StreamPart(std::u16string_view name, const std::function<void()>& generate);
    void CopySourcePackage(TStream& source);
    void AddOverridesToCopiedContentTypes();
    void WriteRelationships(const TXMLRelations& relations);
    void WriteDefinedNames();
    void WriteFont(int position, bool run_font);
    void WritePatternFill(uint8_t pattern, const TXc12Color& foreground, const TXc12Color& background);
    void WriteFill(const TFill& fill);
    const TCellFormatEx12* MasterFormatOf(const TCellFormat& format);
    void WriteNumberFormats();
    void WriteFonts();
    void WriteFills();
    void WriteBorders();
    void WriteBorder(const TBorder& border);
    void WriteCellStyleFormats();
    void WriteCellFormats();
    void WriteCellStyles();
    void WriteBorderLine(std::string_view name, uint8_t style, const TXc12Color& color);
    void WriteCellFormatEx12(const TCellFormat& format, const TCellFormatEx12& ex12, bool with_xf_id);
    void WriteColumns(TSheet& sheet, int index);
    void WriteSheetData(TSheet& sheet);
    void WriteCell(TSheet& sheet, uint32_t col, uint32_t row, const TCell& cell);
    void WriteFormula(const TCell& cell);
    void WriteMergeCells(TSheet& sheet);
    void WritePageSetup(TSheet& sheet);
    std::string WorksheetRelationId(int index) const;
    // The part number of the sheet at `index` among the worksheets (chart sheets keep their own
    // parts): 1 for the first worksheet.
    int WorksheetNumber(int index) const;

    TTabulon4& book_;
    TXLSWriteExcelXMLStream xml_;
    TXLSZipArchive zip_;
    bool write_defaults_ = false;
    bool fill_defaults_ = false;
    bool border_defaults_ = false;
    bool source_copied_ = false;
    // Set while an appendable part is written (see WriteAppendableParts): what writes the rows
    // inside sheetData instead of all of them, what runs before the end tag of the shared
    // strings, and where the shared strings go in their order.
    std::function<void(TSheet&)> sheet_rows_;
    std::function<void()> sst_rows_end_;
    std::vector<const TSSTEntry*>* written_strings_ = nullptr;
    std::u16string sst_text_;
    std::string sst_escaped_;
};

}  // namespace linograf::workbook
