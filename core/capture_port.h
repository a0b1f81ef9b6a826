#pragma once
// What the main window needs of its serial port: open it with the port settings page's choices,
// close it, tell whether it is open, and hand over received bytes. The program plugs the serial
// component in behind this (nlk_capture_port.h); tests plug in a port fed from memory.
#include <functional>
#include <string>

#include "core/port_settings.h"

namespace linograf {

class TCapturePort {
  public:
    virtual ~TCapturePort() = default;

    virtual bool IsOpen() const = 0;
    // Gives the settings to the port and opens it; a port number of 0 makes the port ask the
    // operator for one. Errors are thrown with the port's message; the port then stays closed.
    virtual void Open(const TPortSettings& settings) = 0;
    virtual void Close() = 0;
    // Before Close: stops reading from the device and hands every byte already read to
    // OnTriggerAvail before it returns. Returns the bytes read and left undelivered because the
    // handler stopped taking them. A port with no reader of its own has nothing to stop.
    virtual unsigned long long StopReceiving() { return 0; }
    // One received byte; only inside OnTriggerAvail, once per announced byte.
    virtual char GetChar() = 0;

    // Fired on the GUI thread: the port has been opened.
    std::function<void()> OnPortOpen;
    // Fired on the GUI thread: `count` received bytes wait to be taken with GetChar.
    std::function<void(unsigned count)> OnTriggerAvail;

    // Whether a port whose device vanished is reopened once the device is back (the default), or
    // stays closed.
    virtual void SetReconnect(bool) {}
    // Fired on the GUI thread when the device vanished (`lost` true; the port is closed then) and
    // when it was reopened (`lost` false). The text names the device and the time, in UTF-8.
    std::function<void(bool lost, const std::string& text)> OnConnectionChange;
};

}  // namespace linograf
