// A stop of receiving on a real pseudo-terminal while the device keeps sending: every byte the
// port took from the device reaches the handler, and what it never took is still in the
// terminal. The test thread is the GUI thread (PlainGuiThread) and pumps while it waits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "serial/com_port.h"
#include "tests/serial/pty_pair.h"

namespace linograf::serial {
namespace {

using test::PtyPair;
using namespace std::chrono_literals;

// Plays a device that sends numbered lines as fast as the terminal takes them, until told to
// stop; keeps everything it managed to write.
class Sender {
  public:
    explicit Sender(int master) : master_(master) {
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        thread_ = std::thread([this] { Run(); });
    }
    ~Sender() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    std::string Written() {
        std::lock_guard lock(mutex_);
        return written_;
    }

  private:
    void Run() {
        std::string pending;
        for (long line = 1; !stop_;) {
            if (pending.empty()) {
                char text[48];
                std::snprintf(text, sizeof text, "L%07ld,ABCDEFGHIJ\r", line++);
                pending = text;
            }
            const ssize_t n = ::write(master_, pending.data(), pending.size());
            if (n > 0) {
                std::lock_guard lock(mutex_);
                written_.append(pending, 0, static_cast<size_t>(n));
                pending.erase(0, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) return;
            pollfd fd{master_, POLLOUT, 0};
            ::poll(&fd, 1, 10);
        }
    }

    int master_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string written_;
    std::thread thread_;
};

// Reads from the test's own descriptor of the slave until `wanted` bytes came or the terminal
// stays silent for a second (the bytes were then never there).
std::string ReadRest(int slave, size_t wanted) {
    std::string rest;
    char buffer[4096];
    while (rest.size() < wanted) {
        pollfd fd{slave, POLLIN, 0};
        if (::poll(&fd, 1, 1000) <= 0) break;
        const ssize_t n = ::read(slave, buffer, sizeof buffer);
        if (n <= 0) break;
        rest.append(buffer, static_cast<size_t>(n));
    }
    return rest;
}

TEST(ReceiveStop, EveryByteReadBeforeTheStopReachesTheHandler) {
    // Several rounds, so the stop falls at different points of the read and delivery cycle.
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        PtyPair pty;
        PlainGuiThread gui;
        TNlkComPort port(gui);
        LoadNlkComPort1(port);
        port.SetDevicePath(pty.slave_path());
        std::string taken;
        port.SetOnTriggerAvail([&](TNlkComPort& cp, uint16_t count) {
            for (uint16_t i = 0; i < count; ++i) taken.push_back(static_cast<char>(cp.GetChar()));
        });
        port.SetOpen(true);
        Sender sender(pty.master());
        const size_t before_stop = 20000 + 3001 * static_cast<size_t>(round);
        ASSERT_TRUE(gui.PumpUntil([&] { return taken.size() >= before_stop; }, 30s));

        EXPECT_EQ(port.StopReceiving(), 0u);
        const std::string at_stop = taken;
        sender.Stop();
        const std::string written = sender.Written();
        ASSERT_LE(at_stop.size(), written.size());
        // What the port never read is still in the terminal, for any reader of the slave; what it
        // read is in `taken`. Together they are exactly what the device sent.
        const std::string rest = ReadRest(pty.slave(), written.size() - at_stop.size());
        EXPECT_EQ(at_stop.size() + rest.size(), written.size());
        EXPECT_TRUE(at_stop + rest == written)
            << "the handler's bytes and the terminal's rest are not the sent data";

        port.SetOpen(false);
        EXPECT_FALSE(port.Open());
        EXPECT_EQ(taken.size(), at_stop.size()) << "nothing is delivered after the stop";
    }
}

TEST(ReceiveStop, ThePortReopensAndReadsAgainAfterAStop) {
    PtyPair pty;
    PlainGuiThread gui;
    TNlkComPort port(gui);
    LoadNlkComPort1(port);
    port.SetDevicePath(pty.slave_path());
    std::string taken;
    port.SetOnTriggerAvail([&](TNlkComPort& cp, uint16_t count) {
        for (uint16_t i = 0; i < count; ++i) taken.push_back(static_cast<char>(cp.GetChar()));
    });
    port.SetOpen(true);
    pty.Write("first\r");
    ASSERT_TRUE(gui.PumpUntil([&] { return taken.size() >= 6; }, 30s));
    EXPECT_EQ(port.StopReceiving(), 0u);
    port.SetOpen(false);
    port.SetOpen(true);
    pty.Write("second\r");
    ASSERT_TRUE(gui.PumpUntil([&] { return taken.size() >= 13; }, 30s));
    EXPECT_EQ(taken, "first\rsecond\r");
    port.SetOpen(false);
}

}  // namespace
}  // namespace linograf::serial
