#include "text/code_page_text.h"

#include <string_view>

#include "text/cp1251.h"

namespace linograf::workbook {

std::u16string DecodeSystemCodePage(std::span<const uint8_t> bytes) {
    return Cp1251ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace linograf::workbook
