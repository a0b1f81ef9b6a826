#include "serial/trace_format.h"

#include <cstdio>

#include "serial/port_errors.h"

namespace linograf::serial {

namespace {

constexpr int kLineLimit = 78;
constexpr int kLogPrefixWidth = 44;

// One byte as an item of a trace or log line.
std::string Item(uint8_t byte, bool in_hex, bool all_hex) {
    char text[8];
    if (all_hex) {
        std::snprintf(text, sizeof text, "[%02X]", byte);
        return text;
    }
    const uint8_t low = in_hex ? 33 : 32;
    if (byte >= low && byte <= 126) return std::string(1, static_cast<char>(byte));
    if (in_hex) {
        std::snprintf(text, sizeof text, "[%02X]", byte);
    } else {
        std::snprintf(text, sizeof text, "[%u]", byte);
    }
    return text;
}

// Appends an item, first starting a new line when it would pass the limit.
void AppendItem(std::string& out, int& width, const std::string& item, bool log) {
    const int w = static_cast<int>(item.size());
    width += w;
    if (width > kLineLimit) {
        out += '\n';
        if (log) {
            out.append(kLogPrefixWidth, ' ');
            width = kLogPrefixWidth + 1 + w;
        } else {
            width = w;
        }
    }
    out += item;
}

std::string TypeName(uint8_t type) {
    return ErrorMessage(15001 + type);
}
std::string SubtypeName(uint16_t subtype) {
    return subtype == 0 ? std::string() : ErrorMessage(15100 + subtype);
}

}  // namespace

std::string FormatTrace(const std::vector<std::pair<char, uint8_t>>& entries, bool in_hex, bool all_hex) {
    std::string out;
    int width = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const char kind = entries[i].first;
        if (i == 0 || kind != entries[i - 1].first) {
            if (i != 0) out += "\n\n";
            if (kind == 'R') {
                out += "Receive: ";
            } else if (kind == 'T') {
                out += "Transmit: ";
            } else {
                out += "Special-";
                out += kind;
                out += ": ";
            }
            out += '\n';
            width = 0;
        }
        AppendItem(out, width, Item(entries[i].second, in_hex, all_hex), false);
    }
    return out;
}

std::string LogPrefix(const LogEntryView& entry) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.7u", entry.time);
    std::string time(digits);
    time.insert(time.size() - 3, ".");
    char prefix[128];
    std::snprintf(prefix, sizeof prefix, "%8s  %-8s  %-12s  %.8X  ", time.c_str(),
                  TypeName(entry.type).c_str(), SubtypeName(entry.subtype).c_str(), entry.other_data);
    return prefix;
}

std::string FormatLog(const LogHeader& header, const std::vector<LogEntryView>& entries, bool in_hex,
                      bool all_hex) {
    std::string out;
    out += "NELK v4.07\n";
    out += "Compiler : " + header.compiler + "\n";
    out += "Operating System : " + header.operating_system.substr(0, 80) + "\n";
    out += "Device: " + header.device + "\n";
    out += "Date/time: " + header.date_time.substr(0, 80) + "\n";
    out += "Time      Type      SubType       Data      OtherData\n";
    out += "--------  --------  ------------  --------  ---------\n";
    static const char* const kStatusKinds[] = {"(Not active)",         "(Modem status)",
                                               "(Line status)",        "(Output buffer free)",
                                               "(Output buffer used)", "(Output sent)"};
    static const char* const kModemBits[] = {"DCTS", "DDSR", "TERI", "DDCD", "CTS", "DSR", "RI", "DCD"};
    for (const auto& entry : entries) {
        out += LogPrefix(entry);
        if (!entry.data.empty()) {
            if (entry.subtype == 15 && (entry.type == 5 || entry.type == 6)) {
                const uint8_t kind = entry.data[0];
                out += kind < 6 ? kStatusKinds[kind] : "";
            } else {
                int width = kLogPrefixWidth + 1;
                for (uint8_t byte : entry.data) {
                    const std::string item = (all_hex && entry.type == 19)
                                                 ? std::string(1, static_cast<char>(byte))
                                                 : Item(byte, in_hex, all_hex);
                    AppendItem(out, width, item, true);
                }
            }
            if (entry.subtype == 4) {
                std::string names;
                for (int bit = 0; bit < 8; ++bit) {
                    if (!(entry.other_data & (1u << bit))) continue;
                    if (!names.empty()) names += ' ';
                    names += kModemBits[bit];
                }
                out += "(" + names + ")";
            }
        } else if (entry.type == 10) {
            // Telnet option names: no telnet layer exists in this system.
            out += "[]";
        }
        out += '\n';
    }
    return out;
}

}  // namespace linograf::serial
