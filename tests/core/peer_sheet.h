#pragma once
// The first sheet of a workbook as an independent reader sees it: python3-xlrd for .xls,
// python3-openpyxl for .xlsx. Texts come back as UTF-8, other values as type and value
// ("float:7.0"), rows without their trailing empty cells.
#include <map>
#include <string>
#include <vector>

namespace linograf::test {

struct PeerSheet {
    bool ok = false;
    std::string error;  // what the reader said when it failed
    std::vector<std::vector<std::string>> rows;
    // Column widths in 1/256 of a character, as the file stores them (xlrd's colinfo_map; for
    // .xlsx openpyxl's width times 256).
    std::map<int, int> widths;
};

// The module the peer for this file needs ("xlrd" or "openpyxl").
std::string PeerModuleFor(const std::string& path);
PeerSheet ReadPeerSheet(const std::string& path);

}  // namespace linograf::test
