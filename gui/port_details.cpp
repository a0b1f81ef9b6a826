#include "gui/port_details.h"

#include <QStringList>

#include "serial/port_device_map.h"

namespace linograf {

QString PortDetailsText(const serial::TPortInfo& port) {
    QStringList lines;
    if (!port.by_id.empty()) {
        const auto slash = port.by_id.rfind('/');
        lines << QString::fromStdString(slash == std::string::npos ? port.by_id
                                                                   : port.by_id.substr(slash + 1));
    }
    if (const std::string description = port.Description(); !description.empty())
        lines << QString::fromStdString(description);
    if (!port.may_open)
        lines << QStringLiteral("Нет доступа: ") + QString::fromStdString(port.access_problem);
    return lines.join(u'\n');
}

QString PortDetailsOfPort(int port) {
    const std::string device = serial::DevicePathForPort(port);
    for (const serial::TPortInfo& info : serial::DiscoverPorts()) {
        if (info.com_number == port || (!device.empty() && info.device == device))
            return PortDetailsText(info);
    }
    return {};
}

}  // namespace linograf
