// Reading archives: name lookup, the end-record search, archives made by python3 zipfile,
// recovery from local headers, and refusal of damaged or hostile entries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string_view>

#include "base/memory_stream.h"
#include "tests/ooxml/zip_test_support.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "workbook/ooxml/xls_zip_archive.h"
#include "workbook/ooxml/zip_name.h"

namespace linograf::workbook::test {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> Names(const TNorvZip& zip) {
    std::vector<std::string> names;
    for (const TNorvZipEntriesEntry& entry : zip.Entries()) names.push_back(entry.FileName());
    return names;
}

TEST(ZipNames, ToZipNameDropsDrivesServersAndShares) {
    const std::pair<const char*, const char*> cases[] = {
        {"xl\\worksheets\\sheet1.xml", "xl/worksheets/sheet1.xml"},
        {"C:\\book\\xl\\workbook.xml", "book/xl/workbook.xml"},
        {"c:/xl/workbook.xml", "xl/workbook.xml"},
        {"\\\\server\\share\\xl\\workbook.xml", "xl/workbook.xml"},
        {"//server/share/a.xml", "a.xml"},
        {"//server", "server"},
        {"/xl/workbook.xml", "/xl/workbook.xml"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(ToZipName(in), out) << in;
}

TEST(ZipNames, IndexOfIgnoresSlashKindLeadingSlashAndLetterCase) {
    TMemoryStream stream(BuildArchive({{"xl/workbook.xml", "w"}, {"xl/_rels/workbook.xml.rels", "r"}}));
    TXLSZipArchive zip;
    zip.Open(stream);
    ASSERT_EQ(zip.EntryCount(), 4);  // xl/, xl/workbook.xml, xl/_rels/, xl/_rels/workbook.xml.rels
    const std::pair<const char16_t*, int> cases[] = {
        {u"xl/workbook.xml", 1},
        {u"\\xl\\workbook.xml", 1},
        {u"/xl/workbook.xml", 1},
        {u"XL/WORKBOOK.XML", 1},
        {u"C:\\xl\\workbook.xml", 1},
        {u"xl\\_RELS\\workbook.xml.rels", 3},
        {u"xl/", 0},
        {u"xl", -1},
        {u"xl/workbook", -1},
        {u"workbook.xml", -1},
        {u"", -1},
        {u"/", -1},
    };
    for (const auto& [name, index] : cases)
        EXPECT_EQ(zip.IndexOf(name), index)
            << std::string(name, name + std::char_traits<char16_t>::length(name));
}

TEST(ZipNames, StoredNamesSurviveTheSixteenBitRoundTrip) {
    // UTF-8, and bytes of some 8-bit code page that are no UTF-8.
    for (const std::string& stored :
         {std::string("\xd0\x9b\xd0\xb8\xd1\x81\xd1\x82.xml"), std::string("\xcb\xe8\xf1\xf2.xml"),
          std::string("a\xe2\x82.xml"), std::string("\xf0\x9f\x98\x80")}) {
        const std::u16string wide = ZipNameToUtf16(stored);
        EXPECT_EQ(ZipNameFromUtf16(wide), stored);
    }
    EXPECT_EQ(ZipNameToUtf16("\xd0\x9b"), u"\u041b");
    EXPECT_EQ(ZipNameToUtf16("\xf0\x9f\x98\x80"), u"\U0001F600");
}

TEST(ZipNames, ExtractingAMissingEntryNamesIt) {
    TMemoryStream stream(BuildArchive({{"a.xml", "a"}}));
    TXLSZipArchive zip;
    zip.Open(stream);
    TMemoryStream out;
    try {
        zip.ExtractToStream(u"xl/styles.xml", out);
        FAIL() << "no error";
    } catch (const EZipError& e) {
        EXPECT_STREQ(e.what(), "Can not find file xl/styles.xml in ZIP");
    }
}

TEST(ZipReading, ExtractAppendsAtThePositionAndRewinds) {
    TMemoryStream stream(BuildArchive({{"a.xml", "payload"}}));
    TXLSZipArchive zip;
    zip.Open(stream);
    TMemoryStream out(std::string("head:"));
    out.Seek(0, TSeekOrigin::soEnd);
    zip.ExtractToStream(u"A.XML", out);
    EXPECT_EQ(out.Bytes(), "head:payload");
    EXPECT_EQ(out.Position(), 0);
}

// The end record is found behind archive comments of any length up to the 65535 the field holds,
// also comments full of "P" bytes that make the search step back by four.
TEST(ZipReading, EndRecordIsFoundBehindCommentsOfAnyLength) {
    const std::string archive = BuildArchive({{"a.xml", SampleText(600)}});
    for (const std::size_t length : {0u, 1u, 233u, 234u, 300u, 1100u, 5000u, 40000u, 65535u}) {
        for (const char fill : {'x', 'P'}) {
            SCOPED_TRACE(std::to_string(length) + fill);
            std::string bytes = archive;
            Put16(bytes, bytes.size() - 2, static_cast<std::uint16_t>(length));
            bytes += std::string(length, fill);
            TMemoryStream stream(bytes);
            TNorvZip zip;
            zip.Open(stream);
            ASSERT_TRUE(zip.IsZipFile());
            EXPECT_FALSE(zip.HasBadEntries()) << "found through the end record, not rebuilt";
            EXPECT_EQ(zip.Comment(), std::string(length, fill));
            EXPECT_EQ(zip.ExtractToString(0), SampleText(600));

            // The comment is kept when the archive changes.
            zip.AddBytes("b.xml", "b");
            EXPECT_EQ(stream.Bytes().substr(stream.Bytes().size() - length), std::string(length, fill));
            TNorvZip again;
            again.Open(stream);
            EXPECT_THAT(Names(again), ElementsAre("a.xml", "b.xml"));
        }
    }
}

struct PythonFixture {
    const char* compression;
    bool seekable;  // false: python writes data descriptors after each entry's data
};

class PythonArchives : public ::testing::TestWithParam<PythonFixture> {
  protected:
    void SetUp() override {
        static const char* kScript = R"(
import io, sys, zipfile
class NoTell(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
    def tell(self): raise OSError("not seekable")
    def seekable(self): return False
method = zipfile.ZIP_DEFLATED if sys.argv[2] == "deflated" else zipfile.ZIP_STORED
with open(sys.argv[1], "wb") as raw:
    target = raw if sys.argv[3] == "1" else NoTell(raw)
    with zipfile.ZipFile(target, "w", method) as z:
        z.writestr("a.txt", b"hello world\n" * 400)
        z.writestr("dir/", b"")
        z.writestr("dir/b.bin", bytes(range(256)) * 40)
        z.writestr("empty.txt", b"")
)";
        path_ = dir_.File("python.zip");
        const auto r = linograf::test::RunPython(
            kScript, {path_, GetParam().compression, GetParam().seekable ? "1" : "0"});
        ASSERT_EQ(r.exit_code, 0) << r.errors;
        std::string bytes;
        for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
        std::string hello;
        for (int i = 0; i < 400; ++i) hello += "hello world\n";
        std::string bin;
        for (int i = 0; i < 40; ++i) bin += bytes;
        expected_ = {{"a.txt", hello}, {"dir/", ""}, {"dir/b.bin", bin}, {"empty.txt", ""}};
    }

    linograf::test::TempDir dir_;
    std::string path_;
    std::vector<Part> expected_;
};

TEST_P(PythonArchives, EveryEntryReadsBack) {
    TMemoryStream stream(linograf::test::ReadFileBytes(path_));
    TXLSZipArchive zip;
    zip.Open(stream);
    ASSERT_TRUE(zip.IsZipFile());
    EXPECT_FALSE(zip.Zip().HasBadEntries());
    ASSERT_EQ(zip.EntryCount(), static_cast<int>(expected_.size()));
    for (int i = 0; i < zip.EntryCount(); ++i) {
        EXPECT_EQ(zip.EntryName(i), U16(expected_[static_cast<std::size_t>(i)].name));
        TMemoryStream out;
        zip.ExtractToStream(zip.EntryName(i), out);
        EXPECT_TRUE(out.Bytes() == expected_[static_cast<std::size_t>(i)].data)
            << expected_[static_cast<std::size_t>(i)].name;
    }
    EXPECT_TRUE(zip.Zip().Entries()[1].Folder);
}

// Replacing and removing entries of a foreign archive cuts out exactly their local parts, data
// descriptors included.
TEST_P(PythonArchives, ChangedArchiveStaysValidForPeers) {
    TMemoryStream stream(linograf::test::ReadFileBytes(path_));
    TXLSZipArchive zip;
    zip.Open(stream);
    TMemoryStream replacement(std::string("replaced"));
    zip.AddStream(u"", u"A.TXT", replacement);
    zip.Zip().RemoveEntry(zip.IndexOf(u"empty.txt"));
    zip.Close();

    linograf::test::WriteFileBytes(path_, stream.Bytes());
    const PeerListing listing = ReadWithPython(path_);
    ASSERT_EQ(listing.error, "");
    ASSERT_EQ(listing.entries.size(), 3u);
    EXPECT_EQ(listing.entries[0].name, "dir/");
    EXPECT_EQ(listing.entries[1].name, "dir/b.bin");
    EXPECT_TRUE(listing.entries[1].data == expected_[2].data);
    EXPECT_EQ(listing.entries[2].name, "A.TXT");
    EXPECT_EQ(listing.entries[2].data, "replaced");
}

INSTANTIATE_TEST_SUITE_P(StoredAndDeflated, PythonArchives,
                         ::testing::Values(PythonFixture{"stored", true}, PythonFixture{"deflated", true},
                                           PythonFixture{"stored", false}, PythonFixture{"deflated", false}),
                         [](const ::testing::TestParamInfo<PythonFixture>& info) {
                             return std::string(info.param.compression) +
                                    (info.param.seekable ? "" : "WithDataDescriptors");
                         });

// Without an end record (a file cut short while it was written) the entries come from the local
// headers; adding to such an archive writes a complete one again.
TEST(ZipReading, EntriesAreRecoveredFromLocalHeaders) {
    const std::vector<Part> parts = {
        {"a.xml", SampleText(2000)}, {"b.bin", RandomBytes(3000, 5)}, {"c.xml", "c"}};
    const std::string archive = BuildArchiveWithoutFolders(parts);
    const std::size_t directory = Get32(archive, EndRecordOffset(archive) + 16);
    const std::size_t third = Get32(archive, CentralRecordOffset(archive, 2) + 42);
    struct Cut {
        std::size_t size;
        std::size_t entries;
    };
    for (const Cut cut : {Cut{directory, 3}, Cut{directory + 30, 3}, Cut{third + 10, 2}, Cut{third - 1, 1}}) {
        SCOPED_TRACE(cut.size);
        TMemoryStream stream(archive.substr(0, cut.size));
        TNorvZip zip;
        zip.Open(stream);
        ASSERT_TRUE(zip.IsZipFile());
        EXPECT_TRUE(zip.HasBadEntries());
        ASSERT_EQ(static_cast<std::size_t>(zip.Entries().Count()), cut.entries);
        for (std::size_t i = 0; i < cut.entries; ++i) {
            EXPECT_EQ(zip.Entries()[static_cast<int>(i)].FileName(), parts[i].name);
            EXPECT_TRUE(zip.ExtractToString(static_cast<int>(i)) == parts[i].data);
        }
        zip.AddBytes("d.xml", "d");
        linograf::test::TempDir dir;
        linograf::test::WriteFileBytes(dir.File("r.zip"), stream.Bytes());
        const PeerListing listing = ReadWithPython(dir.File("r.zip"));
        EXPECT_EQ(listing.error, "");
        EXPECT_EQ(listing.entries.size(), cut.entries + 1);
    }
}

// Whatever the stream holds, opening it neither fails nor changes it; what is no archive leaves
// the archive closed and empty.
TEST(ZipReading, StreamsThatHoldNoArchiveLeaveItClosed) {
    const std::string good = BuildArchiveWithoutFolders({{"a.xml", "a"}, {"b.xml", "b"}});
    const std::size_t end = EndRecordOffset(good);
    std::vector<std::pair<std::string, std::string>> cases = {
        {"empty", ""},
        {"21 bytes", std::string("PK\x05\x06", 4) + std::string(17, '\0')},
        {"text", SampleText(5000)},
        {"random", RandomBytes(70000, 11)},
        {"local header alone", good.substr(0, 20)},
    };
    auto patched = [&](const char* what, std::size_t at, std::uint32_t value, int width) {
        std::string bytes = good;
        width == 2 ? Put16(bytes, at, static_cast<std::uint16_t>(value)) : Put32(bytes, at, value);
        cases.emplace_back(what, bytes);
    };
    patched("directory offset beyond the end", end + 16, 0x7FFFFFF0, 4);
    patched("directory offset after the end record", end + 16, static_cast<std::uint32_t>(end + 4), 4);
    patched("more entries than the directory holds", end + 8, 3, 2);
    patched("65535 entries announced", end + 8, 65535, 2);
    patched("central record without signature", CentralRecordOffset(good, 1), 0x02014b51, 4);
    patched("name running into the end record", CentralRecordOffset(good, 1) + 28, 40, 2);
    patched("comment longer than the directory", CentralRecordOffset(good, 0) + 32, 0xFFFF, 2);

    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        TMemoryStream stream(bytes);
        TXLSZipArchive zip;
        zip.Open(stream);
        EXPECT_FALSE(zip.IsZipFile());
        EXPECT_EQ(zip.EntryCount(), 0);
        EXPECT_EQ(stream.Bytes(), bytes);
    }
}

TEST(ZipReading, MissingLocalHeaderMarksBadEntries) {
    std::string bytes = BuildArchiveWithoutFolders({{"a.xml", "a"}, {"b.xml", "b"}});
    Put32(bytes, CentralRecordOffset(bytes, 1) + 42, 0xFFFFFF00);  // b's local header far beyond the end
    TMemoryStream stream(bytes);
    TNorvZip zip;
    zip.Open(stream);
    ASSERT_TRUE(zip.IsZipFile());
    EXPECT_TRUE(zip.HasBadEntries());
    EXPECT_EQ(zip.ExtractToString(0), "a");
    EXPECT_THROW(zip.ExtractToString(1), EZipError);
}

// Damaged or hostile entries raise a clear error rather than giving back wrong or no data, and
// never make extraction allocate what the stream does not hold.
TEST(ZipReading, DamagedEntriesAreRefusedWithClearErrors) {
    const std::string text(5000, 'a');
    const std::string good = BuildArchiveWithoutFolders({{"a.txt", text}});
    const std::size_t central = CentralRecordOffset(good, 0);
    const std::size_t data = 30 + 5;
    struct Damage {
        const char* what;
        std::size_t at;
        std::uint32_t value;
        int width;  // 1, 2 or 4 bytes
        const char* message;
    };
    const std::uint32_t crc = Get32(good, central + 16);
    const std::uint32_t packed = Get32(good, central + 20);
    const Damage cases[] = {
        {"crc", central + 16, crc ^ 1, 4, "CRC error in file a.txt in ZIP"},
        {"size one more", central + 24, 5001, 4, "Size mismatch in file a.txt in ZIP"},
        {"size one less", central + 24, 4999, 4, "Size mismatch in file a.txt in ZIP"},
        {"more than 1 GiB", central + 24, (1u << 30) + 1, 4, "File a.txt in ZIP is too large"},
        {"ratio beyond 1000", central + 20, 4, 4, "File a.txt in ZIP expands more than 1000 times"},
        {"compressed size beyond the end", central + 20, 0x7FFFFFFF, 4,
         "Data of file a.txt lies beyond the end of the ZIP"},
        {"local header moved", central + 42, 1, 4, "Bad local header of file a.txt in ZIP"},
        {"local name length beyond the end", 26, 0xFFFF, 2,
         "Data of file a.txt lies beyond the end of the ZIP"},
        {"invalid deflate block", data, 0xFF, 1, "ZLib decompress error"},
        {"method 12", central + 10, 12, 2, "Cannot process this file: a.txt "},
        {"encrypted", central + 8, 1, 2, "Cannot process this file: a.txt "},
        {"stored with sizes that differ", central + 10, 0, 2, "Size mismatch in file a.txt in ZIP"},
    };
    ASSERT_LT(packed, 200u);
    for (const Damage& d : cases) {
        SCOPED_TRACE(d.what);
        std::string bytes = good;
        if (d.width == 1) bytes.at(d.at) = static_cast<char>(d.value);
        if (d.width == 2) Put16(bytes, d.at, static_cast<std::uint16_t>(d.value));
        if (d.width == 4) Put32(bytes, d.at, d.value);
        TMemoryStream stream(bytes);
        TNorvZip zip;
        zip.Open(stream);
        ASSERT_EQ(zip.Entries().Count(), 1);
        try {
            zip.ExtractToString(0);
            ADD_FAILURE() << "no error";
        } catch (const EZipError& e) {
            EXPECT_STREQ(e.what(), d.message);
        }
        // Read in pieces by a consumer that gives up at once (as the XML parser does on damaged
        // bytes), the entry's own error still comes out, not the consumer's.
        try {
            zip.ExtractInPieces(0, [](std::string_view) { throw std::runtime_error("consumer gave up"); });
            ADD_FAILURE() << "no error";
        } catch (const EZipError& e) {
            EXPECT_STREQ(e.what(), d.message);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
    }
}

TEST(ZipReading, EntriesReadInPiecesGiveTheSameBytes) {
    // Varied text, so the deflated entry is long and its inflated bytes come in several pieces.
    std::string text;
    for (int i = 0; text.size() < 3000000; ++i)
        text += "<c r=\"A" + std::to_string(i * 7919 % 100003) + "\"/>";
    TMemoryStream stream(BuildArchiveWithoutFolders({{"a.xml", text}, {"b.xml", ""}}));
    TNorvZip zip;
    zip.Open(stream);
    ASSERT_EQ(zip.Entries().Count(), 2);
    std::string joined;
    int pieces = 0;
    zip.ExtractInPieces(0, [&](std::string_view piece) {
        joined += piece;
        ++pieces;
    });
    EXPECT_TRUE(joined == text);
    EXPECT_GT(pieces, 1) << "the entry was held whole";
    zip.ExtractInPieces(1,
                        [](std::string_view piece) { ADD_FAILURE() << "empty entry gave " << piece.size(); });

    // A sound entry: what the consumer throws comes out unchanged.
    EXPECT_THROW(zip.ExtractInPieces(0, [](std::string_view) { throw std::logic_error("stop"); }),
                 std::logic_error);
}

TEST(ZipReading, StoredEntryIsCheckedLikeADeflatedOne) {
    // A stored entry with data, as other programs write it.
    linograf::test::TempDir dir;
    const auto r = linograf::test::RunPython(
        "import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z: z.writestr('s.txt', b'stored "
        "bytes')",
        {dir.File("s.zip")});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    std::string bytes = linograf::test::ReadFileBytes(dir.File("s.zip"));
    TMemoryStream good(bytes);
    TNorvZip stored;
    stored.Open(good);
    ASSERT_EQ(stored.Entries()[0].central.method, 0);
    EXPECT_EQ(stored.ExtractToString(0), "stored bytes");
    std::string pieces;
    stored.ExtractInPieces(0, [&](std::string_view piece) { pieces += piece; });
    EXPECT_EQ(pieces, "stored bytes");

    bytes[30 + 5] ^= 0x20;  // one bit of the data
    TMemoryStream damaged(bytes);
    TNorvZip broken;
    broken.Open(damaged);
    EXPECT_THROW(
        {
            try {
                broken.ExtractToString(0);
            } catch (const EZipError& e) {
                EXPECT_STREQ(e.what(), "CRC error in file s.txt in ZIP");
                throw;
            }
        },
        EZipError);
    EXPECT_THROW(broken.ExtractInPieces(0, [](std::string_view) {}), EZipError);
}

}  // namespace
}  // namespace linograf::workbook::test
