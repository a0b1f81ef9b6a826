#include "serial/port_selection.h"

#include <charconv>

#include "serial/port_availability.h"

namespace linograf::serial {

std::vector<std::string> SelectablePortEntries(const std::function<bool(int)>& available) {
    std::vector<std::string> entries;
    for (int n = 1; n <= kLastSelectablePort; ++n) {
        if (available ? available(n) : IsPortAvailable(n)) entries.push_back("COM" + std::to_string(n));
    }
    return entries;
}

int PortNumberFromEntry(std::string_view entry) {
    if (entry.size() <= 3) return 0;
    const std::string_view digits = entry.substr(3);
    int n = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (error != std::errc() || end != digits.data() + digits.size() || n <= 0) return 0;
    return n;
}

}  // namespace linograf::serial
