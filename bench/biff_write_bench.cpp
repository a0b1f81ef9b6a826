// Writing whole workbooks with TTabulon4::Write against the physical floor measured in the same
// run: the same number of bytes put into a file with one plain write (and, since Write forces
// the new file to disk before it replaces the old one, one plain write followed by fsync).
// The ratios are the counters x_write and x_fsync of BM_Write; with --benchmark_repetitions the
// medians of all three are reported as well.
// Two workbooks: 65,535 rows of 8 distinct texts, and 65,535 rows of 8 numbers.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "text/wide_text.h"
#include "workbook/model/sheet.h"
#include "workbook/model/tabulon4.h"

namespace {

using namespace linograf::workbook;

constexpr uint32_t kRows = 65535;
constexpr uint32_t kCols = 8;

std::string BenchFile(const char* name) {
    return (std::filesystem::temp_directory_path() /
            ("linograf_biff_bench_" + std::to_string(::getpid()) + "_" + name + ".xls"))
        .string();
}

std::unique_ptr<TTabulon4> TextBook() {
    auto book = std::make_unique<TTabulon4>();
    for (uint32_t r = 0; r < kRows; ++r)
        for (uint32_t c = 0; c < kCols; ++c)
            book->Sheet(0).SetAsWideString(
                c, r, Utf8ToWide("row " + std::to_string(r) + " field " + std::to_string(c)));
    return book;
}

std::unique_ptr<TTabulon4> NumberBook() {
    auto book = std::make_unique<TTabulon4>();
    for (uint32_t r = 0; r < kRows; ++r)
        for (uint32_t c = 0; c < kCols; ++c) {
            // Half the columns whole numbers (RK runs), half fractions without an RK form (NUMBER).
            if (c % 2 == 0)
                book->Sheet(0).SetAsInteger(c, r, static_cast<int32_t>(r * kCols + c));
            else
                book->Sheet(0).SetAsFloat(c, r, r * 1.37 + c / 3.0);
        }
    return book;
}

TTabulon4& Book(bool texts) {
    static const std::unique_ptr<TTabulon4> text_book = TextBook();
    static const std::unique_ptr<TTabulon4> number_book = NumberBook();
    return texts ? *text_book : *number_book;
}

using Clock = std::chrono::steady_clock;

// One write of the bytes into a new file, forced to the disk when asked; the seconds it took.
double PlainWrite(const std::string& path, const std::string& bytes, bool sync) {
    const Clock::time_point start = Clock::now();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    benchmark::DoNotOptimize(::write(fd, bytes.data(), bytes.size()));
    if (sync) ::fsync(fd);
    ::close(fd);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Each iteration times Write and then both floors for the same number of bytes, so the ratios
// (counters x_write and x_fsync) compare runs made under the same load.
void BM_Write(benchmark::State& state) {
    const bool texts = state.range(0) != 0;
    TTabulon4& book = Book(texts);
    const std::string path = BenchFile(texts ? "texts" : "numbers");
    const std::string floor_path = BenchFile(texts ? "texts_floor" : "numbers_floor");
    book.SetFilename(Utf8ToWide(path));
    book.Write();
    const std::string bytes(std::filesystem::file_size(path), 'x');
    double write_time = 0, plain_time = 0, sync_time = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        book.Write();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        write_time += seconds;
        plain_time += PlainWrite(floor_path, bytes, false);
        sync_time += PlainWrite(floor_path, bytes, true);
    }
    std::filesystem::remove(path);
    std::filesystem::remove(floor_path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    state.counters["x_write"] = write_time / plain_time;
    state.counters["x_fsync"] = write_time / sync_time;
    state.SetLabel(texts ? "8 texts per row" : "8 numbers per row");
}

// One write of as many bytes as Write produced for the same workbook.
void BM_PlainWrite(benchmark::State& state) {
    const bool texts = state.range(0) != 0;
    const bool sync = state.range(1) != 0;
    TTabulon4& book = Book(texts);
    const std::string path = BenchFile(texts ? "texts_floor" : "numbers_floor");
    book.SetFilename(Utf8ToWide(path));
    book.Write();
    const std::string bytes(std::filesystem::file_size(path), 'x');
    for (auto _ : state) {
        state.SetIterationTime(PlainWrite(path, bytes, sync));
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    state.SetLabel(sync ? "write + fsync" : "write");
}

}  // namespace

// Arguments: texts (1) or numbers (0); for the floor also fsync (1) or not (0).
BENCHMARK(BM_Write)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_PlainWrite)
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK_MAIN();
