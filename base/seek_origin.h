#pragma once
// Where a seek counts from; shared by the compound document streams and the package streams, so
// code that works with both (the workbook component) can include both.

namespace linograf::workbook {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

}  // namespace linograf::workbook
