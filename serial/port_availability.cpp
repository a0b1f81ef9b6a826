#include "serial/port_availability.h"

#include "serial/platform_error.h"
#include "serial/port_device_map.h"
#include "serial/posix_dispatcher.h"

namespace linograf::serial {

bool IsPortAvailable(int n) {
    if (n == 0) return false;
    if (DevicePathForPort(n).empty()) return false;
    const std::string name = "\\\\.\\COM" + std::to_string(n);
    // A short-lived dispatcher without an owner: it enters the dispatcher table, opens the device
    // exclusively and leaves again. It starts no thread, so it never hands anything to a GUI thread.
    PlainGuiThread no_gui;
    TNlkPosixDispatcher probe(no_gui, nullptr);
    probe.SetDeviceName(name);
    if (probe.OpenPort(name) >= 0) {
        probe.ClosePort();
        return true;
    }
    return probe.LastError() == kErrorAccessDenied;
}

}  // namespace linograf::serial
