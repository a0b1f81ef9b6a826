#include "cli/cat_command.h"

#include <exception>

#include "cli/command_line.h"
#include "text/integer_text.h"
#include "text/wide_text.h"
#include "workbook/model/tabulon4.h"
#include "workbook/record_dump.h"

namespace linograf {

namespace {

void PrintCatUsage(std::FILE* to) {
    std::fputs(
        "Usage: linograf cat FILE [--sheet N | --records]\n"
        "Prints the cells of a sheet of an Excel workbook (.xls or .xlsx) as tab-separated lines,\n"
        "one per row from row 0 to the last used row. Tab, CR, LF and backslash inside a cell are\n"
        "written as \\t, \\r, \\n and \\\\.\n"
        "\n"
        "  --sheet N    the sheet to print, counted from 0 (default 0)\n"
        "  --records    list the BIFF records of an .xls file instead: offset, name, id, length\n"
        "               and the first data bytes, one record a line\n"
        "  --help       show this help and exit\n",
        to);
}

int PrintRecords(const std::string& file, std::FILE* out, std::FILE* err) {
    std::string listing;
    std::string broken;
    try {
        listing = workbook::DumpWorkbookFileRecords(file, &broken);
    } catch (const std::exception& error) {
        std::fprintf(err, "linograf cat: %s: %s\n", file.c_str(), error.what());
        return 1;
    }
    std::fwrite(listing.data(), 1, listing.size(), out);
    if (!broken.empty()) {
        std::fprintf(err, "linograf cat: %s: %s\n", file.c_str(), broken.c_str());
        return 1;
    }
    return std::ferror(out) ? 1 : 0;
}

}  // namespace

std::string EscapeCellText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out += c;
        }
    }
    return out;
}

int RunCatCommand(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err) {
    std::string file;
    long long sheet_index = 0;
    bool records = false;
    try {
        TCommandLineReader line(arguments);
        while (line.Next()) {
            if (!line.IsOption()) {
                if (!file.empty()) throw ECommandLineError("give one file");
                file = line.Name();
            } else if (line.Name() == "--help") {
                line.NoValue();
                PrintCatUsage(out);
                return 0;
            } else if (line.Name() == "--sheet") {
                const std::string value = line.Value();
                const auto n = ParseIntegerText(value);
                if (!n || *n < 0)
                    throw ECommandLineError("--sheet needs a number from 0, not \"" + value + "\"");
                sheet_index = *n;
            } else if (line.Name() == "--records") {
                line.NoValue();
                records = true;
            } else {
                line.Unknown();
            }
        }
    } catch (const ECommandLineError& error) {
        std::fprintf(err, "linograf cat: %s\n", error.what());
        PrintCatUsage(err);
        return 2;
    }
    if (file.empty()) {
        PrintCatUsage(err);
        return 2;
    }
    if (records) return PrintRecords(file, out, err);

    workbook::TTabulon4 book;
    try {
        book.SetFilename(workbook::Utf8ToWide(file));
        book.Read();
    } catch (const std::exception& error) {
        std::fprintf(err, "linograf cat: %s: %s\n", file.c_str(), error.what());
        return 1;
    }
    if (sheet_index >= book.Sheets().Count()) {
        std::fprintf(err, "linograf cat: %s has %d sheet(s); there is no sheet %lld\n", file.c_str(),
                     book.Sheets().Count(), sheet_index);
        return 1;
    }
    workbook::TSheet& sheet = book.Sheet(static_cast<int>(sheet_index));
    if (sheet.Cells().Empty()) return 0;
    sheet.CalcDimensions();
    std::string line;
    for (uint32_t row = 0; row <= sheet.LastRow(); ++row) {
        // Up to the row's own last cell: trailing empty cells of a wide sheet are no part of it.
        int64_t last = static_cast<int64_t>(sheet.LastCol());
        while (last >= 0 && sheet.CellType(static_cast<uint32_t>(last), row) == workbook::ctNone) --last;
        line.clear();
        for (int64_t col = 0; col <= last; ++col) {
            if (col > 0) line += '\t';
            if (sheet.CellType(static_cast<uint32_t>(col), row) != workbook::ctNone)
                line += EscapeCellText(workbook::WideToUtf8(sheet.AsString(static_cast<uint32_t>(col), row)));
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), out);
    }
    return std::ferror(out) ? 1 : 0;
}

}  // namespace linograf
