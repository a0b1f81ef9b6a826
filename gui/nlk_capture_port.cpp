#include "gui/nlk_capture_port.h"

#include "gui/error_handler.h"

namespace linograf {

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
