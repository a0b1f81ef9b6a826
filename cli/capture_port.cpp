#include "cli/capture_port.h"

#include "core/ini_file.h"
#include "core/port_settings.h"
#include "serial/port_discovery.h"

namespace linograf {

std::string StoredCaptureDevice(const TIniFile& ini) {
    // The window lists the ports it finds, by their stable paths; only a file without the device
    // key (one from the Windows program, or from before that key) needs the list.
    if (std::string device = ini.ReadString("com", kDeviceKey, ""); !device.empty()) return device;
    std::vector<std::string> present;
    for (const serial::TPortInfo& port : serial::DiscoverPorts()) present.push_back(port.StablePath());
    return StoredPortDevice(ini, present);
}

TCaptureReconnect::TCaptureReconnect(serial::TNlkComPort& port, bool reconnect, std::string label,
                                     std::function<std::size_t()> unfinished_bytes,
                                     std::function<void(const std::string&)> message)
    : keeper_(port, reconnect) {
    keeper_.SetDeviceLabel(std::move(label));
    keeper_.OnLost = [this, reconnect, unfinished_bytes, message](const serial::TPortLoss& loss) {
        const std::string when = serial::LocalTimeText(loss.when);
        std::string text = "disconnected: " + loss.device + " at " + when + " (" + loss.reason + ")";
        if (const std::size_t bytes = unfinished_bytes ? unfinished_bytes() : 0; bytes > 0)
            text += "; the " + std::to_string(bytes) + " bytes of its unfinished line are not in the file";
        text += reconnect ? "; waiting for it to come back" : "; capture ends (--no-reconnect)";
        message(text);
        summary_.push_back("  disconnected: " + loss.device + " at " + when + " (" + loss.reason + ")");
    };
    keeper_.OnReconnected = [this, message](const std::string& device,
                                            std::chrono::system_clock::time_point at) {
        const std::string when = serial::LocalTimeText(at);
        message("reconnected: " + device + " at " + when);
        summary_.push_back("  reconnected: " + device + " at " + when);
    };
}

}  // namespace linograf
