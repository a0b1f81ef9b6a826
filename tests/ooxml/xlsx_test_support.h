#pragma once
// Writing workbooks as .xlsx in tests and looking into the packages: the parts as our ZIP layer
// reads them, and the workbook as python3-openpyxl and LibreOffice see it.
#include <string>
#include <utility>
#include <vector>

#include "workbook/model/tabulon4.h"

namespace linograf::workbook::test {

// The package WriteOpenXmlWorkbook makes of the workbook (no source package unless given).
std::string WriteXlsx(TTabulon4& book, const std::string& source = {});

struct PackagePart {
    std::string name;
    std::string text;
};
// Every entry in archive order, with its bytes.
std::vector<PackagePart> ReadParts(const std::string& package);
// One part's text; a test failure and "" when it is missing.
std::string PartText(const std::string& package, const std::string& name);

// A python3 script run on the file with openpyxl imported as `openpyxl` and the workbook loaded
// as `wb`; returns its standard output (failure recorded when python fails).
std::string RunOpenpyxl(const std::string& path, const std::string& body);

// The first sheet converted to CSV by LibreOffice headless (UTF-8); empty with `skipped` set when
// LibreOffice is not installed.
std::string ConvertToCsvWithLibreOffice(const std::string& path, bool& skipped);

}  // namespace linograf::workbook::test
