#pragma once
// The main window's serial port NlkComPort1: the port component with its stored property values,
// given the port settings page's choices before every open. A port opened without a number asks
// the operator through the "Select Port" dialog. Trigger calls reach the GUI thread through Qt's
// event loop, and errors raised on the port's threads or in its handlers go to the general error
// handler.
#include <functional>
#include <optional>
#include <string>

#include "core/capture_port.h"
#include "core/port_settings.h"
#include "serial/com_port.h"
#include "serial/port_reconnect.h"
#include "serial/qt/qt_gui_thread.h"

class QTimer;

namespace linograf {

class TNlkCapturePort : public TCapturePort {
  public:
    // `prompt` asks for a port number when the settings name none; nothing means the operator
    // refused, and the open fails with the component's "not set" error.
    explicit TNlkCapturePort(std::function<std::optional<int>()> prompt);
    ~TNlkCapturePort() override;

    // Also while a vanished device is awaited: the capture goes on once it is back, and Stop
    // (Close) ends the wait.
    bool IsOpen() const override { return port_.Open() || Waiting(); }
    void Open(const TPortSettings& settings) override;
    void Close() override;
    unsigned long long StopReceiving() override;
    // A device vanished and is awaited: the capture counts as running (the window offers Stop).
    bool Waiting() const { return reconnect_.Disconnected() && reconnect_.Enabled(); }
    char GetChar() override { return static_cast<char>(port_.GetChar()); }
    void SetReconnect(bool on) override { reconnect_.SetEnabled(on); }

    serial::TNlkComPort& Component() { return port_; }

  private:
    serial::QtGuiThread gui_;
    serial::TNlkComPort port_;
    serial::TPortReconnect reconnect_{port_, true};
    QTimer* poll_ = nullptr;           // looks for the vanished device while one is awaited
    std::string loss_text_;            // what the last loss showed
    std::string shown_attempt_error_;  // the failed reopen last shown
};

}  // namespace linograf
