#include "tests/serial/pty_pair.h"

#include <pty.h>
#include <unistd.h>
#include <cerrno>
#include <stdexcept>

namespace linograf::serial::test {

PtyPair::PtyPair() {
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    slave_path_ = name;
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (slave_ >= 0) close(slave_);
}

void PtyPair::Write(std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("write to the pty master failed");
        }
        done += static_cast<size_t>(n);
    }
}

void PtyPair::CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

}  // namespace linograf::serial::test
