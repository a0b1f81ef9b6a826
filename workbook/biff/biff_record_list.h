#pragma once
// Looking at a BIFF record stream record by record: the records of a "Workbook" stream with
// their offsets, and a one-line-per-record text listing of them (what `cat --records` prints).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace linograf::workbook {

struct TBiffRecordView {
    uint64_t offset;  // of the record header in the stream
    uint16_t id;
    std::string_view data;  // points into the stream given
};

// Every record of the stream, in order. A record whose stated length runs past the end of the
// stream raises "Record at offset N is cut off".
std::vector<TBiffRecordView> ListBiffRecords(std::string_view stream);

// The record's name ("BOF", "LABELSST", ...) or empty for an id without one here.
std::string_view BiffRecordName(uint16_t id);

// One line per record: offset, name ("?" for an id without one), hex id, data length and up to 16
// data bytes in hex; a record of fixed size with another length is marked. Zero bytes after the
// last substream's EOF are padding and not listed. A record cut off by the stream's end ends the
// listing and is described in *error (when given).
std::string DumpBiffRecords(std::string_view stream, std::string* error = nullptr);

}  // namespace linograf::workbook
