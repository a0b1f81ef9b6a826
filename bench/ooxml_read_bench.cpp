// Reading a log-shaped .xlsx (rows x 8 distinct text cells) into the model through the workbook
// component, side by side in the same iterations with python3-openpyxl in read-only mode reading
// the same file and visiting every cell value (its fastest way to take in a sheet), and with the
// floor of any reader built on expat: the parts inflated, checked and tokenized by expat with
// handlers that do nothing (openpyxl pays it too). The file is written once by our writer before
// the timings. The machine is shared, so every side is timed by the CPU time it uses, and the
// three run one after another in each iteration so they see the same load: ours by the thread's
// CPU time, openpyxl by the process time it measures itself around loading and iterating (its
// interpreter start and imports left out), the floor by the thread's CPU time. Counters give the
// medians and their ratios. BM_OurRead and BM_ExpatFloor alone are for profiling.
#include <benchmark/benchmark.h>
#include <expat.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "base/file_stream.h"
#include "bench/bench_clock.h"
#include "bench/text_workbook.h"
#include "text/wide_text.h"
#include "workbook/model/tabulon4.h"
#include "workbook/ooxml/norv_zip.h"

namespace {

using namespace linograf::workbook;
using namespace linograf::bench;

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
    FillDistinctTexts(book, rows);
    book.SetFilename(Utf8ToWide(path));
    book.Write();
    made.path = path;
    return path;
}

void ReadOnce(const std::string& path, int rows) {
    TTabulon4 book;
    book.SetFilename(Utf8ToWide(path));
    book.Read();
    benchmark::DoNotOptimize(book.Sheet(0).Cells().Find(7, static_cast<uint32_t>(rows - 1)));
}

void XMLCALL IgnoreStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL IgnoreEnd(void*, const XML_Char*) {}
void XMLCALL IgnoreText(void*, const XML_Char*, int) {}

// The shared strings and the sheet, inflated and tokenized; false when expat refuses one.
bool TokenizeOnce(const std::string& path) {
    TFileStream input(path, TFileMode::fmOpenRead);
    TNorvZip zip;
    zip.Open(input);
    bool ok = true;
    for (const char* part : {"xl/sharedStrings.xml", "xl/worksheets/sheet1.xml"}) {
        XML_Parser parser = XML_ParserCreate("UTF-8");
        XML_SetElementHandler(parser, IgnoreStart, IgnoreEnd);
        XML_SetCharacterDataHandler(parser, IgnoreText);
        zip.ExtractInPieces(zip.IndexOf(part), [&](std::string_view piece) {
            ok = ok &&
                 XML_Parse(parser, piece.data(), static_cast<int>(piece.size()), XML_FALSE) == XML_STATUS_OK;
        });
        ok = ok && XML_Parse(parser, nullptr, 0, XML_TRUE) == XML_STATUS_OK;
        XML_ParserFree(parser);
    }
    return ok;
}

// openpyxl's CPU seconds for loading and visiting every value, or a negative number on failure.
double OpenpyxlOnce(const std::string& path, int rows) {
    const std::string command =
        "/usr/bin/python3 -W ignore -c \"import sys, time, openpyxl\n"
        "start = time.process_time()\n"
        "wb = openpyxl.load_workbook(sys.argv[1], read_only=True)\n"
        "n = sum(1 for row in wb.active.iter_rows(values_only=True) for v in row if v is not None)\n"
        "print(time.process_time() - start if n == " +
        std::to_string(rows * 8) + " else -1)\" " + path;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    double seconds = -1;
    if (std::fscanf(pipe, "%lf", &seconds) != 1) seconds = -1;
    if (pclose(pipe) != 0) return -1;
    return seconds;
}

void BM_OurRead(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const std::string path = PackagePath(rows);
    for (auto _ : state) ReadOnce(path, rows);
    state.SetItemsProcessed(state.iterations() * rows * 8);
}

void BM_ExpatFloor(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const std::string path = PackagePath(rows);
    for (auto _ : state)
        if (!TokenizeOnce(path)) state.SkipWithError("expat refused the part");
    state.SetItemsProcessed(state.iterations() * rows * 8);
}

void BM_ReadBesideOpenpyxl(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const std::string path = PackagePath(rows);
    std::vector<double> ours, floor, peer;
    for (auto _ : state) {
        double start = ThreadCpuSeconds();
        ReadOnce(path, rows);
        ours.push_back(ThreadCpuSeconds() - start);
        start = ThreadCpuSeconds();
        const bool tokenized = TokenizeOnce(path);
        floor.push_back(ThreadCpuSeconds() - start);
        const double openpyxl = OpenpyxlOnce(path, rows);
        if (!tokenized || openpyxl <= 0) {
            state.SkipWithError(tokenized ? "python3-openpyxl failed" : "expat refused the part");
            break;
        }
        peer.push_back(openpyxl);
    }
    if (peer.empty()) return;
    const double our_ms = Median(ours) * 1e3, floor_ms = Median(floor) * 1e3, peer_ms = Median(peer) * 1e3;
    state.counters["ours_cpu_ms"] = our_ms;
    state.counters["floor_cpu_ms"] = floor_ms;
    state.counters["openpyxl_cpu_ms"] = peer_ms;
    state.counters["openpyxl/ours"] = peer_ms / our_ms;
    state.counters["openpyxl/floor"] = peer_ms / floor_ms;
    state.counters["ours/floor"] = our_ms / floor_ms;
}

BENCHMARK(BM_OurRead)->Arg(65535)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExpatFloor)->Arg(65535)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadBesideOpenpyxl)->Arg(65535)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
