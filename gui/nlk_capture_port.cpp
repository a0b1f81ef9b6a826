#include "gui/nlk_capture_port.h"

#include <QTimer>

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
    poll_ = new QTimer();
    poll_->setInterval(250);
    QObject::connect(poll_, &QTimer::timeout, [this] {
        reconnect_.Poll();
        if (!reconnect_.Disconnected()) {
            poll_->stop();
            return;
        }
        // The device's path is back but it does not open: the operator sees why, not only that
        // the wait goes on.
        if (const std::string& error = reconnect_.LastAttemptError(); error != shown_attempt_error_) {
            shown_attempt_error_ = error;
            if (OnConnectionChange && !error.empty())
                OnConnectionChange(true, loss_text_ + "; last attempt to reopen failed: " + error);
        }
    });
    reconnect_.OnLost = [this](const serial::TPortLoss& loss) {
        std::string text = "disconnected: " + loss.device + " at " + serial::LocalTimeText(loss.when) + " (" +
                           loss.reason + ")";
        text += reconnect_.Enabled() ? "; waiting for it to come back" : "; capture stopped";
        loss_text_ = text;
        shown_attempt_error_.clear();
        if (reconnect_.Enabled()) poll_->start();
        if (OnConnectionChange) OnConnectionChange(true, text);
    };
    reconnect_.OnReconnected = [this](const std::string& device, std::chrono::system_clock::time_point when) {
        if (OnConnectionChange)
            OnConnectionChange(false, "reconnected: " + device + " at " + serial::LocalTimeText(when));
    };
}

TNlkCapturePort::~TNlkCapturePort() {
    delete poll_;
    reconnect_.OnLost = nullptr;
    reconnect_.OnReconnected = nullptr;
    // The handlers lead into the window, which is going.
    port_.SetOnTriggerAvail({});
    port_.SetOnPortOpen({});
    if (port_.Open()) Guarded([this] { port_.SetOpen(false); });
}

void TNlkCapturePort::Open(const TPortSettings& settings) {
    poll_->stop();  // an open by the operator ends the wait for a vanished device
    ApplyPortSettings(settings, port_);
    port_.SetOpen(true);
}

unsigned long long TNlkCapturePort::StopReceiving() {
    return port_.StopReceiving();
}

void TNlkCapturePort::Close() {
    // Stopping capture also stops waiting for a device that vanished.
    poll_->stop();
    reconnect_.StopWaiting();
    port_.SetOpen(false);
}

}  // namespace linograf
