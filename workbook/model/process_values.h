#pragma once
// Values every workbook object of the process shares: the sheet limits of the current file
// format and the texts boolean cells read as. Setting a workbook's Version changes the limits for
// all of them; the program sets it from the file extension right before each use. One thread at a
// time: the one that reads or writes a workbook (while capture runs, the live log's writer thread;
// the window starts no other workbook work until the log is idle).
#include <string>

namespace linograf::workbook {

enum TExcelVersion : uint8_t {
    xvNone = 0,
    xvExcel21,
    xvExcel30,
    xvExcel40,
    xvExcel50,
    xvExcel97,
    xvExcel2007,
};

int LastColumn();
int LastRow();
// 255 / 65535 below Excel 2007, 16383 / 1048575 with it.
void SetSheetLimits(TExcelVersion version);

const std::u16string& StrTRUE();
const std::u16string& StrFALSE();
void SetStrTRUE(std::u16string text);
void SetStrFALSE(std::u16string text);

}  // namespace linograf::workbook
