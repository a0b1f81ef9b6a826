#pragma once
// The command line's side of a real serial port: which device the settings file names, and what
// happens when that device vanishes during a capture (reported on standard error at once, then
// waited for and reopened, or the capture ends with --no-reconnect).
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "serial/com_port.h"
#include "serial/port_reconnect.h"

namespace linograf {

class TIniFile;

// The device the settings file chose: its stable path key, else the window's list position
// counted over the ports present now (found without opening any); empty when it names none.
std::string StoredCaptureDevice(const TIniFile& ini);

class TCaptureReconnect {
  public:
    // `label`: the device as the operator named it (messages show it); empty: the path opened.
    // `unfinished_bytes`: how many bytes of a line without its carriage return the capture holds
    // (they are reported when the device vanishes, as the reopened port starts a new line).
    // `message`: one line for standard error.
    TCaptureReconnect(serial::TNlkComPort& port, bool reconnect, std::string label,
                      std::function<std::size_t()> unfinished_bytes,
                      std::function<void(const std::string&)> message);

    // From the capture's loop: reopens the port when its device is back.
    void Poll() { keeper_.Poll(); }
    bool Disconnected() const { return keeper_.Disconnected(); }
    // The device vanished and reconnecting is off: the capture ends.
    bool GaveUp() const { return !keeper_.Enabled() && keeper_.Disconnected(); }
    // For the summary: each disconnect with its time, each reconnect, the count.
    std::vector<std::string> SummaryLines() const { return summary_; }

  private:
    serial::TPortReconnect keeper_;
    std::vector<std::string> summary_;
};

}  // namespace linograf
