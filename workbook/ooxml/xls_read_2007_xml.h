#pragma once
// TXLSRead2007XML: loads an Open XML spreadsheet package (.xlsx) into a workbook. The parts are
// read in a fixed order: styles, shared strings, workbook relationships, workbook, worksheet
// relationships, worksheets. What the model holds (styles, shared strings, sheets, defined
// names, columns, rows, cells, merged areas) goes into it; the other elements of the workbook
// part and of each worksheet are kept as saved XML in document order, so the writer puts them
// back where they were.
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/ooxml/xml_element_tree.h"
#include "workbook/ooxml/xml_values.h"

namespace linograf::workbook {

class TTabulon4;
class TStream;
class TXLSZipArchive;

// Reads an Open XML package from the open input file; when temp is given, the whole input is
// copied into it as the source package of the next write. Called after the workbook was cleared
// and holds only the 21 built-in cell formats and no fonts.
void ReadOpenXmlWorkbook(TTabulon4& book, TStream& input, TStream* temp);
class TXFont;
struct TXFontEx12;
struct TXc12Color;
struct TXMLRelation;
class TXMLRelations;

class TXLSRead2007XML : private TXmlElementHandler {
  public:
    explicit TXLSRead2007XML(TTabulon4& book);

    // Reads the package in `input`; when `temp` is given the whole input is copied into it as
    // the source package of the next write. A stream that is no ZIP archive (an encrypted
    // workbook is a compound document) or an archive without a workbook part raises an error.
    void ReadPackage(TStream& input, TStream* temp);

    // The parts read, in reading order.
    const std::vector<std::u16string>& PartNames() const { return part_names_; }

  private:
    enum TPartType { ptStyles, ptSharedStrings, ptWorkbookRels, ptWorkbook, ptSheetRels, ptWorksheet };

    bool ReadPart(TXLSZipArchive& zip, const std::string& name, TPartType type);
    void ReadParts(TXLSZipArchive& zip);
    void FinishStrings();

    void ElementStarted(TExXMLTag& tag) override;
    bool ElementEnded(TExXMLTag& tag, int depth) override;

    bool StylesElementEnded(TExXMLTag& tag, int depth);
    bool SharedStringsElementEnded(TExXMLTag& tag, int depth);
    bool RelationsElementEnded(TExXMLTag& tag, int depth);
    bool WorkbookElementEnded(TExXMLTag& tag, int depth);
    bool WorksheetElementEnded(TExXMLTag& tag, int depth);

    void ReadNumberFormats(const TExXMLTag& tag);
    void ReadFonts(const TExXMLTag& tag);
    void ReadFills(const TExXMLTag& tag);
    void ReadBorders(const TExXMLTag& tag);
    void ReadCellFormats(const TExXMLTag& tag, bool master);
    void ReadCellStyles(const TExXMLTag& tag);
    // A font element (or a run's rPr, whose name is in rFont).
    void BuildFont(const TExXMLTag& tag, bool run, TXFont& font, TXFontEx12& ex) const;
    void ReadSharedString(const TExXMLTag& si);
    void ReadSheetElement(const TExXMLTag& tag);
    void ReadDefinedName(const TExXMLTag& tag);
    void RowStarted(const TExXMLTag& tag);
    void ReadRow(const TExXMLTag& tag);
    void ReadColumns(const TExXMLTag& tag);
    void ReadCell(const TExXMLTag& tag);
    // A cell's type attribute ("n" when there is none), its v element and that element's text.
    struct TCellText {
        std::string_view type;
        const TExXMLTag* v = nullptr;
        std::string_view value;
    };
    void ReadFormulaCell(const TExXMLTag& tag, const TExXMLTag& f, const TCellText& cell, TCellAddress at,
                         int xf);
    void ReadValueCell(const TExXMLTag& tag, const TCellText& cell, TCellAddress at, int xf);
    double DateSerial(std::string_view value) const;

    // The value of a required attribute; raises "Required value missing: " + name.
    const std::string& Required(const TExXMLTag& tag, int attribute) const;
    // Raises "Unexpected tag %d, %s" for a child of another kind.
    static void ExpectChild(const TExXMLTag& child, int element);

    TTabulon4& book_;
    TXLSReadExcelXMLStream tree_;
    TPartType part_type_ = ptStyles;
    std::string part_name_;
    TXMLRelations* relations_ = nullptr;                    // the list a relationships part fills
    int sheet_ = 0;                                         // the sheet a worksheet part fills
    int sheet_elements_ = 0;                                // sheet elements of the workbook part so far
    std::vector<std::string> sheet_relation_ids_;           // r:id of each sheet element
    std::map<std::string, std::string> worksheet_targets_;  // worksheet relationship Id -> part name
    std::vector<std::u16string> part_names_;
    bool keep_part_names_ = false;
    // The current row, and the column a cell without a reference takes.
    uint32_t row_ = 0;
    uint32_t next_col_ = 0;
    std::u16string text_;  // a shared string as it is decoded
};

}  // namespace linograf::workbook
