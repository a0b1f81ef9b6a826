// Writing a log-shaped workbook as .xlsx: rows x 8 distinct text cells, through the workbook
// component's writer, side by side in the same run with
//   - libxlsxwriter writing the same cells (its whole job: cells in, file out), and
//   - zlib alone deflating the same XML bytes our writer produced (shared strings and worksheet
//     part at the archive's level 1): the floor any .xlsx writer of these cells stands on.
// BM_OurWrite times Write alone, the model filled beforehand; BM_OurFillAndWrite adds filling the
// model with the cells, which is what libxlsxwriter's figure includes.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench/text_workbook.h"
#include "bench/xlsxwriter_peer.h"
#include "base/file_stream.h"
#include "base/memory_stream.h"
#include "workbook/ooxml/xls_zip_archive.h"
#include "workbook/ooxml/zip_deflate.h"
#include "workbook/model/tabulon4.h"
#include "text/wide_text.h"

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
BENCHMARK(BM_LibXlsxWriter)->ROWS;

}  // namespace

BENCHMARK_MAIN();
