#include "cli/ports_command.h"

#include <algorithm>

#include "cli/command_line.h"
#include "serial/port_discovery.h"

namespace linograf {

namespace {

// Display width of UTF-8 text: one column per character (USB strings are mostly ASCII).
std::size_t Columns(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

int RunPortsCommand(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err) {
    try {
        TCommandLineReader line(arguments);
        while (line.Next()) {
            if (line.Name() != "--help") line.Unknown();
            line.NoValue();
            std::fputs(
                "Usage: linograf ports\n"
                "Lists the serial ports present: the device, its stable name in /dev/serial/by-id, what\n"
                "the device says it is, and whether you may open it. Nothing is opened, so no board is\n"
                "reset by the listing.\n",
                out);
            return 0;
        }
    } catch (const ECommandLineError& error) {
        std::fprintf(err, "linograf ports: %s\n", error.what());
        return 2;
    }
    const std::vector<serial::TPortInfo> ports = serial::DiscoverPorts();
    if (ports.empty()) {
        std::fputs("No serial ports found.\n", out);
        return 0;
    }
    std::vector<std::vector<std::string>> rows = {{"DEVICE", "BY-ID", "DESCRIPTION", "ACCESS"}};
    std::vector<std::string> problems;
    for (const serial::TPortInfo& port : ports) {
        rows.push_back({port.device, port.by_id.empty() ? "-" : port.by_id, port.Description(),
                        port.may_open ? "yes" : "no"});
        if (!port.may_open) problems.push_back(port.access_problem);
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Columns(row[c]));
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - Columns(row[c]) + 2, ' ');
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
    for (const std::string& problem : problems) std::fprintf(out, "%s\n", problem.c_str());
    return 0;
}

}  // namespace linograf
