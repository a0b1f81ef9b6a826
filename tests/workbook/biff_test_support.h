#pragma once
// Reading back what the BIFF8 writer produced, independently of it: the "Workbook" stream of a
// file, its records, its substreams and its shared string table.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/run_command.h"
#include "workbook/biff/biff_record_list.h"

namespace linograf::workbook::bifftest {

inline uint16_t U16(std::string_view d, size_t at) {
    if (at + 2 > d.size()) throw std::out_of_range("U16 beyond record");
    return static_cast<uint16_t>(static_cast<uint8_t>(d[at]) | (static_cast<uint8_t>(d[at + 1]) << 8));
}
inline uint32_t U32(std::string_view d, size_t at) {
    return U16(d, at) | (uint32_t{U16(d, at + 2)} << 16);
}

// The "Workbook" stream as python3-olefile takes it out of the compound file, so a fault of our
// own compound document code cannot hide one of the writer's.
inline std::string WorkbookStreamOf(const std::string& path) {
    const test::CommandResult r = test::RunPython(
        "import sys, olefile\n"
        "sys.stdout.buffer.write(olefile.OleFileIO(sys.argv[1]).openstream('Workbook').read())\n",
        {path});
    if (r.exit_code != 0) throw std::runtime_error("olefile could not read " + path + ": " + r.errors);
    return r.output;
}

// The records of a stream by their headers alone (id, length), without the program's own listing.
inline std::vector<TBiffRecordView> SplitRecords(std::string_view stream) {
    std::vector<TBiffRecordView> records;
    for (size_t at = 0; at < stream.size();) {
        if (stream.size() - at < 4)
            throw std::runtime_error("record header cut off at " + std::to_string(at));
        const size_t length =
            static_cast<uint8_t>(stream[at + 2]) | (static_cast<uint8_t>(stream[at + 3]) << 8);
        if (stream.size() - at - 4 < length)
            throw std::runtime_error("record cut off at " + std::to_string(at));
        records.push_back({at,
                           static_cast<uint16_t>(static_cast<uint8_t>(stream[at]) |
                                                 (static_cast<uint8_t>(stream[at + 1]) << 8)),
                           stream.substr(at + 4, length)});
        at += 4 + length;
    }
    return records;
}

// A written file's record stream, kept alive with the records that point into it.
struct WrittenStream {
    explicit WrittenStream(const std::string& path)
        : bytes(WorkbookStreamOf(path)), records(SplitRecords(bytes)) {}
    std::string bytes;
    std::vector<TBiffRecordView> records;

    // The records of substream k (0 the globals), BOF to EOF.
    // The views point into `bytes`, so a temporary stream cannot hand them out.
    std::vector<TBiffRecordView> Substream(int k) const& {
        std::vector<TBiffRecordView> out;
        int current = -1;
        for (const TBiffRecordView& r : records) {
            if (r.id == 0x0809) ++current;
            if (current == k) out.push_back(r);
            if (current == k && r.id == 0x000A) break;
        }
        return out;
    }
    std::vector<TBiffRecordView> Substream(int) && = delete;
    std::vector<TBiffRecordView> WithId(uint16_t id, int substream) const& {
        std::vector<TBiffRecordView> out;
        for (const TBiffRecordView& r : Substream(substream))
            if (r.id == id) out.push_back(r);
        return out;
    }
    std::vector<TBiffRecordView> WithId(uint16_t, int) && = delete;
};

inline std::vector<uint16_t> Ids(const std::vector<TBiffRecordView>& records) {
    std::vector<uint16_t> ids;
    for (const TBiffRecordView& r : records) ids.push_back(r.id);
    return ids;
}

// The strings of the SST record and its CONTINUE records, decoded by the published rules: a
// string's characters may go on in the next record, which then starts with a new option byte.
struct DecodedSST {
    uint32_t total = 0, unique = 0;
    std::vector<std::u16string> strings;
    std::vector<uint8_t> continuation_options;  // option byte of each record a string went on in
    size_t odd_wide_splits = 0;                 // wide characters cut in the middle: must be 0
};

inline DecodedSST DecodeSST(const std::vector<TBiffRecordView>& globals) {
    std::vector<std::string_view> parts;
    for (size_t i = 0; i < globals.size(); ++i) {
        if (globals[i].id != 0x00FC) continue;
        parts.push_back(globals[i].data);
        for (size_t j = i + 1; j < globals.size() && globals[j].id == 0x003C; ++j)
            parts.push_back(globals[j].data);
        break;
    }
    if (parts.empty()) throw std::runtime_error("no SST");
    DecodedSST out;
    out.total = U32(parts[0], 0);
    out.unique = U32(parts[0], 4);
    size_t part = 0, at = 8;
    auto need = [&](size_t n) {
        if (at + n > parts[part].size()) {
            if (at != parts[part].size()) throw std::runtime_error("field split across records");
            ++part;
            at = 0;
            if (part >= parts.size()) throw std::runtime_error("SST ends early");
        }
    };
    for (uint32_t s = 0; s < out.unique; ++s) {
        need(3);
        const uint16_t chars = U16(parts[part], at);
        uint8_t option = static_cast<uint8_t>(parts[part][at + 2]);
        at += 3;
        uint16_t runs = 0;
        uint32_t extended = 0;
        if (option & 0x08) {
            need(2);
            runs = U16(parts[part], at);
            at += 2;
        }
        if (option & 0x04) {
            need(4);
            extended = U32(parts[part], at);
            at += 4;
        }
        std::u16string text;
        while (text.size() < chars) {
            if (at == parts[part].size()) {
                ++part;
                if (part >= parts.size()) throw std::runtime_error("SST ends inside a string");
                option = static_cast<uint8_t>(parts[part][0]);
                out.continuation_options.push_back(option);
                at = 1;
            }
            if (option & 1) {
                if (at + 2 > parts[part].size()) {
                    ++out.odd_wide_splits;
                    throw std::runtime_error("wide character split");
                }
                text += static_cast<char16_t>(U16(parts[part], at));
                at += 2;
            } else {
                text += static_cast<char16_t>(static_cast<uint8_t>(parts[part][at]));
                at += 1;
            }
        }
        for (uint16_t r = 0; r < runs; ++r) {
            need(4);
            at += 4;
        }
        for (uint32_t e = 0; e < extended; ++e) {
            need(1);
            at += 1;
        }
        out.strings.push_back(std::move(text));
    }
    return out;
}

}  // namespace linograf::workbook::bifftest
