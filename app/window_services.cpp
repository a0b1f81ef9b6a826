#include "app/window_services.h"

#include "serial/port_device_map.h"

namespace linograf {

QString DevicePathOfPort(int port) { return QString::fromStdString(serial::DevicePathForPort(port)); }

TMainWindowServices DefaultWindowServices() {
    TMainWindowServices services;
    services.device_path = DevicePathOfPort;
    return services;
}

}  // namespace linograf
