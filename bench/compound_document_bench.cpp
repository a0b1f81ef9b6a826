// The compound document layer against the physical floor measured in the same run: one plain
// write of the same number of bytes to a file. A 16 MiB "Workbook" stream (some 65,000 rows of
// 8 cells) is written record by record, as the BIFF8 writer does, either straight to the file
// (TCompoundFileWriter) or into an in-memory document that is then saved; reading the file back
// is set against copying the bytes once in memory.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "workbook/cfb/compound_document.h"
#include "workbook/cfb/compound_file_writer.h"

namespace {

using namespace linograf::workbook;

constexpr std::size_t kStreamSize = 16u << 20;
constexpr std::size_t kRecordSize = 8224 + 4;  // the largest BIFF8 record with its header

const std::string& Records() {
    static const std::string bytes = [] {
        std::string s(kStreamSize, '\0');
        for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>((i * 131) ^ (i >> 9));
        return s;
    }();
    return bytes;
}

std::string BenchFile() {
    return (std::filesystem::temp_directory_path() /
            ("linograf_cfb_bench_" + std::to_string(::getpid()) + ".xls"))
        .string();
}

template <typename Stream>
void WriteRecords(Stream& stream) {
    const std::string& records = Records();
    for (std::size_t at = 0; at < records.size(); at += kRecordSize)
        stream.Write(records.data() + at, std::min(kRecordSize, records.size() - at));
}

void AddSummaries(TCompoundStorage& root) {
    root.CreateStream(u"\u0005SummaryInformation").Write(std::string(200, 'S'));
    root.CreateStream(u"\u0005DocumentSummaryInformation").Write(std::string(300, 'D'));
}

void BM_FileFloor(benchmark::State& state) {
    const std::string& records = Records();
    const std::string path = BenchFile();
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(::write(fd, records.data(), records.size()));
        ::close(fd);
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kStreamSize));
}

void BM_FileWriter(benchmark::State& state) {
    const std::string path = BenchFile();
    for (auto _ : state) {
        TCompoundFileWriter writer(path, u"Workbook");
        AddSummaries(writer.Root());
        WriteRecords(writer);
        writer.Close();
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kStreamSize));
}

void BM_InMemoryThenSaveToFile(benchmark::State& state) {
    const std::string path = BenchFile();
    for (auto _ : state) {
        TCompoundDocument document;
        TCompoundStream stream = document.Root().CreateStream(u"Workbook");
        AddSummaries(document.Root());
        WriteRecords(stream);
        document.SaveToFile(path);
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kStreamSize));
}

void BM_CopyFloor(benchmark::State& state) {
    const std::string& records = Records();
    for (auto _ : state) {
        std::string copy(records);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kStreamSize));
}

void BM_Load(benchmark::State& state) {
    TCompoundDocument document;
    document.Root().CreateStream(u"Workbook").Write(Records());
    AddSummaries(document.Root());
    const std::string file = document.Save();
    for (auto _ : state) {
        const TCompoundDocument read = TCompoundDocument::Load(file);
        benchmark::DoNotOptimize(read.Root().Element(u"Workbook").size);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kStreamSize));
}

}  // namespace

BENCHMARK(BM_FileFloor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FileWriter)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InMemoryThenSaveToFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopyFloor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
