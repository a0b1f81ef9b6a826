#include "serial/unique_fd.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace linograf::serial {

EventFd::EventFd() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (fd_ < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
}

EventFd::~EventFd() {
    if (fd_ >= 0) ::close(fd_);
}

void EventFd::Set() {
    const uint64_t one = 1;
    // Only a counter overflow could fail, and a set event stays set then.
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
}

bool EventFd::Consume() {
    uint64_t value = 0;
    return ::read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

bool EventFd::Wait(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (Consume()) return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() < 0) return false;
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r == 0) return Consume();
        if (r < 0 && errno != EINTR) return false;
    }
}

}  // namespace linograf::serial
