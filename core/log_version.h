#pragma once
// Which workbook format a capture start chooses, by the extension of the file name template
// (letter case counting): ".xls" Excel 97-2003, ".xlsx" Excel 2007, anything else leaves the
// live workbook's format as it was.
#include <string_view>

#include "core/file_ext.h"

namespace linograf {

enum class TLogVersionChoice { kUnchanged, kExcel97, kExcel2007 };

inline TLogVersionChoice LogVersionForTemplate(std::string_view file_template) {
    const std::string_view extension = ExtractFileExt(file_template);
    if (extension == ".xls") return TLogVersionChoice::kExcel97;
    if (extension == ".xlsx") return TLogVersionChoice::kExcel2007;
    return TLogVersionChoice::kUnchanged;
}

}  // namespace linograf
