#pragma once
// The live workbook's stored settings: the Windows program's main window loads its workbook with
// A4 paper, upright pages and fixed margins, so a log prints the same on every machine. A new
// workbook object takes its paper size from the machine's locale instead (Letter on an en_US
// machine); these settings replace that for the log.
#include "workbook/model/tabulon4.h"

namespace linograf {

// The paper size of every new sheet of `book`, and the print settings of its sheets now: A4,
// portrait, margins 0.75 / 0.75 / 1 / 1 inch (left, right, top, bottom), header and footer 0.5.
void ApplyLiveBookSettings(workbook::TTabulon4& book);

}  // namespace linograf
