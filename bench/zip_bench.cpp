// The ZIP layer against its floor, zlib alone on the same bytes: adding a worksheet-sized part
// (CRC-32, deflate at the writer's level 1, records, central directory) and extracting it again
// (inflate, size and CRC-32 checks). The gap is what the archive costs on top of compression.
#include <benchmark/benchmark.h>

#include <string>

#include "base/memory_stream.h"
#include "workbook/ooxml/xls_zip_archive.h"
#include "workbook/ooxml/zip_deflate.h"

namespace {

using namespace linograf::workbook;

// Rows of eight text cells, as a worksheet part holds them.
const std::string& SheetPart() {
    static const std::string part = [] {
        std::string xml;
        for (int row = 1; xml.size() < (32u << 20); ++row) {
            xml += "<row r=\"" + std::to_string(row) + "\">";
            for (int col = 0; col < 8; ++col)
                xml += "<c r=\"" + std::string(1, static_cast<char>('A' + col)) + std::to_string(row) +
                       "\" t=\"s\"><v>" + std::to_string(row * 8 + col) + "</v></c>";
            xml += "</row>";
        }
        return xml;
    }();
    return part;
}

void BM_DeflateFloor(benchmark::State& state) {
    const std::string& part = SheetPart();
    for (auto _ : state) {
        benchmark::DoNotOptimize(Crc32(part));
        benchmark::DoNotOptimize(DeflateRaw(part, 1));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * part.size()));
}

void BM_AddStream(benchmark::State& state) {
    const std::string& part = SheetPart();
    for (auto _ : state) {
        TMemoryStream package;
        TXLSZipArchive zip;
        zip.CreateNew(package);
        TMemoryStream source(part);
        zip.AddStream(u"xl/worksheets/", u"sheet1.xml", source);
        benchmark::DoNotOptimize(package.Size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * part.size()));
}

void BM_InflateFloor(benchmark::State& state) {
    const std::string& part = SheetPart();
    const std::string packed = DeflateRaw(part, 1);
    for (auto _ : state) {
        const std::string out = InflateRaw(packed, part.size(), "size");
        benchmark::DoNotOptimize(Crc32(out));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * part.size()));
}

void BM_ExtractToStream(benchmark::State& state) {
    const std::string& part = SheetPart();
    TMemoryStream package;
    TXLSZipArchive writer;
    writer.CreateNew(package);
    TMemoryStream source(part);
    writer.AddStream(u"xl/worksheets/", u"sheet1.xml", source);
    writer.Close();
    TXLSZipArchive zip;
    zip.Open(package);
    for (auto _ : state) {
        TMemoryStream out;
        zip.ExtractToStream(u"xl/worksheets/sheet1.xml", out);
        benchmark::DoNotOptimize(out.Size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * part.size()));
}

BENCHMARK(BM_DeflateFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractToStream)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
