#include "workbook/record_dump.h"

#include <stdexcept>

#include "text/wide_text.h"
#include "workbook/biff/biff_record_list.h"
#include "workbook/cfb/compound_document.h"

namespace linograf::workbook {

std::string DumpWorkbookFileRecords(const std::string& path, std::string* error) {
    const TCompoundDocument document = TCompoundDocument::LoadFile(path);
    // Excel looks the stream up without regard to case; so does the reader.
    for (const std::u16string_view wanted :
         {std::u16string_view(u"Workbook"), std::u16string_view(u"Book")}) {
        for (const TCompoundElementInfo& element : document.Root().Elements()) {
            if (element.type != TCompoundElementType::cetStream ||
                !WideEqualsIgnoreCase(element.name, wanted))
                continue;
            return DumpBiffRecords(document.Root().OpenStream(element.name).Bytes(), error);
        }
    }
    throw std::runtime_error("the file has no Workbook stream");
}

}  // namespace linograf::workbook
