#include "workbook/model/process_values.h"

namespace linograf::workbook {
namespace {

int g_last_column = 255;
int g_last_row = 65535;
std::u16string g_true = u"TRUE";
std::u16string g_false = u"FALSE";

}  // namespace

int LastColumn() {
    return g_last_column;
}
int LastRow() {
    return g_last_row;
}

void SetSheetLimits(TExcelVersion version) {
    bool open_xml = version >= xvExcel2007;
    g_last_column = open_xml ? 16383 : 255;
    g_last_row = open_xml ? 1048575 : 65535;
}

const std::u16string& StrTRUE() {
    return g_true;
}
const std::u16string& StrFALSE() {
    return g_false;
}
void SetStrTRUE(std::u16string text) {
    g_true = std::move(text);
}
void SetStrFALSE(std::u16string text) {
    g_false = std::move(text);
}

}  // namespace linograf::workbook
