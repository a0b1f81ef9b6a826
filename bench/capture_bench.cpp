// Line capture throughput: 10 million bytes of 40-byte lines, taken one byte at a time with
// GetChar in batches of 256 bytes (the port read thread's chunk), cut into five fields and posted
// into the journal. Printed beside two references from the same run: memcpy of the same bytes (the
// machine's floor for touching them) and the fastest standard serial rate, 921600 baud, 8N1.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/format_journal.h"
#include "core/line_capture.h"

namespace {

using linograf::TByteBufferSource;
using linograf::TFormatJournal;
using linograf::TLineCapture;
using linograf::TMemTable;

constexpr std::size_t kTotalBytes = 10'000'000;
constexpr std::size_t kLineBytes = 40;  // 39 characters and the carriage return
constexpr unsigned kBatch = 256;
// 921600 baud with a start bit, 8 data bits and a stop bit: ten bits on the wire per byte.
constexpr double kSerialBytesPerSecond = 921600.0 / 10.0;
constexpr double kTargetBytesPerSecond = 20e6;

const std::string& Input() {
    static const std::string bytes = [] {
        std::string out;
        out.reserve(kTotalBytes);
        char line[64];
        for (unsigned i = 0; out.size() + kLineBytes <= kTotalBytes; ++i) {
            // weight 9, unit 3, time 9, status 6, counter 12 = 39
            std::snprintf(line, sizeof line, "%9.3f kg %02u:%02u:%02u ST,GS%12u\r", (i % 100000) * 0.137,
                          i / 3600 % 24, i / 60 % 60, i % 60, i);
            out.append(line, kLineBytes);
        }
        return out;
    }();
    return bytes;
}

void LoadFormat(TFormatJournal& tables) {
    const std::pair<const char*, int> fields[] = {
        {"Weight", 9}, {"Unit", 3}, {"Time", 9}, {"Status", 6}, {"Counter", 12}};
    for (const auto& [name, size] : fields) {
        tables.cformat.Append();
        tables.cformat.FieldByName("name").SetAsString(name);
        tables.cformat.FieldByName("fsize").SetAsInteger(size);
        tables.cformat.Post();
    }
}

void RunCapture(benchmark::State& state, bool read_rows) {
    const std::string& input = Input();
    TFormatJournal tables;
    LoadFormat(tables);
    TLineCapture capture(tables.cformat_, tables.cdata);
    std::size_t value_bytes = 0;
    if (read_rows) {
        // What the live log does per row, short of the workbook: every value as text.
        tables.cdata.AfterPost = [&](TMemTable& cdata) {
            for (int i = 1; i < cdata.FieldCount(); ++i) value_bytes += cdata.Fields(i).AsString().size();
        };
    }
    for (auto _ : state) {
        state.PauseTiming();
        tables.RebuildJournal();  // an empty journal for every pass; freeing rows is not timed
        state.ResumeTiming();
        TByteBufferSource source(input);
        while (source.Available() > 0) {
            const auto count = static_cast<unsigned>(std::min<std::size_t>(kBatch, source.Available()));
            capture.TriggerAvail(count, source);
        }
    }
    const auto lines = static_cast<int>(input.size() / kLineBytes);
    if (tables.cdata.RecordCount() != lines ||
        tables.cdata.CellText(lines - 1, 5) != std::to_string(lines - 1)) {
        state.SkipWithError("the journal does not hold the lines fed");
    }
    if (read_rows && value_bytes == 0) state.SkipWithError("no row was read");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
    state.counters["lines_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * lines, benchmark::Counter::kIsRate);
}

void BM_CaptureIntoJournal(benchmark::State& state) {
    RunCapture(state, false);
}
void BM_CaptureIntoJournalReadingEachRow(benchmark::State& state) {
    RunCapture(state, true);
}

void BM_MemcpySameBytes(benchmark::State& state) {
    const std::string& input = Input();
    std::vector<char> target(input.size());
    for (auto _ : state) {
        std::memcpy(target.data(), input.data(), input.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

// Rates are per CPU second of this process: the capture runs on one thread and never waits, and
// the figure stays put while other programs share the machine. On an idle machine the real time
// column shows the same.
BENCHMARK(BM_CaptureIntoJournal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CaptureIntoJournalReadingEachRow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMillisecond);

// Prints the console table, then each capture figure as a ratio to the references.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // With repetitions the median stands for the benchmark.
        for (const Run& run : runs) {
            auto rate = run.counters.find("bytes_per_second");
            if (run.error_occurred || rate == run.counters.end()) continue;
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Iteration && !medians_.contains(name))
                rates_[name] = rate->second.value;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                medians_.insert(name);
                rates_[name] = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        auto memcpy_rate = rates_.find("BM_MemcpySameBytes");
        std::printf("\nreference: 921600 baud serial = %.0f bytes/s; target = %.0f bytes/s\n",
                    kSerialBytesPerSecond, kTargetBytesPerSecond);
        for (const auto& [name, rate] : rates_) {
            if (name.rfind("BM_Capture", 0) != 0) continue;
            std::printf("%s: %.1f MB/s = %.0fx the 921600-baud line, %.2fx the 20 MB/s target", name.c_str(),
                        rate / 1e6, rate / kSerialBytesPerSecond, rate / kTargetBytesPerSecond);
            if (memcpy_rate != rates_.end()) std::printf(", 1/%.0f of memcpy", memcpy_rate->second / rate);
            std::printf(" -> %s\n", rate >= kTargetBytesPerSecond ? "target met" : "TARGET MISSED");
        }
    }

  private:
    std::map<std::string, double> rates_;
    std::set<std::string> medians_;
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
