#include "tests/core/peer_sheet.h"

#include <sstream>

#include "tests/support/run_command.h"

namespace linograf::test {

namespace {

const char* const kScript = R"PY(
import sys
path = sys.argv[1]
def esc(s):
    return s.replace('\\', '\\\\').replace('\t', '\\t').replace('\n', '\\n').replace('\r', '\\r')
# Text cells come back as their text; anything else carries its type and full value ("float:7.0"),
# so a number stored where the log must store text can never pass for that text.
def text(v):
    if v is None:
        return ''
    if isinstance(v, str):
        return v
    return '%s:%r' % (type(v).__name__, v)
rows = []
widths = {}
if path.lower().endswith('.xlsx'):
    import openpyxl
    from openpyxl.utils import column_index_from_string
    ws = openpyxl.load_workbook(path).worksheets[0]
    rows = [[text(c.value) for c in r] for r in ws.iter_rows()]
    for key, dim in ws.column_dimensions.items():
        if dim.width:
            low = dim.min or column_index_from_string(key)
            for col in range(low, (dim.max or low) + 1):
                widths[col - 1] = int(round(dim.width * 256))
else:
    import xlrd
    sh = xlrd.open_workbook(path, formatting_info=True).sheet_by_index(0)
    rows = [[text(sh.cell_value(r, c)) for c in range(sh.ncols)] for r in range(sh.nrows)]
    widths = {c: ci.width for c, ci in sh.colinfo_map.items()}
out = sys.stdout
for c in sorted(widths):
    out.write('W\t%d\t%d\n' % (c, widths[c]))
for r in rows:
    while r and r[-1] == '':
        r.pop()
    out.write('R' + ''.join('\t' + esc(c) for c in r) + '\n')
)PY";

std::string Unescape(const std::string& cell) {
    std::string out;
    for (std::size_t i = 0; i < cell.size(); ++i) {
        if (cell[i] != '\\' || i + 1 == cell.size()) {
            out += cell[i];
            continue;
        }
        const char c = cell[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        parts.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return parts;
}

}  // namespace

std::string PeerModuleFor(const std::string& path) {
    const auto dot = path.rfind('.');
    std::string ext = dot == std::string::npos ? "" : path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".xlsx" ? "openpyxl" : "xlrd";
}

PeerSheet ReadPeerSheet(const std::string& path) {
    PeerSheet sheet;
    const CommandResult result = RunPython(kScript, {path});
    if (result.exit_code != 0) {
        sheet.error = result.errors;
        return sheet;
    }
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> parts = SplitTabs(line);
        if (parts[0] == "W" && parts.size() == 3) {
            sheet.widths[std::stoi(parts[1])] = std::stoi(parts[2]);
        } else if (parts[0] == "R") {
            std::vector<std::string> row;
            for (std::size_t i = 1; i < parts.size(); ++i) row.push_back(Unescape(parts[i]));
            sheet.rows.push_back(row);
        }
    }
    sheet.ok = true;
    return sheet;
}

}  // namespace linograf::test
