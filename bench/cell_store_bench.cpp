// Filling a sheet the size of a full Open XML sheet's rows: 1,048,576 rows × 8 cells, once with
// numbers and once with texts that are all distinct (10 ASCII characters each), as a live log of
// unique readings would. Reported per cell: the time of one value setter and the heap bytes the
// model holds afterwards (resident memory, allocator overheads included). Floors measured in the
// same run: the same values appended to a std::vector (numbers) and inserted into a
// std::unordered_set of std::string (texts), the plainest containers that keep them, the second
// also deduplicating, and one random access to main memory, the floor of any table of millions
// of entries. Times are the thread's CPU time, so other work on the machine does not
// count against the model.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "bench/bench_clock.h"
#include "workbook/model/process_values.h"
#include "workbook/model/workbook_model.h"

namespace {

using namespace linograf::workbook;
using namespace linograf::bench;

constexpr uint32_t kRows = 1048576;
constexpr uint32_t kCols = 8;
constexpr double kCells = double(kRows) * kCols;
constexpr size_t kTextLength = 10;

// Memory the process holds in RAM: counts what malloc hands out, its overheads, and what the
// shared-string table maps on its own alike. What one round frees is given back to the system
// before the next round starts, so each round starts from the same level.
size_t ResidentBytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<size_t>(resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

size_t HeapInUse() {
    malloc_trim(0);
    return ResidentBytes();
}

// A 10-digit decimal counter: every call gives the next distinct text.
class TextCounter {
  public:
    TextCounter() { text_.fill(u'0'); }
    std::u16string_view Next() {
        for (size_t i = kTextLength; i-- > 0;) {
            if (text_[i] != u'9') {
                ++text_[i];
                break;
            }
            text_[i] = u'0';
        }
        return {text_.data(), kTextLength};
    }

  private:
    std::array<char16_t, kTextLength> text_;
};

void Report(benchmark::State& state, double seconds, size_t bytes, double own_bytes_per_cell) {
    state.counters["ns_per_cell"] = seconds * 1e9 / kCells;
    state.counters["bytes_per_cell"] = double(bytes) / kCells;
    state.counters["bytes_per_cell_beyond_value"] = double(bytes) / kCells - own_bytes_per_cell;
}

void BM_SheetNumbers(benchmark::State& state) {
    SetSheetLimits(xvExcel2007);
    for (auto _ : state) {
        auto book = std::make_unique<TWorkbookModel>();
        TSheet& sheet = book->Sheet(0);
        size_t before = HeapInUse();
        double start = ThreadCpuSeconds();
        for (uint32_t row = 0; row < kRows; ++row)
            for (uint32_t col = 0; col < kCols; ++col) sheet.SetAsFloat(col, row, row * 0.5 + col);
        double seconds = ThreadCpuSeconds() - start;
        state.SetIterationTime(seconds);
        Report(state, seconds, HeapInUse() - before, sizeof(double));
        benchmark::DoNotOptimize(sheet.AsFloat(3, kRows - 1));
        state.PauseTiming();
        book.reset();
        state.ResumeTiming();
    }
}

void BM_SheetDistinctTexts(benchmark::State& state) {
    SetSheetLimits(xvExcel2007);
    for (auto _ : state) {
        auto book = std::make_unique<TWorkbookModel>();
        TSheet& sheet = book->Sheet(0);
        TextCounter texts;
        size_t before = HeapInUse();
        double start = ThreadCpuSeconds();
        for (uint32_t row = 0; row < kRows; ++row)
            for (uint32_t col = 0; col < kCols; ++col) sheet.SetAsWideString(col, row, texts.Next());
        double seconds = ThreadCpuSeconds() - start;
        state.SetIterationTime(seconds);
        Report(state, seconds, HeapInUse() - before, kTextLength);
        benchmark::DoNotOptimize(book->SST().Count());
        state.PauseTiming();
        book.reset();
        state.ResumeTiming();
    }
}

void BM_FloorVectorOfDoubles(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<double> values;
        size_t before = HeapInUse();
        double start = ThreadCpuSeconds();
        for (uint32_t row = 0; row < kRows; ++row)
            for (uint32_t col = 0; col < kCols; ++col) values.push_back(row * 0.5 + col);
        double seconds = ThreadCpuSeconds() - start;
        state.SetIterationTime(seconds);
        Report(state, seconds, HeapInUse() - before, sizeof(double));
        benchmark::DoNotOptimize(values.data());
    }
}

void BM_FloorUnorderedSetOfStrings(benchmark::State& state) {
    for (auto _ : state) {
        std::unordered_set<std::string> values;
        TextCounter texts;
        size_t before = HeapInUse();
        double start = ThreadCpuSeconds();
        for (uint32_t i = 0; i < kRows * kCols; ++i) {
            std::u16string_view t = texts.Next();
            values.emplace(t.begin(), t.end());
        }
        double seconds = ThreadCpuSeconds() - start;
        state.SetIterationTime(seconds);
        Report(state, seconds, HeapInUse() - before, kTextLength);
        benchmark::DoNotOptimize(values.size());
        state.PauseTiming();
        values = {};
        state.ResumeTiming();
    }
}

// The physical floor of any table that finds millions of distinct texts again: one access to a
// random place of a table far larger than the caches, each depending on the one before (a
// pointer chase over 256 MB, in huge pages where the system offers them).
void BM_FloorRandomMemoryAccess(benchmark::State& state) {
    constexpr size_t kSlots = (size_t{256} << 20) / sizeof(uint32_t);
    std::vector<uint32_t> next(kSlots);
    madvise(next.data(), kSlots * sizeof(uint32_t), MADV_HUGEPAGE);
    // One cycle through every slot in a random order (Sattolo's shuffle).
    std::iota(next.begin(), next.end(), 0u);
    std::mt19937_64 random(7);
    for (size_t i = kSlots - 1; i > 0; --i) std::swap(next[i], next[random() % i]);
    constexpr size_t kSteps = 20'000'000;
    for (auto _ : state) {
        uint32_t at = 0;
        double start = ThreadCpuSeconds();
        for (size_t i = 0; i < kSteps; ++i) at = next[at];
        double seconds = ThreadCpuSeconds() - start;
        state.SetIterationTime(seconds);
        state.counters["ns_per_access"] = seconds * 1e9 / kSteps;
        benchmark::DoNotOptimize(at);
    }
}

BENCHMARK(BM_SheetNumbers)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorVectorOfDoubles)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SheetDistinctTexts)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorUnorderedSetOfStrings)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorRandomMemoryAccess)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
