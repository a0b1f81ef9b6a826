// Reading a log-shaped .xlsx (rows x 8 distinct text cells) into the model through the workbook
// component, side by side in the same run with python3-openpyxl in read-only mode reading the
// same file and visiting every cell value (its fastest way to take in a sheet). The file is
// written once by our writer before the timings. The machine is shared, so both sides are timed
// by the CPU time they use: ours by the CPU column, openpyxl by its process's user and system
// time (reported as its manual time).
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "workbook/tabulon4.h"
#include "workbook/wide_text.h"

namespace {

using namespace linograf::workbook;

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Removes the package at the end of the run.
struct TPackageFile {
    std::string path;
    ~TPackageFile() {
        if (!path.empty()) std::remove(path.c_str());
    }
};

std::string PackagePath(int rows) {
    static TPackageFile made;
    const char* dir = std::getenv("TMPDIR");
    const std::string path = std::string(dir && *dir ? dir : "/tmp") + "/linograf_read_bench_" +
                             std::to_string(getpid()) + "_" + std::to_string(rows) + ".xlsx";
    if (access(path.c_str(), F_OK) == 0) return path;
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    TSheet& sheet = book.Sheet(0);
    char text[32];
    std::u16string wide;
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < 8; ++col) {
            const int n = std::snprintf(text, sizeof text, "r%dc%d", row, col);
            wide.assign(text, text + n);
            sheet.SetAsWideString(static_cast<uint32_t>(col), static_cast<uint32_t>(row), wide);
        }
    }
    book.SetFilename(Utf8ToWide(path));
    book.Write();
    made.path = path;
    return path;
}

void BM_OurRead(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const std::string path = PackagePath(rows);
    for (auto _ : state) {
        TTabulon4 book;
        book.SetFilename(Utf8ToWide(path));
        book.Read();
        benchmark::DoNotOptimize(book.Sheet(0).Cells().Find(7, static_cast<uint32_t>(rows - 1)));
    }
    state.SetItemsProcessed(state.iterations() * rows * 8);
}

void BM_OpenpyxlReadOnly(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const std::string path = PackagePath(rows);
    const std::string command =
        "/usr/bin/python3 -W ignore -c \"import sys, openpyxl\n"
        "wb = openpyxl.load_workbook(sys.argv[1], read_only=True)\n"
        "n = sum(1 for row in wb.active.iter_rows(values_only=True) for v in row if v is not None)\n"
        "sys.exit(0 if n == " +
        std::to_string(rows * 8) + " else 1)\" " + path;
    for (auto _ : state) {
        const double start = ChildrenCpuSeconds();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("python3-openpyxl failed");
            break;
        }
        state.SetIterationTime(ChildrenCpuSeconds() - start);
    }
    state.SetItemsProcessed(state.iterations() * rows * 8);
}

BENCHMARK(BM_OurRead)->Arg(65535)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenpyxlReadOnly)->Arg(65535)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
