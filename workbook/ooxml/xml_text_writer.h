#pragma once
// The XML text writer the Open XML parts are produced with: text appended to one 8-bit (UTF-8)
// buffer, a stack of open element names and a list of pending attributes. There is no document
// tree; every operation appends its text at once, in these exact forms:
//
//   XmlDeclaration        <?xml version="1.0" encoding="UTF-8" standalone="yes"?>
//   BeginTag(n)           <n>             or, with pending attributes, <n a="1" b="2" >
//   BeginTag(n, text)     <n text>
//   EmptyTag(n)           <n a="1" />     or, with none pending, <n  />
//   EmptyTag(n, text)     <n text />
//   EndTag()              </n>            for the innermost open element
//   TextElement(n, t)     <n>t</n>
//   PreserveElement(n, t) <n xml:space="preserve">t</n> when t begins or ends with a blank
//   Value...(n, v)        <n val="v" />
//
// Numbers never depend on the locale: general format and fixed two-decimal values always use
// "." as their decimal separator.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/memory_stream.h"
#include "workbook/model/open_xml_model.h"

namespace linograf::workbook {

class TXLSZipArchive;

// Appends `text` as UTF-8, escaped for element content and attribute values: " & < > become
// &quot; &amp; &lt; &gt;. Control characters that XML 1.0 cannot carry (all below 0x20 except
// tab, line feed and carriage return) are written as Excel's _xHHHH_ escape; for cell texts
// (`cell_text`) a literal "_xHHHH_" gets its underscore escaped as _x005F_ as well, so every
// text reads back as it was. Unpaired surrogates become U+FFFD.
void AppendEscapedUtf8(std::string& out, std::u16string_view text, bool cell_text = false);
std::string EscapeXml(std::u16string_view text, bool cell_text = false);
// The same escaping for text that is already UTF-8.
std::string EscapeXml(std::string_view utf8);

// General format: the shortest form that reads back as the same double (at most 17 significant
// digits), "1E20", "1E-6", "0.30000000000000004".
void AppendGeneral(std::string& out, double value);
std::string GeneralText(double value);
// Fixed with two decimals: "11.00", "-0.25".
std::string FixedText(double value);

class TXLSWriteXML {
  public:
    TXLSWriteXML() = default;
    // Raises "Tag stack not empty: " followed by the open names, one per line, unless an
    // exception is already on its way.
    virtual ~TXLSWriteXML() noexcept(false);
    TXLSWriteXML(const TXLSWriteXML&) = delete;
    TXLSWriteXML& operator=(const TXLSWriteXML&) = delete;

    void XmlDeclaration();
    void BeginTag(std::string_view name);
    void BeginTag(std::string_view name, std::string_view attributes);
    void EmptyTag(std::string_view name);
    void EmptyTag(std::string_view name, std::string_view attributes);
    void EndTag();

    void AddAttribute(bool condition, std::string_view name, std::string_view value);
    void AddAttribute(bool condition, std::string_view name, const char* value) {
        AddAttribute(condition, name, std::string_view(value));
    }
    void AddAttribute(bool condition, std::string_view name, int64_t value);
    void AddAttribute(bool condition, std::string_view name, int value) {
        AddAttribute(condition, name, static_cast<int64_t>(value));
    }
    void AddAttribute(bool condition, std::string_view name, uint32_t value) {
        AddAttribute(condition, name, static_cast<int64_t>(value));
    }
    void AddAttribute(bool condition, std::string_view name, bool value);
    void AddAttribute(bool condition, std::string_view name, double value);

    // `text` goes in as it is: escape it first where it comes from the model.
    void TextElement(std::string_view name, std::string_view text);
    void PreserveElement(std::string_view name, std::string_view text);
    void ValueTrue(std::string_view name);
    void ValueFalse(std::string_view name);
    void ValueText(std::string_view name, std::string_view value);
    void ValueInt(std::string_view name, int64_t value);
    void ValueFixed(std::string_view name, double value);

    void WriteRaw(std::string_view text) { buffer_ += text; }
    // Empties the buffer; open elements and pending attributes stay.
    void Clear() { buffer_.clear(); }

    // With a sink, the text written so far is handed to it and the buffer emptied whenever the
    // buffer has reached `threshold` bytes at one of the points the writers offer (`FlushIfFull`:
    // every end tag, every cell, every shared string), so a part of any size is held a piece at
    // a time. Without one (the default) the whole text stays in the buffer.
    void SetSink(std::function<void(std::string_view)> sink, std::size_t threshold);
    void FlushIfFull() {
        if (buffer_.size() >= flush_at_ && sink_) Flush();
    }
    // Hands the buffer, whatever its size, to the sink (if any) and empties it.
    void Flush();

    const std::string& Text() const { return buffer_; }
    // Direct access for the hot loops (cells, shared strings), which append the same forms.
    std::string& Buffer() { return buffer_; }
    int OpenCount() const { return static_cast<int>(stack_.size()); }
    bool HasPending() const { return !pending_.empty(); }

  private:
    void AppendPending();

    std::string buffer_;
    std::vector<std::string> stack_;
    std::string pending_;  // each attribute followed by one blank
    std::function<void(std::string_view)> sink_;
    std::size_t flush_at_ = static_cast<std::size_t>(-1);
};

// The buffer as a part of a package.
class TXLSWriteXMLStream : public TXLSWriteXML {
  public:
    // Adds the buffer as the entry `name` (replacing one of that name) and clears it.
    void AddToZip(TXLSZipArchive& zip, std::u16string_view name);
    // Streams what is written from now on into the entry `name` (replacing one of that name),
    // through the deflater in pieces of about `kPartPiece` bytes, until `EndZipPart`. The buffer
    // must be empty. `CancelZipPart` drops the entry and the text not yet handed on.
    void BeginZipPart(TXLSZipArchive& zip, std::u16string_view name);
    void EndZipPart();
    void CancelZipPart();

    // Large enough that zlib works on long runs and the calls cost nothing beside the text, small
    // enough to stay in the cache and to be nothing beside the workbook.
    static constexpr std::size_t kPartPiece = std::size_t{256} << 10;

  private:
    TMemoryStream stream_;
    TXLSZipArchive* part_zip_ = nullptr;
};

// Helpers for the SpreadsheetML parts.
class TXLSWriteExcelXMLStream : public TXLSWriteXMLStream {
  public:
    // <element auto="true" /> | indexed="%d" | rgb="%.8X" | theme="%d", with tint="%f" when the
    // tint is not 0; nothing for a colour of no kind.
    void ColorElement(std::string_view element, const TXc12Color& color);
};

// Column letters (A = 0, Z = 25, AA = 26, ZZ = 701, AAA = 702, XFD = 16383).
void AppendColumnName(std::string& out, uint32_t col);
// "B3" for column 1, row 2 (zero-based), without "$".
void AppendCellReference(std::string& out, uint32_t col, uint32_t row);
std::string CellReference(uint32_t col, uint32_t row);

}  // namespace linograf::workbook
