#include "gui/window_services.h"

#include <QApplication>
#include <optional>

#include "gui/com_select_form.h"
#include "gui/nlk_capture_port.h"
#include "gui/port_details.h"
#include "serial/port_availability.h"
#include "serial/port_device_map.h"
#include "serial/port_discovery.h"

namespace linograf {

QString DevicePathOfPort(int port) {
    return QString::fromStdString(serial::DevicePathForPort(port));
}

TMainWindowServices DefaultWindowServices() {
    TMainWindowServices services;
    services.port_available = serial::IsPortAvailable;
    services.device_path = DevicePathOfPort;
    services.port_details = PortDetailsOfPort;
    services.stable_path = [](const std::string& path) { return serial::StablePathOf(path); };
    services.port = std::make_unique<TNlkCapturePort>([]() -> std::optional<int> {
        const int chosen = TComSelectForm::SelectPort(serial::IsPortAvailable, DevicePathOfPort,
                                                      QApplication::activeWindow(), PortDetailsOfPort);
        if (chosen <= 0) return std::nullopt;
        return chosen;
    });
    return services;
}

}  // namespace linograf
