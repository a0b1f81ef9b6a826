#include "workbook/model/biff_records.h"

#include <algorithm>
#include <array>

namespace linograf::workbook {
namespace {

constexpr std::string_view ShownName(std::string_view name) {
    return name.ends_with('_') ? name.substr(0, name.size() - 1) : name;
}

#define LINOGRAF_BIFF_RECORD_INFO(name, id, size) TBiffRecordInfo{id, ShownName(#name), size},
constexpr std::array kRecords = {LINOGRAF_BIFF_RECORDS(LINOGRAF_BIFF_RECORD_INFO)};
#undef LINOGRAF_BIFF_RECORD_INFO

// The table is kept in id order so a lookup is a binary search and a duplicate id shows up here.
constexpr bool InIdOrder() {
    for (size_t i = 1; i < kRecords.size(); ++i)
        if (kRecords[i - 1].id >= kRecords[i].id) return false;
    return true;
}
static_assert(InIdOrder(), "BIFF record table must be sorted by id without duplicates");

}  // namespace

const TBiffRecordInfo* FindBiffRecord(uint16_t id) {
    const auto it = std::lower_bound(kRecords.begin(), kRecords.end(), id,
                                     [](const TBiffRecordInfo& r, uint16_t key) { return r.id < key; });
    return it != kRecords.end() && it->id == id ? &*it : nullptr;
}

}  // namespace linograf::workbook
