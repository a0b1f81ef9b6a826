// The live log's cost per captured line (one posted row, the whole workbook written again) at
// 1,000, 10,000 and 65,535 rows, beside a standalone Write of the same workbook (the floor: the
// log may add no re-read on top of it) and, for .xlsx, python3-openpyxl loading the same file,
// appending a row and saving it (manual time reported by the script, interpreter start excluded).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/cp1251.h"
#include "app/format_journal.h"
#include "app/ini_file.h"
#include "app/live_log.h"
#include "workbook/tabulon4.h"
#include "workbook/wide_text.h"

namespace {

namespace fs = std::filesystem;
using namespace linograf;

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
constexpr int kPostedRows = 50;

void BM_LogRow(benchmark::State& state) {
    const std::string ext = kExt[state.range(0)];
    const std::string source = MakeLogFile(static_cast<int>(state.range(1)) - kPostedRows, ext);
    const std::string path = (BenchFolder() / ("posted" + std::to_string(state.range(1)) + ext)).string();
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
    for (auto _ : state) post();
    if (log.ExpandedName() != workbook::WideToUtf8(book.Filename()))
        state.SkipWithError("the log left its file");
    state.SetLabel(ext + " log row");
}

void BM_Write(benchmark::State& state) {
    const std::string ext = kExt[state.range(0)];
    const std::string source = MakeLogFile(static_cast<int>(state.range(1)), ext);
    workbook::TTabulon4 book;
    book.SetFilename(workbook::Utf8ToWide(source));
    book.SetVersion(ext == ".xlsx" ? workbook::xvExcel2007 : workbook::xvExcel97);
    book.Read();
    book.SetFilename(workbook::Utf8ToWide((BenchFolder() / ("written" + ext)).string()));
    for (auto _ : state) book.Write();
    state.SetLabel(ext + " standalone Write");
}

// The least the log must do per line: put one row into the workbook and write it whole.
void BM_RowAndWrite(benchmark::State& state) {
    const std::string ext = kExt[state.range(0)];
    const std::string source = MakeLogFile(static_cast<int>(state.range(1)) - kPostedRows, ext);
    workbook::TTabulon4 book;
    book.SetFilename(workbook::Utf8ToWide(source));
    book.SetVersion(ext == ".xlsx" ? workbook::xvExcel2007 : workbook::xvExcel97);
    book.Read();
    book.SetFilename(workbook::Utf8ToWide((BenchFolder() / ("rows" + ext)).string()));
    uint32_t row = static_cast<uint32_t>(state.range(1)) - kPostedRows;
    for (auto _ : state) {
        workbook::TSheet& sheet = book.Sheet(0);
        sheet.Rows().AddIfNone(row);
        const char16_t* values[] = {u"10.12.2026", u"13:45:07", u"5554.5", u"2945.0", u"2609.5", u"kg"};
        for (int c = 0; c < 6; ++c) sheet.SetAsWideString(c, row, values[c]);
        ++row;
        book.Write();
    }
    state.SetLabel(ext + " row put and Write");
}

void BM_OpenpyxlAppend(benchmark::State& state) {
    const std::string source = MakeLogFile(static_cast<int>(state.range(1)), ".xlsx");
    const std::string path = (BenchFolder() / "openpyxl.xlsx").string();
    fs::copy_file(source, path, fs::copy_options::overwrite_existing);
    const std::string script =
        "import sys, time, openpyxl\n"
        "t = time.perf_counter()\n"
        "wb = openpyxl.load_workbook(sys.argv[1])\n"
        "wb.active.append(['10.12.2026', '13:45:07', '5554.5', '2945.0', '2609.5', 'kg'])\n"
        "wb.save(sys.argv[1])\n"
        "print(time.perf_counter() - t)\n";
    for (auto _ : state) {
        const std::string command = "/usr/bin/python3 -c \"" + script + "\" '" + path + "'";
        std::FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) {
            state.SkipWithError("cannot run python3");
            break;
        }
        char out[64] = {};
        const bool got = std::fgets(out, sizeof out, pipe) != nullptr;
        if (::pclose(pipe) != 0 || !got) {
            state.SkipWithError("python3-openpyxl failed");
            break;
        }
        state.SetIterationTime(std::atof(out));
    }
    state.SetLabel(".xlsx openpyxl load + append + save");
}

}  // namespace

BENCHMARK(BM_LogRow)
    ->ArgsProduct({{0, 1}, {1000, 10000, 65535}})
    ->Iterations(kPostedRows - 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RowAndWrite)
    ->ArgsProduct({{0, 1}, {1000, 10000, 65535}})
    ->Iterations(kPostedRows - 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write)->ArgsProduct({{0, 1}, {1000, 10000, 65535}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenpyxlAppend)
    ->ArgsProduct({{1}, {1000, 10000}})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
