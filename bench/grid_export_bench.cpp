// The grid export of a journal of 65,535 rows × 8 text columns, against the same values put into
// a workbook without any formatting (no header block, merges, fonts or borders) and written in
// the same format, in the same run: what the formatting costs.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <filesystem>
#include <string>

#include "app/export/grid_export.h"
#include "app/export/table_export_source.h"
#include "workbook/sheet.h"
#include "workbook/tabulon4.h"
#include "workbook/wide_text.h"

namespace {

using namespace linograf;

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

void BM_Export(benchmark::State& state) {
    const bool xlsx = state.range(0) != 0;
    TMemTable& table = Journal();
    const std::string path = BenchFile(xlsx);
    for (auto _ : state) {
        TTableExportSource source(table, Columns(), "MS Sans Serif", 8);
        try {
            ExportGrid(workbook::Utf8ToWide(path), source, "Linograf", nullptr, 45000.5);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
    }
    std::filesystem::remove(path);
    state.SetLabel(xlsx ? ".xlsx" : ".xls");
}

// The same cells, one per value, no formatting, one Write.
void BM_Unformatted(benchmark::State& state) {
    const bool xlsx = state.range(0) != 0;
    TMemTable& table = Journal();
    const std::string path = BenchFile(xlsx);
    for (auto _ : state) {
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
        try {
            book.Write();
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
    }
    std::filesystem::remove(path);
    state.SetLabel(xlsx ? ".xlsx" : ".xls");
}

}  // namespace

// Argument: .xls (0) or .xlsx (1).
BENCHMARK(BM_Export)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Unformatted)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
