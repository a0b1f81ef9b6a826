#include "workbook/ooxml/xml_element_tree.h"

#include <cstring>
#include <set>

#include "workbook/model/open_xml_model.h"
#include "workbook/ooxml/xml_attribute_names.h"

namespace linograf::workbook {
namespace {

constexpr std::string_view kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kStrictMainNs = "http://purl.oclc.org/ooxml/spreadsheetml/main";
constexpr std::string_view kPackageRelsNs = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr std::string_view kOfficeRelsNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view kStrictOfficeRelsNs = "http://purl.oclc.org/ooxml/officeDocument/relationships";

// A name table's positions by name: open addressing over a power-of-two table, looked up for
// every element and attribute read, so kept to a short hash and one comparison.
class TNameIndex {
  public:
    template <typename Names>
    explicit TNameIndex(const Names& names) {
        while (slots_.size() < names.size() * 4) slots_.resize(slots_.empty() ? 64 : slots_.size() * 2, -1);
        names_.assign(names.begin(), names.end());
        for (size_t i = 0; i < names_.size(); ++i) {
            size_t at = Hash(names_[i]) & (slots_.size() - 1);
            while (slots_[at] >= 0 && names_[static_cast<size_t>(slots_[at])] != names_[i])
                at = (at + 1) & (slots_.size() - 1);
            if (slots_[at] < 0) slots_[at] = static_cast<int>(i);  // the first of equal names wins
        }
    }

    int Find(std::string_view name, int missing) const {
        for (size_t at = Hash(name) & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
            const int n = slots_[at];
            if (n < 0) return missing;
            if (Same(names_[static_cast<size_t>(n)], name)) return n;
        }
    }

  private:
    // Names are a few characters long: comparing them in place beats a call to memcmp.
    static bool Same(std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i]) return false;
        return true;
    }

    static size_t Hash(std::string_view s) {
        uint32_t h = 2166136261u;
        for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
        return h ^ (h >> 15);
    }

    std::vector<std::string_view> names_;
    std::vector<int> slots_;
};

// The tables are constants, so these are built before anything can read a part.
const TNameIndex kElementIndex(kXmlElementNames);
const TNameIndex kAttributeIndex(kXmlAttributeNames);

int ElementNumber(std::string_view local) {
    return kElementIndex.Find(local, kXmlUnknownElement);
}

int AttributeNumber(std::string_view name) {
    return kAttributeIndex.Find(name, kXmlUnknownAttribute);
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

// A name as expat hands it over, measured in the same pass that finds its first colon (names
// are short, so a plain loop beats a length and a search call).
struct TScannedName {
    std::string_view text;
    size_t colon;
};

TScannedName ScanName(const char* name) {
    size_t i = 0, colon = std::string_view::npos;
    for (; name[i]; ++i)
        if (name[i] == ':' && colon == std::string_view::npos) colon = i;
    return {std::string_view(name, i), colon};
}

constexpr int kTextElement = XmlElementNumber("t");
constexpr int kValueElement = XmlElementNumber("v");

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
    ReadPart([data](const std::function<void(std::string_view)>& piece) { piece(data); }, part_name, handler);
}

void TXLSReadExcelXMLStream::ReadPart(const TPieceSource& source, std::string_view part_name,
                                      TXmlElementHandler& handler) {
    Recycle(root_.children);
    root_.name = "PARENT";
    current_ = &root_;
    depth_ = 0;
    part_name_ = std::string(part_name);
    handler_ = &handler;
    try {
        TXmlPartParser parser(part_name, *this);
        source([&parser](std::string_view piece) { parser.Feed(piece); });
        parser.Finish();
    } catch (...) {
        Recycle(root_.children);
        throw;
    }
    Recycle(root_.children);
}

std::unique_ptr<TExXMLTag> TXLSReadExcelXMLStream::NewNode() {
    if (spare_.empty()) return std::make_unique<TExXMLTag>();
    std::unique_ptr<TExXMLTag> node = std::move(spare_.back());
    spare_.pop_back();
    return node;
}

void TXLSReadExcelXMLStream::Recycle(std::vector<std::unique_ptr<TExXMLTag>>& nodes) {
    // Enough for the widest run of siblings a handler frees at once in usual parts; the rest go.
    constexpr size_t kMaxSpare = 4096;
    for (std::unique_ptr<TExXMLTag>& node : nodes) {
        if (!node->children.empty()) Recycle(node->children);  // depth is capped by the tokenizer
        if (spare_.size() < kMaxSpare) spare_.push_back(std::move(node));
    }
    nodes.clear();
}

void TXLSReadExcelXMLStream::StartElement(const char* name, const char** attributes) {
    std::unique_ptr<TExXMLTag> node = NewNode();
    TExXMLTag& tag = *node;
    tag.parent = current_;
    const TScannedName element = ScanName(name);
    tag.name.assign(element.text);
    tag.text.clear();
    tag.preserve_space = current_->preserve_space;
    size_t count = 0;
    for (const char** a = attributes; *a; a += 2) ++count;
    tag.attributes.resize(count);
    for (size_t i = 0; i < count; ++i) {
        TExXMLValue& v = tag.attributes[i];
        v.number = kXmlUnknownAttribute;
        v.name.assign(attributes[2 * i]);
        v.value.assign(attributes[2 * i + 1]);
    }

    // Numbers need the element's own namespace declarations, hence a second pass.
    auto in_table_namespace = [&](std::string_view prefix) {
        const std::string* uri = XmlNamespaceOf(tag, prefix);
        return uri && (*uri == kMainNs || *uri == kStrictMainNs || *uri == kPackageRelsNs);
    };
    if (element.colon == std::string_view::npos)
        tag.number = ElementNumber(element.text);
    else if (in_table_namespace(element.text.substr(0, element.colon)))
        tag.number = ElementNumber(element.text.substr(element.colon + 1));
    else
        tag.number = kXmlUnknownElement;

    for (TExXMLValue& a : tag.attributes) {
        const TScannedName scanned = ScanName(a.name.c_str());
        int number = kXmlUnknownAttribute;
        if (scanned.colon == std::string_view::npos) {
            number = AttributeNumber(a.name);
        } else if (const std::string_view ap = scanned.text.substr(0, scanned.colon);
                   ap == "xml" || ap == "xmlns") {
            number = AttributeNumber(a.name);
        } else if (const std::string* uri = XmlNamespaceOf(tag, ap);
                   uri && (*uri == kOfficeRelsNs || *uri == kStrictOfficeRelsNs)) {
            number = AttributeNumber("r:" + std::string(scanned.text.substr(scanned.colon + 1)));
        }
        if (number != kXmlUnknownAttribute && tag.Value(number))
            throw EXmlError("Duplicate tag value: " + a.name + "; Doc=" + part_name_ + "; Tag=" + tag.name);
        a.number = number;
        if (number == xa::xml_space) tag.preserve_space = a.value == "preserve";
    }
    // A text element holds its text as written: XML keeps element content, and producers write
    // leading and trailing blanks of cell texts without xml:space (other programs keep them).
    if (tag.number == kTextElement || tag.number == kValueElement) tag.preserve_space = true;

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
    if (consumed) Recycle(current_->children);
}

}  // namespace linograf::workbook
