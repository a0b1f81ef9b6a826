#pragma once
// What a workbook holds for the Open XML format beyond the BIFF model: the styles an .xlsx file
// has and BIFF cannot say (fills and borders with RGB or theme colours, the xf attributes of
// cellXfs and cellStyleXfs, cell styles, the extra font attributes), the saved elements of the
// workbook part and of each worksheet with the placeholders the writer fills, the relationship
// lists, defined names, external links, the calculation id and the raw style blocks.
//
// The Open XML reader fills it, the Open XML writer reads it (and renumbers the workbook
// relationships and seeds empty saved-tag lists). The workbook component owns it and empties it
// with the workbook.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/model/cell_format.h"

namespace linograf::workbook {

// ---- Element names ----------------------------------------------------------------------------

// The element-name table: an element's number is its position here. Saved tags carry these
// numbers, and the reader turns element names into them.
inline constexpr std::array<std::string_view, 162> kXmlElementNames = {
    "alignment",
    "autoFilter",
    "b",
    "bgColor",
    "bookViews",
    "border",
    "borders",
    "bottom",
    "brk",
    "c",
    "calcPr",
    "cell",
    "cellStyle",
    "cellStyles",
    "cellStyleXfs",
    "cellWatches",
    "cellXfs",
    "cfRule",
    "cfvo",
    "charset",
    "col",
    "colBreaks",
    "color",
    "colors",
    "colorScale",
    "cols",
    "condense",
    "conditionalFormatting",
    "control",
    "controls",
    "customProperties",
    "customSheetView",
    "customSheetViews",
    "customWorkbookView",
    "customWorkbookViews",
    "dataConsolidate",
    "dataValidation",
    "dataValidations",
    "definedName",
    "definedNames",
    "diagonal",
    "dimension",
    "drawing",
    "dxf",
    "dxfs",
    "extend",
    "externalBook",
    "externalLink",
    "externalReference",
    "externalReferences",
    "extLst",
    "f",
    "family",
    "fgColor",
    "fileRecoveryPr",
    "fileSharing",
    "fileVersion",
    "fill",
    "fills",
    "filter",
    "filterColumn",
    "filters",
    "font",
    "fonts",
    "formula",
    "formula1",
    "formula2",
    "formula3",
    "formula4",
    "functionGroups",
    "gradientFill",
    "headerFooter",
    "horizontal",
    "hyperlink",
    "hyperlinks",
    "i",
    "ignoredError",
    "ignoredErrors",
    "indexedColors",
    "inputCells",
    "left",
    "legacyDrawing",
    "legacyDrawingHF",
    "mergeCell",
    "mergeCells",
    "mruColors",
    "name",
    "numFmt",
    "numFmts",
    "oddFooter",
    "oddHeader",
    "oleObject",
    "oleObjects",
    "oleSize",
    "outline",
    "pageMargins",
    "pageSetup",
    "pageSetUpPr",
    "pane",
    "patternFill",
    "phoneticPr",
    "picture",
    "pivotCaches",
    "printOptions",
    "protectedRanges",
    "protection",
    "r",
    "Relationship",
    "Relationships",
    "rFont",
    "rgbColor",
    "right",
    "row",
    "rowBreaks",
    "rPr",
    "scenario",
    "scenarios",
    "scheme",
    "selection",
    "shadow",
    "sheet",
    "sheetCalcPr",
    "sheetData",
    "sheetDataSet",
    "sheetFormatPr",
    "sheetPr",
    "sheetProtection",
    "sheets",
    "sheetName",
    "sheetNames",
    "sheetView",
    "sheetViews",
    "si",
    "smartTagPr",
    "smartTags",
    "smartTagTypes",
    "sortState",
    "sortCondition",
    "sst",
    "stop",
    "strike",
    "styleSheet",
    "sz",
    "t",
    "tabColor",
    "tablePart",
    "tableParts",
    "tableStyles",
    "top",
    "u",
    "v",
    "webPublishing",
    "webPublishItems",
    "webPublishObjects",
    "vertAlign",
    "vertical",
    "workbook",
    "workbookPr",
    "workbookProtection",
    "workbookView",
    "worksheet",
    "xf",
};

// Number of an element outside the table.
inline constexpr int kXmlUnknownElement = 999;

constexpr int XmlElementNumber(std::string_view name) {
    for (std::size_t i = 0; i < kXmlElementNames.size(); ++i)
        if (kXmlElementNames[i] == name) return static_cast<int>(i);
    return kXmlUnknownElement;
}

// The elements the writer generates where a saved-tag list holds their placeholder.
inline constexpr int kXmlDefinedNames = XmlElementNumber("definedNames");
inline constexpr int kXmlExternalReferences = XmlElementNumber("externalReferences");
inline constexpr int kXmlSheets = XmlElementNumber("sheets");
inline constexpr int kXmlFileVersion = XmlElementNumber("fileVersion");
inline constexpr int kXmlCols = XmlElementNumber("cols");
inline constexpr int kXmlDimension = XmlElementNumber("dimension");
inline constexpr int kXmlSheetData = XmlElementNumber("sheetData");
inline constexpr int kXmlMergeCells = XmlElementNumber("mergeCells");
// Generated only where the placeholder stands: a pageSetup read from a file is kept as saved XML.
inline constexpr int kXmlPageSetup = XmlElementNumber("pageSetup");
static_assert(kXmlDefinedNames != kXmlUnknownElement && kXmlMergeCells != kXmlUnknownElement &&
              kXmlPageSetup != kXmlUnknownElement);

// ---- Saved tags -------------------------------------------------------------------------------

// One element of a workbook or worksheet part, in document order: either an element the model
// does not interpret, kept whole as XML text, or a placeholder where the writer generates the
// element from the model.
struct TXLSSavedTag {
    int element = kXmlUnknownElement;
    std::string xml;  // UTF-8, attribute values and texts still escaped
};

using TXLSSavedTags = std::vector<TXLSSavedTag>;

// The placeholder text: "<" name " " [attributes " "] "/>".
std::string SavedTagPlaceholder(int element, std::string_view attributes = {});

// ---- Relationships ----------------------------------------------------------------------------

// Relationship type prefixes.
enum TXMLRelationPrefix : uint8_t { rpNone = 0, rpOfficeDocument = 1, rpMicrosoft2006 = 2 };
std::string_view RelationPrefixText(uint8_t prefix);

enum TXMLTargetMode : uint8_t { tmNone = 0, tmInternal = 1, tmExternal = 2 };

// The 22 workbook relationship type names, numbered from 1, and the weight that orders them when
// the workbook relationships are renumbered.
inline constexpr std::array<std::string_view, 22> kXmlRelationTypeNames = {
    "additionalCharacteristics",
    "bibliography",
    "calcChain",
    "sheetMetadata",
    "connections",
    "xmlMaps",
    "customXml",
    "sharedStrings",
    "revisionHeaders",
    "usernames",
    "styles",
    "theme",
    "thumbnail",
    "volatileDependencies",
    "chartsheet",
    "dialogsheet",
    "externalLink",
    "pivotCacheDefinition",
    "worksheet",
    "vbaProject",
    "attachedToolbars",
    "xlIntlMacrosheet",
};
// 1..22, or 0 for a name outside the table.
int RelationTypeNumber(std::string_view type);
// 0 for names outside the table.
int RelationTypeWeight(std::string_view type);

struct TXMLRelation {
    std::string id;  // "rId" + number
    int number = 0;  // the number after "rId", 0 when there is none
    uint8_t prefix = rpNone;
    std::string type;  // the type name (the whole type URI when its prefix is unknown)
    std::string target;
    uint8_t target_mode = tmNone;

    std::string TypeUri() const { return std::string(RelationPrefixText(prefix)) + type; }
};

// A relationship list: sorted (in the order of the Id texts; a second relationship with the
// same Id raises "Duplicate relation id") or, while it is being built, unsorted (items appended
// as they come).
class TXMLRelations {
  public:
    bool Sorted() const { return sorted_; }
    // Becoming sorted sorts the items by Id text and checks them for duplicates.
    void SetSorted(bool sorted);

    int Count() const { return static_cast<int>(items_.size()); }
    TXMLRelation& Items(int index) { return items_.at(index); }
    const TXMLRelation& Items(int index) const { return items_.at(index); }
    std::vector<TXMLRelation>& All() { return items_; }
    const std::vector<TXMLRelation>& All() const { return items_; }

    TXMLRelation& Add(TXMLRelation relation);
    // The relationship with that Id, or null.
    const TXMLRelation* Find(std::string_view id) const;
    bool HasType(std::string_view type) const;
    void Clear() { items_.clear(); }

  private:
    std::vector<TXMLRelation> items_;
    bool sorted_ = true;
};

// ---- Styles -----------------------------------------------------------------------------------

enum TXc12ColorKind : uint8_t { ckNone = 0, ckAuto, ckIndexed, ckRgb, ckTheme };

// A colour of a style element: automatic, a palette index, an ARGB value (alpha in the high
// byte) or a theme colour, with an optional tint.
struct TXc12Color {
    TXc12ColorKind kind = ckNone;
    uint32_t value = 0;
    double tint = 0;

    static TXc12Color Indexed(uint32_t index) { return {ckIndexed, index, 0}; }
    bool operator==(const TXc12Color&) const = default;
};

// What an Open XML font has beyond TXFont (name, charset, family, height, bold, italic,
// strike-out, underline, sub/superscript), kept by font position. A font without these is
// written with its palette colour as an indexed colour.
struct TXFontEx12 {
    TXc12Color color;
    bool outline = false, shadow = false, condense = false, extend = false;
    uint8_t scheme = 0;  // 1 minor, 2 major
};

struct TGradientStop {
    double position = 0;
    TXc12Color color;
};

enum TFillKind : uint8_t { fkPattern = 0, fkGradient };

struct TFill {
    TFillKind kind = fkPattern;
    uint8_t pattern = 0;  // 0..18, "none" .. "gray0625"
    TXc12Color foreground, background;
    bool path = false;  // a path gradient, else linear
    double degree = 0, left = 0, right = 0, top = 0, bottom = 0;
    std::vector<TGradientStop> stops;
};

enum TBorderLineKind : uint8_t { blLeft = 0, blRight, blTop, blBottom, blDiagonal, blVertical, blHorizontal };
inline constexpr uint8_t kBorderDiagonalDown = 1, kBorderDiagonalUp = 2, kBorderOutline = 4;

struct TBorderLine {
    uint8_t style = 0;  // 0 none, 1..13 "thin" .. "slantedDashDot"
    TXc12Color color;
};

struct TBorder {
    uint8_t options = 0;               // kBorderDiagonalDown | kBorderDiagonalUp | kBorderOutline
    std::array<TBorderLine, 7> lines;  // by TBorderLineKind
};

// Apply mask bits of an xf.
inline constexpr uint8_t kApplyNumberFormat = 1, kApplyFont = 2, kApplyFill = 4, kApplyBorder = 8,
                         kApplyAlignment = 16, kApplyProtection = 32;
// Text flags of an Open XML alignment.
inline constexpr uint8_t kXfWrapText = 1, kXfShrinkToFit = 2, kXfJustifyLastLine = 4;

// An xf of cellXfs or cellStyleXfs as read, beside its cell format (which holds the font index
// and the number format id). Formats without one are written from their BIFF attributes.
struct TCellFormatEx12 {
    int fill = 0;    // position in the fill list
    int border = 0;  // position in the border list
    int xf_id = 0;   // cellXfs only: the cell style format, written when not 0
    uint8_t apply = 0;
    bool quote_prefix = false, pivot_button = false;
    uint8_t horizontal = 0;  // "general" .. "distributed"
    uint8_t vertical = 2;    // "top" .. "distributed"; 2 is "bottom"
    int text_rotation = 0, indent = 0, relative_indent = 0, reading_order = 0;
    uint8_t text_flags = 0;  // kXfWrapText | kXfShrinkToFit | kXfJustifyLastLine
    uint8_t protection = 0;  // bit 0 locked, bit 1 hidden
};

struct TEx12CellStyle {
    int builtin_id = -1;
    bool custom_builtin = false, hidden = false;
    int i_level = -1;
    int xf_id = 0;
    std::u16string name;
};

// ---- Names ------------------------------------------------------------------------------------

// Option bits of a defined name.
inline constexpr uint16_t kNameHidden = 0x02, kNameFunction = 0x04, kNameVbProcedure = 0x08, kNameXlm = 0x20,
                          kNamePublishToServer = 0x40, kNameWorkbookParameter = 0x80;

struct TDefinedName {
    std::u16string name;  // as written in the file, "_xlnm." prefix included for built-in names
    std::u16string comment, custom_menu, description, help, status_bar, shortcut_key;
    int local_sheet_id = 0;
    // localSheetId was given: a name local to the first sheet has 0 and must keep it (a print
    // area made global is refused by Excel). Without it, localSheetId is written when not 0.
    bool local = false;
    int function_group_id = 0;
    uint16_t options = 0;
    std::u16string definition;
};

// ---- Per sheet and per workbook ---------------------------------------------------------------

// Column attributes the BIFF column object has no room for.
struct TColumnEx12 {
    bool best_fit = false;
    bool phonetic = false;
};

struct TOpenXmlSheet {
    TXLSSavedTags saved_tags;
    TXMLRelations relations;
    std::map<uint32_t, TColumnEx12> columns;
    // Set for a chart sheet: the Id of the workbook relationship to its part. The model cannot
    // hold a chart, so the part (and what it refers to) is copied unchanged and only its place in
    // the sheet order is kept, so later sheets keep their positions.
    std::string chart_relation_id;
};

class TOpenXmlBook {
  public:
    // Empties everything (the workbook component calls it from Clear).
    void Clear();

    TXLSSavedTags& SavedTags() { return saved_tags_; }
    // Workbook relationships other than worksheets, styles, shared strings and calcChain.
    TXMLRelations& Relations() { return relations_; }
    // The external links, in the order of externalReference elements.
    TXMLRelations& ExternalLinks() { return external_links_; }
    std::vector<TDefinedName>& DefinedNames() { return defined_names_; }
    double CalcId() const { return calc_id_; }
    void SetCalcId(double id) { calc_id_ = id; }

    // Raw style blocks, each the whole element as XML text, empty when absent.
    std::string& Dxfs() { return dxfs_; }
    std::string& TableStyles() { return table_styles_; }
    std::string& Colors() { return colors_; }

    std::vector<TFill>& Fills() { return fills_; }
    std::vector<TBorder>& Borders() { return borders_; }
    std::vector<TEx12CellStyle>& CellStyles() { return cell_styles_; }
    // By font position.
    std::map<int, TXFontEx12>& Fonts() { return fonts_; }
    // By the handle of a format of the master list / of the cell style format list.
    std::map<XfId, TCellFormatEx12>& MasterFormats() { return master_formats_; }
    std::map<XfId, TCellFormatEx12>& StyleFormats() { return style_formats_; }

    // The data of the sheet at a position, made on first use.
    TOpenXmlSheet& Sheet(int index);
    int SheetCount() const { return static_cast<int>(sheets_.size()); }

  private:
    TXLSSavedTags saved_tags_;
    TXMLRelations relations_;
    TXMLRelations external_links_;
    std::vector<TDefinedName> defined_names_;
    double calc_id_ = 0;
    std::string dxfs_, table_styles_, colors_;
    std::vector<TFill> fills_;
    std::vector<TBorder> borders_;
    std::vector<TEx12CellStyle> cell_styles_;
    std::map<int, TXFontEx12> fonts_;
    std::map<XfId, TCellFormatEx12> master_formats_;
    std::map<XfId, TCellFormatEx12> style_formats_;
    std::vector<std::unique_ptr<TOpenXmlSheet>> sheets_;  // references stay valid as it grows
};

}  // namespace linograf::workbook
