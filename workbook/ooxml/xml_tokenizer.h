#pragma once
// The tokenizer under the Open XML reader: expat reads one part and reports its elements, their
// attributes and their character data, with the predefined entities and character references
// already resolved. Document type declarations are refused outright (Open XML parts have none),
// so no entity can be declared, expanded or fetched; element nesting is capped so a hostile part
// cannot exhaust the stack of the code that walks the tree.
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace linograf::workbook {

// A part that is not well-formed XML, or that the reader refuses.
class EXmlError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TXmlEventSink {
  public:
    virtual ~TXmlEventSink() = default;
    // attributes: name, value, name, value, ..., null (as expat hands them over).
    virtual void StartElement(const char* name, const char** attributes) = 0;
    virtual void EndElement() = 0;
    virtual void CharacterData(std::string_view text) = 0;
};

class TXLSReadXML {
  public:
    static constexpr int kMaxDepth = 256;

    // Parses the whole part; errors raise EXmlError naming the part. An exception thrown by the
    // sink stops the parse and reaches the caller unchanged.
    static void Parse(std::string_view data, std::string_view part_name, TXmlEventSink& sink);
};

// One part parsed as its bytes arrive, so a large part is never held whole: `Feed` each piece in
// order, then `Finish`. Errors are raised as `Parse` raises them, by the call that meets them.
class TXmlPartParser {
  public:
    TXmlPartParser(std::string_view part_name, TXmlEventSink& sink);
    ~TXmlPartParser();
    TXmlPartParser(const TXmlPartParser&) = delete;
    TXmlPartParser& operator=(const TXmlPartParser&) = delete;

    void Feed(std::string_view piece);
    void Finish();

  private:
    struct TState;
    void Run(const char* data, size_t size, bool last);

    std::unique_ptr<TState> state_;
    std::string part_name_;
};

}  // namespace linograf::workbook
