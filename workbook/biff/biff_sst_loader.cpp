// TBiffReader: the shared string table, read from the SST record and the CONTINUE records its
// strings run on into.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "workbook/biff/biff_reader.h"
#include "workbook/model/record_storage.h"
#include "workbook/model/tabulon4.h"

namespace linograf::workbook {
namespace {

constexpr uint16_t kCONTINUE = 0x003C;

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return Get16(p) | (uint32_t{Get16(p + 2)} << 16);
}

}  // namespace

void TBiffReader::SstNextContinue() {
    uint16_t id, length;
    if (!input_.ReadHeader(id, length) || id != kCONTINUE)
        throw std::runtime_error("CONTINUE record is missing in SST");
    if (length > limit_) throw std::runtime_error("Bad record in file");
    data_ = input_.Take(length);
    length_ = length;
    sst_pos_ = 0;
}

// Plain bytes, going on in the next CONTINUE without an option byte.
void TBiffReader::SstRead(void* target, size_t count) {
    auto* out = static_cast<uint8_t*>(target);
    while (count > 0) {
        if (sst_pos_ == length_) SstNextContinue();
        const size_t take = std::min(count, length_ - sst_pos_);
        std::memcpy(out, data_ + sst_pos_, take);
        out += take;
        sst_pos_ += take;
        count -= take;
    }
}

// The next count bytes, where they lie when the current record holds them all, else gathered
// into `gather` across CONTINUE records.
const uint8_t* TBiffReader::SstTake(size_t count, std::vector<uint8_t>& gather) {
    if (count <= length_ - sst_pos_) {
        const uint8_t* p = data_ + sst_pos_;
        sst_pos_ += count;
        return p;
    }
    gather.resize(count);
    SstRead(gather.data(), count);
    return gather.data();
}

const uint8_t* TBiffReader::SstTake(size_t count, uint8_t* gather) {
    if (count <= length_ - sst_pos_) {
        const uint8_t* p = data_ + sst_pos_;
        sst_pos_ += count;
        return p;
    }
    SstRead(gather, count);
    return gather;
}

// One string of the table as the loader hands it to the table: its characters and runs in one
// block, where the file holds them or, when they were split, narrowed or apart, in `joined`.
struct TBiffReader::TSstString {
    std::span<const uint8_t> block;
    uint16_t chars = 0;
    bool wide = false;
    uint16_t run_count = 0;
    std::vector<uint8_t> split, joined, runs, extended;
};

void TBiffReader::SstString(TSstString& out) {
    uint8_t split_head[3];
    // The strings are read in order, but between them the table's lookups fill the cache with
    // lines of their own; the next bytes are asked for well before they are needed.
    __builtin_prefetch(data_ + sst_pos_ + 512);
    const uint8_t* string_head = SstTake(sizeof split_head, split_head);
    const size_t chars = Get16(string_head);
    const uint8_t type = string_head[2];
    if (type & ~0x0Du) {
        char message[64];
        std::snprintf(message, sizeof message, "STT: Unhandled string type in Read (%.2X)", type);
        throw std::runtime_error(message);
    }
    bool wide = (type & 0x01) != 0;
    const size_t announced = ((type & 0x08) ? 2 : 0) + ((type & 0x04) ? 4 : 0);
    // A string that does not fit into the rest of the record is kept with 16-bit characters,
    // whatever its parts hold.
    const bool force_wide = announced + chars * (wide ? 2 : 1) > length_ - sst_pos_;
    uint16_t run_count = 0;
    uint32_t extended_size = 0;
    if (type & 0x08) {
        uint8_t b[2];
        SstRead(b, 2);
        run_count = Get16(b);
    }
    if (type & 0x04) {
        uint8_t b[4];
        SstRead(b, 4);
        extended_size = Get32(b);
    }
    // The characters as stored: in place when they fit, else gathered as 16-bit units.
    const uint8_t* stored;
    bool in_place = !force_wide;
    if (in_place) {
        stored = data_ + sst_pos_;
        sst_pos_ += chars * (wide ? 2 : 1);
    } else {
        out.split.resize(2 * chars);
        uint8_t* split = out.split.data();
        size_t done = 0;
        while (done < chars) {
            if (sst_pos_ == length_) {
                // Each continuation of the characters starts with its own option byte.
                SstNextContinue();
                if (length_ == 0) throw std::runtime_error("Invalid SST record");
                wide = (data_[sst_pos_++] & 0x01) != 0;
            }
            const size_t left = length_ - sst_pos_;
            const size_t take = std::min(chars - done, wide ? left / 2 : left);
            if (take == 0) throw std::runtime_error("Invalid SST record");
            const uint8_t* p = data_ + sst_pos_;
            if (wide) {
                std::memcpy(split + 2 * done, p, 2 * take);
            } else {
                for (size_t i = 0; i < take; ++i) {
                    split[2 * (done + i)] = p[i];
                    split[2 * (done + i) + 1] = 0;
                }
            }
            done += take;
            sst_pos_ += take * (wide ? 2 : 1);
        }
        stored = out.split.data();
        wide = true;
    }
    const uint8_t* run_data = SstTake(size_t{run_count} * 4, out.runs);
    for (uint16_t r = 0; r < run_count; ++r) {
        const uint16_t font = Get16(run_data + 4 * r + 2);
        if (font < book_.Fonts().Count()) book_.Fonts().Acquire(font);
    }
    out.extended.clear();
    for (uint32_t left = extended_size; left > 0;) {
        if (sst_pos_ == length_) SstNextContinue();
        const size_t take = std::min<size_t>(left, length_ - sst_pos_);
        out.extended.insert(out.extended.end(), data_ + sst_pos_, data_ + sst_pos_ + take);
        sst_pos_ += take;
        left -= static_cast<uint32_t>(take);
    }
    // The table keeps a string with 8-bit characters when they all fit, unless it was split.
    size_t char_bytes = chars * (wide ? 2 : 1);
    if (wide && !force_wide) {
        bool narrow = true;
        for (size_t i = 0; i < chars && narrow; ++i) narrow = stored[2 * i + 1] == 0;
        if (narrow) {
            out.joined.resize(chars);
            for (size_t i = 0; i < chars; ++i) out.joined[i] = stored[2 * i];
            stored = out.joined.data();
            char_bytes = chars;
            wide = false;
            in_place = false;
        }
    }
    // Characters and runs go to the table as one block, which the file holds as it is unless
    // they were split or narrowed.
    out.block = {stored, char_bytes + size_t{run_count} * 4};
    if (run_count > 0 && !(in_place && run_data == stored + char_bytes)) {
        if (stored != out.joined.data()) out.joined.assign(stored, stored + char_bytes);
        out.joined.insert(out.joined.end(), run_data, run_data + size_t{run_count} * 4);
        out.block = out.joined;
    }
    out.chars = static_cast<uint16_t>(chars);
    out.wide = wide;
    out.run_count = run_count;
}

void TBiffReader::Sst() {
    consumed_ = true;
    Place(kPlaceholderSST);
    TSST2& sst = book_.SST();
    sst_pos_ = 0;
    uint8_t head[8];
    SstRead(head, sizeof head);
    const uint32_t total = Get32(head), unique = Get32(head + 4);
    // Each string takes at least its 3-byte head, so the count is believed only as far as the
    // stream could hold it.
    sst.ReserveLoaded(std::min<uint64_t>(unique, (length_ - sst_pos_ + input_.Size() - input_.Position()) / 3));
    TSstString s;
    // Most strings are 8-bit characters without runs or phonetic data, inside the record: those
    // go to the table straight from the file, a batch at a time. Other programs write the table
    // in the order the cells first use the strings, which is no order of our table's: there the
    // batch's lookups are asked for level by level first, so that their cache misses overlap.
    // A batch already in the table's order (ours, read back) finds its path in the cache.
    struct TPlain {
        const uint8_t* chars;
        uint16_t count;
        uint32_t key;
    };
    constexpr uint32_t kBatch = 32;
    constexpr int kLevels = 2;
    TPlain batch[kBatch];
    // Every string takes bytes of the file, so a false count ends at the file's end.
    for (uint32_t n = 0; n < unique;) {
        uint32_t count = 0;
        while (count < kBatch && count < unique - n && length_ - sst_pos_ >= 3) {
            const uint8_t* head = data_ + sst_pos_;
            const size_t chars = Get16(head);
            if (head[2] != 0 || chars > length_ - sst_pos_ - 3) break;
            __builtin_prefetch(head + 512);
            batch[count++] = {head + 3, static_cast<uint16_t>(chars), TSST2::Key({head + 3, chars})};
            sst_pos_ += 3 + chars;
        }
        if (count > 0) {
            // Keys of the table's order share their low byte over thousands of strings.
            if ((batch[0].key & 0xFF) != (batch[count - 1].key & 0xFF))
                for (int level = 0; level < kLevels; ++level)
                    for (uint32_t i = 0; i < count; ++i) sst.Prefetch(batch[i].key, level);
            for (uint32_t i = 0; i < count; ++i)
                sst.AddLoaded(sst.AddStored({batch[i].chars, batch[i].count}, batch[i].count, false, 0, {}, batch[i].key));
            n += count;
            continue;
        }
        ++n;
        if (length_ - sst_pos_ >= 3) {
            const uint8_t* head = data_ + sst_pos_;
            const size_t chars = Get16(head);
            // 16-bit characters, as Cyrillic and CJK texts come, unless they would fit in 8 bits.
            if (head[2] == 1 && 2 * chars <= length_ - sst_pos_ - 3) {
                const uint8_t* units = head + 3;
                bool narrow = true;
                for (size_t i = 0; i < chars && narrow; ++i) narrow = units[2 * i + 1] == 0;
                if (!narrow) {
                    sst_pos_ += 3 + 2 * chars;
                    sst.AddLoaded(sst.AddStored({units, 2 * chars}, static_cast<uint16_t>(chars), true, 0, {}));
                    continue;
                }
            }
        }
        SstString(s);
        sst.AddLoaded(sst.AddStored(s.block, s.chars, s.wide, s.run_count, s.extended));
    }
    sst.SetRefTotal(total);
    strings_loaded_ = unique > 0;
}

}  // namespace linograf::workbook
