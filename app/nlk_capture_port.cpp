#include "app/nlk_capture_port.h"

#include "app/error_handler.h"

namespace linograf {

void ApplyPortSettings(const TPortSettings& settings, serial::TNlkComPort& port) {
    port.SetComNumber(static_cast<uint16_t>(
        settings.com_number > 0 && settings.com_number <= 0xFFFF ? settings.com_number : 0));
    port.SetBaud(settings.baud);
    port.SetDataBits(static_cast<uint16_t>(settings.data_bits));
    switch (settings.parity) {
        case TPortParity::pNone:
            port.SetParity(serial::pNone);
            break;
        case TPortParity::pOdd:
            port.SetParity(serial::pOdd);
            break;
        case TPortParity::pEven:
            port.SetParity(serial::pEven);
            break;
        case TPortParity::pMark:
            port.SetParity(serial::pMark);
            break;
        case TPortParity::pSpace:
            port.SetParity(serial::pSpace);
            break;
    }
    port.SetStopBits(static_cast<uint16_t>(settings.stop_bits));
    // "Hardware" as the system's port dialog means it: RTS raised while there is room, and the
    // device's CTS heeded; "Xon / Xoff" both ways.
    switch (settings.flow) {
        case TPortFlow::kNone:
            port.SetHWFlowOptions({});
            port.SetSWFlowOptions(serial::swfNone);
            break;
        case TPortFlow::kXonXoff:
            port.SetHWFlowOptions({});
            port.SetSWFlowOptions(serial::swfBoth);
            break;
        case TPortFlow::kHardware:
            port.SetSWFlowOptions(serial::swfNone);
            port.SetHWFlowOptions({serial::hwfUseRTS, serial::hwfRequireCTS});
            break;
    }
}

TNlkCapturePort::TNlkCapturePort(std::function<std::optional<int>()> prompt) : port_(gui_) {
    gui_.SetErrorDisplay([](const std::string& message) { ShowErrorMessage(ErrorMessageText(message)); });
    serial::LoadNlkComPort1(port_);
    port_.SetPortPrompt(std::move(prompt));
    port_.SetOnPortOpen([this](serial::TNlkComPort&) {
        if (OnPortOpen) OnPortOpen();
    });
    port_.SetOnTriggerAvail([this](serial::TNlkComPort&, uint16_t count) {
        if (OnTriggerAvail) OnTriggerAvail(count);
    });
}

TNlkCapturePort::~TNlkCapturePort() {
    // The handlers lead into the window, which is going.
    port_.SetOnTriggerAvail({});
    port_.SetOnPortOpen({});
    if (port_.Open()) Guarded([this] { port_.SetOpen(false); });
}

void TNlkCapturePort::Open(const TPortSettings& settings) {
    ApplyPortSettings(settings, port_);
    port_.SetOpen(true);
}

}  // namespace linograf
