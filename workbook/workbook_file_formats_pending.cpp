// Stand-ins for the file-format functions whose code is not part of the library yet. Whoever
// adds a format deletes its function here and defines it beside the format's code.
#include <stdexcept>

#include "workbook/workbook_file_formats.h"

namespace linograf::workbook {

void ReadOpenXmlWorkbook(TTabulon4&, TStream&, TStream*) {
    throw std::runtime_error("Reading Excel 2007 files is not supported yet");
}

}  // namespace linograf::workbook
