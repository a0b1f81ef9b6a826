#include "serial/system_calls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace linograf::serial {

int SystemCalls::Open(const char* path, int flags) {
    return ::open(path, flags);
}
int SystemCalls::Close(int fd) {
    return ::close(fd);
}
ssize_t SystemCalls::Read(int fd, void* buffer, size_t size) {
    return ::read(fd, buffer, size);
}
ssize_t SystemCalls::Write(int fd, const void* buffer, size_t size) {
    return ::write(fd, buffer, size);
}
int SystemCalls::Poll(pollfd* fds, nfds_t count, int timeout_ms) {
    return ::poll(fds, count, timeout_ms);
}
int SystemCalls::Ioctl(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}
int SystemCalls::Flock(int fd, int operation) {
    return ::flock(fd, operation);
}
int SystemCalls::TcFlush(int fd, int queue_selector) {
    return ::tcflush(fd, queue_selector);
}

SystemCalls& RealSystemCalls() {
    static SystemCalls calls;
    return calls;
}

}  // namespace linograf::serial
