// The live log's cost per captured line (one posted row, the whole workbook written again) at
// 1,000, 10,000 and 65,535 rows, beside a standalone Write of the same workbook measured in the
// same iterations (the floor: the log may add no re-read on top of it) and, for .xlsx,
// python3-openpyxl loading the same file, appending a row and saving it (times reported by the
// script, interpreter start excluded).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "text/cp1251.h"
#include "core/format_journal.h"
#include "core/ini_file.h"
#include "core/live_log.h"
#include "bench/bench_clock.h"
#include "workbook/model/tabulon4.h"
#include "text/wide_text.h"

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

// Rows the log appends in one run: it starts that many rows short of the size measured, so a
// .xls file of 65,535 rows still has room for every one of them.
constexpr int kPostedRows = 40;

// Wall and thread CPU time of one step. The CPU time leaves out the wait for the disk (every
// write forces the file to it), which is the same for both steps but varies from write to write.
class TStopwatch {
  public:
    TStopwatch() { Now(real_, cpu_); }
    void Stop(std::vector<double>& real, std::vector<double>& cpu) const {
        double r = 0, c = 0;
        Now(r, c);
        real.push_back(r - real_);
        cpu.push_back(c - cpu_);
    }

  private:
    static void Now(double& real, double& cpu) {
        real = WallSeconds();
        cpu = ThreadCpuSeconds();
    }
    double real_ = 0, cpu_ = 0;
};

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

// One logged line against a standalone Write of the very same workbook, in alternating order in
// every iteration, so both see the same machine load and the same workbook size. The time column
// is the logged line's wall time; the counters hold the medians over the iterations (ms) and
// their ratios, log / write, for CPU and wall time. At 10,000 rows of .xlsx the iterations are
// also compared with python3-openpyxl doing load + append + save of the same file (median of
// three runs): openpyxl time / logged line time.
void BM_LogRowVsWrite(benchmark::State& state) {
    const std::string ext = kExt[state.range(0)];
    const int rows = static_cast<int>(state.range(1));
    const std::string source = MakeLogFile(rows - kPostedRows, ext);
    const std::string path = (BenchFolder() / ("posted" + std::to_string(rows) + ext)).string();
    const std::u16string floor_path = workbook::Utf8ToWide((BenchFolder() / ("written" + ext)).string());
    fs::copy_file(source, path, fs::copy_options::overwrite_existing);

    TFormatJournal tables;
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
    workbook::TTabulon4 book;
    TJournalLogColumns columns(tables);
    TLiveLog log(book, columns);
    log.FileTemplate = [&] { return Utf8ToCp1251(path); };
    log.CaptureStarting(LogVersionForTemplate(ext));
    tables.cdata.AfterPost = [&](TMemTable& journal) { log.cdataAfterPost(journal); };
    auto post = [&] {
        tables.cdata.Append();
        tables.cdata.Fields(1).SetAsString("10.12.2026");
        tables.cdata.Fields(2).SetAsString("13:45:07");
        tables.cdata.Fields(3).SetAsString("5554.5");
        tables.cdata.Fields(4).SetAsString("2945.0");
        tables.cdata.Fields(5).SetAsString("2609.5");
        tables.cdata.Fields(6).SetAsString("kg");
        tables.cdata.Post();
    };
    post();  // reads the file: once per capture start, not per line

    std::vector<double> log_real, log_cpu, write_real, write_cpu;
    auto log_line = [&] {
        TStopwatch watch;
        post();
        watch.Stop(log_real, log_cpu);
    };
    // The log's own workbook written elsewhere: the log names its file again before each write.
    auto plain_write = [&] {
        book.SetFilename(floor_path);
        TStopwatch watch;
        book.Write();
        watch.Stop(write_real, write_cpu);
    };
    bool log_first = true;
    for (auto _ : state) {
        if (log_first) {
            log_line();
            plain_write();
        } else {
            plain_write();
            log_line();
        }
        log_first = !log_first;
        state.SetIterationTime(log_real.back());
    }
    if (log.ExpandedName() != Utf8ToCp1251(path) || log.UnwrittenRows() != 0 || book.Tag() != rows)
        state.SkipWithError("the log left its file or did not write every row");

    const double ms = 1000;
    state.counters["log_cpu_ms"] = Median(log_cpu) * ms;
    state.counters["write_cpu_ms"] = Median(write_cpu) * ms;
    state.counters["log_ms"] = Median(log_real) * ms;
    state.counters["write_ms"] = Median(write_real) * ms;
    state.counters["ratio_cpu"] = Median(log_cpu) / Median(write_cpu);
    state.counters["ratio_real"] = Median(log_real) / Median(write_real);
    if (ext == ".xlsx" && rows == 10000) {
        const std::string copy = (BenchFolder() / "openpyxl.xlsx").string();
        std::vector<double> py_real, py_cpu;
        for (int i = 0; i < 3; ++i) {
            fs::copy_file(path, copy, fs::copy_options::overwrite_existing);
            const TOpenpyxlTimes t = OpenpyxlAppend(copy);
            if (t.real <= 0) {
                state.SkipWithError("python3-openpyxl failed");
                return;
            }
            py_real.push_back(t.real);
            py_cpu.push_back(t.cpu);
        }
        state.counters["openpyxl_x_cpu"] = Median(py_cpu) / Median(log_cpu);
        state.counters["openpyxl_x_real"] = Median(py_real) / Median(log_real);
    }
    state.SetLabel(ext + " log row vs Write");
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

BENCHMARK(BM_LogRowVsWrite)
    ->ArgsProduct({{0, 1}, {1000, 10000, 65535}})
    ->Iterations(kPostedRows - 1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenpyxlAppend)
    ->ArgsProduct({{1}, {1000, 10000}})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
