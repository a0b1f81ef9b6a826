// The one reader of BIFF8 strings, on strings laid out by hand from the record format: counts,
// option bits, runs, phonetic data, strings going on in the next record, and the errors of short
// or strange ones.
#include "workbook/biff/biff_string.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/workbook/biff_reader_test_support.h"

namespace linograf::workbook {
namespace {

using biffreadtest::Bytes;
using Runs = std::vector<std::pair<uint16_t, uint16_t>>;

struct Read {
    std::u16string text;
    bool wide = false;
    Runs runs;
    std::string extended;
    size_t record = 0;  // where the read ended: record number and position in it
    size_t pos = 0;
};

// Reads one string from the first record, going on into the others as the shared string table
// does.
Read ReadFrom(const std::vector<std::string>& records, bool short_count = false, bool continues = true) {
    size_t current = 0;
    auto bytes = [&](size_t i) { return reinterpret_cast<const uint8_t*>(records[i].data()); };
    TBiffStringSource source(bytes(0), records[0].size(), 0);
    if (continues)
        source.next = [&](TBiffStringSource& s) {
            if (++current >= records.size()) throw std::runtime_error("no more records");
            s.data = bytes(current);
            s.length = records[current].size();
            s.pos = 0;
        };
    TBiffString s;
    ReadBiffString(source, s, short_count);
    Read r{s.Text(), s.wide, {}, std::string(s.extended.begin(), s.extended.end()), current, source.pos};
    const auto runs = s.Runs();
    for (size_t i = 0; i < s.run_count; ++i)
        r.runs.push_back({static_cast<uint16_t>(runs[4 * i] | (runs[4 * i + 1] << 8)),
                          static_cast<uint16_t>(runs[4 * i + 2] | (runs[4 * i + 3] << 8))});
    return r;
}

std::string ErrorOf(const std::vector<std::string>& records, bool continues) {
    try {
        ReadFrom(records, false, continues);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

TEST(BiffString, LayoutsOfOneRecord) {
    struct Case {
        const char* what;
        std::string record;
        bool short_count;
        Read expected;
    };
    const Case cases[] = {
        {"8-bit", Bytes().U16(3).U8(0).Raw("abc").Raw("tail"), false, {u"abc", false, {}, "", 0, 6}},
        {"16-bit Cyrillic", Bytes().U16(2).U8(1).U16(0x0416).U16(0x0430), false, {u"Жа", true, {}, "", 0, 7}},
        {"16-bit units that fit in 8 bits",
         Bytes().U16(2).U8(1).U16('h').U16('i'),
         false,
         {u"hi", false, {}, "", 0, 7}},
        {"runs",
         Bytes().U16(2).U8(0x08).U16(2).Raw("hi").U16(0).U16(5).U16(1).U16(6),
         false,
         {u"hi", false, {{0, 5}, {1, 6}}, "", 0, 15}},
        {"16-bit with a run",
         Bytes().U16(1).U8(0x09).U16(1).U16(0x0436).U16(0).U16(7),
         false,
         {u"ж", true, {{0, 7}}, "", 0, 11}},
        {"phonetic data",
         Bytes().U16(1).U8(0x04).U32(3).Raw("z").Raw("ext"),
         false,
         {u"z", false, {}, "ext", 0, 11}},
        {"runs and phonetic data",
         Bytes().U16(1).U8(0x0C).U16(1).U32(2).Raw("q").U16(0).U16(9).Raw("ph"),
         false,
         {u"q", false, {{0, 9}}, "ph", 0, 16}},
        {"empty", Bytes().U16(0).U8(0), false, {u"", false, {}, "", 0, 3}},
        {"one-byte count", Bytes().U8(3).U8(0).Raw("abc"), true, {u"abc", false, {}, "", 0, 5}},
        {"one-byte count, 16-bit", Bytes().U8(1).U8(1).U16(0x044F), true, {u"я", true, {}, "", 0, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Read r = ReadFrom({c.record}, c.short_count, false);
        EXPECT_EQ(r.text, c.expected.text);
        EXPECT_EQ(r.wide, c.expected.wide);
        EXPECT_EQ(r.runs, c.expected.runs);
        EXPECT_EQ(r.extended, c.expected.extended);
        EXPECT_EQ(r.pos, c.expected.pos);
    }
}

// Characters that go on in the next record start there with an option byte of their own, which
// may switch between 8-bit and 16-bit; such a string is kept with 16-bit units. Runs and phonetic
// data go on without one.
TEST(BiffString, StringsGoingOnInTheNextRecord) {
    struct Case {
        const char* what;
        std::vector<std::string> records;
        Read expected;
    };
    const Case cases[] = {
        {"8-bit, then 16-bit",
         {Bytes().U16(4).U8(0).Raw("ab"), Bytes().U8(1).U16('c').U16(0x0434)},
         {u"abcд", true, {}, "", 1, 5}},
        {"16-bit, then 8-bit",
         {Bytes().U16(3).U8(1).U16(0x0416), Bytes().U8(0).Raw("xy").Raw("next")},
         {u"Жxy", true, {}, "", 1, 3}},
        {"over three records",
         {Bytes().U16(3).U8(0).Raw("a"), Bytes().U8(0).Raw("b"), Bytes().U8(0).Raw("c")},
         {u"abc", true, {}, "", 2, 2}},
        {"8-bit characters that fit, runs after them",
         {Bytes().U16(2).U8(0x08).U16(2).Raw("xy").U16(0), Bytes().U16(1).U16(1).U16(2)},
         {u"xy", false, {{0, 1}, {1, 2}}, "", 1, 6}},
        {"phonetic data across",
         {Bytes().U16(1).U8(0x04).U32(4).Raw("z").Raw("ab"), Bytes().Raw("cd")},
         {u"z", false, {}, "abcd", 1, 2}},
        {"head across", {Bytes().U16(2), Bytes().U8(0).Raw("ok")}, {u"ok", false, {}, "", 1, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Read r = ReadFrom(c.records);
        EXPECT_EQ(r.text, c.expected.text);
        EXPECT_EQ(r.wide, c.expected.wide);
        EXPECT_EQ(r.runs, c.expected.runs);
        EXPECT_EQ(r.extended, c.expected.extended);
        EXPECT_EQ(r.record, c.expected.record);
        EXPECT_EQ(r.pos, c.expected.pos);
    }
}

TEST(BiffString, ShortAndStrangeStringsAreRefused) {
    struct Case {
        const char* what;
        std::vector<std::string> records;
        bool continues;
        std::string message;
    };
    const Case cases[] = {
        {"characters beyond the record", {Bytes().U16(5).U8(0).Raw("abc")}, false, "Record too short"},
        {"half a 16-bit unit", {Bytes().U16(2).U8(1).U16('a').U8('b')}, false, "Record too short"},
        {"no option byte", {Bytes().U16(1)}, false, "Record too short"},
        {"runs beyond the record",
         {Bytes().U16(1).U8(0x08).U16(1).Raw("a").U16(0)},
         false,
         "Record too short"},
        {"phonetic data beyond the record",
         {Bytes().U16(1).U8(0x04).U32(10).Raw("a")},
         false,
         "Record too short"},
        {"unknown option bits",
         {Bytes().U16(2).U8(0x02).Raw("ab")},
         false,
         "STT: Unhandled string type in Read (02)"},
        {"no next record", {Bytes().U16(4).U8(0).Raw("ab")}, true, "no more records"},
        {"empty next record", {Bytes().U16(4).U8(0).Raw("ab"), ""}, true, "Invalid SST record"},
        {"half a unit before the next record",
         {Bytes().U16(2).U8(1).U16('a').U8('b'), Bytes().U8(1).U16('c')},
         true,
         "Invalid SST record"},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.records, c.continues), c.message) << c.what;
}

}  // namespace
}  // namespace linograf::workbook
