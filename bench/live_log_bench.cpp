// The live log's cost: one write adding 1 row and one adding 100 rows to a .xls of 1,000 / 10,000
// / 65,535 rows and a .xlsx of 1,000 / 10,000 / 100,000 / 1,048,575 rows, each beside the floor of writing
// the file's bytes and forcing them to disk in the same iteration; and the lines a second the log keeps up
// with when lines come without pause (rows share writes), beside one write per line. For .xlsx,
// python3-openpyxl loading, appending a row and saving (times reported by the script, interpreter start
// excluded).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "core/format_journal.h"
#include "core/ini_file.h"
#include "core/live_log.h"
#include "text/cp1251.h"
#include "text/wide_text.h"
#include "workbook/model/tabulon4.h"

namespace {

namespace fs = std::filesystem;
using namespace linograf;
using namespace linograf::bench;

const char* const kExt[] = {".xls", ".xlsx"};

fs::path BenchFolder() {
    static const fs::path folder = [] {
        fs::path p = fs::temp_directory_path() / ("linograf-live-log-bench-" + std::to_string(::getpid()));
        fs::create_directories(p);
        return p;
    }();
    return folder;
}

// A log file of `rows` rows (header included) as the log writes it: six text columns.
std::string MakeLogFile(int rows, const std::string& ext) {
    const std::string path = (BenchFolder() / ("log" + std::to_string(rows) + ext)).string();
    if (fs::exists(path)) return path;
    workbook::TTabulon4 book;
    book.SetVersion(ext == ".xlsx" ? workbook::xvExcel2007 : workbook::xvExcel97);
    book.SetFilename(workbook::Utf8ToWide(path));
    workbook::TSheet& sheet = book.Sheet(0);
    const char* titles[] = {"Дата", "Время", "Брутто", "Тара", "Нетто", "Ед"};
    for (int c = 0; c < 6; ++c) sheet.SetAsWideString(c, 0, workbook::Utf8ToWide(titles[c]));
    for (int r = 1; r < rows; ++r) {
        sheet.Rows().AddIfNone(r);
        const std::u16string n = workbook::Utf8ToWide(std::to_string(1000 + r % 9000) + ".5");
        sheet.SetAsWideString(0, r, u"10.12.2026");
        sheet.SetAsWideString(1, r, u"13:45:07");
        sheet.SetAsWideString(2, r, n);
        sheet.SetAsWideString(3, r, u"3200.0");
        sheet.SetAsWideString(4, r, n);
        sheet.SetAsWideString(5, r, u"kg");
    }
    book.Write();
    return path;
}

// The log's workbook format for the tables below: six text columns, as MakeLogFile writes.
void LoadBenchFormat(TFormatJournal& tables) {
    const std::string ini = (BenchFolder() / "bench.ini").string();
    {
        TIniFile file(ini);
        file.WriteInteger("app", "format", 6);
        const int sizes[] = {10, 9, 9, 9, 9, 3};
        for (int i = 0; i < 6; ++i) {
            file.WriteString("format", "name" + std::to_string(i + 1), "f" + std::to_string(i + 1));
            file.WriteInteger("format", "size" + std::to_string(i + 1), sizes[i]);
        }
    }
    tables.LoadFormat(TIniFile(ini));
}

void PostBenchRow(TFormatJournal& tables, int n) {
    tables.cdata.Append();
    tables.cdata.Fields(1).SetAsString("10.12.2026");
    tables.cdata.Fields(2).SetAsString("13:45:07");
    tables.cdata.Fields(3).SetAsString(std::to_string(1000 + n % 9000) + ".5");
    tables.cdata.Fields(4).SetAsString("2945.0");
    tables.cdata.Fields(5).SetAsString("2609.5");
    tables.cdata.Fields(6).SetAsString("kg");
    tables.cdata.Post();
}

// The physical floor of one write of `bytes`: the same bytes into a new file, forced to disk.
double WriteAndFsyncSeconds(const std::string& bytes, const std::string& path) {
    const double start = WallSeconds();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return 0;
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::fsync(fd);
    ::close(fd);
    return WallSeconds() - start;
}

std::string ReadWhole(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return {};
    std::string bytes;
    char buffer[1 << 16];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
}

constexpr int kWriteIterations = 5;

// One write of the live log adding `batch` rows to a workbook of `rows` rows: the rows are posted
// (as the capture posts them) and the log waited for, so the time is that of the hand-off and one
// write. Beside it, in every iteration, the floor: the bytes of the file just written, written to
// another file and forced to disk. Counters: medians (ms) and ratio = log / floor.
void BM_LogWrite(benchmark::State& state) {
    const std::string ext = kExt[state.range(0)];
    const int rows = static_cast<int>(state.range(1));
    const int batch = static_cast<int>(state.range(2));
    // Start short of the size by what the iterations add, so the file is about `rows` rows long
    // throughout and a .xls file of 65,535 rows still has room.
    const std::string source = MakeLogFile(rows - (kWriteIterations + 1) * batch, ext);
    const std::string path = (BenchFolder() / ("posted" + std::to_string(rows) + ext)).string();
    const std::string floor_path = (BenchFolder() / ("floor" + ext)).string();
    fs::copy_file(source, path, fs::copy_options::overwrite_existing);

    TFormatJournal tables;
    LoadBenchFormat(tables);
    workbook::TTabulon4 book;
    TJournalLogColumns columns(tables);
    TLiveLog log(book, columns);
    log.FileTemplate = [&] { return path; };
    log.CaptureStarting(LogVersionForTemplate(ext));
    tables.cdata.AfterPost = [&](TMemTable& journal) { log.cdataAfterPost(journal); };
    // The first batch reads the file: once per capture start, not per write.
    for (int i = 0; i < batch; ++i) PostBenchRow(tables, i);
    log.WaitIdle();

    std::vector<double> log_real, log_cpu, floor_real;
    int n = batch;
    const std::int64_t writes_before = log.Writes();
    for (auto _ : state) {
        const double start = WallSeconds();
        const double cpu_start = ProcessCpuSeconds();
        for (int i = 0; i < batch; ++i) PostBenchRow(tables, n++);
        log.WaitIdle();
        log_real.push_back(WallSeconds() - start);
        // Both threads' CPU: the posting one and the writer; a busy machine does not count here.
        log_cpu.push_back(ProcessCpuSeconds() - cpu_start);
        state.SetIterationTime(log_real.back());
        state.PauseTiming();
        floor_real.push_back(WriteAndFsyncSeconds(ReadWhole(path), floor_path));
        state.ResumeTiming();
    }
    if (log.UnwrittenRows() != 0 || log.RowsLost() != 0 || log.FilesWritten().size() != 1)
        state.SkipWithError("the log left its file or did not write every row");
    state.counters["log_ms"] = Median(log_real) * 1000;
    state.counters["log_cpu_ms"] = Median(log_cpu) * 1000;
    state.counters["floor_ms"] = Median(floor_real) * 1000;
    state.counters["ratio"] = Median(log_real) / Median(floor_real);
    state.counters["file_MB"] = static_cast<double>(fs::file_size(path)) / 1e6;
    // The writer starts on the first row posted, so a batch may take two writes (that row, then
    // the rest together): the writes an iteration took.
    state.counters["writes"] = static_cast<double>(log.Writes() - writes_before) / kWriteIterations;
    state.counters["ratio_per_write"] =
        state.counters["ratio"] / std::max(1.0, static_cast<double>(state.counters["writes"]));
    // 1 when the last write went on from the bytes of the one before (.xlsx), 0 when it was whole.
    state.counters["appended"] = book.LastWriteAppended() ? 1 : 0;
    state.SetLabel(ext + " one write adding " + std::to_string(batch) +
                   " row(s) vs write+fsync of its bytes");
}

// Lines a second the log keeps up with when they come without pause: 2,000 rows posted as fast as
// the capture can cut them; the time runs until the last is in the file. The writes share the rows
// among them (counter writes). Beside it the rate of one write per line, which is what the log
// managed before rows shared writes: 1 / (one write adding 1 row). ratio = sustained / that rate.
void BM_SustainedLines(benchmark::State& state) {
    constexpr int kLines = 2000;
    const std::string ext = kExt[state.range(0)];
    const int rows = static_cast<int>(state.range(1));
    // A sheet ends at row 65,535 (.xls) or 1,048,575 (.xlsx): the largest one starts short of it
    // by the lines added.
    const int start_rows = std::min(rows, (ext == ".xls" ? 65535 : 1048575) - kLines - 2);
    const std::string source = MakeLogFile(start_rows, ext);
    const std::string path = (BenchFolder() / ("sustained" + std::to_string(rows) + ext)).string();
    const std::string floor_path = (BenchFolder() / ("floor" + ext)).string();
    double lines_per_s = 0, one_write = 0, floor = 0;
    std::int64_t writes = 0;
    for (auto _ : state) {
        fs::copy_file(source, path, fs::copy_options::overwrite_existing);
        TFormatJournal tables;
        LoadBenchFormat(tables);
        workbook::TTabulon4 book;
        TJournalLogColumns columns(tables);
        TLiveLog log(book, columns);
        log.FileTemplate = [&] { return path; };
        log.CaptureStarting(LogVersionForTemplate(ext));
        tables.cdata.AfterPost = [&](TMemTable& journal) { log.cdataAfterPost(journal); };
        PostBenchRow(tables, 0);
        log.WaitIdle();  // the read of the file
        const std::int64_t writes_before = log.Writes();
        const double start = WallSeconds();
        for (int i = 1; i <= kLines; ++i) PostBenchRow(tables, i);
        log.WaitIdle();
        const double elapsed = WallSeconds() - start;
        state.SetIterationTime(elapsed);
        lines_per_s = kLines / elapsed;
        writes = log.Writes() - writes_before;
        const double one_start = WallSeconds();
        PostBenchRow(tables, kLines + 1);
        log.WaitIdle();
        one_write = WallSeconds() - one_start;
        floor = WriteAndFsyncSeconds(ReadWhole(path), floor_path);
        if (log.UnwrittenRows() != 0 || log.RowsLost() != 0) state.SkipWithError("rows were not written");
    }
    state.counters["lines_per_s"] = lines_per_s;
    state.counters["writes"] = static_cast<double>(writes);
    state.counters["one_write_ms"] = one_write * 1000;
    state.counters["floor_ms"] = floor * 1000;
    state.counters["ratio"] = lines_per_s * one_write;
    state.SetLabel(ext + " 2,000 lines without pause");
}

struct TOpenpyxlTimes {
    double real = 0, cpu = 0;
};

// python3-openpyxl loading `path`, appending a row and saving it: wall and process CPU time,
// interpreter start and import excluded. Zero times when python3 or openpyxl fails.
TOpenpyxlTimes OpenpyxlAppend(const std::string& path) {
    const std::string script =
        "import sys, time, openpyxl\n"
        "t = time.perf_counter(); c = time.process_time()\n"
        "wb = openpyxl.load_workbook(sys.argv[1])\n"
        "wb.active.append(['10.12.2026', '13:45:07', '5554.5', '2945.0', '2609.5', 'kg'])\n"
        "wb.save(sys.argv[1])\n"
        "print(time.perf_counter() - t, time.process_time() - c)\n";
    const std::string command = "/usr/bin/python3 -c \"" + script + "\" '" + path + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    TOpenpyxlTimes times;
    const bool got = std::fscanf(pipe, "%lf %lf", &times.real, &times.cpu) == 2;
    if (::pclose(pipe) != 0 || !got) return {};
    return times;
}

// openpyxl alone, its own wall time as the iteration time.
void BM_OpenpyxlAppend(benchmark::State& state) {
    const std::string source = MakeLogFile(static_cast<int>(state.range(1)), ".xlsx");
    const std::string path = (BenchFolder() / "openpyxl.xlsx").string();
    fs::copy_file(source, path, fs::copy_options::overwrite_existing);
    for (auto _ : state) {
        const TOpenpyxlTimes t = OpenpyxlAppend(path);
        if (t.real <= 0) {
            state.SkipWithError("python3-openpyxl failed");
            break;
        }
        state.SetIterationTime(t.real);
    }
    state.SetLabel(".xlsx openpyxl load + append + save");
}

}  // namespace

BENCHMARK(BM_LogWrite)
    ->ArgsProduct({{0}, {1000, 10000, 65535}, {1, 100}})
    ->ArgsProduct({{1}, {1000, 10000, 100000, 1048575}, {1, 100}})
    ->Iterations(kWriteIterations)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SustainedLines)
    ->ArgsProduct({{0}, {1000, 10000, 65535}})
    ->ArgsProduct({{1}, {1000, 10000, 100000, 1048575}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenpyxlAppend)
    ->ArgsProduct({{1}, {1000, 10000}})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
