// The grid export of a journal of 65,535 rows × 8 text columns, against the same values put into
// a workbook without any formatting (no header block, merges, fonts or borders) and written in
// the same format, in the same run: what the formatting costs.
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "core/export/grid_export.h"
#include "core/export/table_export_source.h"
#include "text/wide_text.h"
#include "workbook/model/sheet.h"
#include "workbook/model/tabulon4.h"

namespace {

using namespace linograf;
using namespace linograf::bench;

constexpr int kRows = 65535 - 4;  // the title line, an empty row and two header rows come first
constexpr int kColumns = 8;

TMemTable& Journal() {
    static TMemTable* table = [] {
        auto* t = new TMemTable("cdata");
        t->FieldDefs() = {{"id", TFieldType::ftInteger, 0}};
        for (int c = 1; c <= kColumns; ++c)
            t->FieldDefs().push_back({"field" + std::to_string(c), TFieldType::ftString, 255});
        t->CreateDataSet();
        for (int r = 0; r < kRows; ++r) {
            t->Append();
            t->FieldByName("id").SetAsInteger(r + 1);
            for (int c = 1; c <= kColumns; ++c)
                t->FieldByName("field" + std::to_string(c))
                    .SetAsString("v" + std::to_string(r % 1000) + "." + std::to_string(c));
            t->Post();
        }
        return t;
    }();
    return *table;
}

std::vector<TExportColumn> Columns() {
    std::vector<TExportColumn> columns;
    for (int c = 1; c <= kColumns; ++c) {
        TExportColumn column;
        column.title = (c <= 4 ? "Group A|Field " : "Group B|Field ") + std::to_string(c);
        column.field_name = "field" + std::to_string(c);
        column.width = 90;
        columns.push_back(column);
    }
    return columns;
}

std::string BenchFile(bool xlsx) {
    return (std::filesystem::temp_directory_path() /
            ("linograf_export_bench_" + std::to_string(::getpid()) + (xlsx ? ".xlsx" : ".xls")))
        .string();
}

void Export(bool /*xlsx: the name tells*/, const std::string& path) {
    TTableExportSource source(Journal(), Columns(), "MS Sans Serif", 8);
    ExportGrid(workbook::Utf8ToWide(path), source, "Linograf", nullptr, 45000.5);
}

// The same cells, one per value, no formatting, one Write.
void WriteUnformatted(bool xlsx, const std::string& path) {
    TMemTable& table = Journal();
    workbook::TTabulon4 book;
    book.SetVersion(xlsx ? workbook::xvExcel2007 : workbook::xvExcel97);
    workbook::TSheet& sheet = book.Sheet(0);
    sheet.SetAsWideString(0, 0, u"Linograf 15.03.24 09:05");
    uint32_t row = 4;
    for (table.First(); !table.Eof(); table.Next(), ++row)
        for (int c = 1; c <= kColumns; ++c)
            sheet.SetAsWideString(static_cast<uint32_t>(c - 1), row,
                                  workbook::Utf8ToWide(table.Fields(c).AsString()));
    book.SetFilename(workbook::Utf8ToWide(path));
    book.Write();
}

// Wall and thread CPU time, so the wait for the disk and for a busy machine can be told apart.
void Now(double& real, double& cpu) {
    real = WallSeconds();
    cpu = ThreadCpuSeconds();
}

// The formatted export and the unformatted workbook in alternating order in every iteration, so
// both see the same load. The time column is the export's wall time; the counters hold the
// medians over the iterations (ms) and the ratios formatted / unformatted for CPU and wall time.
void BM_ExportVsUnformatted(benchmark::State& state) {
    const bool xlsx = state.range(0) != 0;
    Journal();
    const std::string path = BenchFile(xlsx);
    std::vector<double> export_real, export_cpu, plain_real, plain_cpu;
    auto timed = [&](void (*step)(bool, const std::string&), std::vector<double>& real,
                     std::vector<double>& cpu) {
        double r0 = 0, c0 = 0, r1 = 0, c1 = 0;
        Now(r0, c0);
        step(xlsx, path);
        Now(r1, c1);
        real.push_back(r1 - r0);
        cpu.push_back(c1 - c0);
    };
    bool export_first = true;
    for (auto _ : state) {
        try {
            if (export_first) {
                timed(Export, export_real, export_cpu);
                timed(WriteUnformatted, plain_real, plain_cpu);
            } else {
                timed(WriteUnformatted, plain_real, plain_cpu);
                timed(Export, export_real, export_cpu);
            }
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
        export_first = !export_first;
        state.SetIterationTime(export_real.back());
    }
    std::filesystem::remove(path);
    const double ms = 1000;
    state.counters["export_cpu_ms"] = Median(export_cpu) * ms;
    state.counters["plain_cpu_ms"] = Median(plain_cpu) * ms;
    state.counters["export_ms"] = Median(export_real) * ms;
    state.counters["plain_ms"] = Median(plain_real) * ms;
    state.counters["ratio_cpu"] = Median(export_cpu) / Median(plain_cpu);
    state.counters["ratio_real"] = Median(export_real) / Median(plain_real);
    state.SetLabel(xlsx ? ".xlsx formatted vs unformatted" : ".xls formatted vs unformatted");
}

}  // namespace

// Argument: .xls (0) or .xlsx (1).
BENCHMARK(BM_ExportVsUnformatted)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
