// Worksheet parts: columns, dimension, cells, merged areas and page setup, with the saved elements
// of a read file between them.
#include <algorithm>
#include <cctype>

#include "workbook/model/cell.h"
#include "workbook/model/process_values.h"
#include "workbook/model/shared_strings.h"
#include "workbook/model/tabulon4.h"
#include "workbook/ooxml/xls_write_2007_xml.h"

namespace linograf::workbook {
namespace {

constexpr int kFirstCellFormat = 21;

std::string_view TrimmedXml(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

const char* ErrorText(uint8_t code) {
    switch (code) {
        case ceNull:
            return "#NULL!";
        case ceDiv0:
            return "#DIV/0!";
        case ceValue:
            return "#VALUE!";
        case ceRef:
            return "#REF!";
        case ceName:
            return "#NAME?";
        case ceNum:
            return "#NUM!";
        default:
            return "#N/A";
    }
}

void AppendUnsigned(std::string& out, uint64_t value) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (n > 0) out += digits[--n];
}

}  // namespace

void TXLSWrite2007XML::WriteWorksheet(int index) {
    TSheet& sheet = book_.Sheet(index);
    TOpenXmlSheet& ox = book_.OpenXml().Sheet(index);
    // A sheet not read from .xlsx has its page setup in the print settings (made here or read
    // from .xls), which Excel and the BIFF writer honour, so the package carries it too; one read
    // from .xlsx keeps its own pageSetup as saved XML and has no placeholder for it.
    const std::string page_setup_placeholder = SavedTagPlaceholder(kXmlPageSetup);
    if (ox.saved_tags.empty()) {
        for (int element : {kXmlCols, kXmlSheetData, kXmlMergeCells, kXmlPageSetup})
            ox.saved_tags.push_back({element, SavedTagPlaceholder(element)});
    }
    xml_.XmlDeclaration();
    xml_.BeginTag("worksheet",
                  R"(xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
                  R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships")");
    for (const TXLSSavedTag& tag : ox.saved_tags) {
        if (tag.element == kXmlCols) {
            WriteColumns(sheet, index);
        } else if (tag.element == kXmlDimension) {
            // Optional, and it would change with every appended row: a part that is extended at
            // its end leaves it out.
            if (book_.AppendWrites()) continue;
            // Rows appended since the file was read widen the area: it is taken from the cells.
            sheet.CalcDimensions();
            std::string ref = CellReference(sheet.FirstCol(), sheet.FirstRow());
            ref += ':';
            AppendCellReference(ref, sheet.LastCol(), sheet.LastRow());
            xml_.EmptyTag("dimension", "ref=\"" + ref + '"');
        } else if (tag.element == kXmlSheetData) {
            WriteSheetData(sheet);
        } else if (tag.element == kXmlMergeCells) {
            WriteMergeCells(sheet);
        } else if (tag.element == kXmlPageSetup && tag.xml == page_setup_placeholder) {
            // Saved XML always ends in a line break, so a pageSetup read from a file never
            // equals the placeholder.
            WritePageSetup(sheet);
        } else {
            xml_.WriteRaw(TrimmedXml(tag.xml));
        }
    }
    xml_.EndTag();
}

void TXLSWrite2007XML::WriteColumns(TSheet& sheet, int index) {
    const auto& kept = book_.OpenXml().Sheet(index).columns;
    bool open = false;
    const int last = std::min(LastColumn(), 16383);
    for (int col = 0; col <= last; ++col) {
        const TXLSColumn* column = sheet.Columns().Items(col);
        if (!column) continue;
        if (!open) {
            xml_.BeginTag("cols");
            open = true;
        }
        TColumnEx12 ex12;
        if (const auto it = kept.find(static_cast<uint32_t>(col)); it != kept.end()) ex12 = it->second;
        xml_.AddAttribute(true, "min", col + 1);
        xml_.AddAttribute(true, "max", col + 1);
        xml_.AddAttribute(true, "width", column->Width() / 256.0);
        xml_.AddAttribute(column->UserSet(), "customWidth", true);
        xml_.AddAttribute(column->Collapsed(), "collapsed", true);
        xml_.AddAttribute(column->Hidden(), "hidden", true);
        xml_.AddAttribute(column->OutlineLevel() != 0, "outlineLevel", column->OutlineLevel());
        xml_.AddAttribute(ex12.best_fit, "bestFit", true);
        xml_.AddAttribute(ex12.phonetic, "phonetic", true);
        xml_.EmptyTag("col");
    }
    if (open) xml_.EndTag();
}

void TXLSWrite2007XML::WriteSheetData(TSheet& sheet) {
    xml_.BeginTag("sheetData");
    if (sheet_rows_) {
        sheet_rows_(sheet);
    } else {
        WriteSheetRows(sheet, 0);
    }
    xml_.EndTag();
}

// The hot loop of every write: cells are appended to the buffer directly, in the same forms the
// text writer produces (pending attributes each followed by a blank, so "<c r="A1" t="s" >").
uint32_t TXLSWrite2007XML::WriteSheetRows(TSheet& sheet, uint32_t from_row) {
    std::string& out = xml_.Buffer();
    auto cells = sheet.Cells().CellsFrom(from_row);
    bool row_open = false;
    uint32_t current_row = 0;
    int since_progress = 0;
    const bool progress = static_cast<bool>(book_.OnProgress);
    while (TCellRef ref = cells.Next()) {
        const TCellType type = ref.cell->type;
        if (type == ctArrayFormula || type == ctStringArrayFormula || type == ctNone) continue;
        xml_.FlushIfFull();
        if (!row_open || ref.row != current_row) {
            if (row_open) out += "</row>";
            out += "<row r=\"";
            AppendUnsigned(out, uint64_t{ref.row} + 1);
            out += "\">";
            row_open = true;
            current_row = ref.row;
        }
        WriteCell(sheet, ref.col, ref.row, *ref.cell);
        if (progress && ++since_progress == 100) {
            since_progress = 0;
            book_.ProgressStep();
        }
    }
    if (!row_open) return from_row;
    out += "</row>";
    return current_row + 1;
}

void TXLSWrite2007XML::WriteCell(TSheet& sheet, uint32_t col, uint32_t row, const TCell& cell) {
    std::string& out = xml_.Buffer();
    out += "<c r=\"";
    AppendCellReference(out, col, row);
    out += "\" ";
    const int style = sheet.CellFormatIndex(cell) - kFirstCellFormat + (write_defaults_ ? 1 : 0);
    if (style > 0) {
        out += "s=\"";
        AppendUnsigned(out, static_cast<uint64_t>(style));
        out += "\" ";
    }
    switch (cell.type) {
        case ctBlank:
            out += "></c>";
            return;
        case ctInteger:
            out += "><v>";
            if (cell.value.integer < 0) out += '-';
            AppendUnsigned(out, static_cast<uint64_t>(cell.value.integer < 0 ? -int64_t{cell.value.integer}
                                                                             : int64_t{cell.value.integer}));
            out += "</v></c>";
            return;
        case ctFloat:
            out += "><v>";
            AppendGeneral(out, cell.value.number);
            out += "</v></c>";
            return;
        case ctString:
            out += "t=\"s\" ><v>";
            AppendUnsigned(out, cell.value.entry->Index());
            out += "</v></c>";
            return;
        case ctBoolean:
            out += "t=\"b\" ><v>";
            out += cell.small ? '1' : '0';
            out += "</v></c>";
            return;
        case ctError:
            out += "t=\"e\" ><v>";
            out += ErrorText(cell.small);
            out += "</v></c>";
            return;
        default:
            break;
    }
    const TFormulaData* f = cell.value.formula;
    if (f && !f->xml_cell_attributes.empty()) {
        out.append(f->xml_cell_attributes, 1);
        out += ' ';
    }
    // A formula read without a result gets none, so that it is calculated when opened; a
    // written 0 would be shown as its value.
    const bool result = !f || f->result_known;
    switch (cell.type) {
        case ctNumberFormula:
            out += '>';
            WriteFormula(cell);
            if (!result) break;
            out += "<v>";
            AppendGeneral(out, f ? f->number : 0);
            out += "</v>";
            break;
        case ctStringFormula: {
            out += "t=\"str\" >";
            WriteFormula(cell);
            if (!result) break;
            std::string escaped;
            if (f) AppendEscapedUtf8(escaped, f->string_result, true);
            xml_.PreserveElement("v", escaped);
            break;
        }
        case ctBooleanFormula:
            out += "t=\"b\" >";
            WriteFormula(cell);
            if (!result) break;
            out += (f && f->boolean_or_error) ? "<v>1</v>" : "<v>0</v>";
            break;
        case ctErrorFormula:
            out += "t=\"e\" >";
            WriteFormula(cell);
            if (!result) break;
            out += "<v>";
            out += ErrorText(f ? f->boolean_or_error : static_cast<uint8_t>(ceNA));
            out += "</v>";
            break;
        default:
            out += '>';
            break;
    }
    out += "</c>";
}

// The formula text and options come from the formula handler; the model keeps the text and the
// option bits a reader found, and the attributes of shared groups, array and data-table
// formulas as they were read (a group member has no text of its own).
void TXLSWrite2007XML::WriteFormula(const TCell& cell) {
    const TFormulaData* f = cell.value.formula;
    const uint16_t options = f ? f->options : 0;
    std::string& out = xml_.Buffer();
    out += "<f";
    static constexpr std::pair<uint16_t, std::string_view> kOptions[] = {
        {0x01, " aca=\"1\""},  {0x20, " dt2D=\"1\""}, {0x40, " dtr=\"1\""}, {0x08, " del1=\"1\""},
        {0x10, " del2=\"1\""}, {0x04, " ca=\"1\""},   {0x02, " bx=\"1\""},
    };
    for (const auto& [bit, text] : kOptions)
        if (options & bit) out += text;
    if (f) out += f->xml_formula_attributes;
    out += '>';
    if (f) {
        std::u16string_view text = f->text;
        if (!text.empty() && text.front() == u'=') text.remove_prefix(1);
        AppendEscapedUtf8(out, text);
    }
    out += "</f>";
}

void TXLSWrite2007XML::WriteMergeCells(TSheet& sheet) {
    TMergedCells& merged = sheet.MergedCells();
    if (merged.Count() == 0) return;
    xml_.BeginTag("mergeCells", "count=\"" + std::to_string(merged.Count()) + '"');
    for (int i = 0; i < merged.Count(); ++i) {
        const TMergedArea& a = merged.Items(i);
        std::string ref = "ref=\"";
        AppendCellReference(ref, static_cast<uint32_t>(a.col1), static_cast<uint32_t>(a.row1));
        ref += ':';
        AppendCellReference(ref, static_cast<uint32_t>(a.col2), static_cast<uint32_t>(a.row2));
        ref += '"';
        xml_.EmptyTag("mergeCell", ref);
    }
    xml_.EndTag();
}

void TXLSWrite2007XML::WritePageSetup(TSheet& sheet) {
    const TPrintSettings& print = sheet.PrintSettings();
    // Paper size 0 is "the printer's default", which has no code in the package: left out.
    xml_.AddAttribute(print.PaperSize() != psDefault, "paperSize", static_cast<int>(print.PaperSize()));
    xml_.AddAttribute(true, "orientation", print.Options().Contains(psoPortrait) ? "portrait" : "landscape");
    xml_.EmptyTag("pageSetup");
}

}  // namespace linograf::workbook
