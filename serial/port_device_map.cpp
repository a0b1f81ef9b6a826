#include "serial/port_device_map.h"

#include <sys/stat.h>
#include <charconv>
#include <cstdlib>
#include <string_view>

namespace linograf::serial {

std::string DefaultDevicePath(int port) {
    if (port >= 1 && port <= 16) return "/dev/ttyS" + std::to_string(port - 1);
    if (port >= 17 && port <= 40) return "/dev/ttyUSB" + std::to_string(port - 17);
    if (port >= 41 && port <= 64) return "/dev/ttyACM" + std::to_string(port - 41);
    return {};
}

std::string DevicePathForPort(int port) {
    if (port < kFirstPort || port > kLastPort) return {};
    if (const char* folder = std::getenv(kPortFolderVariable); folder != nullptr && *folder != '\0') {
        std::string entry = std::string(folder) + "/com" + std::to_string(port);
        struct stat st {};
        if (lstat(entry.c_str(), &st) == 0) return entry;
    }
    return DefaultDevicePath(port);
}

std::string DevicePathForName(const std::string& name) {
    std::string_view rest(name);
    if (rest.starts_with("\\\\.\\")) rest.remove_prefix(4);
    if (!rest.starts_with("COM") || rest.size() < 4 || rest.size() > 5) return name;
    rest.remove_prefix(3);
    int port = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), port);
    if (error != std::errc() || end != rest.data() + rest.size() || rest.front() == '0') return name;
    if (port < kFirstPort || port > kLastPort) return name;
    return DevicePathForPort(port);
}

}  // namespace linograf::serial
