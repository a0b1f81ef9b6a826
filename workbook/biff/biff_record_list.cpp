#include "workbook/biff/biff_record_list.h"

#include <cstdio>
#include <stdexcept>

#include "workbook/model/biff_records.h"

namespace linograf::workbook {

std::vector<TBiffRecordView> ListBiffRecords(std::string_view stream) {
    std::vector<TBiffRecordView> records;
    size_t at = 0;
    while (at < stream.size()) {
        if (stream.size() - at < 4)
            throw std::runtime_error("Record at offset " + std::to_string(at) + " is cut off");
        const auto byte = [&](size_t i) { return static_cast<uint8_t>(stream[at + i]); };
        const uint16_t id = static_cast<uint16_t>(byte(0) | (byte(1) << 8));
        const size_t length = byte(2) | (byte(3) << 8);
        if (stream.size() - at - 4 < length)
            throw std::runtime_error("Record at offset " + std::to_string(at) + " is cut off");
        records.push_back({at, id, stream.substr(at + 4, length)});
        at += 4 + length;
    }
    return records;
}

std::string_view BiffRecordName(uint16_t id) {
    const TBiffRecordInfo* info = FindBiffRecord(id);
    return info ? info->name : std::string_view();
}

std::string DumpBiffRecords(std::string_view stream, std::string* error) {
    std::string out;
    char line[160];
    size_t at = 0;
    int open_substreams = 0;
    while (at < stream.size()) {
        const size_t left = stream.size() - at;
        // Writers round the stream up to a sector with zeros after the last substream's EOF.
        if (open_substreams == 0 && at > 0 && stream.find_first_not_of('\0', at) == std::string_view::npos)
            break;
        const auto byte = [&](size_t i) { return static_cast<uint8_t>(stream[at + i]); };
        const uint16_t id = left >= 2 ? static_cast<uint16_t>(byte(0) | (byte(1) << 8)) : 0;
        const size_t length = left >= 4 ? static_cast<size_t>(byte(2) | (byte(3) << 8)) : 0;
        if (left < 4 || left - 4 < length) {
            // What came before is still worth seeing; the caller learns where the stream broke.
            if (error) *error = "Record at offset " + std::to_string(at) + " is cut off";
            break;
        }
        const TBiffRecordInfo* info = FindBiffRecord(id);
        std::snprintf(line, sizeof line, "%08zx %-20s %04X %5zu ", at,
                      info ? std::string(info->name).c_str() : "?", id, length);
        out += line;
        for (size_t i = 0; i < length && i < 16; ++i) {
            std::snprintf(line, sizeof line, "%02X", byte(4 + i));
            out += line;
        }
        if (length > 16) out += "...";
        if ((id & 0x00FF) == 0x0009 && id <= rec::BOF) ++open_substreams;  // BOF of every BIFF version
        if (id == rec::EOF_ && open_substreams > 0) --open_substreams;
        // A fixed-size record of another size is the kind of fault this listing is for.
        if (info && info->size >= 0 && static_cast<size_t>(info->size) != length)
            out += "  (expected " + std::to_string(info->size) + " bytes)";
        out += '\n';
        at += 4 + length;
    }
    return out;
}

}  // namespace linograf::workbook
