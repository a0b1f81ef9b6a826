// Sustained receive rate of an open port: a writer thread plays the device on a pseudo-terminal's
// master, the dispatcher's four threads carry the bytes into the receive ring, and the data-available
// handler on the GUI thread (this thread) takes every announced byte with GetChar. Printed beside
// two references from the same run: the same bytes read from the same kind of pseudo-terminal by
// one plain blocking read loop (the kernel's own path, no port layer), and the fastest standard serial
// rate, 921600 baud, 8N1. CPU time is the whole process's (writer, port threads and GUI thread) per
// megabyte received.
#include <benchmark/benchmark.h>

#include <pty.h>
#include <unistd.h>
#include <cstdio>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "bench/bench_clock.h"
#include "serial/posix_dispatcher.h"

namespace {

using namespace linograf::serial;
using namespace linograf::bench;

constexpr std::size_t kTotalBytes = 8 * 1024 * 1024;
constexpr std::size_t kWriteChunk = 4096;
constexpr double kSerialBytesPerSecond = 921600.0 / 10.0;  // start, 8 data and stop bit per byte
constexpr double kTargetBytesPerSecond = 10e6;

const std::string& Input() {
    static const std::string bytes = [] {
        std::mt19937 random(17);
        std::string out(kTotalBytes, '\0');
        for (char& c : out) c = static_cast<char>(random() & 0xFF);
        return out;
    }();
    return bytes;
}

struct Pty {
    int master = -1;
    int slave = -1;
    std::string slave_path;
    Pty() {
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) slave_path = name;
    }
    ~Pty() {
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
    }
};

std::thread StartWriter(int master, const std::string& input) {
    return std::thread([master, &input] {
        for (std::size_t at = 0; at < input.size();) {
            const ssize_t n = write(master, input.data() + at, std::min(kWriteChunk, input.size() - at));
            if (n > 0) at += static_cast<std::size_t>(n);
            if (n < 0 && errno != EINTR) return;
        }
    });
}

void Finish(benchmark::State& state, double cpu_seconds) {
    const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(kTotalBytes);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["cpu_ms_per_MB"] = cpu_seconds * 1000.0 / (bytes / 1e6);
}

// The data-available handler of the component reduced to its reading: every announced byte.
class TakeAll : public TriggerWindow {
  public:
    explicit TakeAll(TNlkBaseDispatcher& dispatcher) : dispatcher_(dispatcher) {}
    void TriggerMessage(uint32_t msg, uint32_t w_param, int32_t) override {
        if (msg != MsgTriggerAvail) return;
        ++deliveries;
        for (uint32_t i = 0; i < w_param; ++i) {
            uint8_t byte = 0;
            if (dispatcher_.GetChar(byte) != 0) {
                ++errors;
                return;
            }
            checksum = checksum * 31 + byte;
            ++received;
        }
    }
    std::size_t received = 0;
    std::size_t errors = 0;
    std::size_t deliveries = 0;
    uint64_t checksum = 0;

  private:
    TNlkBaseDispatcher& dispatcher_;
};

uint64_t Checksum(const std::string& bytes) {
    uint64_t sum = 0;
    for (char c : bytes) sum = sum * 31 + static_cast<uint8_t>(c);
    return sum;
}

void BM_ReceiveThroughPortIntoGetChar(benchmark::State& state) {
    const std::string& input = Input();
    const uint64_t expected = Checksum(input);
    Pty pty;
    PlainGuiThread gui;
    TNlkPosixDispatcher dispatcher(gui, nullptr);
    if (pty.slave_path.empty() ||
        dispatcher.OpenDevice(pty.slave_path, 921600, kNoParity, 8, kOneStopBit, 4096, 4096, 0) != 0) {
        state.SkipWithError("cannot open a pseudo-terminal");
        return;
    }
    dispatcher.ClearSoftwareFlow();  // raw bytes: no XON/XOFF interpretation
    TakeAll handler(dispatcher);
    dispatcher.SetAvailThreshold(1);
    dispatcher.SetPortHandler(PortHandlerKind::Installed);
    dispatcher.AddTriggerWindow(&handler);
    double cpu = 0;
    for (auto _ : state) {
        handler.received = 0;
        handler.checksum = 0;
        const double cpu_start = ProcessCpuSeconds();
        std::thread writer = StartWriter(pty.master, input);
        const bool all = gui.PumpUntil(
            [&] { return handler.received >= input.size() || handler.errors != 0; }, std::chrono::minutes(2));
        writer.join();
        cpu += ProcessCpuSeconds() - cpu_start;
        if (!all || handler.errors != 0 || handler.received != input.size() || handler.checksum != expected) {
            state.SkipWithError("bytes lost, changed or out of order");
            break;
        }
    }
    dispatcher.RemoveTriggerWindow(&handler);
    dispatcher.ShutdownDevice();
    Finish(state, cpu);
    // Each delivery is one hand-off to the GUI thread and back; fewer, larger ones cost less.
    state.counters["bytes_per_delivery"] = static_cast<double>(state.iterations()) *
                                           static_cast<double>(kTotalBytes) /
                                           static_cast<double>(std::max<std::size_t>(handler.deliveries, 1));
}

// The peer: the same bytes through the same kind of terminal, read by one blocking loop in raw
// mode with 4096-byte reads: the kernel's path alone.
void BM_PlainReadFromPty(benchmark::State& state) {
    const std::string& input = Input();
    const uint64_t expected = Checksum(input);
    Pty pty;
    termios raw{};
    tcgetattr(pty.slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(pty.slave, TCSANOW, &raw);
    double cpu = 0;
    for (auto _ : state) {
        const double cpu_start = ProcessCpuSeconds();
        std::thread writer = StartWriter(pty.master, input);
        std::size_t received = 0;
        uint64_t checksum = 0;
        uint8_t buffer[4096];
        while (received < input.size()) {
            const ssize_t n = read(pty.slave, buffer, sizeof buffer);
            if (n <= 0) break;
            for (ssize_t i = 0; i < n; ++i) checksum = checksum * 31 + buffer[i];
            received += static_cast<std::size_t>(n);
        }
        writer.join();
        cpu += ProcessCpuSeconds() - cpu_start;
        if (received != input.size() || checksum != expected) {
            state.SkipWithError("bytes lost, changed or out of order");
            break;
        }
    }
    Finish(state, cpu);
}

// Several threads take part and wait on each other: rates are per real second.
BENCHMARK(BM_ReceiveThroughPortIntoGetChar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainReadFromPty)->Unit(benchmark::kMillisecond)->UseRealTime();

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            auto rate = run.counters.find("bytes_per_second");
            auto cpu = run.counters.find("cpu_ms_per_MB");
            if (run.error_occurred || rate == run.counters.end()) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Iteration || median) {
                const std::string name = run.run_name.str();
                rates_[name.substr(0, name.find('/'))] = {rate->second.value,
                                                          cpu == run.counters.end() ? 0 : cpu->second.value};
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nreference: 921600 baud serial = %.0f bytes/s; target = %.0f bytes/s\n",
                    kSerialBytesPerSecond, kTargetBytesPerSecond);
        auto port = rates_.find("BM_ReceiveThroughPortIntoGetChar");
        auto plain = rates_.find("BM_PlainReadFromPty");
        if (port == rates_.end()) return;
        const double rate = port->second.first;
        std::printf("port receive: %.1f MB/s, %.1f ms CPU per MB = %.0fx the 921600-baud line", rate / 1e6,
                    port->second.second, rate / kSerialBytesPerSecond);
        if (plain != rates_.end()) {
            std::printf(", %.2fx the plain pty read (%.1f MB/s, %.1f ms CPU per MB)",
                        rate / plain->second.first, plain->second.first / 1e6, plain->second.second);
        }
        std::printf(" -> %s\n", rate >= kTargetBytesPerSecond ? "target met" : "TARGET MISSED");
    }

  private:
    std::map<std::string, std::pair<double, double>> rates_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
