#pragma once
// Owning wrappers for descriptors: move-only, closed exactly once.
#include <chrono>
#include <utility>

#include "serial/system_calls.h"

namespace linograf::serial {

// A device descriptor closed through the system-call table it was opened with.
class UniqueFd {
  public:
    UniqueFd() = default;
    UniqueFd(int fd, SystemCalls& calls) : fd_(fd), calls_(&calls) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)), calls_(other.calls_) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
            calls_ = other.calls_;
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes the descriptor; returns close's result (0 when there was nothing to close), errno set.
    int Reset() {
        if (fd_ < 0) return 0;
        const int fd = std::exchange(fd_, -1);
        return calls_->Close(fd);
    }

  private:
    int fd_ = -1;
    SystemCalls* calls_ = nullptr;
};

// An auto-reset event that can also be waited for with poll() beside a device: an eventfd.
// Set() from any thread; a Wait or Consume clears it.
class EventFd {
  public:
    EventFd();
    ~EventFd();
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;

    int fd() const { return fd_; }
    void Set();
    // Clears the event; true when it was set.
    bool Consume();
    // Waits at most `timeout` for the event; true (and cleared) when it was set.
    bool Wait(std::chrono::milliseconds timeout);

  private:
    int fd_ = -1;
};

}  // namespace linograf::serial
