// TBiffWriter: the shared string table, SST continued in CONTINUE records, each holding at most
// 8224 bytes.
// A string's header never splits; its characters may, and the continuation then starts with the
// option byte again. EXTSST lists where every S-th string starts.
//
// SST                                      one string (unicode string, 16-bit count)
//   OFFSET  SIZE  DESCRIPTION                OFFSET  SIZE  DESCRIPTION
//   0       4     references from cells      0       2     character count
//   4       4     distinct strings           2       1     options: 0x01 UTF-16LE, 0x04 phonetic
//   8       var   the strings, in order                    data follows, 0x08 formatting runs
//                                            [3      2     run count, with 0x08]
// CONTINUE                                   [.      4     phonetic data size, with 0x04]
//   0       var   the rest: a string split   .       var   characters (1 or 2 bytes each)
//                 in its characters starts   .       4*n   runs: character position, font index
//                 with a new option byte     .       var   phonetic data
//
// EXTSST
//   OFFSET  SIZE  DESCRIPTION
//   0       2     strings per bucket (at least 8)
//   2       8*n   per bucket: stream position of its first string (4), offset of that string
//                 within its SST or CONTINUE record counted from the record header (2), 0 (2)
//
// Characters are never cut in half at a record's end. Formatting runs and phonetic data follow the
// characters and split without an option byte.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "workbook/biff/biff_record_buffer.h"
#include "workbook/biff/biff_writer.h"
#include "workbook/model/biff_records.h"
#include "workbook/model/shared_strings.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook {
namespace {

// The SST record being filled, and the CONTINUE records after it.
class TSSTRecords {
  public:
    explicit TSSTRecords(TXLSStream& stream) : stream_(stream) {
        header_ = stream_.Position();
        stream_.WriteHeader(rec::SST, 0);
    }

    int Room() const { return room_; }
    uint64_t RecordStart() const { return header_; }
    void Take(int bytes) { room_ -= bytes; }

    // Closes the record being filled and opens a CONTINUE record.
    void BeginContinue() {
        Close();
        header_ = stream_.Position();
        stream_.WriteHeader(rec::CONTINUE, 0);
        room_ = TBiffWriter::kRecordLimit;
    }
    // Sets the length of the record being filled.
    void Close() { stream_.PatchU16(header_ + 2, static_cast<uint16_t>(TBiffWriter::kRecordLimit - room_)); }

    // `size` bytes in units of `step` bytes, over as many records as they need; with
    // `option_byte`, each CONTINUE record they go on in starts with `option`.
    void WriteSplit(const uint8_t* bytes, size_t size, size_t step, bool option_byte, uint8_t option) {
        while (size > 0) {
            size_t fit = std::min<size_t>(size, static_cast<size_t>(room_));
            fit -= fit % step;
            if (fit > 0) {
                stream_.Write(bytes, fit);
                bytes += fit;
                size -= fit;
                room_ -= static_cast<int>(fit);
            }
            if (size == 0) break;
            BeginContinue();
            if (option_byte) {
                stream_.WriteU8(option);
                room_ -= 1;
            }
        }
    }

  private:
    TXLSStream& stream_;
    uint64_t header_ = 0;  // start of the record being filled
    int room_ = TBiffWriter::kRecordLimit;
};

// Nearly every string: no runs, no phonetic data, room left in the record. Its header and
// characters are put in place in one go. False when the string is not one of them.
bool WriteShortString(TXLSStream& stream, TSSTRecords& records, const TSSTEntry& e) {
    const std::span<const uint8_t> chars = e.CharBytes();
    const size_t size = chars.size() + 3;
    if (e.Type() > kSSTWide || size > static_cast<size_t>(records.Room())) return false;
    uint8_t* p = stream.Reserve(size);
    const uint16_t count = e.CharCount();
    p[0] = static_cast<uint8_t>(count);
    p[1] = static_cast<uint8_t>(count >> 8);
    p[2] = e.Type();
    std::memcpy(p + 3, chars.data(), chars.size());
    stream.Advance(size);
    records.Take(static_cast<int>(size));
    return true;
}

// Any string: its header fields, then characters, runs and phonetic data, each split over the
// records it needs.
void WriteString(TXLSStream& stream, TSSTRecords& records, const TSSTEntry& e, uint32_t number) {
    const uint8_t type = e.Type();
    if (type & ~0x0Du) {
        char message[80];
        std::snprintf(message, sizeof message, "STT: Unhandled string type in Write (%.2X) # %u", type,
                      number);
        throw std::runtime_error(message);
    }
    stream.WriteU16(e.CharCount());
    stream.WriteU8(type);
    records.Take(3);
    if (type & kSSTRuns) {
        stream.WriteU16(e.RunCount());
        records.Take(2);
    }
    const std::span<const uint8_t> extended =
        (type & kSSTExtended) ? e.Extended() : std::span<const uint8_t>();
    if (type & kSSTExtended) {
        stream.WriteU32(static_cast<uint32_t>(extended.size()));
        records.Take(4);
    }
    const std::span<const uint8_t> chars = e.CharBytes();
    const bool wide = e.Wide();
    records.WriteSplit(chars.data(), chars.size(), wide ? 2 : 1, true, wide ? 0x01 : 0x00);
    for (int i = 0; i < e.RunCount(); ++i) {
        if (records.Room() < 4) records.BeginContinue();
        const TSSTRun run = e.Run(i);
        stream.WriteU16(run.position);
        stream.WriteU16(run.font);
        records.Take(4);
    }
    records.WriteSplit(extended.data(), extended.size(), 1, false, 0);
}

}  // namespace

void TBiffWriter::WriteSST() {
    TSST2& sst = book_.SST();
    const size_t count = sst.Count();
    const uint32_t bucket_size = count / 1027 < 7 ? 8 : static_cast<uint32_t>(count / 1027 + 1);
    std::vector<TExtSSTBucket>& buckets = sst.ExtSST();
    buckets.clear();

    TSSTRecords records(stream_);
    stream_.WriteU32(sst.RefTotal());
    const uint64_t unique_field = stream_.Position();
    stream_.WriteU32(0);
    records.Take(8);

    uint32_t number = 0;
    uint32_t to_bucket = 0;  // strings before the next bucket starts
    sst.ForEach([&](TSSTEntry* e) {
        // The record is closed first, so a bucket always points at its string, not at the
        // header of the CONTINUE record the string starts in.
        if (records.Room() <= 15) records.BeginContinue();
        if (to_bucket == 0) {
            const uint64_t at = stream_.Position();
            buckets.push_back({static_cast<uint32_t>(at), static_cast<uint16_t>(at - records.RecordStart())});
            to_bucket = bucket_size;
        }
        --to_bucket;
        e->SetIndex(number);
        if (!WriteShortString(stream_, records, *e)) WriteString(stream_, records, *e, number);
        ++number;
    });
    records.Close();
    stream_.PatchU32(unique_field, number);

    TRecordBuffer r;
    r.U16(static_cast<uint16_t>(bucket_size));
    for (const TExtSSTBucket& b : buckets) r.U32(b.position).U16(b.offset).U16(0);
    stream_.WriteRecord(rec::EXTSST, r.View());
}

}  // namespace linograf::workbook
