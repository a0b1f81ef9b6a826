#include "serial/port_reconnect.h"

#include <sys/stat.h>
#include <ctime>
#include <exception>

namespace linograf::serial {

TPortReconnect::TPortReconnect(TNlkComPort& port, bool enabled) : port_(port), enabled_(enabled) {
    port_.SetOnPortLost([this](TNlkComPort& sender, const std::string& reason) {
        path_ = sender.DevicePath();
        disconnected_ = true;
        last_attempt_error_.clear();
        next_try_ = std::chrono::steady_clock::now();
        losses_.push_back({label_.empty() ? path_ : label_, reason, std::chrono::system_clock::now()});
        if (OnLost) OnLost(losses_.back());
    });
}

TPortReconnect::~TPortReconnect() {
    port_.SetOnPortLost({});
}

bool TPortReconnect::Poll(std::chrono::milliseconds interval) {
    if (!disconnected_ || !enabled_) return false;
    if (port_.Open()) {  // the owner opened it itself
        disconnected_ = false;
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now < next_try_) return false;
    next_try_ = now + interval;
    // A node that is not there (or a by-id link that dangles) is not tried: opening would only
    // fail, and waiting for it costs nothing.
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) return false;
    try {
        port_.SetOpen(true);
    } catch (const std::exception& error) {
        last_attempt_error_ = error.what();
        return false;
    }
    if (!port_.Open()) return false;
    disconnected_ = false;
    ++reconnects_;
    if (OnReconnected) OnReconnected(label_.empty() ? path_ : label_, std::chrono::system_clock::now());
    return true;
}

std::string LocalTimeText(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

}  // namespace linograf::serial
