#pragma once
// Every call the serial layer makes on a device goes through this table of virtual functions.
// The base class makes the real calls; tests derive from it and override single entries to give
// short reads, EINTR or failures at the point they want, while the rest still reaches the kernel
// (usually a pseudo-terminal). Each entry has the signature and errno behaviour of its POSIX
// counterpart, so code above it is written exactly as against the system.
#include <poll.h>
#include <sys/types.h>
#include <cstddef>

namespace linograf::serial {

class SystemCalls {
  public:
    virtual ~SystemCalls() = default;

    virtual int Open(const char* path, int flags);
    virtual int Close(int fd);
    virtual ssize_t Read(int fd, void* buffer, size_t size);
    virtual ssize_t Write(int fd, const void* buffer, size_t size);
    virtual int Poll(pollfd* fds, nfds_t count, int timeout_ms);
    virtual int Ioctl(int fd, unsigned long request, void* argument);
    virtual int Flock(int fd, int operation);
    virtual int TcFlush(int fd, int queue_selector);
};

// The process's real system calls.
SystemCalls& RealSystemCalls();

}  // namespace linograf::serial
