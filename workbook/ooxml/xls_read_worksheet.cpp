// The worksheet parts of the Open XML reader: cells, rows, columns, merged areas and the
// elements kept as saved XML.
#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

#include "workbook/model/open_xml_model.h"
#include "workbook/model/tabulon4.h"
#include "workbook/ooxml/xls_read_2007_xml.h"
#include "workbook/ooxml/xml_attribute_names.h"
#include "workbook/ooxml/xml_element_numbers.h"
#include "workbook/ooxml/xml_text_writer.h"
#include "workbook/ooxml/xml_values.h"

namespace linograf::workbook {
namespace {

constexpr int kSavedWorksheetElements[] = {
    XmlElementNumber("autoFilter"),       XmlElementNumber("cellWatches"),
    XmlElementNumber("colBreaks"),        XmlElementNumber("conditionalFormatting"),
    XmlElementNumber("controls"),         XmlElementNumber("customProperties"),
    XmlElementNumber("customSheetViews"), XmlElementNumber("dataConsolidate"),
    XmlElementNumber("dataValidations"),  XmlElementNumber("drawing"),
    XmlElementNumber("extLst"),           XmlElementNumber("headerFooter"),
    XmlElementNumber("hyperlinks"),       XmlElementNumber("ignoredErrors"),
    XmlElementNumber("legacyDrawing"),    XmlElementNumber("legacyDrawingHF"),
    XmlElementNumber("oleObjects"),       XmlElementNumber("pageMargins"),
    XmlElementNumber("pageSetup"),        XmlElementNumber("phoneticPr"),
    XmlElementNumber("picture"),          XmlElementNumber("printOptions"),
    XmlElementNumber("protectedRanges"),  XmlElementNumber("rowBreaks"),
    XmlElementNumber("scenarios"),        XmlElementNumber("sheetCalcPr"),
    XmlElementNumber("sheetFormatPr"),    XmlElementNumber("sheetPr"),
    XmlElementNumber("sheetProtection"),  XmlElementNumber("sheetViews"),
    XmlElementNumber("smartTags"),        XmlElementNumber("sortState"),
    XmlElementNumber("tableParts"),       XmlElementNumber("webPublishItems"),
};

uint8_t ErrorCode(std::string_view text) {
    static constexpr std::string_view kErrors[] = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!",
                                                   "#NAME?", "#NUM!",   "#N/A"};
    for (size_t i = 0; i < std::size(kErrors); ++i)
        if (kErrors[i] == text) return static_cast<uint8_t>(i + 1);
    return 0;
}

bool Flag(const TExXMLTag& tag, int attribute) {
    const std::string* v = tag.Value(attribute);
    return v && XmlToBool(*v);
}

int IntAttribute(const TExXMLTag& tag, int attribute, int fallback) {
    const std::string* v = tag.Value(attribute);
    return v ? XmlToInt(*v, fallback) : fallback;
}

std::string_view TrimmedValue(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view LocalName(std::string_view name) {
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The text of an inline string: its t, or its runs' t joined.
std::u16string InlineText(const TExXMLTag& is) {
    if (const TExXMLTag* t = is.Child(xe::t)) return DecodeCellText(t->text);
    std::string joined;
    for (const auto& r : is.children)
        if (r->number == xe::r)
            if (const TExXMLTag* t = r->Child(xe::t)) joined += t->text;
    return DecodeCellText(joined);
}

// The attributes of `tag` that pass `keep`, as XML text with a leading blank each.
template <typename Keep>
std::string KeptAttributes(const TExXMLTag& tag, Keep keep) {
    std::string out;
    for (const TExXMLValue& a : tag.attributes) {
        if (!keep(a)) continue;
        out += ' ';
        out += a.name;
        out += "=\"";
        out += EscapeXml(std::string_view(a.value));
        out += '"';
    }
    return out;
}

}  // namespace

bool TXLSRead2007XML::WorksheetElementEnded(TExXMLTag& tag, int depth) {
    const int parent = tag.parent ? tag.parent->number : kXmlUnknownElement;
    if (depth == 4 && tag.number == xe::c && parent == xe::row) {
        ReadCell(tag);
        return true;
    }
    if (depth == 3) {
        if (tag.number == xe::row && parent == xe::sheetData) {
            ReadRow(tag);
            return true;
        }
        if (tag.number == xe::col && parent == xe::cols) {
            ReadColumns(tag);
            return true;
        }
        if (tag.number == xe::mergeCell && parent == xe::mergeCells) {
            const TCellArea a = ParseAreaReference(Required(tag, xa::ref));
            book_.Sheet(sheet_).MergedCells().Add(
                static_cast<int32_t>(a.first.col), static_cast<int32_t>(a.first.row),
                static_cast<int32_t>(a.last.col), static_cast<int32_t>(a.last.row));
            return true;
        }
        return false;
    }
    if (depth != 2) return false;
    TOpenXmlSheet& data = book_.OpenXml().Sheet(sheet_);
    if (tag.number == xe::dimension) {
        const TCellArea a = ParseAreaReference(Required(tag, xa::ref));
        book_.Sheet(sheet_).SetUsedArea(a.first.col, a.first.row, a.last.col, a.last.row);
        data.saved_tags.push_back({tag.number, tag.SavedXml()});
    } else if (tag.number == xe::cols || tag.number == xe::sheetData || tag.number == xe::mergeCells) {
        data.saved_tags.push_back({tag.number, SavedTagPlaceholder(tag.number)});
    } else if (std::find(std::begin(kSavedWorksheetElements), std::end(kSavedWorksheetElements),
                         tag.number) != std::end(kSavedWorksheetElements)) {
        data.saved_tags.push_back({tag.number, tag.SavedXml()});
    }
    return true;
}

void TXLSRead2007XML::RowStarted(const TExXMLTag& tag) {
    // A row without a number follows the one before.
    uint32_t row = row_ + 1;
    if (const std::string* r = tag.Value(xa::r)) {
        const int n = XmlToInt(*r, 0);
        if (n < 1 || n > static_cast<int>(kStoreRows)) throw std::runtime_error("Invalid row number: " + *r);
        row = static_cast<uint32_t>(n - 1);
    }
    row_ = row;
    next_col_ = 0;
}

void TXLSRead2007XML::ReadRow(const TExXMLTag& tag) {
    const uint32_t row = row_;
    const std::string* ht = tag.Value(xa::ht);
    const int s = IntAttribute(tag, xa::s, 0);
    const bool hidden = Flag(tag, xa::hidden), collapsed = Flag(tag, xa::collapsed);
    const int outline = std::clamp(IntAttribute(tag, xa::outlineLevel, 0), 0, 7);
    // A row element that only carries cells makes no row object.
    if (!ht && s <= 0 && !hidden && !collapsed && outline == 0) return;
    const double height = ht ? XmlToFloat(*ht) : 12.75;
    const auto twips = static_cast<uint16_t>(std::clamp(std::lround(height * 20), 0L, 8192L));
    TSheet& sheet = book_.Sheet(sheet_);
    if (s > 0 && s + 21 <= 0xFFF && row <= 0xFFFF) {
        // The row's format goes in through the ROW record form, the one way to give it one.
        uint8_t rec[16] = {};
        auto put = [&](int at, uint32_t v) {
            rec[at] = static_cast<uint8_t>(v);
            rec[at + 1] = static_cast<uint8_t>(v >> 8);
        };
        put(0, row);
        put(4, static_cast<uint32_t>(LastColumn() + 1));
        put(6, twips);
        put(12, static_cast<uint32_t>(outline) | (collapsed ? kRowCollapsed : 0) | (hidden ? kRowHidden : 0) |
                    (twips != kDefaultRowHeight ? kRowCustomHeight : 0) | kRowHasFormat);
        put(14, static_cast<uint32_t>(s + 21));
        sheet.Rows().LoadFromRecord(rec);
        return;
    }
    TXLSRow& r = sheet.Rows().AddIfNone(row);
    r.SetHeight(twips);
    r.SetHidden(hidden);
    r.SetCollapsed(collapsed);
    r.SetOutlineLevel(static_cast<uint8_t>(outline));
}

void TXLSRead2007XML::ReadColumns(const TExXMLTag& tag) {
    const int min = XmlToInt(Required(tag, xa::min), 0);
    const int max = std::min(XmlToInt(Required(tag, xa::max), 0), static_cast<int>(kStoreColumns));
    if (min < 1 || max < min) return;
    const std::string* w = tag.Value(xa::width);
    const long width = std::clamp(std::lround((w ? XmlToFloat(*w) : 9.765625) * 256), 0L, 65535L);
    TSheet& sheet = book_.Sheet(sheet_);
    TOpenXmlSheet& data = book_.OpenXml().Sheet(sheet_);
    const bool best_fit = Flag(tag, xa::bestFit), phonetic = Flag(tag, xa::phonetic);
    sheet.Columns().AddIfNone(min - 1, max - min + 1);
    for (int col = min - 1; col < max; ++col) {
        TXLSColumn* c = sheet.Columns().Items(col);
        if (!c) continue;
        c->SetWidth(static_cast<int>(width));
        c->SetHidden(Flag(tag, xa::hidden));
        c->SetCollapsed(Flag(tag, xa::collapsed));
        c->SetOutlineLevel(std::clamp(IntAttribute(tag, xa::outlineLevel, 0), 0, 7));
        c->SetUserSet(Flag(tag, xa::customWidth));
        if (best_fit || phonetic) data.columns[static_cast<uint32_t>(col)] = {best_fit, phonetic};
    }
}

void TXLSRead2007XML::ReadCell(const TExXMLTag& tag) {
    TCellAddress at;
    if (const std::string* r = tag.Value(xa::r)) {
        at = ParseCellReference(*r);
    } else {
        // A cell without a reference is the next one of its row.
        if (next_col_ >= kStoreColumns) throw std::runtime_error("Invalid cell reference: column beyond XFD");
        at = {next_col_, row_};
    }
    next_col_ = at.col + 1;

    TCellText cell;
    const std::string* t = tag.Value(xa::t);
    cell.type = t ? std::string_view(*t) : std::string_view("n");
    const int xf = std::max(IntAttribute(tag, xa::s, 0), 0) + 21;
    cell.v = tag.Child(xe::v);
    // Values keep their text as written (a string result may begin or end with blanks); the
    // blanks around the other kinds' values are layout.
    cell.value = cell.v ? std::string_view(cell.v->text) : std::string_view();
    if (cell.type != "str") cell.value = TrimmedValue(cell.value);

    if (const TExXMLTag* f = tag.Child(xe::f))
        ReadFormulaCell(tag, *f, cell, at, xf);
    else
        ReadValueCell(tag, cell, at, xf);
}

// An ISO 8601 date as the serial date it stands for, in the workbook's date system.
double TXLSRead2007XML::DateSerial(std::string_view value) const {
    double serial = 0;
    if (!XmlIsoDateToSerial(value, book_.Date1904(), serial))
        throw std::runtime_error("Invalid date: " + std::string(value.substr(0, 40)));
    return serial;
}

void TXLSRead2007XML::ReadFormulaCell(const TExXMLTag& tag, const TExXMLTag& f, const TCellText& cell,
                                      TCellAddress at, int xf) {
    auto data = std::make_unique<TFormulaData>();
    static constexpr std::pair<int, uint16_t> kOptions[] = {
        {xa::aca, 0x01},  {xa::bx, 0x02},   {xa::ca, 0x04},  {xa::del1, 0x08},
        {xa::del2, 0x10}, {xa::dt2D, 0x20}, {xa::dtr, 0x40},
    };
    for (auto [attribute, bit] : kOptions)
        if (Flag(f, attribute)) data->options |= bit;
    const std::string* ft = f.Value(xa::t);
    data->in_shared_group = ft && *ft == "shared";
    data->text = DecodeText(f.text);
    // Shared groups (master with ref and si, members with si only), array and data-table
    // formulas are told by these attributes; the model has no form for them, so they go back as
    // they were, and so does the cell metadata of dynamic arrays.
    data->xml_formula_attributes = KeptAttributes(f, [](const TExXMLValue& a) {
        return std::none_of(std::begin(kOptions), std::end(kOptions),
                            [&](const auto& option) { return option.first == a.number; });
    });
    data->xml_cell_attributes = KeptAttributes(
        tag, [](const TExXMLValue& a) { return a.name == "cm" || a.name == "vm" || a.name == "ph"; });
    // A formula without a cached result (as producers that do not calculate write it) reads with
    // the empty result of its type and is written without one, so that whoever opens the file
    // calculates it. An empty value (openpyxl writes <v></v>) is no result either, except as an
    // empty text.
    const bool has_value = !cell.value.empty();
    data->result_known = has_value || (cell.type == "str" && cell.v != nullptr);
    TCellType kind;
    if (cell.type == "n") {
        kind = ctNumberFormula;
        data->number = XmlToFloat(cell.value);
    } else if (cell.type == "str") {
        kind = ctStringFormula;
        data->string_result = DecodeCellText(cell.value);
    } else if (cell.type == "b") {
        kind = ctBooleanFormula;
        data->boolean_or_error = XmlToBool(cell.value) ? 1 : 0;
    } else if (cell.type == "e") {
        kind = ctErrorFormula;
        data->boolean_or_error = ErrorCode(cell.value);
    } else if (cell.type == "d") {
        kind = ctNumberFormula;
        data->number = has_value ? DateSerial(cell.value) : 0;
    } else {
        throw std::runtime_error("Unknown Excel XML formula type");
    }
    book_.Sheet(sheet_).SetFormula(at.col, at.row, xf, kind, std::move(data));
}

void TXLSRead2007XML::ReadValueCell(const TExXMLTag& tag, const TCellText& cell, TCellAddress at, int xf) {
    TSheet& sheet = book_.Sheet(sheet_);
    if (cell.type == "inlineStr") {
        for (const auto& child : tag.children) {
            if (child->number == kXmlUnknownElement && LocalName(child->name) == xe::kInlineString) {
                sheet.SetString(at.col, at.row, xf, InlineText(*child));
                return;
            }
        }
        sheet.SetBlank(at.col, at.row, xf);
        return;
    }
    const std::string_view value = cell.value;
    if (value.empty()) {
        sheet.SetBlank(at.col, at.row, xf);
    } else if (cell.type == "n") {
        sheet.SetFloat(at.col, at.row, xf, XmlToFloat(value));
    } else if (cell.type == "s") {
        const int index = XmlToInt(value, -1);
        if (index < 0)
            throw std::runtime_error("Invalid shared string index: " + std::string(value.substr(0, 20)));
        sheet.SetSSTString(at.col, at.row, xf, static_cast<uint32_t>(index));
    } else if (cell.type == "b") {
        sheet.SetBoolean(at.col, at.row, xf, XmlToBool(value));
    } else if (cell.type == "e") {
        sheet.SetError(at.col, at.row, xf, ErrorCode(value));
    } else if (cell.type == "str") {
        sheet.SetString(at.col, at.row, xf, DecodeCellText(value));
    } else if (cell.type == "d") {
        sheet.SetFloat(at.col, at.row, xf, DateSerial(value));
    } else {
        throw std::runtime_error("Unknown Excel XML cell type");
    }
}

}  // namespace linograf::workbook
