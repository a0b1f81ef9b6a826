// The package: order of the parts, copy of the source package, relationships, the workbook part,
// shared strings, document properties and content types. Styles and worksheets have files of
// their own.
#include "workbook/ooxml/xls_write_2007_xml.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <span>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/memory_stream.h"
#include "text/wide_text.h"
#include "workbook/model/tabulon4.h"
#include "workbook/ooxml/default_theme.h"
#include "workbook/ooxml/zip_name.h"

namespace linograf::workbook {
namespace {

constexpr std::string_view kMainNamespace = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kPackageRelationshipsNamespace =
    R"(xmlns="http://schemas.openxmlformats.org/package/2006/relationships")";
constexpr std::string_view kWorksheetContentType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";
// Written as the author and last editor of every package.
constexpr std::string_view kCreator = "Linograf";

constexpr std::string_view kContentTypes[] = {
    R"(<Default Extension="bin" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.printerSettings" />)",
    R"(<Override PartName="/xl/theme/theme1.xml" ContentType="application/vnd.openxmlformats-officedocument.theme+xml" />)",
    R"(<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml" />)",
    R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml" />)",
    R"(<Default Extension="xml" ContentType="application/xml" />)",
    R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml" />)",
    R"(<Override PartName="/docProps/app.xml" ContentType="application/vnd.openxmlformats-officedocument.extended-properties+xml" />)",
    R"(<Override PartName="/xl/calcChain.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml" />)",
    R"(<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml" />)",
    R"(<Override PartName="/docProps/core.xml" ContentType="application/vnd.openxmlformats-package.core-properties+xml" />)",
};

std::string WorksheetOverride(int number) {
    return R"(<Override PartName="/xl/worksheets/sheet)" + std::to_string(number) + R"(.xml" ContentType=")" +
           std::string(kWorksheetContentType) + R"(" />)";
}

// "rId" + a decimal number (with an optional sign, as integer conversion takes it).
bool ParseRelationId(std::string_view id, long long& number) {
    if (id.size() <= 3 || id.substr(0, 3) != "rId") return false;
    std::string_view digits = id.substr(3);
    if (digits.front() == '+' || digits.front() == '-') digits.remove_prefix(1);
    if (digits.empty() || digits.size() > 18) return false;
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    number = std::stoll(std::string(id.substr(3)));
    return true;
}

// The workbook relationships of the parts every write makes anew.
bool IsGeneratedRelation(const TXMLRelation& r) {
    return r.type == "worksheet" || r.type == "styles" || r.type == "sharedStrings" || r.type == "calcChain";
}

std::string UtcTimeStamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

bool IsChartSheet(TTabulon4& book, int index) {
    return index < book.OpenXml().SheetCount() && !book.OpenXml().Sheet(index).chart_relation_id.empty();
}

// Sheets written as worksheet parts: all but the chart sheets.
int WorksheetCount(TTabulon4& book) {
    int count = 0;
    for (int i = 0; i < book.Sheets().Count(); ++i)
        if (!IsChartSheet(book, i)) ++count;
    return count;
}

}  // namespace

std::u16string WorksheetPartName(int number) {
    return u"xl/worksheets/sheet" + Utf8ToWide(std::to_string(number)) + u".xml";
}

std::u16string WorksheetRelationsPartName(int number) {
    return u"xl/worksheets/_rels/sheet" + Utf8ToWide(std::to_string(number)) + u".xml.rels";
}

void WriteOpenXmlWorkbook(TTabulon4& book, TStream& output, TStream* source_package) {
    TXLSWrite2007XML(book).WritePackage(output, source_package);
}

TXLSWrite2007XML::TXLSWrite2007XML(TTabulon4& book) : book_(book) {}

void TXLSWrite2007XML::AddPart(std::u16string_view name) {
    xml_.AddToZip(zip_, name);
}

void TXLSWrite2007XML::StreamPart(std::u16string_view name, const std::function<void()>& generate) {
    xml_.BeginZipPart(zip_, name);
    try {
        generate();
    } catch (...) {
        xml_.CancelZipPart();
        throw;
    }
    xml_.EndZipPart();
}

void TXLSWrite2007XML::WritePackage(TStream& output, TStream* source) {
    // Numbers are formatted without the locale (see xml_text_writer.h), so the process-wide
    // decimal separator is left alone.
    const TExcelVersion orig = book_.OrigVersion();
    write_defaults_ = orig != xvNone && orig < book_.Version();
    zip_.CreateNew(output);
    source_copied_ = false;
    if (source) CopySourcePackage(*source);

    StreamPart(u"xl/_rels/workbook.xml.rels", [&] { WriteWorkbookRelations(); });
    StreamPart(u"xl/workbook.xml", [&] { WriteWorkbook(); });
    // A package read from .xlsx keeps its own theme; one without a theme part gets the default
    // one, which its relationships then point at.
    if (orig <= xvExcel97 || zip_.IndexOf(u"xl/theme/theme1.xml") < 0)
        StreamPart(u"xl/theme/theme1.xml", [&] { WriteTheme(); });
    // A chart sheet's part is copied, not written, and the kept bytes assume every sheet is a
    // worksheet: such a workbook is written whole each time.
    if (book_.AppendWrites() && WorksheetCount(book_) == book_.Sheets().Count()) {
        WriteAppendableParts();
    } else {
        book_.WriteCache().reset();
        book_.SetLastWriteAppended(false);
        StreamPart(u"xl/styles.xml", [&] { WriteStyles(); });
        StreamPart(u"xl/sharedStrings.xml", [&] { WriteSharedStrings(); });
        for (int i = book_.Sheets().Count() - 1; i >= 0; --i) {
            if (IsChartSheet(book_, i)) {
                // Its part is copied from the source package; cells put into it would be lost.
                if (!book_.Sheet(i).Cells().Empty())
                    throw std::runtime_error("Cells cannot be written into a chart sheet");
                continue;
            }
            const int number = WorksheetNumber(i);
            StreamPart(WorksheetPartName(number), [&] { WriteWorksheet(i); });
            StreamPart(WorksheetRelationsPartName(number), [&] { WriteWorksheetRelations(i); });
        }
    }
    StreamPart(u"docProps/core.xml", [&] { WriteCoreProperties(); });
    StreamPart(u"docProps/app.xml", [&] { WriteAppProperties(); });
    StreamPart(u"_rels/.rels", [&] { WritePackageRelations(); });
    if (zip_.IndexOf(u"[Content_Types].xml") < 0) {
        StreamPart(u"[Content_Types].xml", [&] { WriteContentTypes(); });
    } else {
        AddOverridesToCopiedContentTypes();
    }
    zip_.Close();
}

namespace {

// The parts every write makes anew; their copies from the source package are replaced.
std::vector<std::u16string> RewrittenParts(int sheet_count) {
    std::vector<std::u16string> rewritten = {
        u"xl/_rels/workbook.xml.rels", u"xl/workbook.xml",  u"xl/styles.xml", u"xl/sharedStrings.xml",
        u"docProps/core.xml",          u"docProps/app.xml", u"_rels/.rels"};
    for (int i = 1; i <= sheet_count; ++i) {
        rewritten.push_back(WorksheetPartName(i));
        rewritten.push_back(WorksheetRelationsPartName(i));
    }
    return rewritten;
}

bool IsFolderEntry(std::u16string_view name) {
    return !name.empty() && (name.back() == u'/' || name.back() == u'\\');
}

}  // namespace

void CheckWorkbookRelationIds(TTabulon4& book) {
    long long number = 0;
    for (const TXMLRelation& r : book.OpenXml().Relations().All())
        if (!IsGeneratedRelation(r) && !ParseRelationId(r.id, number))
            throw std::runtime_error("Unknown Id in workbook relationship");
}

void CheckSourcePackageCopies(TTabulon4& book, TStream& source_package) {
    TXLSZipArchive from;
    from.Open(source_package);
    const std::vector<std::u16string> rewritten = RewrittenParts(WorksheetCount(book));
    TMemoryStream part;
    for (int i = 0; i < from.EntryCount(); ++i) {
        const std::u16string name = from.EntryName(i);
        if (IsFolderEntry(name) || std::find(rewritten.begin(), rewritten.end(), name) != rewritten.end())
            continue;
        part.Clear();
        from.ExtractToStream(name, part);
    }
    from.Close();
}

void TXLSWrite2007XML::CopySourcePackage(TStream& source) {
    TXLSZipArchive from;
    from.Open(source);
    // The parts every write makes anew are copied empty: they still bring their folder entries
    // at the same point, but are neither unpacked nor packed again only to be thrown away (a
    // workbook that is written after every added row would otherwise pay for its whole sheet
    // twice).
    const std::vector<std::u16string> rewritten = RewrittenParts(WorksheetCount(book_));
    TMemoryStream part;
    for (int i = 0; i < from.EntryCount(); ++i) {
        const std::u16string name = from.EntryName(i);
        // Folder entries come back by themselves with the first part that needs them.
        if (IsFolderEntry(name)) continue;
        part.Clear();
        if (std::find(rewritten.begin(), rewritten.end(), name) == rewritten.end())
            from.ExtractToStream(name, part);
        zip_.AddStream(u"", name, part);
    }
    from.Close();
    source_copied_ = from.EntryCount() > 0;
}

// A copied content-types part knows only the parts of the source package: sheets added since,
// or a shared strings part the source did not have, would fall under the plain "xml" default and
// make the package invalid. Their overrides are added before the end tag.
void TXLSWrite2007XML::AddOverridesToCopiedContentTypes() {
    TMemoryStream stream;
    zip_.ExtractToStream(u"[Content_Types].xml", stream);
    std::string text = stream.Release();
    const size_t end = text.rfind("</Types>");
    if (end == std::string::npos) return;
    std::string added;
    auto need = [&](std::string_view part_name, std::string_view override_text) {
        if (text.find(std::string("PartName=\"") + std::string(part_name) + '"') == std::string::npos &&
            text.find(std::string("PartName='") + std::string(part_name) + '\'') == std::string::npos)
            added += override_text;
    };
    for (std::string_view line : kContentTypes) {
        const size_t at = line.find("PartName=\"");
        if (at == std::string_view::npos) continue;
        const size_t from = at + 10;
        const std::string_view part_name = line.substr(from, line.find('"', from) - from);
        if (part_name == "/xl/calcChain.xml" && zip_.IndexOf(u"xl/calcChain.xml") < 0) continue;
        need(part_name, line);
    }
    for (int n = 1; n <= WorksheetCount(book_); ++n)
        need("/xl/worksheets/sheet" + std::to_string(n) + ".xml", WorksheetOverride(n));
    if (added.empty()) return;
    text.insert(end, added);
    xml_.Clear();
    xml_.WriteRaw(text);
    AddPart(u"[Content_Types].xml");
}

// ---- Relationships ----------------------------------------------------------------------------

void TXLSWrite2007XML::RebuildWorkbookRelations() {
    TXMLRelations& relations = book_.OpenXml().Relations();
    relations.SetSorted(false);
    // The relationships of the generated parts are made anew below. A list that already holds
    // them (from an earlier write of this workbook) would otherwise gain another set at every
    // write.
    std::erase_if(relations.All(), [](const TXMLRelation& r) { return IsGeneratedRelation(r); });
    // Whatever the file's relationships are called, external references and chart sheets may
    // name them; the ones made here are named by nothing else.
    const std::size_t kept = relations.All().size();
    const int sheets = WorksheetCount(book_);
    auto add = [&](int number, std::string type, std::string target) {
        TXMLRelation r;
        r.id = "rId" + std::to_string(number);
        r.number = number;
        r.prefix = rpOfficeDocument;
        r.type = std::move(type);
        r.target = std::move(target);
        relations.Add(std::move(r));
    };
    if (!relations.HasType("theme")) add(0, "theme", "theme/theme1.xml");
    for (int n = 1; n <= sheets; ++n) add(n, "worksheet", "worksheets/sheet" + std::to_string(n) + ".xml");
    add(sheets + 1, "styles", "styles.xml");
    add(sheets + 2, "sharedStrings", "sharedStrings.xml");

    std::vector<TXMLRelation>& all = relations.All();
    std::vector<std::size_t> order(all.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return int64_t{RelationTypeWeight(all[a].type)} + all[a].number <
               int64_t{RelationTypeWeight(all[b].type)} + all[b].number;
    });
    std::unordered_map<std::string, std::string> renamed;
    std::vector<TXMLRelation> sorted;
    sorted.reserve(all.size());
    for (const std::size_t from : order) {
        TXMLRelation& r = all[from];
        long long number = 0;
        if (!ParseRelationId(r.id, number)) throw std::runtime_error("Unknown Id in workbook relationship");
        std::string id = "rId" + std::to_string(sorted.size() + 1);
        if (from < kept) renamed.emplace(r.id, id);
        r.id = std::move(id);
        r.number = static_cast<int>(sorted.size() + 1);
        sorted.push_back(std::move(r));
    }
    all = std::move(sorted);
    relations.SetSorted(true);
    for (int i = 0; i < book_.Sheets().Count(); ++i) {
        if (!IsChartSheet(book_, i)) continue;
        std::string& id = book_.OpenXml().Sheet(i).chart_relation_id;
        const auto it = renamed.find(id);
        if (it != renamed.end()) id = it->second;
    }
    // External references name their relationship by Id: they follow the renumbering.
    for (TXMLRelation& link : book_.OpenXml().ExternalLinks().All()) {
        const auto it = renamed.find(link.id);
        if (it != renamed.end()) {
            link.id = it->second;
            link.number = std::stoi(it->second.substr(3));
        }
    }
}

void TXLSWrite2007XML::WriteRelationships(const TXMLRelations& relations) {
    xml_.XmlDeclaration();
    xml_.BeginTag("Relationships", kPackageRelationshipsNamespace);
    for (const TXMLRelation& r : relations.All()) {
        xml_.AddAttribute(true, "Id", EscapeXml(std::string_view(r.id)));
        xml_.AddAttribute(true, "Type", EscapeXml(std::string_view(r.TypeUri())));
        xml_.AddAttribute(true, "Target", EscapeXml(std::string_view(r.target)));
        xml_.AddAttribute(r.target_mode != tmNone, "TargetMode",
                          r.target_mode == tmExternal ? "External" : "Internal");
        xml_.BeginTag("Relationship");
        xml_.EndTag();
    }
    xml_.EndTag();
}

void TXLSWrite2007XML::WriteWorkbookRelations() {
    RebuildWorkbookRelations();
    WriteRelationships(book_.OpenXml().Relations());
}

void TXLSWrite2007XML::WriteWorksheetRelations(int index) {
    WriteRelationships(book_.OpenXml().Sheet(index).relations);
}

int TXLSWrite2007XML::WorksheetNumber(int index) const {
    int number = 1;
    for (int i = 0; i < index; ++i)
        if (!IsChartSheet(book_, i)) ++number;
    return number;
}

std::string TXLSWrite2007XML::WorksheetRelationId(int index) const {
    if (IsChartSheet(book_, index)) return book_.OpenXml().Sheet(index).chart_relation_id;
    const std::string target = "worksheets/sheet" + std::to_string(WorksheetNumber(index)) + ".xml";
    for (const TXMLRelation& r : book_.OpenXml().Relations().All())
        if (r.type == "worksheet" && r.target == target) return r.id;
    return "rId" + std::to_string(WorksheetNumber(index));
}

void TXLSWrite2007XML::WritePackageRelations() {
    xml_.XmlDeclaration();
    xml_.BeginTag("Relationships", kPackageRelationshipsNamespace);
    const std::pair<const char*, const char*> fixed[] = {
        {"http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties",
         "docProps/app.xml"},
        {"http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties",
         "docProps/core.xml"},
        {"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument",
         "xl/workbook.xml"},
    };
    int id = 3;
    for (const auto& [type, target] : fixed) {
        xml_.AddAttribute(true, "Id", "rId" + std::to_string(id--));
        xml_.AddAttribute(true, "Type", type);
        xml_.AddAttribute(true, "Target", target);
        xml_.EmptyTag("Relationship");
    }
    xml_.EndTag();
}

// ---- Workbook ---------------------------------------------------------------------------------

void TXLSWrite2007XML::WriteWorkbook() {
    TOpenXmlBook& ox = book_.OpenXml();
    xml_.XmlDeclaration();
    xml_.WriteRaw(R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
                  R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)");
    TXLSSavedTags& tags = ox.SavedTags();
    if (tags.empty()) {
        tags.push_back({kXmlFileVersion,
                        SavedTagPlaceholder(kXmlFileVersion, R"(appName="Tabulon" lastEdited="4" )"
                                                             R"(lowestEdited="4" rupBuild="4.00.12")")});
        tags.push_back({kXmlSheets, SavedTagPlaceholder(kXmlSheets)});
        tags.push_back({kXmlExternalReferences, SavedTagPlaceholder(kXmlExternalReferences)});
    }
    for (const TXLSSavedTag& tag : tags) {
        if (tag.element == kXmlDefinedNames) {
            WriteDefinedNames();
        } else if (tag.element == kXmlExternalReferences) {
            if (ox.ExternalLinks().Count() == 0) continue;
            xml_.BeginTag("externalReferences");
            for (const TXMLRelation& link : ox.ExternalLinks().All())
                xml_.EmptyTag("externalReference", "r:id=\"" + EscapeXml(std::string_view(link.id)) + '"');
            xml_.EndTag();
        } else if (tag.element == kXmlSheets) {
            xml_.BeginTag("sheets");
            for (int i = 0; i < book_.Sheets().Count(); ++i) {
                std::string& out = xml_.Buffer();
                out += R"(<sheet name=")";
                AppendEscapedUtf8(out, book_.Sheet(i).Name());
                out += '"';
                const THiddenState state = book_.Sheet(i).Hidden();
                if (state != hsVisible)
                    out += state == hsVeryHidden ? R"( state="veryHidden")" : R"( state="hidden")";
                out += R"( sheetId=")";
                out += std::to_string(i + 1);
                out += R"(" r:id=")";
                out += WorksheetRelationId(i);
                out += R"(" />)";
            }
            xml_.EndTag();
        } else {
            xml_.WriteRaw(tag.xml);
        }
    }
    xml_.AddAttribute(true, "calcId", ox.CalcId());
    xml_.BeginTag("calcPr");
    xml_.EndTag();
    xml_.WriteRaw("</workbook>");
}

void TXLSWrite2007XML::WriteDefinedNames() {
    std::vector<TDefinedName>& names = book_.OpenXml().DefinedNames();
    if (names.empty()) return;
    xml_.BeginTag("definedNames");
    for (const TDefinedName& n : names) {
        xml_.AddAttribute(true, "name", EscapeXml(n.name));
        xml_.AddAttribute(!n.comment.empty(), "comment", EscapeXml(n.comment));
        xml_.AddAttribute(!n.custom_menu.empty(), "customMenu", EscapeXml(n.custom_menu));
        xml_.AddAttribute(!n.description.empty(), "description", EscapeXml(n.description));
        xml_.AddAttribute(!n.help.empty(), "help", EscapeXml(n.help));
        xml_.AddAttribute(!n.status_bar.empty(), "statusBar", EscapeXml(n.status_bar));
        xml_.AddAttribute(n.local || n.local_sheet_id != 0, "localSheetId", n.local_sheet_id);
        xml_.AddAttribute((n.options & kNameHidden) != 0, "hidden", true);
        xml_.AddAttribute((n.options & kNameFunction) != 0, "function", true);
        xml_.AddAttribute((n.options & kNameVbProcedure) != 0, "vbProcedure", true);
        xml_.AddAttribute((n.options & kNameXlm) != 0, "xlm", true);
        xml_.AddAttribute(n.function_group_id > 0, "functionGroupId", n.function_group_id);
        xml_.AddAttribute(!n.shortcut_key.empty(), "shortcutKey", EscapeXml(n.shortcut_key));
        xml_.AddAttribute((n.options & kNamePublishToServer) != 0, "publishToServer", true);
        xml_.AddAttribute((n.options & kNameWorkbookParameter) != 0, "workbookParameter", true);
        xml_.BeginTag("definedName");
        xml_.WriteRaw(EscapeXml(n.definition));
        xml_.EndTag();
    }
    xml_.EndTag();
}

void TXLSWrite2007XML::WriteTheme() {
    xml_.XmlDeclaration();
    xml_.WriteRaw(DefaultThemeXml());
}

// ---- Shared strings ---------------------------------------------------------------------------

void TXLSWrite2007XML::WriteSharedStrings() {
    TSST2& sst = book_.SST();
    const size_t unique = sst.Count();
    xml_.XmlDeclaration();
    // The counts would change with every appended row; they are optional, and a part that is
    // extended at its end leaves them out.
    if (book_.AppendWrites()) {
        xml_.BeginTag("sst", "xmlns=\"" + std::string(kMainNamespace) + '"');
    } else {
        xml_.BeginTag("sst", "xmlns=\"" + std::string(kMainNamespace) + "\" count=\"" +
                                 std::to_string(sst.RefTotal()) + "\" uniqueCount=\"" +
                                 std::to_string(unique) + '"');
    }
    uint32_t position = 0;
    sst.ForEach([&](const TSSTEntry* const_entry) {
        auto* entry = const_cast<TSSTEntry*>(const_entry);
        entry->SetIndex(position++);
        if (written_strings_) written_strings_->push_back(entry);
        WriteSharedString(*entry);
    });
    if (sst_rows_end_) sst_rows_end_();
    xml_.EndTag();
}

void TXLSWrite2007XML::WriteSharedString(const TSSTEntry& entry) {
    xml_.FlushIfFull();
    // The characters straight from the entry, into a buffer that keeps its capacity.
    std::u16string& text = sst_text_;
    std::string& escaped = sst_escaped_;
    const std::span<const uint8_t> bytes = entry.CharBytes();
    text.resize(entry.CharCount());
    if (entry.Wide()) {
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    } else {
        std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(text.size()), text.begin());
    }
    std::string& out = xml_.Buffer();
    if (entry.RunCount() == 0) {
        out += "<si>";
        escaped.clear();
        AppendEscapedUtf8(escaped, text, true);
        xml_.PreserveElement("t", escaped);
        out += "</si>";
        return;
    }
    out += "<si>";
    auto run_text = [&](size_t from, size_t to, int font) {
        if (from >= to) return;
        out += "<r>";
        if (font > 0 && font < book_.Fonts().Count()) {
            out += "<rPr>";
            WriteFont(font, true);
            out += "</rPr>";
        }
        escaped.clear();
        AppendEscapedUtf8(escaped, std::u16string_view(text).substr(from, to - from), true);
        xml_.PreserveElement("t", escaped);
        out += "</r>";
    };
    const int runs = entry.RunCount();
    const size_t first = std::min<size_t>(entry.Run(0).position, text.size());
    run_text(0, first, 0);
    for (int r = 0; r < runs; ++r) {
        const size_t from = std::min<size_t>(entry.Run(r).position, text.size());
        const size_t to =
            r + 1 < runs ? std::min<size_t>(entry.Run(r + 1).position, text.size()) : text.size();
        run_text(from, to, entry.Run(r).font);
    }
    out += "</si>";
}

// ---- Properties and content types -------------------------------------------------------------

void TXLSWrite2007XML::WriteCoreProperties() {
    const std::string stamp = UtcTimeStamp();
    xml_.XmlDeclaration();
    xml_.BeginTag("cp:coreProperties",
                  R"(xmlns:cp="http://schemas.openxmlformats.org/package/2006/metadata/core-properties" )"
                  R"(xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:dcterms="http://purl.org/dc/terms/" )"
                  R"(xmlns:dcmitype="http://purl.org/dc/dcmitype/" )"
                  R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance")");
    xml_.TextElement("dc:creator", kCreator);
    xml_.TextElement("cp:lastModifiedBy", kCreator);
    for (const char* name : {"dcterms:created", "dcterms:modified"}) {
        xml_.BeginTag(name, R"(xsi:type="dcterms:W3CDTF")");
        xml_.WriteRaw(stamp);
        xml_.EndTag();
    }
    xml_.EndTag();
}

// The parts of the document by kind, as spreadsheet programs list them: a heading with the count
// of each kind present (worksheets, then chart sheets), and the titles in the same order.
void TXLSWrite2007XML::WriteAppProperties() {
    std::vector<std::string> worksheets, charts;
    for (int i = 0; i < book_.Sheets().Count(); ++i)
        (IsChartSheet(book_, i) ? charts : worksheets).push_back(EscapeXml(book_.Sheet(i).Name()));
    std::vector<std::pair<const char*, const std::vector<std::string>*>> groups;
    if (!worksheets.empty()) groups.emplace_back("Worksheets", &worksheets);
    if (!charts.empty()) groups.emplace_back("Charts", &charts);
    xml_.XmlDeclaration();
    xml_.BeginTag("Properties",
                  R"(xmlns="http://schemas.openxmlformats.org/officeDocument/2006/extended-properties" )"
                  R"(xmlns:vt="http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes")");
    xml_.WriteRaw(
        "<Application>Microsoft Excel</Application><DocSecurity>0</DocSecurity><ScaleCrop>false</ScaleCrop>");
    xml_.WriteRaw(R"(<HeadingPairs><vt:vector size=")" + std::to_string(2 * groups.size()) +
                  R"(" baseType="variant">)");
    for (const auto& [heading, titles] : groups)
        xml_.WriteRaw(std::string("<vt:variant><vt:lpstr>") + heading +
                      "</vt:lpstr></vt:variant><vt:variant><vt:i4>" + std::to_string(titles->size()) +
                      "</vt:i4></vt:variant>");
    xml_.WriteRaw("</vt:vector></HeadingPairs><TitlesOfParts>");
    xml_.WriteRaw(R"(<vt:vector size=")" + std::to_string(worksheets.size() + charts.size()) +
                  R"(" baseType="lpstr">)");
    for (const auto& [heading, titles] : groups)
        for (const std::string& title : *titles) xml_.WriteRaw("<vt:lpstr>" + title + "</vt:lpstr>");
    xml_.WriteRaw(
        "</vt:vector></TitlesOfParts><Company>Corvane Data</Company><LinksUpToDate>false</LinksUpToDate>"
        "<SharedDoc>false</SharedDoc><HyperlinksChanged>false</HyperlinksChanged>"
        "<AppVersion>12.0000</AppVersion>");
    xml_.EndTag();
}

void TXLSWrite2007XML::WriteContentTypes() {
    xml_.XmlDeclaration();
    xml_.BeginTag("Types", R"(xmlns="http://schemas.openxmlformats.org/package/2006/content-types")");
    for (std::string_view line : kContentTypes) xml_.WriteRaw(line);
    // Worksheets are not "application/xml": strict consumers look for their own content type.
    for (int n = 1; n <= WorksheetCount(book_); ++n) xml_.WriteRaw(WorksheetOverride(n));
    xml_.EndTag();
}

}  // namespace linograf::workbook
