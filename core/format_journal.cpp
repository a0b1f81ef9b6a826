#include "core/format_journal.h"

#include <algorithm>

#include "core/arrival_column.h"

namespace linograf {
namespace {
// Column positions in cformat.
constexpr int kId = 0, kName = 1, kFsize = 2;
}  // namespace

TFormatJournal::TFormatJournal() {
    cformat.FieldDefs() = {
        {"id", TFieldType::ftInteger, 0},
        {"name", TFieldType::ftString, kNameLength},
        {"fsize", TFieldType::ftInteger, 0},
        {"npp", TFieldType::ftInteger, 0},
    };
    cformat.SetIndexName("cformatIndex1");
    cformat.SetIndexFieldNames("npp");
    cformat.CreateDataSet();
    cformat.AfterInsert = [this](TMemTable& table) { cformatAfterInsert(table); };
    cdata.AfterInsert = [this](TMemTable& table) { cdataAfterInsert(table); };
}

std::string TFormatJournal::JournalFieldName(std::int32_t id) {
    return "field" + std::to_string(id);
}

// Ids only grow within a run, even over cancelled inserts and deleted rows, so a journal column
// name never comes back meaning another field.
void TFormatJournal::cformatAfterInsert(TMemTable& table) {
    table.SetTag(table.Tag() + 1);
    table.FieldByName("id").SetAsInteger(table.Tag());
    table.FieldByName("npp").SetAsInteger((table.RecordCount() + 1) * 10);
    table.FieldByName("name").SetAsString("noname #" + std::to_string(table.Tag()));
    table.FieldByName("fsize").SetAsInteger(1);
}

void TFormatJournal::cdataAfterInsert(TMemTable& table) {
    table.FieldByName("id").SetAsInteger(table.RecordCount() + 1);
}

void TFormatJournal::LoadFormat(const TIniFile& ini) {
    const std::int32_t count = std::min(ini.ReadInteger("app", "format", 0), kMaxFields);
    for (std::int32_t i = 1; i <= count; ++i) {
        const std::string number = std::to_string(i);
        cformat.Append();
        cformat.FieldByName("name").SetAsString(ini.ReadString("format", "name" + number, ""));
        cformat.FieldByName("fsize").SetAsInteger(ini.ReadInteger("format", "size" + number, 0));
        cformat.FieldByName("npp").SetAsInteger(i * 10);
        cformat.Post();
    }
    RebuildJournal();
}

void TFormatJournal::SaveFormat(TIniFile& ini) const {
    ini.EraseSection("format");
    const int count = cformat.RecordCount();
    ini.WriteInteger("app", "format", count);
    for (int row = 0; row < count; ++row) {
        const std::string number = std::to_string(row + 1);
        ini.WriteString("format", "name" + number, cformat.CellText(row, kName));
        ini.WriteString("format", "size" + number, cformat.CellText(row, kFsize));
    }
}

void TFormatJournal::RebuildJournal() {
    cformat.CheckBrowseMode();
    if (cformat.IsEmpty()) return;
    if (StopCapture) StopCapture();

    cdata.DisableControls();
    try {
        cdata.Close();
        std::vector<TFieldDef> defs = {{"id", TFieldType::ftInteger, 0}};
        std::vector<TJournalColumn> columns;
        if (ArrivalColumn) {
            defs.push_back({std::string(kArrivalField), TFieldType::ftDateTime, 0});
            columns.push_back({std::string(kArrivalField), ArrivalTitle(), kArrivalColumnWidth});
        }
        for (int row = 0; row < cformat.RecordCount(); ++row) {
            const TCellValue& id = cformat.Cell(row, kId);
            std::string field_name = JournalFieldName(id.null ? 0 : id.integer);
            defs.push_back({field_name, TFieldType::ftString, kJournalValueLength});
            columns.push_back({field_name, cformat.CellText(row, kName), kJournalColumnWidth});
        }
        cdata.FieldDefs() = std::move(defs);
        cdata.SetIndexFieldNames("id");
        cdata.CreateDataSet();
        journal_columns_ = std::move(columns);
    } catch (...) {
        cdata.EnableControls();
        throw;
    }
    cdata.EnableControls();
    cformat.First();
    cformat_.CloneCursor(cformat);
    if (JournalRebuilt) JournalRebuilt();
}

}  // namespace linograf
