// BIFF reader on arbitrary bytes: a compound document as it is, anything else as the "Workbook"
// stream of one, so mutations reach the records without first having to keep the container
// valid. Reading may refuse the input with an error, and nothing else; a workbook read must then
// also write.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "workbook/biff/biff_writer.h"
#include "workbook/cfb/compound_document.h"
#include "base/memory_stream.h"
#include "workbook/model/tabulon4.h"
#include "workbook/biff/biff_reader.h"

using namespace linograf::workbook;

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
    // What Read does before it hands a BIFF file to the reader.
    book->Clear();
    book->Sheets().Clear();
    book->Fonts().Clear();
    book->Formats().Clear();
    book->Formats().NumberFormats().Reset();
    book->StyleFormats().Clear();
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
    TMemoryStream written;
    try {
        TBiffWriter(*book).Write(&written);
    } catch (const std::exception&) {
    }
    return 0;
}
