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
// figure is taken: the CPU time of that one read. BM_FreshPagesFloor is what that read's page
// faults alone cost on this machine: as many new pages as the fresh read faulted in, each
// written once, with nothing else done. On a virtual machine that share can be most of the read.
#include <benchmark/benchmark.h>

#include <sys/mman.h>
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

// One run of `command`, which prints the CPU seconds of its one read and, if it counts them, the
// minor page faults of that read. Seconds are negative when the run failed.
struct TChildRead {
    double seconds = -1;
    long faults = -1;
};

TChildRead RunChildRead(const std::string& command) {
    TChildRead read;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return read;
    if (std::fscanf(pipe, "%lf", &read.seconds) != 1) read.seconds = -1;
    if (read.seconds >= 0 && std::fscanf(pipe, "%ld", &read.faults) != 1) read.faults = -1;
    ::pclose(pipe);
    return read;
}

void TimeReadsInChildren(benchmark::State& state, const std::string& command, const char* failure) {
    long faults = 0;
    for (auto _ : state) {
        const TChildRead read = RunChildRead(command);
        if (read.seconds < 0) {
            state.SkipWithError(failure);
            break;
        }
        state.SetIterationTime(read.seconds);
        faults += read.faults;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRows * kCols);
    if (faults > 0 && state.iterations() > 0)
        state.counters["faults_per_read"] =
            benchmark::Counter(static_cast<double>(faults) / static_cast<double>(state.iterations()));
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

double ProcessSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// One read of `file` in this process: its CPU seconds and minor page faults; seconds are -1 when
// it fails.
TChildRead ReadOnce(const char* file) {
    TTabulon4 book;
    book.SetFilename(Utf8ToWide(file));
    const long faults = MinorFaults();
    const double start = ProcessSeconds();
    try {
        book.Read();
    } catch (const std::exception&) {
        return {};
    }
    const TChildRead read{ProcessSeconds() - start, MinorFaults() - faults};
    if (book.Sheet(0).CellType(7, kRows - 1) != ctString) return {};
    return read;
}

std::string FreshReadCommand() {
    return "/proc/" + std::to_string(::getpid()) + "/exe --read-once " + TextFile();
}

void BM_ReadTextsOursFresh(benchmark::State& state) {
    TimeReadsInChildren(state, FreshReadCommand(), "the read in a new process failed");
}
BENCHMARK(BM_ReadTextsOursFresh)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_FreshPagesFloor(benchmark::State& state) {
    const TChildRead read = RunChildRead(FreshReadCommand());
    if (read.faults <= 0) {
        state.SkipWithError("the read in a new process failed");
        return;
    }
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t bytes = static_cast<size_t>(read.faults) * page;
    for (auto _ : state) {
        void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            state.SkipWithError("no memory for the pages");
            break;
        }
        volatile char* bytes_at = static_cast<char*>(memory);
        const double start = ProcessSeconds();
        for (size_t at = 0; at < bytes; at += page) bytes_at[at] = 1;
        state.SetIterationTime(ProcessSeconds() - start);
        ::munmap(memory, bytes);
    }
    state.counters["pages"] = benchmark::Counter(static_cast<double>(read.faults));
}
BENCHMARK(BM_FreshPagesFloor)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

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
        const TChildRead read = ReadOnce(argv[2]);
        std::printf("%.6f %ld\n", read.seconds, read.faults);
        return read.seconds < 0 ? 1 : 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove(TextFile());
    std::filesystem::remove_all(LibreOfficeFolder());
    return 0;
}
