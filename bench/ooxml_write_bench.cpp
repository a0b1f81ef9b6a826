// Writing a log-shaped workbook as .xlsx: rows x 8 distinct text cells, through the workbook
// component's writer, side by side in the same run with
//   - libxlsxwriter writing the same cells (its whole job: cells in, file out), and
//   - zlib alone deflating the same XML bytes our writer produced (shared strings and worksheet
//     part at the archive's level 1): the floor any .xlsx writer of these cells stands on.
// BM_OurWrite times Write alone, the model filled beforehand; BM_OurFillAndWrite adds filling the
// model with the cells, which is what libxlsxwriter's figure includes. BM_OurWriteMemory sets the
// resident peak of one write beside the size of the model it writes: a write must not need a
// copy of the workbook's text, let alone two.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "base/file_stream.h"
#include "base/memory_stream.h"
#include "bench/text_workbook.h"
#include "bench/xlsxwriter_peer.h"
#include "text/wide_text.h"
#include "workbook/model/tabulon4.h"
#include "workbook/ooxml/xls_zip_archive.h"
#include "workbook/ooxml/zip_deflate.h"

namespace {

using namespace linograf::workbook;
using linograf::bench::FillDistinctTexts;

std::string OutputPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/linograf_bench_" + std::to_string(getpid()) + "_" +
           name;
}

void BM_OurWrite(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const std::string path = OutputPath("ours.xlsx");
    TTabulon4 book;
    book.SetVersion(xvExcel2007);
    FillDistinctTexts(book, rows);
    book.SetFilename(Utf8ToWide(path));
    for (auto _ : state) book.Write();
    state.SetItemsProcessed(state.iterations() * rows * 8);
    std::remove(path.c_str());
}

void BM_OurFillAndWrite(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const std::string path = OutputPath("ours_fill.xlsx");
    for (auto _ : state) {
        TTabulon4 book;
        book.SetVersion(xvExcel2007);
        FillDistinctTexts(book, rows);
        book.SetFilename(Utf8ToWide(path));
        book.Write();
    }
    state.SetItemsProcessed(state.iterations() * rows * 8);
    std::remove(path.c_str());
}

// Resident bytes now, after handing freed heap back, so that what is counted is what is in use.
double ResidentBytes() {
    malloc_trim(0);
    long pages = 0, resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Sets the high-water mark of the resident set back to the current resident set; false when the
// kernel does not allow it.
bool ResetResidentPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

double ResidentPeakBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) * 1024.0;
    return 0;
}

void BM_OurWriteMemory(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const std::string path = OutputPath("ours_memory.xlsx");
    double base = 0, model = 0, before = 0, peak = 0, after = 0;
    for (auto _ : state) {
        state.PauseTiming();
        base = ResidentBytes();
        {
            TTabulon4 book;
            book.SetVersion(xvExcel2007);
            FillDistinctTexts(book, rows);
            book.SetFilename(Utf8ToWide(path));
            before = ResidentBytes();
            model = before - base;
            if (!ResetResidentPeak()) {
                state.SkipWithError("cannot reset the resident peak (/proc/self/clear_refs)");
                break;
            }
            state.ResumeTiming();
            book.Write();
            state.PauseTiming();
            peak = ResidentPeakBytes();
            after = ResidentBytes();
        }
        state.ResumeTiming();
    }
    state.counters["model_MB"] = model / 1e6;
    state.counters["peak_MB"] = peak / 1e6;
    state.counters["write_extra_MB"] = (peak - before) / 1e6;
    state.counters["after_MB"] = after / 1e6;
    // The peak of the write over the model alone, the process's own start-up pages left out.
    state.counters["peak_per_model"] = model > 0 ? (peak - base) / model : 0;
    std::remove(path.c_str());
}

void BM_LibXlsxWriter(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const std::string path = OutputPath("peer.xlsx");
    for (auto _ : state)
        if (PeerWriteXlsx(path.c_str(), rows) != 0) state.SkipWithError("libxlsxwriter failed");
    state.SetItemsProcessed(state.iterations() * rows * 8);
    std::remove(path.c_str());
}

void BM_DeflateFloor(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    // The parts our writer made of these cells.
    std::string sst, sheet;
    {
        TTabulon4 book;
        book.SetVersion(xvExcel2007);
        FillDistinctTexts(book, rows);
        const std::string path = OutputPath("floor.xlsx");
        book.SetFilename(Utf8ToWide(path));
        book.Write();
        TMemoryStream package;
        {
            TFileStream file(path, TFileMode::fmOpenRead);
            package.CopyFrom(file, 0);
        }
        std::remove(path.c_str());
        TXLSZipArchive zip;
        zip.Open(package);
        TMemoryStream a, b;
        zip.ExtractToStream(u"xl/sharedStrings.xml", a);
        zip.ExtractToStream(u"xl/worksheets/sheet1.xml", b);
        sst = a.Release();
        sheet = b.Release();
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(Crc32(sst));
        benchmark::DoNotOptimize(DeflateRaw(sst, 1));
        benchmark::DoNotOptimize(Crc32(sheet));
        benchmark::DoNotOptimize(DeflateRaw(sheet, 1));
    }
    state.SetItemsProcessed(state.iterations() * rows * 8);
    state.counters["xml_MB"] = static_cast<double>(sst.size() + sheet.size()) / 1e6;
}

// 65,535 rows (the most a BIFF8 sheet holds) and 1,048,576 (the most an .xlsx sheet holds).
#define ROWS Arg(65535)->Arg(1048576)->Unit(benchmark::kMillisecond)->MinTime(2)
BENCHMARK(BM_DeflateFloor)->ROWS;
BENCHMARK(BM_OurWrite)->ROWS;
BENCHMARK(BM_OurFillAndWrite)->ROWS;
BENCHMARK(BM_OurWriteMemory)->Arg(65535)->Arg(1048576)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LibXlsxWriter)->ROWS;

}  // namespace

BENCHMARK_MAIN();
