#pragma once
// The BIFF8 string: a character count (16-bit, or 8-bit in a few records), an option byte, the
// run count and the phonetic data size when the option byte announces them, the characters (8-bit
// or 16-bit units), the formatting runs and the phonetic data. Every record that holds a string
// reads it here; only the shared string table lets a string go on in the CONTINUE records after
// it, where each continuation of the characters starts with an option byte of its own.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace linograf::workbook {

// Where a string is read from: the current record's bytes and the read position in them.
struct TBiffStringSource {
    TBiffStringSource(const uint8_t* record, size_t record_length, size_t at,
                      std::function<void(TBiffStringSource&)> next_record = {})
        : data(record), length(record_length), pos(at), next(std::move(next_record)) {}

    const uint8_t* data = nullptr;
    size_t length = 0;
    size_t pos = 0;
    // Moves data, length and pos to the next CONTINUE record, or raises when there is none.
    // Empty for a record whose strings must end inside it: running out raises "Record too short".
    std::function<void(TBiffStringSource&)> next;

    size_t Left() const { return length - pos; }
    // Exactly count plain bytes, going on into the next record without an option byte.
    void Read(uint8_t* target, size_t count);
    // The same where the record holds them all, else gathered into `gather`.
    const uint8_t* Take(size_t count, std::vector<uint8_t>& gather);
};

// One string as read. The characters are kept as the shared string table keeps them: 8-bit when
// the file stores them so, or stores 16-bit units that all fit into 8 bits; a string whose
// characters (or the fields before them) ran on into the next record is kept with 16-bit units
// whatever they hold, as our tables always have.
struct TBiffString {
    uint8_t options = 0;  // the option byte as read
    uint16_t chars = 0;
    bool wide = false;
    uint16_t run_count = 0;
    // The characters as kept, then the runs (4 bytes each: character position, font): in the
    // record where it holds them so, else in `joined`. Valid until the next read into this object
    // or until the record bytes go.
    std::span<const uint8_t> block;
    std::span<const uint8_t> extended;  // phonetic data, without its size

    std::span<const uint8_t> Runs() const { return block.subspan(block.size() - size_t{run_count} * 4); }
    std::u16string Text() const;

    // Room for what does not lie in the record as kept.
    std::vector<uint8_t> joined, split, runs, extended_bytes;
};

// Reads the string at source.pos and moves past it. short_count: the count is one byte. Raises
// on an option byte with bits no string has, and when the bytes end before the string does.
void ReadBiffString(TBiffStringSource& source, TBiffString& out, bool short_count = false);

}  // namespace linograf::workbook
