// Reading a workbook of 65,535 rows of 8 distinct texts with TTabulon4::Read, against the peer
// measured in the same run: python3-xlrd opening the same file. Compare CPU times: xlrd's is the
// interpreter's process time around open_workbook (starting Python is not counted against it),
// ours the CPU column of BM_ReadTextsOurs.
//
// Two files of that content: ours, as the live log reads back its own workbook (shared strings in
// the order of our table), and the same saved by LibreOffice (shared strings in the order the
// cells first use them, as other programs write them), the BM_ReadLibreOffice pair.
//
// faults_per_read counts the minor page faults of our reads: on a virtual machine where a page
// fault costs several microseconds, the first reads in a process (whose memory is new to it)
// take several times as long as the later ones. BM_ReadTextsOursFresh therefore reads the file
// once in a new process of this program, as the live log does when capture starts and as xlrd's
// figure is taken: the CPU time of that one read.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

const std::string& TextFile() {
    static const std::string path = [] {
        const std::string p = (std::filesystem::temp_directory_path() /
                               ("linograf_biff_read_bench_" + std::to_string(::getpid()) + ".xls"))
                                  .string();
        TTabulon4 book;
        for (uint32_t r = 0; r < kRows; ++r)
            for (uint32_t c = 0; c < kCols; ++c)
                book.Sheet(0).SetAsWideString(
                    c, r, Utf8ToWide("row " + std::to_string(r) + " field " + std::to_string(c)));
        book.SetFilename(Utf8ToWide(p));
        book.Write();
        return p;
    }();
    return path;
}

std::filesystem::path LibreOfficeFolder() {
    return std::filesystem::temp_directory_path() /
           ("linograf_biff_read_bench_lo_" + std::to_string(::getpid()));
}

// TextFile saved again by LibreOffice; empty when LibreOffice is not there or fails.
const std::string& LibreOfficeFile() {
    static const std::string path = [] {
        const std::filesystem::path folder = LibreOfficeFolder();
        std::filesystem::create_directories(folder / "out");
        const std::string command = "soffice -env:UserInstallation=file://" + (folder / "profile").string() +
                                    " --headless --convert-to 'xls:MS Excel 97' --outdir " +
                                    (folder / "out").string() + " " + TextFile() + " >/dev/null 2>&1";
        const std::filesystem::path out = folder / "out" / std::filesystem::path(TextFile()).filename();
        return std::system(command.c_str()) == 0 && std::filesystem::exists(out) ? out.string()
                                                                                 : std::string();
    }();
    return path;
}

long MinorFaults() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

void ReadOurs(benchmark::State& state, const std::string& file) {
    if (file.empty()) {
        state.SkipWithError("the file could not be made");
        return;
    }
    // Each read goes into a new workbook, as the live log's does; making it and freeing the
    // previous one are not timed.
    auto book = std::make_unique<TTabulon4>();
    long faults = 0;
    for (auto _ : state) {
        state.PauseTiming();
        book = std::make_unique<TTabulon4>();
        book->SetFilename(Utf8ToWide(file));
        state.ResumeTiming();
        const long before = MinorFaults();
        book->Read();
        faults += MinorFaults() - before;
        benchmark::DoNotOptimize(book->Sheet(0).CellType(7, kRows - 1));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRows * kCols);
    state.counters["faults_per_read"] =
        benchmark::Counter(static_cast<double>(faults) / static_cast<double>(state.iterations()));
}

// Each iteration runs `command`, which prints the CPU seconds of its one read.
void TimeReadsInChildren(benchmark::State& state, const std::string& command, const char* failure) {
    for (auto _ : state) {
        FILE* pipe = ::popen(command.c_str(), "r");
        double seconds = -1;
        if (!pipe || std::fscanf(pipe, "%lf", &seconds) != 1) seconds = -1;
        if (pipe) ::pclose(pipe);
        if (seconds < 0) {
            state.SkipWithError(failure);
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRows * kCols);
}

void ReadXlrd(benchmark::State& state, const std::string& file) {
    if (file.empty()) {
        state.SkipWithError("the file could not be made");
        return;
    }
    const std::string command =
        "/usr/bin/python3 -c 'import sys, time, xlrd\n"
        "t = time.process_time()\n"
        "b = xlrd.open_workbook(sys.argv[1])\n"
        "assert b.sheet_by_index(0).nrows == " +
        std::to_string(kRows) +
        "\n"
        "print(time.process_time() - t)' " +
        file;
    TimeReadsInChildren(state, command, "python3-xlrd did not read the file");
}

void BM_ReadTextsOurs(benchmark::State& state) {
    ReadOurs(state, TextFile());
}
BENCHMARK(BM_ReadTextsOurs)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ReadTextsXlrd(benchmark::State& state) {
    ReadXlrd(state, TextFile());
}
BENCHMARK(BM_ReadTextsXlrd)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// The CPU seconds of one read of `file` in this process; -1 when it fails.
double ReadOnce(const char* file) {
    TTabulon4 book;
    book.SetFilename(Utf8ToWide(file));
    timespec start{}, end{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
    try {
        book.Read();
    } catch (const std::exception&) {
        return -1;
    }
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
    if (book.Sheet(0).CellType(7, kRows - 1) != ctString) return -1;
    return static_cast<double>(end.tv_sec - start.tv_sec) +
           static_cast<double>(end.tv_nsec - start.tv_nsec) * 1e-9;
}

void BM_ReadTextsOursFresh(benchmark::State& state) {
    const std::string command = "/proc/" + std::to_string(::getpid()) + "/exe --read-once " + TextFile();
    TimeReadsInChildren(state, command, "the read in a new process failed");
}
BENCHMARK(BM_ReadTextsOursFresh)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_ReadLibreOfficeOurs(benchmark::State& state) {
    ReadOurs(state, LibreOfficeFile());
}
BENCHMARK(BM_ReadLibreOfficeOurs)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ReadLibreOfficeXlrd(benchmark::State& state) {
    ReadXlrd(state, LibreOfficeFile());
}
BENCHMARK(BM_ReadLibreOfficeXlrd)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--read-once") == 0) {
        const double seconds = ReadOnce(argv[2]);
        std::printf("%.6f\n", seconds);
        return seconds < 0 ? 1 : 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove(TextFile());
    std::filesystem::remove_all(LibreOfficeFolder());
    return 0;
}
