#include "workbook/ooxml/xml_element_tree.h"

#include <cstring>
#include <set>
#include <unordered_map>

#include "workbook/ooxml/open_xml_model.h"
#include "workbook/ooxml/xml_attribute_names.h"

namespace linograf::workbook {
namespace {

constexpr std::string_view kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kStrictMainNs = "http://purl.oclc.org/ooxml/spreadsheetml/main";
constexpr std::string_view kPackageRelsNs = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr std::string_view kOfficeRelsNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view kStrictOfficeRelsNs = "http://purl.oclc.org/ooxml/officeDocument/relationships";

template <typename Names>
std::unordered_map<std::string_view, int> MakeIndex(const Names& names) {
    std::unordered_map<std::string_view, int> index;
    for (size_t i = 0; i < names.size(); ++i) index.emplace(names[i], static_cast<int>(i));
    return index;
}

int ElementNumber(std::string_view local) {
    static const auto index = MakeIndex(kXmlElementNames);
    auto it = index.find(local);
    return it == index.end() ? kXmlUnknownElement : it->second;
}

int AttributeNumber(std::string_view name) {
    static const auto index = MakeIndex(kXmlAttributeNames);
    auto it = index.find(name);
    return it == index.end() ? kXmlUnknownAttribute : it->second;
}

bool IsNamespaceDeclaration(std::string_view name) {
    return name == "xmlns" || name.starts_with("xmlns:");
}

// Splits "p:local" into the prefix and the local name; no colon gives an empty prefix.
std::pair<std::string_view, std::string_view> SplitName(std::string_view name) {
    const size_t colon = name.find(':');
    if (colon == std::string_view::npos) return {{}, name};
    return {name.substr(0, colon), name.substr(colon + 1)};
}

std::string_view Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
    return s.substr(b, e - b);
}

void AppendEscaped(std::string& out, std::string_view s, bool attribute) {
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += attribute ? "&quot;" : "\"";
                break;
            // Kept as references so attribute normalisation and line-end handling leave them be.
            case '\t':
                out += attribute ? "&#9;" : "\t";
                break;
            case '\n':
                out += attribute ? "&#10;" : "\n";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                out += c;
        }
    }
}

void CollectPrefixes(const TExXMLTag& tag, std::set<std::string>& prefixes) {
    prefixes.emplace(SplitName(tag.name).first);
    for (const TExXMLValue& a : tag.attributes) {
        if (IsNamespaceDeclaration(a.name)) continue;
        auto [prefix, local] = SplitName(a.name);
        if (!prefix.empty() && prefix != "xml") prefixes.emplace(prefix);
    }
    for (const auto& child : tag.children) CollectPrefixes(*child, prefixes);
}

bool Declares(const TExXMLTag& tag, std::string_view prefix) {
    for (const TExXMLValue& a : tag.attributes) {
        if (prefix.empty() ? a.name == "xmlns"
                           : (a.name.size() == prefix.size() + 6 && a.name.starts_with("xmlns:") &&
                              std::string_view(a.name).substr(6) == prefix))
            return true;
    }
    return false;
}

}  // namespace

const std::string* XmlNamespaceOf(const TExXMLTag& tag, std::string_view prefix) {
    for (const TExXMLTag* t = &tag; t; t = t->parent) {
        for (const TExXMLValue& a : t->attributes) {
            if (prefix.empty()
                    ? a.name == "xmlns"
                    : (a.name.starts_with("xmlns:") && std::string_view(a.name).substr(6) == prefix))
                return &a.value;
        }
    }
    return nullptr;
}

const std::string* TExXMLTag::Value(int attribute) const {
    for (const TExXMLValue& a : attributes)
        if (a.number == attribute) return &a.value;
    return nullptr;
}

TExXMLTag* TExXMLTag::Child(int element) const {
    for (const auto& c : children)
        if (c->number == element) return c.get();
    return nullptr;
}

std::string TExXMLTag::SavedXml() const {
    std::string out;
    AppendXml(out, true);
    return out;
}

void TExXMLTag::AppendXml(std::string& out, bool top) const {
    out += '<';
    out += name;
    bool any = false;
    if (top) {
        std::set<std::string> prefixes;
        CollectPrefixes(*this, prefixes);
        for (const std::string& prefix : prefixes) {
            if (prefix == "xml" || Declares(*this, prefix) || !parent) continue;
            const std::string* uri = XmlNamespaceOf(*parent, prefix);
            if (!uri) continue;
            // The writer's root element declares SpreadsheetML as the default namespace.
            if (prefix.empty() && (*uri == kMainNs || *uri == kStrictMainNs)) continue;
            out += prefix.empty() ? " xmlns=\"" : " xmlns:" + prefix + "=\"";
            AppendEscaped(out, *uri, true);
            out += '"';
            any = true;
        }
    }
    for (const TExXMLValue& a : attributes) {
        out += ' ';
        out += a.name;
        out += "=\"";
        AppendEscaped(out, a.value, true);
        out += '"';
        any = true;
    }
    if (any) out += ' ';
    if (text.empty() && children.empty()) {
        out += "/>";
    } else {
        out += '>';
        AppendEscaped(out, text, false);
        for (const auto& child : children) child->AppendXml(out, false);
        out += "</";
        out += name;
        out += '>';
    }
    out += '\r';
}

void TXLSReadExcelXMLStream::ReadPart(std::string_view data, std::string_view part_name,
                                      TXmlElementHandler& handler) {
    root_.children.clear();
    root_.name = "PARENT";
    current_ = &root_;
    depth_ = 0;
    part_name_ = std::string(part_name);
    handler_ = &handler;
    try {
        TXLSReadXML::Parse(data, part_name, *this);
    } catch (...) {
        root_.children.clear();
        throw;
    }
    root_.children.clear();
}

void TXLSReadExcelXMLStream::StartElement(const char* name, const char** attributes) {
    auto node = std::make_unique<TExXMLTag>();
    TExXMLTag& tag = *node;
    tag.parent = current_;
    tag.name = name;
    tag.preserve_space = current_->preserve_space;
    for (const char** a = attributes; *a; a += 2)
        tag.attributes.push_back({kXmlUnknownAttribute, a[0], a[1]});

    // Numbers need the element's own namespace declarations, hence a second pass.
    auto in_table_namespace = [&](std::string_view prefix) {
        const std::string* uri = XmlNamespaceOf(tag, prefix);
        return uri && (*uri == kMainNs || *uri == kStrictMainNs || *uri == kPackageRelsNs);
    };
    auto [prefix, local] = SplitName(tag.name);
    tag.number = prefix.empty() || in_table_namespace(prefix) ? ElementNumber(local) : kXmlUnknownElement;

    for (TExXMLValue& a : tag.attributes) {
        auto [ap, al] = SplitName(a.name);
        int number = kXmlUnknownAttribute;
        if (ap.empty() || ap == "xml" || ap == "xmlns") {
            number = AttributeNumber(a.name);
        } else if (const std::string* uri = XmlNamespaceOf(tag, ap);
                   uri && (*uri == kOfficeRelsNs || *uri == kStrictOfficeRelsNs)) {
            number = AttributeNumber("r:" + std::string(al));
        }
        if (number != kXmlUnknownAttribute && tag.Value(number))
            throw EXmlError("Duplicate tag value: " + a.name + "; Doc=" + part_name_ + "; Tag=" + tag.name);
        a.number = number;
        if (number == xa::xml_space) tag.preserve_space = a.value == "preserve";
    }

    current_->children.push_back(std::move(node));
    current_ = &tag;
    ++depth_;
    handler_->ElementStarted(tag);
}

void TXLSReadExcelXMLStream::CharacterData(std::string_view text) {
    // Leading blanks are trimmed at the end anyway; dropping them here keeps the layout blanks
    // between the rows of a large part out of memory.
    if (current_->text.empty() && !current_->preserve_space && Trim(text).empty()) return;
    current_->text.append(text);
}

void TXLSReadExcelXMLStream::EndElement() {
    TExXMLTag& tag = *current_;
    if (!tag.preserve_space) {
        std::string_view trimmed = Trim(tag.text);
        if (trimmed.size() != tag.text.size()) tag.text = std::string(trimmed);
    }
    const bool consumed = handler_->ElementEnded(tag, depth_);
    current_ = tag.parent;
    --depth_;
    if (consumed) current_->children.clear();
}

}  // namespace linograf::workbook
