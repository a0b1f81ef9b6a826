#include "workbook/ooxml/xls_read_2007_xml.h"

#include <functional>
#include <stdexcept>

#include "text/wide_text.h"
#include "workbook/model/open_xml_model.h"
#include "workbook/model/tabulon4.h"
#include "workbook/ooxml/xls_zip_archive.h"
#include "workbook/ooxml/xml_attribute_names.h"
#include "workbook/ooxml/xml_element_numbers.h"
#include "workbook/ooxml/xml_values.h"

namespace linograf::workbook {
namespace {

// Relationship types the writer makes itself; the workbook list leaves them out.
bool IsGeneratedWorkbookRelation(std::string_view type) {
    return type == "worksheet" || type == "sharedStrings" || type == "styles" || type == "calcChain";
}

// A relationship target relative to the workbook part (xl/), as a part name.
std::string WorkbookTargetPart(std::string_view target) {
    if (!target.empty() && target.front() == '/') return std::string(target.substr(1));
    std::string base = "xl/";
    while (target.starts_with("../")) {
        target.remove_prefix(3);
        base.clear();
    }
    return base + std::string(target);
}

constexpr int kWorkbookProperties = XmlElementNumber("workbookPr");

const std::string* FindAttribute(const TExXMLTag& tag, std::string_view name) {
    for (const TExXMLValue& a : tag.attributes)
        if (a.name == name) return &a.value;
    return nullptr;
}

// xl/worksheets/sheet1.xml -> xl/worksheets/_rels/sheet1.xml.rels
std::string RelationsPartOf(std::string_view part) {
    const size_t slash = part.rfind('/');
    const std::string_view folder =
        slash == std::string_view::npos ? std::string_view() : part.substr(0, slash + 1);
    const std::string_view file = slash == std::string_view::npos ? part : part.substr(slash + 1);
    return std::string(folder) + "_rels/" + std::string(file) + ".rels";
}

}  // namespace

TXLSRead2007XML::TXLSRead2007XML(TTabulon4& book) : book_(book) {}

const std::string& TXLSRead2007XML::Required(const TExXMLTag& tag, int attribute) const {
    if (const std::string* v = tag.Value(attribute)) return *v;
    throw std::runtime_error("Required value missing: " +
                             std::string(kXmlAttributeNames.at(static_cast<size_t>(attribute))));
}

void TXLSRead2007XML::ExpectChild(const TExXMLTag& child, int element) {
    if (child.number == element) return;
    const std::string name = child.number >= 0 && child.number < static_cast<int>(kXmlElementNames.size())
                                 ? std::string(kXmlElementNames[static_cast<size_t>(child.number)])
                                 : child.name;
    throw std::runtime_error("Unexpected tag " + std::to_string(child.number) + ", " + name);
}

void TXLSRead2007XML::ReadPackage(TStream& input, TStream* temp) {
    sheet_elements_ = 0;
    keep_part_names_ = temp != nullptr;
    TOpenXmlBook& ox = book_.OpenXml();
    ox.Relations().SetSorted(false);
    {
        TXLSZipArchive zip;
        input.SetPosition(0);
        zip.Open(input);
        // An empty workbook in place of such a file would show nothing and say nothing.
        if (!zip.Zip().IsZipFile()) {
            uint8_t magic[4] = {};
            input.SetPosition(0);
            const bool compound = input.Read(magic, 4) == 4 && magic[0] == 0xD0 && magic[1] == 0xCF &&
                                  magic[2] == 0x11 && magic[3] == 0xE0;
            throw std::runtime_error(compound
                                         ? "The workbook is encrypted or no Open XML package (a compound "
                                           "document, not a ZIP archive)"
                                         : "The file is no Open XML package (not a ZIP archive)");
        }
        try {
            ReadParts(zip);
        } catch (...) {
            try {
                ox.Relations().SetSorted(true);
            } catch (const std::exception&) {
                // The list held duplicate Ids; the first error is the one to report.
            }
            FinishStrings();
            throw;
        }
        FinishStrings();
        ox.Relations().SetSorted(true);
    }
    if (temp) {
        input.SetPosition(0);
        temp->SetSize(0);
        temp->SetPosition(0);
        temp->CopyFrom(input, 0);
        temp->SetPosition(0);
    }
}

void TXLSRead2007XML::ReadParts(TXLSZipArchive& zip) {
    TOpenXmlBook& ox = book_.OpenXml();
    ReadPart(zip, "xl/styles.xml", ptStyles);
    // The formats read are fixed before any cell counts on them: a cell given twice must not
    // release its first format out of the list and move every later one down.
    book_.Formats().SetFixedBoundary();
    book_.StyleFormats().SetFixedBoundary();
    ReadPart(zip, "xl/sharedStrings.xml", ptSharedStrings);
    book_.Fonts().SetFixedBoundary();  // run fonts included
    relations_ = &ox.Relations();
    ReadPart(zip, "xl/_rels/workbook.xml.rels", ptWorkbookRels);
    ox.Relations().SetSorted(true);
    if (!ReadPart(zip, "xl/workbook.xml", ptWorkbook))
        throw std::runtime_error("The ZIP archive holds no workbook part (xl/workbook.xml)");

    // Worksheet n is the part its relationship names; a package without one goes by the fixed
    // name. Chart sheets have no worksheet part: their parts are copied as they are.
    const int sheets = book_.Sheets().Count();
    std::vector<std::string> parts;
    for (int n = 1; n <= sheets; ++n) {
        std::string name = "xl/worksheets/sheet" + std::to_string(n) + ".xml";
        if (n <= static_cast<int>(sheet_relation_ids_.size())) {
            auto it = worksheet_targets_.find(sheet_relation_ids_[static_cast<size_t>(n - 1)]);
            if (it != worksheet_targets_.end() && zip.IndexOf(Utf8ToWide(it->second)) >= 0) name = it->second;
        }
        parts.push_back(std::move(name));
    }
    auto chart = [&](int n) { return n <= ox.SheetCount() && !ox.Sheet(n - 1).chart_relation_id.empty(); };
    for (int n = 1; n <= sheets; ++n) {
        if (chart(n)) continue;
        TXMLRelations& list = ox.Sheet(n - 1).relations;
        list.SetSorted(false);
        relations_ = &list;
        ReadPart(zip, RelationsPartOf(parts[static_cast<size_t>(n - 1)]), ptSheetRels);
    }
    relations_ = nullptr;
    for (int n = 1; n <= sheets; ++n) {
        if (chart(n)) continue;
        sheet_ = n - 1;
        if (!ReadPart(zip, parts[static_cast<size_t>(n - 1)], ptWorksheet)) break;
    }
}

bool TXLSRead2007XML::ReadPart(TXLSZipArchive& zip, const std::string& name, TPartType type) {
    const std::u16string wide = Utf8ToWide(name);
    const int index = zip.IndexOf(wide);
    if (index < 0) return false;
    if (keep_part_names_) part_names_.push_back(wide);
    part_type_ = type;
    part_name_ = name;
    row_ = UINT32_MAX;  // the first row without a number is row 0
    next_col_ = 0;
    // Parsed as it is inflated: the part is never held whole, and each block is parsed while
    // it is still in the cache.
    TNorvZip& archive = zip.Zip();
    tree_.ReadPart(
        [&archive, index](const std::function<void(std::string_view)>& piece) {
            archive.ExtractInPieces(index, piece);
        },
        name, *this);
    return true;
}

// Entries were counted once for the load index; that count goes again so strings no cell uses
// are freed and the others count their cells only.
void TXLSRead2007XML::FinishStrings() {
    TSST2& sst = book_.SST();
    for (uint32_t i = 0;; ++i) {
        TSSTEntry* e = sst.LoadedEntry(i);
        if (!e) break;
        sst.Release(e);
    }
    sst.ClearLoadIndex();
}

void TXLSRead2007XML::ElementStarted(TExXMLTag& tag) {
    if (part_type_ == ptSharedStrings && tag.number == xe::sst) book_.SST().SetRefTotal(0);
    if (part_type_ == ptWorksheet && tag.number == xe::row && tag.parent &&
        tag.parent->number == xe::sheetData)
        RowStarted(tag);
}

bool TXLSRead2007XML::ElementEnded(TExXMLTag& tag, int depth) {
    switch (part_type_) {
        case ptStyles:
            return StylesElementEnded(tag, depth);
        case ptSharedStrings:
            return SharedStringsElementEnded(tag, depth);
        case ptWorkbookRels:
        case ptSheetRels:
            return RelationsElementEnded(tag, depth);
        case ptWorkbook:
            return WorkbookElementEnded(tag, depth);
        case ptWorksheet:
            return WorksheetElementEnded(tag, depth);
    }
    return false;
}

bool TXLSRead2007XML::RelationsElementEnded(TExXMLTag& tag, int depth) {
    if (depth != 2 || tag.number != xe::Relationship) return depth == 2;
    const std::string& type = Required(tag, xa::Type);
    const size_t slash = type.rfind('/');
    const bool workbook = part_type_ == ptWorkbookRels;
    TXMLRelation rel;
    rel.id = Required(tag, xa::Id);
    rel.target = Required(tag, xa::Target);
    if (slash == std::string::npos) {
        if (workbook) return true;
        rel.type = type;
    } else {
        const std::string_view prefix = std::string_view(type).substr(0, slash + 1);
        const std::string_view name = std::string_view(type).substr(slash + 1);
        if (workbook && IsGeneratedWorkbookRelation(name)) {
            if (name == "worksheet") worksheet_targets_[rel.id] = WorkbookTargetPart(rel.target);
            return true;
        }
        if (prefix == RelationPrefixText(rpOfficeDocument)) {
            rel.prefix = rpOfficeDocument;
            rel.type = std::string(name);
        } else if (prefix == RelationPrefixText(rpMicrosoft2006)) {
            rel.prefix = rpMicrosoft2006;
            rel.type = std::string(name);
        } else {
            rel.type = type;
        }
    }
    if (rel.id.starts_with("rId")) rel.number = XmlToInt(std::string_view(rel.id).substr(3), 0);
    if (const std::string* mode = tag.Value(xa::TargetMode)) {
        if (*mode == "Internal")
            rel.target_mode = tmInternal;
        else if (*mode == "External")
            rel.target_mode = tmExternal;
        else
            throw std::runtime_error("Unknown Relation TargetMode");
    }
    relations_->Add(std::move(rel));
    return true;
}

bool TXLSRead2007XML::WorkbookElementEnded(TExXMLTag& tag, int depth) {
    TOpenXmlBook& ox = book_.OpenXml();
    if (depth == 3) {
        if (tag.number == xe::sheet && tag.parent->number == xe::sheets) {
            ReadSheetElement(tag);
            return true;
        }
        if (tag.number == xe::definedName && tag.parent->number == xe::definedNames) {
            ReadDefinedName(tag);
            return true;
        }
        if (tag.number == xe::externalReference && tag.parent->number == xe::externalReferences) {
            const std::string& id = Required(tag, xa::rid);
            const TXMLRelation* rel = ox.Relations().Find(id);
            if (!rel) throw std::runtime_error("Required relationship missing: " + id);
            ox.ExternalLinks().SetSorted(false);
            ox.ExternalLinks().Add(*rel);
            return true;
        }
        return false;
    }
    if (depth != 2) return false;
    static constexpr int kSaved[] = {
        XmlElementNumber("bookViews"),
        XmlElementNumber("customWorkbookViews"),
        XmlElementNumber("extLst"),
        XmlElementNumber("fileRecoveryPr"),
        XmlElementNumber("fileSharing"),
        XmlElementNumber("fileVersion"),
        XmlElementNumber("functionGroups"),
        XmlElementNumber("oleSize"),
        XmlElementNumber("pivotCaches"),
        XmlElementNumber("smartTagPr"),
        XmlElementNumber("smartTagTypes"),
        XmlElementNumber("webPublishing"),
        XmlElementNumber("webPublishObjects"),
        XmlElementNumber("workbookPr"),
        XmlElementNumber("workbookProtection"),
    };
    if (tag.number == kWorkbookProperties) {
        // Kept as saved XML; the date system also decides how dates read and appended count.
        if (const std::string* on = FindAttribute(tag, "date1904"); on && XmlToBool(*on)) {
            book_.SetDate1904(true);
            book_.Globals().SetU16(rec::DATEMODE, 0, 1);
        }
        ox.SavedTags().push_back({tag.number, tag.SavedXml()});
    } else if (tag.number == xe::calcPr) {
        ox.SetCalcId(XmlToInt(tag.Value(xa::calcId) ? *tag.Value(xa::calcId) : "", 0));
    } else if (tag.number == xe::definedNames || tag.number == xe::externalReferences ||
               tag.number == xe::sheets) {
        ox.SavedTags().push_back({tag.number, SavedTagPlaceholder(tag.number)});
    } else {
        for (int saved : kSaved) {
            if (tag.number != saved) continue;
            ox.SavedTags().push_back({tag.number, tag.SavedXml()});
            break;
        }
    }
    return true;
}

void TXLSRead2007XML::ReadSheetElement(const TExXMLTag& tag) {
    const std::u16string name = DecodeText(Required(tag, xa::name));
    TSheet& sheet =
        sheet_elements_ == 0 && book_.Sheets().Count() > 0 ? book_.Sheet(0) : book_.Sheets().Add(0);
    sheet.SetName(name);
    if (const std::string* state = tag.Value(xa::state))
        sheet.SetHidden(*state == "veryHidden" ? hsVeryHidden : *state == "hidden" ? hsHidden : hsVisible);
    const int index = sheet_elements_++;
    const std::string* id = tag.Value(xa::rid);
    sheet_relation_ids_.push_back(id ? *id : std::string());
    if (id)
        if (const TXMLRelation* rel = book_.OpenXml().Relations().Find(*id); rel && rel->type == "chartsheet")
            book_.OpenXml().Sheet(index).chart_relation_id = *id;
}

void TXLSRead2007XML::ReadDefinedName(const TExXMLTag& tag) {
    TDefinedName n;
    n.name = DecodeText(Required(tag, xa::name));
    auto text = [&](int attribute) {
        const std::string* v = tag.Value(attribute);
        return v ? DecodeText(*v) : std::u16string();
    };
    auto integer = [&](int attribute) {
        const std::string* v = tag.Value(attribute);
        return v ? XmlToInt(*v, 0) : 0;
    };
    auto flag = [&](int attribute, uint16_t bit) {
        const std::string* v = tag.Value(attribute);
        if (v && XmlToBool(*v)) n.options |= bit;
    };
    n.comment = text(xa::comment);
    n.custom_menu = text(xa::customMenu);
    n.description = text(xa::description);
    n.help = text(xa::help);
    n.status_bar = text(xa::statusBar);
    n.shortcut_key = text(xa::shortcutKey);
    n.local_sheet_id = integer(xa::localSheetId);
    n.function_group_id = integer(xa::functionGroupId);
    flag(xa::hidden, kNameHidden);
    flag(xa::function, kNameFunction);
    flag(xa::vbProcedure, kNameVbProcedure);
    flag(xa::xlm, kNameXlm);
    flag(xa::publishToServer, kNamePublishToServer);
    flag(xa::workbookParameter, kNameWorkbookParameter);
    n.definition = DecodeText(tag.text);
    book_.OpenXml().DefinedNames().push_back(std::move(n));
}

void ReadOpenXmlWorkbook(TTabulon4& book, TStream& input, TStream* temp) {
    TXLSRead2007XML reader(book);
    reader.ReadPackage(input, temp);
}

}  // namespace linograf::workbook
