#pragma once
// The text of trace and dispatch-log files, as pure functions of what was recorded, so their
// layout is tested without a port.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace linograf::serial {

// Trace: entries (kind 'R' received, 'T' transmitted, anything else "Special-<kind>") oldest
// first. A header line starts each run of one kind, runs are separated by an empty line, items
// wrap past 78 columns, and the text does not end with a line break.
std::string FormatTrace(const std::vector<std::pair<char, uint8_t>>& entries, bool in_hex, bool all_hex);

struct LogHeader {
    std::string compiler;
    std::string operating_system;  // cut to 80 characters
    std::string device;
    std::string date_time;  // "dd/mm/yy, hh:mm:ss"
};

struct LogEntryView {
    uint8_t type;
    uint16_t subtype;
    uint32_t time;  // milliseconds since the open
    uint32_t other_data;
    std::vector<uint8_t> data;
};

// The 44-character prefix of a log line: time as 0012.345, type and subtype names, other data in
// eight upper-case hexadecimal digits.
std::string LogPrefix(const LogEntryView& entry);
std::string FormatLog(const LogHeader& header, const std::vector<LogEntryView>& entries, bool in_hex,
                      bool all_hex);

std::string OperatingSystemDescription();
std::string CompilerDescription();

}  // namespace linograf::serial
