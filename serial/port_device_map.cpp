#include "serial/port_device_map.h"

#include <cstdlib>
#include <sys/stat.h>

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

}  // namespace linograf::serial
