#pragma once
// The element tree of the Open XML reader. The tokenizer's events build nodes (`TExXMLTag`) with
// their element number (position in the element-name table, 999 for other names), attributes
// (numbered by the attribute-name table; other attributes are kept unnumbered so saved XML
// carries them) and text. At each element's end the part's handler is called; an element it
// reports as consumed is freed together with its earlier siblings, so a worksheet's rows and
// cells never pile up.
//
// Names are matched by namespace, not by spelling: an element whose prefix is bound to the
// SpreadsheetML or package-relationships namespace is the element of that local name (x:c is c),
// an element of another namespace is never a table element, and an attribute of the office
// document relationships namespace under any prefix is "r:id".
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/ooxml/xml_tokenizer.h"

namespace linograf::workbook {

struct TExXMLValue {
    int number;         // attribute-name table position, or kXmlUnknownAttribute
    std::string name;   // as written
    std::string value;  // entities resolved, UTF-8
};

class TExXMLTag {
  public:
    int number = 0;
    std::string name;  // as written, prefix included
    std::string text;  // character data, trimmed unless space is preserved; UTF-8
    TExXMLTag* parent = nullptr;
    std::vector<std::unique_ptr<TExXMLTag>> children;
    std::vector<TExXMLValue> attributes;
    bool preserve_space = false;

    // The value of a numbered attribute, or null.
    const std::string* Value(int attribute) const;
    // The first child of that element number, or null.
    TExXMLTag* Child(int element) const;

    // The element as XML text: name, attributes, text and children, each element followed by a
    // carriage return. Namespace prefixes the element uses but its ancestors declared are
    // declared on it, so the text stands on its own wherever it is put back.
    std::string SavedXml() const;

  private:
    void AppendXml(std::string& out, bool top) const;
};

class TXmlElementHandler {
  public:
    virtual ~TXmlElementHandler() = default;
    virtual void ElementStarted(TExXMLTag&) {}
    // depth: 1 for the part's root element. Returns true when the element is consumed.
    virtual bool ElementEnded(TExXMLTag& tag, int depth) = 0;
};

class TXLSReadExcelXMLStream : private TXmlEventSink {
  public:
    // Hands a part's bytes, in order, to the function it is given.
    using TPieceSource = std::function<void(const std::function<void(std::string_view)>&)>;

    // Reads one part into a fresh tree, calling the handler as elements end.
    void ReadPart(std::string_view data, std::string_view part_name, TXmlElementHandler& handler);
    // Same, for a part that arrives in pieces (inflated as it is read).
    void ReadPart(const TPieceSource& source, std::string_view part_name, TXmlElementHandler& handler);

  private:
    void StartElement(const char* name, const char** attributes) override;
    void EndElement() override;
    void CharacterData(std::string_view text) override;

    // Nodes freed by the handlers are kept for the next elements: a worksheet's cells are all
    // alike, so their nodes, names, attribute lists and texts are reused without allocating.
    std::unique_ptr<TExXMLTag> NewNode();
    void Recycle(std::vector<std::unique_ptr<TExXMLTag>>& nodes);
    std::vector<std::unique_ptr<TExXMLTag>> spare_;

    TExXMLTag root_;  // "PARENT"
    TExXMLTag* current_ = nullptr;
    int depth_ = 0;
    std::string part_name_;
    TXmlElementHandler* handler_ = nullptr;
};

// The namespace URI a prefix ("" for the default namespace) is bound to at a node, or null.
const std::string* XmlNamespaceOf(const TExXMLTag& tag, std::string_view prefix);

}  // namespace linograf::workbook
