// Writes of a workbook that only grows by rows at the end of its sheets: the shared strings and
// the worksheets go on from the compressed bytes the last write kept, so a write costs the rows
// added since and the copy of the bytes before them, not the making of all rows again.
#include <memory>
#include <string>
#include <vector>

#include "text/wide_text.h"
#include "workbook/model/cell.h"
#include "workbook/model/shared_strings.h"
#include "workbook/model/tabulon4.h"
#include "workbook/ooxml/open_xml_append_cache.h"
#include "workbook/ooxml/xls_write_2007_xml.h"

namespace linograf::workbook {
std::string TXLSWrite2007XML::WorksheetFrame(int index, size_t& split) {
    xml_.Clear();
    split = 0;
    sheet_rows_ = [&](TSheet&) { split = xml_.Text().size(); };
    try {
        WriteWorksheet(index);
    } catch (...) {
        sheet_rows_ = nullptr;
        xml_.Clear();
        throw;
    }
    sheet_rows_ = nullptr;
    std::string frame = xml_.Text();
    xml_.Clear();
    return frame;
}

bool TXLSWrite2007XML::AppendCacheFits(const TOpenXmlAppendCache& cache, const std::string& styles,
                                       const std::vector<std::string>& frames) {
    if (cache.path != WideToUtf8(book_.Filename()) || cache.write_defaults != write_defaults_ ||
        cache.styles != styles || !cache.shared_strings || cache.sheets.size() != frames.size())
        return false;
    for (size_t i = 0; i < frames.size(); ++i) {
        const TOpenXmlSheetCache& kept = cache.sheets[i];
        TSheet& sheet = book_.Sheet(static_cast<int>(i));
        // A cell placed, changed, erased or handed out for change in a row already written, a
        // sheet made anew (its store counts as changed from row 0), or anything else in the part
        // than its rows: the part is made whole.
        if (kept.sheet != &sheet || !kept.rows || kept.frame != frames[i] ||
            sheet.Cells().LowestChangedRow() < kept.rows_end)
            return false;
    }
    return true;
}

void TXLSWrite2007XML::WriteAppendableParts() {
    auto* cache = dynamic_cast<TOpenXmlAppendCache*>(book_.WriteCache().get());
    // Whatever happens below, the old state is used up: its bytes move into the new one.
    std::unique_ptr<TWriteCache> old_holder = std::move(book_.WriteCache());
    auto next = std::make_unique<TOpenXmlAppendCache>();
    next->path = WideToUtf8(book_.Filename());
    next->write_defaults = write_defaults_;

    WriteStyles();
    next->styles = xml_.Text();
    AddPart(u"xl/styles.xml");

    const int sheet_count = book_.Sheets().Count();
    std::vector<std::string> frames;
    std::vector<size_t> splits;
    for (int i = 0; i < sheet_count; ++i) {
        size_t split = 0;
        frames.push_back(WorksheetFrame(i, split));
        splits.push_back(split);
    }
    const bool appending = cache != nullptr && AppendCacheFits(*cache, next->styles, frames);

    if (appending)
        AppendSharedStrings(*cache, *next);
    else
        WriteSharedStringsWhole(*next);

    // Worksheets, from the last to the first as the package has them.
    next->sheets.resize(static_cast<size_t>(sheet_count));
    for (int i = sheet_count - 1; i >= 0; --i) {
        TOpenXmlSheetCache& kept = next->sheets[static_cast<size_t>(i)];
        kept.sheet = &book_.Sheet(i);
        kept.frame = std::move(frames[static_cast<size_t>(i)]);
        kept.split = splits[static_cast<size_t>(i)];
        if (appending)
            AppendSheetRows(i, cache->sheets[static_cast<size_t>(i)], kept);
        else
            WriteWorksheetWhole(i, kept);
        StreamPart(WorksheetRelationsPartName(i + 1), [&] { WriteWorksheetRelations(i); });
    }
    // From here on the rows written are what the kept bytes hold.
    for (int i = 0; i < sheet_count; ++i) book_.Sheet(i).Cells().ForgetChanges();
    book_.WriteCache() = std::move(next);
    book_.SetLastWriteAppended(appending);
}

// The shared strings part from the bytes of the last write, with the strings of the rows added
// since, in the order the cells name them; a string the part has already keeps its number. One
// whose number no longer leads back to it (another writer numbered the strings since) is added
// again: the rows already written keep the number they have, and the new ones get one that holds
// the same text.
void TXLSWrite2007XML::AppendSharedStrings(TOpenXmlAppendCache& cache, TOpenXmlAppendCache& next) {
    next.strings = std::move(cache.strings);
    std::vector<const TSSTEntry*> added;
    for (int i = 0; i < book_.Sheets().Count(); ++i) {
        auto cells = book_.Sheet(i).Cells().CellsFrom(cache.sheets[static_cast<size_t>(i)].rows_end);
        while (TCellRef ref = cells.Next()) {
            if (ref.cell->type != ctString) continue;
            TSSTEntry* entry = ref.cell->value.entry;
            const uint32_t index = entry->Index();
            if (index < next.strings.size() && next.strings[index] == entry) continue;
            entry->SetIndex(static_cast<uint32_t>(next.strings.size()));
            next.strings.push_back(entry);
            added.push_back(entry);
        }
    }
    xml_.BeginZipPart(zip_, u"xl/sharedStrings.xml");
    try {
        zip_.Zip().ResumeEntry(std::move(cache.shared_strings));
        for (const TSSTEntry* entry : added) WriteSharedString(*entry);
        xml_.Flush();
        next.shared_strings = zip_.Zip().CheckpointEntry();
        xml_.WriteRaw("</sst>");
    } catch (...) {
        xml_.CancelZipPart();
        throw;
    }
    xml_.EndZipPart();
}

// The shared strings part written whole, its state kept after the last string.
void TXLSWrite2007XML::WriteSharedStringsWhole(TOpenXmlAppendCache& next) {
    written_strings_ = &next.strings;
    sst_rows_end_ = [&] {
        xml_.Flush();
        next.shared_strings = zip_.Zip().CheckpointEntry();
    };
    try {
        StreamPart(u"xl/sharedStrings.xml", [&] {
            zip_.Zip().ResumeEntry(nullptr);
            WriteSharedStrings();
        });
    } catch (...) {
        written_strings_ = nullptr;
        sst_rows_end_ = nullptr;
        throw;
    }
    written_strings_ = nullptr;
    sst_rows_end_ = nullptr;
}

// Sheet `index` from the bytes of the last write through its last row, then the rows added since
// and the rest of its frame.
void TXLSWrite2007XML::AppendSheetRows(int index, TOpenXmlSheetCache& before, TOpenXmlSheetCache& kept) {
    xml_.BeginZipPart(zip_, WorksheetPartName(index + 1));
    try {
        zip_.Zip().ResumeEntry(std::move(before.rows));
        kept.rows_end = WriteSheetRows(book_.Sheet(index), before.rows_end);
        xml_.Flush();
        kept.rows = zip_.Zip().CheckpointEntry();
        xml_.WriteRaw(std::string_view(kept.frame).substr(kept.split));
    } catch (...) {
        xml_.CancelZipPart();
        throw;
    }
    xml_.EndZipPart();
}

// Sheet `index` written whole, its state kept after the last row.
void TXLSWrite2007XML::WriteWorksheetWhole(int index, TOpenXmlSheetCache& kept) {
    sheet_rows_ = [&](TSheet& s) {
        kept.rows_end = WriteSheetRows(s, 0);
        xml_.Flush();
        kept.rows = zip_.Zip().CheckpointEntry();
    };
    try {
        StreamPart(WorksheetPartName(index + 1), [&] {
            zip_.Zip().ResumeEntry(nullptr);
            WriteWorksheet(index);
        });
    } catch (...) {
        sheet_rows_ = nullptr;
        throw;
    }
    sheet_rows_ = nullptr;
}

}  // namespace linograf::workbook
