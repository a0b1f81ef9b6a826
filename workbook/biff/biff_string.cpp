#include "workbook/biff/biff_string.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace linograf::workbook {
namespace {

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

constexpr uint8_t kWide = 0x01, kPhonetic = 0x04, kRuns = 0x08;

void NextRecord(TBiffStringSource& source) {
    if (!source.next) throw std::runtime_error("Record too short");
    source.next(source);
}

// Characters that run on into the next records, each continuation starting with an option byte
// that says whether its units are 8 or 16 bits, gathered as 16-bit units into `units`.
const uint8_t* GatherSplitCharacters(TBiffStringSource& source, size_t chars, bool wide,
                                     std::vector<uint8_t>& units) {
    units.resize(2 * chars);
    size_t done = 0;
    while (done < chars) {
        if (source.pos == source.length) {
            NextRecord(source);
            if (source.length == 0) throw std::runtime_error("Invalid SST record");
            wide = (source.data[source.pos++] & kWide) != 0;
        }
        const size_t left = source.Left();
        const size_t take = std::min(chars - done, wide ? left / 2 : left);
        if (take == 0) {
            // Half a 16-bit unit before the record's end.
            if (!source.next) throw std::runtime_error("Record too short");
            throw std::runtime_error("Invalid SST record");
        }
        const uint8_t* p = source.data + source.pos;
        if (wide) {
            std::memcpy(units.data() + 2 * done, p, 2 * take);
        } else {
            for (size_t i = 0; i < take; ++i) {
                units[2 * (done + i)] = p[i];
                units[2 * (done + i) + 1] = 0;
            }
        }
        done += take;
        source.pos += take * (wide ? 2 : 1);
    }
    return units.data();
}

// Phonetic data: plain bytes that may run on into the next records without an option byte.
void ReadPhoneticData(TBiffStringSource& source, uint32_t size, std::vector<uint8_t>& out) {
    out.clear();
    for (uint32_t left = size; left > 0;) {
        if (source.pos == source.length) NextRecord(source);
        const size_t take = std::min<size_t>(left, source.Left());
        out.insert(out.end(), source.data + source.pos, source.data + source.pos + take);
        source.pos += take;
        left -= static_cast<uint32_t>(take);
    }
}

// 16-bit units that all fit into 8 bits, as 8-bit characters into `narrow`; false, with `narrow`
// untouched, when one does not.
bool Narrow(const uint8_t* units, size_t chars, std::vector<uint8_t>& narrow) {
    for (size_t i = 0; i < chars; ++i)
        if (units[2 * i + 1] != 0) return false;
    narrow.resize(chars);
    for (size_t i = 0; i < chars; ++i) narrow[i] = units[2 * i];
    return true;
}

}  // namespace

void TBiffStringSource::Read(uint8_t* target, size_t count) {
    while (count > 0) {
        if (pos == length) NextRecord(*this);
        const size_t take = std::min(count, Left());
        std::memcpy(target, data + pos, take);
        target += take;
        pos += take;
        count -= take;
    }
}

const uint8_t* TBiffStringSource::Take(size_t count, std::vector<uint8_t>& gather) {
    if (count <= Left()) {
        const uint8_t* p = data + pos;
        pos += count;
        return p;
    }
    gather.resize(count);
    Read(gather.data(), count);
    return gather.data();
}

void ReadBiffString(TBiffStringSource& source, TBiffString& out, bool short_count) {
    uint8_t head[3];
    const size_t head_size = short_count ? 2 : 3;
    source.Read(head, head_size);
    const size_t chars = short_count ? head[0] : Get16(head);
    const uint8_t options = head[head_size - 1];
    if (options & ~(kWide | kPhonetic | kRuns)) {
        char message[64];
        std::snprintf(message, sizeof message, "STT: Unhandled string type in Read (%.2X)", options);
        throw std::runtime_error(message);
    }
    bool wide = (options & kWide) != 0;
    const size_t announced = ((options & kRuns) ? 2 : 0) + ((options & kPhonetic) ? 4 : 0);
    const bool split = announced + chars * (wide ? 2 : 1) > source.Left();
    uint16_t run_count = 0;
    uint32_t extended_size = 0;
    if (options & kRuns) {
        uint8_t b[2];
        source.Read(b, 2);
        run_count = Get16(b);
    }
    if (options & kPhonetic) {
        uint8_t b[4];
        source.Read(b, 4);
        extended_size = uint32_t{Get16(b)} | (uint32_t{Get16(b + 2)} << 16);
    }

    const uint8_t* stored;
    if (!split) {
        stored = source.data + source.pos;
        source.pos += chars * (wide ? 2 : 1);
    } else {
        stored = GatherSplitCharacters(source, chars, wide, out.split);
        wide = true;
    }
    const size_t run_bytes = size_t{run_count} * 4;
    const uint8_t* run_data = source.Take(run_bytes, out.runs);
    ReadPhoneticData(source, extended_size, out.extended_bytes);

    // 16-bit units that all fit into 8 bits are kept as 8-bit characters, unless they were split.
    size_t char_bytes = chars * (wide ? 2 : 1);
    bool in_place = !split;
    if (wide && !split) {
        if (Narrow(stored, chars, out.joined)) {
            stored = out.joined.data();
            char_bytes = chars;
            wide = false;
            in_place = false;
        }
    }
    // Characters and runs make one block, which the record holds as it is unless they were split
    // or narrowed.
    out.block = {stored, char_bytes + run_bytes};
    if (run_count > 0 && !(in_place && run_data == stored + char_bytes)) {
        if (stored != out.joined.data()) out.joined.assign(stored, stored + char_bytes);
        out.joined.insert(out.joined.end(), run_data, run_data + run_bytes);
        out.block = out.joined;
    }
    out.options = options;
    out.chars = static_cast<uint16_t>(chars);
    out.wide = wide;
    out.run_count = run_count;
    out.extended = out.extended_bytes;
}

std::u16string TBiffString::Text() const {
    std::u16string text(chars, u'\0');
    const uint8_t* p = block.data();
    for (size_t i = 0; i < chars; ++i) text[i] = wide ? static_cast<char16_t>(Get16(p + 2 * i)) : p[i];
    return text;
}

}  // namespace linograf::workbook
