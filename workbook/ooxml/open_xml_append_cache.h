#pragma once
// What an Open XML write keeps for the next one when the workbook only ever grows by rows at the
// end of its sheets (a live log): per part that grows, its compressed bytes up to the end of its
// last complete row or string, with the deflater's state there, and what the rest of the part
// depended on, so the next write can check that nothing but appended rows has changed.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "workbook/model/write_cache.h"
#include "workbook/ooxml/norv_zip.h"

namespace linograf::workbook {

class TSheet;
class TSSTEntry;

struct TOpenXmlSheetCache {
    const TSheet* sheet = nullptr;
    // The part's text without its rows, and where in it the rows go.
    std::string frame;
    size_t split = 0;
    // The rows below this one are in `rows`.
    uint32_t rows_end = 0;
    // The part from its start through its last complete row.
    std::unique_ptr<TZipEntryCheckpoint> rows;
};

class TOpenXmlAppendCache final : public TWriteCache {
  public:
    std::string path;  // the file written (UTF-8)
    bool write_defaults = false;
    std::string styles;  // the styles part's text: cell style numbers depend on it
    // The shared strings in the order of the part: index n is string n of the file.
    std::vector<const TSSTEntry*> strings;
    std::unique_ptr<TZipEntryCheckpoint> shared_strings;  // through the last </si>
    std::vector<TOpenXmlSheetCache> sheets;
};

}  // namespace linograf::workbook
