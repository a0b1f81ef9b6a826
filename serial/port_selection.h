#pragma once
// The logic of the "Select Port" dialog, without its window: which entries it lists and which
// number an entry stands for. The window itself belongs to the program's GUI.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace linograf::serial {

// The dialog lists COM1 to COM50 only, even where the program's own port list reaches COM64.
inline constexpr int kLastSelectablePort = 50;

// "COM<n>" for every n from 1 to 50 for which `available` (IsPortAvailable unless given) says
// yes, in ascending order. The dialog selects the first entry; with none it selects nothing.
std::vector<std::string> SelectablePortEntries(const std::function<bool(int)>& available = {});

// The number an entry stands for: its text from the fourth character on, as a decimal number
// ("COM12" gives 12). 0 when that is not a positive number (no port can be chosen from it).
int PortNumberFromEntry(std::string_view entry);

}  // namespace linograf::serial
