#pragma once
// The simulated device of `linograf capture --demo`: a pseudo-terminal whose other end a thread
// feeds with the lines a platform scale sends after every weighing, so the whole capture path
// (port component, line capture, journal, live workbook log) runs without hardware. The port is
// opened on the terminal's device path like any serial port.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/date_time.h"

namespace linograf {

// One weighing as the scale reports it.
struct TDemoWeighing {
    TDateTime when = 0;
    double gross_kg = 0;
    double tare_kg = 0;
};

// The scale's record: date, time, gross, tare, net and unit in fixed-width fields, ended by CR:
// "10.12.2026 14:03:05   1234.5    112.0   1122.5 kg\r". The fields of the record format that cuts
// it, in order (names in UTF-8).
std::vector<std::pair<std::string, int>> DemoRecordFormat();
std::string DemoLine(const TDemoWeighing& weighing);

// Weighings of a plausible series (trucks of varying load on a platform scale), the same for the
// same seed.
class TDemoScale {
  public:
    explicit TDemoScale(std::uint32_t seed = 2026) : state_(seed ? seed : 1) {}
    TDemoWeighing Next(TDateTime when);

  private:
    std::uint32_t NextRandom();
    std::uint32_t state_;
};

class TDemoDevice {
  public:
    TDemoDevice();  // opens the pseudo-terminal; throws std::system_error when it cannot
    ~TDemoDevice();
    TDemoDevice(const TDemoDevice&) = delete;
    TDemoDevice& operator=(const TDemoDevice&) = delete;

    // The device path the port opens (the terminal's slave side, /dev/pts/N).
    const std::string& DevicePath() const { return slave_path_; }

    // Starts sending `lines_per_second` lines each second (at least one every 10 s, at most
    // 1000 a second) until Stop.
    void Start(double lines_per_second);
    void Stop();
    std::uint64_t LinesSent() const { return sent_.load(); }

  private:
    void Run(double lines_per_second);

    int master_ = -1;
    int slave_ = -1;  // held open so the terminal stays in place between the port's opens
    std::string slave_path_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> sent_{0};
};

}  // namespace linograf
