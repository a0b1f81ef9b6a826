// BIFF reader on arbitrary bytes: a compound document as it is, anything else as the "Workbook"
// stream of one, so mutations reach the records without first having to keep the container
// valid. Reading may refuse the input with an error, and nothing else; a workbook read must then
// also write, and what it writes must read again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "base/memory_stream.h"
#include "workbook/biff/biff_reader.h"
#include "workbook/biff/biff_writer.h"
#include "workbook/cfb/compound_document.h"
#include "workbook/model/tabulon4.h"

using namespace linograf::workbook;

namespace {

// What Read does before it hands a BIFF file to the reader.
void PrepareForRead(TTabulon4& book) {
    book.Clear();
    book.Sheets().Clear();
    book.Fonts().Clear();
    book.Formats().Clear();
    book.Formats().NumberFormats().Reset();
    book.StyleFormats().Clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TTabulon4* book = new TTabulon4;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TMemoryStream source;
    if (TCompoundDocument::IsCompoundDocument(bytes)) {
        source.WriteBytes(std::string(bytes));
    } else {
        TCompoundDocument document;
        document.Root().CreateStream(u"Workbook", std::string(bytes));
        source.WriteBytes(document.Save());
    }
    PrepareForRead(*book);
    try {
        ReadBiffWorkbook(*book, &source);
    } catch (const std::exception&) {
        return 0;
    }
    if (book->Sheets().Count() == 0) return 0;
    book->Formats().SetFixedBoundary();
    book->Fonts().SetFixedBoundary();
    for (int i = 0; i < book->Sheets().Count(); ++i) book->Sheet(i).Rows().Sort();
    book->SetVersion(xvExcel97);
    // The live log writes every workbook it reads: one that reads but does not write, or writes a
    // file that does not read back, would fail every logged line instead of being refused up front.
    TMemoryStream written;
    try {
        TBiffWriter(*book).Write(&written);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "a workbook that read does not write: %s\n", error.what());
        std::abort();
    }
    static TTabulon4* again = new TTabulon4;
    PrepareForRead(*again);
    written.Seek(0, TSeekOrigin::soBeginning);
    try {
        ReadBiffWorkbook(*again, &written);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "our own file does not read back: %s\n", error.what());
        std::abort();
    }
    return 0;
}
