// Stand-ins for the file-format functions whose code is not part of the library yet. Whoever
// adds a format deletes its function here and defines it beside the format's code.
#include <stdexcept>

#include "workbook/workbook_file_formats.h"

namespace linograf::workbook {

}  // namespace linograf::workbook
