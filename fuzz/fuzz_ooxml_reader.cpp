// The Open XML reader on arbitrary input. Input that starts like a ZIP archive is read as a
// package; anything else is cut at "\n--\n" into the parts styles, shared strings, workbook
// relationships, workbook, worksheet relationships and worksheet of a package built for it, so
// the XML handlers see mutated XML rather than mutated deflate streams. Errors are expected;
// crashes, hangs and unbounded allocation are findings.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "base/memory_stream.h"
#include "workbook/ooxml/xls_zip_archive.h"
#include "workbook/model/tabulon4.h"
#include "workbook/ooxml/xls_read_2007_xml.h"

using namespace linograf::workbook;

namespace {

constexpr const char16_t* kParts[] = {
    u"xl/styles.xml",
    u"xl/sharedStrings.xml",
    u"xl/_rels/workbook.xml.rels",
    u"xl/workbook.xml",
    u"xl/worksheets/_rels/sheet1.xml.rels",
    u"xl/worksheets/sheet1.xml",
};

std::string BuildPackage(std::string_view input) {
    TMemoryStream package;
    TXLSZipArchive zip;
    zip.Zip().SetEntryDateTime(0);
    zip.CreateNew(package);
    for (const char16_t* name : kParts) {
        const size_t cut = input.find("\n--\n");
        TMemoryStream part(std::string(input.substr(0, cut)));
        zip.AddStream(u"", name, part);
        if (cut == std::string_view::npos) break;
        input.remove_prefix(cut + 4);
    }
    zip.Close();
    return package.Release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    TMemoryStream stream(input.starts_with("PK\x03\x04") ? std::string(input) : BuildPackage(input));
    TTabulon4 book;
    // As the workbook component prepares a read.
    book.Fonts().Clear();
    book.Formats().Clear();
    book.Formats().AddDefaultFormats();
    book.StyleFormats().Clear();
    TMemoryStream temp;
    try {
        ReadOpenXmlWorkbook(book, stream, &temp);
    } catch (const std::exception&) {
    }
    return 0;
}
