#pragma once
// The main window's serial port NlkComPort1: the port component with its stored property values,
// given the port settings page's choices before every open. A port opened without a number asks
// the operator through the "Select Port" dialog. Trigger calls reach the GUI thread through Qt's
// event loop, and errors raised on the port's threads or in its handlers go to the general error
// handler.
#include <functional>
#include <optional>

#include "core/capture_port.h"
#include "core/port_settings.h"
#include "serial/com_port.h"
#include "serial/qt/qt_gui_thread.h"

namespace linograf {

class TNlkCapturePort : public TCapturePort {
  public:
    // `prompt` asks for a port number when the settings name none; nothing means the operator
    // refused, and the open fails with the component's "not set" error.
    explicit TNlkCapturePort(std::function<std::optional<int>()> prompt);
    ~TNlkCapturePort() override;

    bool IsOpen() const override { return port_.Open(); }
    void Open(const TPortSettings& settings) override;
    void Close() override { port_.SetOpen(false); }
    char GetChar() override { return static_cast<char>(port_.GetChar()); }

    serial::TNlkComPort& Component() { return port_; }

  private:
    serial::QtGuiThread gui_;
    serial::TNlkComPort port_;
};

}  // namespace linograf
