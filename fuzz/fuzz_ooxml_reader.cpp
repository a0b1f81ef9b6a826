// The Open XML reader on arbitrary input. Input that starts like a ZIP archive is read as a
// package; anything else is cut at "\n--\n" into the parts styles, shared strings, workbook
// relationships, workbook, worksheet relationships and worksheet of a package built for it, so
// the XML handlers see mutated XML rather than mutated deflate streams. Errors are expected;
// crashes, hangs and unbounded allocation are findings, and so is a workbook that reads but
// does not write, or writes a package that does not read back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "base/memory_stream.h"
#include "workbook/model/tabulon4.h"
#include "workbook/ooxml/xls_read_2007_xml.h"
#include "workbook/ooxml/xls_write_2007_xml.h"
#include "workbook/ooxml/xls_zip_archive.h"

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
        // As Read does: a package whose kept parts are damaged is refused here.
        CheckSourcePackageCopies(book, temp);
        CheckWorkbookRelationIds(book);
    } catch (const std::exception&) {
        return 0;
    }
    if (book.Sheets().Count() == 0) return 0;
    // The live log writes every workbook it reads, with the package read as the source of the
    // parts it keeps: one that reads but does not write, or writes a package that does not read
    // back, would fail every logged line instead of being refused up front.
    TMemoryStream written;
    try {
        WriteOpenXmlWorkbook(book, written, &temp);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "a workbook that read does not write: %s\n", error.what());
        std::abort();
    }
    TTabulon4 again;
    again.Fonts().Clear();
    again.Formats().Clear();
    again.Formats().AddDefaultFormats();
    again.StyleFormats().Clear();
    written.Seek(0, TSeekOrigin::soBeginning);
    try {
        ReadOpenXmlWorkbook(again, written, nullptr);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "our own package does not read back: %s\n", error.what());
        std::abort();
    }
    return 0;
}
