#include "serial/port_availability.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "serial/port_device_map.h"

namespace linograf::serial {

bool IsPortAvailable(int n) {
    if (n == 0) return false;
    const std::string path = DevicePathForPort(n);
    if (path.empty()) return false;
    // Judged from the node alone. Opening it would tell more, but on Linux every open raises DTR
    // and RTS, which resets many boards, and a port listed in a window must not be touched. A port
    // held by another program is present all the same; a dangling link is not.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    // The kernel keeps ttyS nodes for 8250 ports without a UART behind them; sysfs says type 0.
    std::error_code error;
    const std::string name = std::filesystem::canonical(path, error).filename().string();
    if (!error && name.starts_with("ttyS")) {
        std::ifstream type("/sys/class/tty/" + name + "/type");
        std::string value;
        if (type >> value && value == "0") return false;
    }
    return true;
}

}  // namespace linograf::serial
