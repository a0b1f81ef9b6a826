#pragma once
// Keeps a port's capture going across an unplugged device. When the device vanishes (a USB
// adapter pulled out, a hang-up), the port component reports it and closes; this object notes the
// device and the time, and from then on each Poll looks whether the same device path is back and
// opens the port again with the settings it had. With reconnecting switched off the loss is only
// recorded, and the owner ends the capture.
//
// Everything runs on the port's GUI thread: the loss arrives as a port event, and Poll is called
// from the owner's loop (the command line's pump, a timer of the window).
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "serial/com_port.h"

namespace linograf::serial {

struct TPortLoss {
    std::string device;  // as the owner named it (SetDeviceLabel), else the path the port opened
    std::string reason;  // the platform's word: "the device hung up", "Input/output error", ...
    std::chrono::system_clock::time_point when;
};

class TPortReconnect {
  public:
    // Takes the port's OnPortLost event for the lifetime of this object.
    TPortReconnect(TNlkComPort& port, bool enabled);
    ~TPortReconnect();
    TPortReconnect(const TPortReconnect&) = delete;
    TPortReconnect& operator=(const TPortReconnect&) = delete;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on) { enabled_ = on; }
    // The name messages use for the device; the path the port opened when empty.
    void SetDeviceLabel(std::string label) { label_ = std::move(label); }

    // The device is gone and the port has not been opened again (yet).
    bool Disconnected() const { return disconnected_; }
    // Gives up waiting (the operator stopped the capture); Poll does nothing until the next loss.
    void StopWaiting() { disconnected_ = false; }
    // Opens the port again when the device is back: its path resolves to a node and the open
    // succeeds. Tries at most every `interval` (an open of a device that is coming up may fail a
    // few times: EIO while the driver binds, EACCES until udev has set the group). True when the
    // port is open again.
    bool Poll(std::chrono::milliseconds interval = std::chrono::milliseconds(200));

    int Reconnects() const { return reconnects_; }
    const std::vector<TPortLoss>& Losses() const { return losses_; }
    // Why the last attempt to open the port again failed; empty when none failed since the loss.
    const std::string& LastAttemptError() const { return last_attempt_error_; }

    std::function<void(const TPortLoss&)> OnLost;
    std::function<void(const std::string& device, std::chrono::system_clock::time_point when)> OnReconnected;

  private:
    TNlkComPort& port_;
    bool enabled_;
    std::string label_;
    std::string path_;  // what the port opened, and what has to come back
    bool disconnected_ = false;
    int reconnects_ = 0;
    std::vector<TPortLoss> losses_;
    std::string last_attempt_error_;
    std::chrono::steady_clock::time_point next_try_{};
};

// "YYYY-MM-DD HH:MM:SS" in local time, as messages and summaries show the time of a loss.
std::string LocalTimeText(std::chrono::system_clock::time_point when);

}  // namespace linograf::serial
