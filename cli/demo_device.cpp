#include "cli/demo_device.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace linograf {

std::vector<std::pair<std::string, int>> DemoRecordFormat() {
    return {{"Дата", 10}, {"Время", 9}, {"Брутто", 9}, {"Тара", 9}, {"Нетто", 9}, {"Ед", 3}};
}

std::string DemoLine(const TDemoWeighing& weighing) {
    const DateTimeParts t = DecodeDateTime(weighing.when);
    char line[128];
    std::snprintf(line, sizeof line, "%02d.%02d.%04d %02d:%02d:%02d%9.1f%9.1f%9.1f kg\r", t.day, t.month,
                  t.year, t.hour, t.minute, t.second, weighing.gross_kg, weighing.tare_kg,
                  weighing.gross_kg - weighing.tare_kg);
    return line;
}

std::uint32_t TDemoScale::NextRandom() {
    // xorshift32: small, and the same series on every platform.
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
}

TDemoWeighing TDemoScale::Next(TDateTime when) {
    TDemoWeighing w;
    w.when = when;
    // Tare of the vehicle 2.8 to 4.2 t, load up to 9 t, read in steps of 0.5 kg.
    w.tare_kg = 2800 + (NextRandom() % 2800) * 0.5;
    w.gross_kg = w.tare_kg + (NextRandom() % 18000) * 0.5;
    return w;
}

TDemoDevice::TDemoDevice() {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::system_error(errno, std::generic_category(),
                                "Cannot open a pseudo-terminal for the demo device");
    slave_path_ = name;
    // Raw from the start: before the port applies its own settings the line discipline must not
    // turn the scale's CR into LF or echo anything back.
    termios settings{};
    if (::tcgetattr(slave_, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(slave_, TCSANOW, &settings);
    }
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    // Never blocking: a port that does not read must not keep Stop waiting on a full terminal.
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

TDemoDevice::~TDemoDevice() {
    Stop();
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
}

void TDemoDevice::Start(double lines_per_second) {
    Stop();
    stop_ = false;
    lines_per_second = std::clamp(lines_per_second, 0.1, 1000.0);
    thread_ = std::thread([this, lines_per_second] { Run(lines_per_second); });
}

void TDemoDevice::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void TDemoDevice::Run(double lines_per_second) {
    using Clock = std::chrono::steady_clock;
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / lines_per_second));
    TDemoScale scale;
    auto next = Clock::now();
    while (!stop_) {
        const std::string line = DemoLine(scale.Next(DateTimeNow()));
        std::size_t done = 0;
        while (done < line.size() && !stop_) {
            const ssize_t n = ::write(master_, line.data() + done, line.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
                return;  // the terminal is gone
            } else {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 50);
            }
        }
        ++sent_;
        next += period;
        // Sleep in short steps so Stop never waits long for a slow rate.
        while (!stop_ && Clock::now() < next)
            std::this_thread::sleep_for(
                std::min<Clock::duration>(next - Clock::now(), std::chrono::milliseconds(50)));
    }
}

}  // namespace linograf
