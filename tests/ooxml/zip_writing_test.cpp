// Writing archives: the records of a new package, folder entries, replacement and removal, and
// acceptance of what we write by python3 zipfile and unzip.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/file_stream.h"
#include "base/memory_stream.h"
#include "tests/ooxml/zip_test_support.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "workbook/ooxml/xls_zip_archive.h"
#include "workbook/ooxml/zip_deflate.h"
#include "workbook/ooxml/zip_name.h"

namespace linograf::workbook::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::string> EntryNames(const TXLSZipArchive& zip) {
    std::vector<std::string> names;
    for (int i = 0; i < zip.EntryCount(); ++i) {
        const std::u16string name = zip.EntryName(i);
        names.emplace_back(name.begin(), name.end());
    }
    return names;
}

std::string Extract(TXLSZipArchive& zip, const std::string& name) {
    TMemoryStream out;
    zip.ExtractToStream(U16(name), out);
    EXPECT_EQ(out.Position(), 0);
    return out.Bytes();
}

// Python's view of an archive we wrote must be exactly the parts we put in.
void ExpectPeersRead(const std::string& archive, const std::vector<Part>& expected) {
    linograf::test::TempDir dir;
    const std::string path = dir.File("package.zip");
    linograf::test::WriteFileBytes(path, archive);
    const PeerListing listing = ReadWithPython(path);
    ASSERT_EQ(listing.error, "");
    ASSERT_EQ(listing.entries.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(listing.entries[i].name, expected[i].name);
        EXPECT_TRUE(listing.entries[i].data == expected[i].data) << "content of " << expected[i].name;
    }
    if (!expected.empty()) {
        const auto [code, output] = TestWithUnzip(path);
        EXPECT_EQ(code, 0) << output;
        EXPECT_THAT(output, HasSubstr("No errors detected"));
    }
}

TEST(ZipWriting, CreateNewGivesTheEmptyArchiveOf22Bytes) {
    TMemoryStream stream;
    TXLSZipArchive zip;
    zip.CreateNew(stream);
    EXPECT_TRUE(zip.IsZipFile());
    EXPECT_EQ(zip.EntryCount(), 0);
    EXPECT_EQ(stream.Bytes(), std::string("PK\x05\x06", 4) + std::string(18, '\0'));

    TXLSZipArchive again;
    again.Open(stream);
    EXPECT_TRUE(again.IsZipFile());
    EXPECT_EQ(again.EntryCount(), 0);
    ExpectPeersRead(stream.Bytes(), {});
}

// Every field of both records, read by offset: a folder entry and a deflated part.
TEST(ZipWriting, NewPartComesAfterItsFolderEntryWithTheRecordsAsWritten) {
    const std::string xml = "<workbook/>";
    const std::string archive = BuildArchive({{"xl/workbook.xml", xml}});
    const std::string deflated = DeflateRaw(xml, 1);
    const std::uint32_t dos = DateTimeToDos(FixedTime());

    struct Expected {
        std::string name;
        std::uint16_t method;
        std::uint32_t crc, packed, size, attributes;
    };
    const Expected entries[] = {
        {"xl/", 0, 0, 0, 0, 16},
        {"xl/workbook.xml", 8, Crc32(xml), static_cast<std::uint32_t>(deflated.size()),
         static_cast<std::uint32_t>(xml.size()), 32},
    };
    std::size_t local = 0;
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(entries[i].name);
        const Expected& e = entries[i];
        EXPECT_EQ(Get32(archive, local), 0x04034b50u);
        EXPECT_EQ(Get16(archive, local + 4), 20);
        EXPECT_EQ(Get16(archive, local + 6), 0);
        EXPECT_EQ(Get16(archive, local + 8), e.method);
        EXPECT_EQ(Get32(archive, local + 10), dos);
        EXPECT_EQ(Get32(archive, local + 14), e.crc);
        EXPECT_EQ(Get32(archive, local + 18), e.packed);
        EXPECT_EQ(Get32(archive, local + 22), e.size);
        EXPECT_EQ(Get16(archive, local + 26), e.name.size());
        EXPECT_EQ(Get16(archive, local + 28), 0);
        EXPECT_EQ(archive.substr(local + 30, e.name.size()), e.name);
        if (e.method == 8) {
            EXPECT_EQ(archive.substr(local + 30 + e.name.size(), e.packed), deflated);
        }

        const std::size_t central = CentralRecordOffset(archive, i);
        EXPECT_EQ(Get16(archive, central + 4), 20);  // made by
        EXPECT_EQ(Get16(archive, central + 6), 20);  // needed
        EXPECT_EQ(archive.substr(central + 8, 22), archive.substr(local + 6, 22))
            << "flags, method, time, date, crc, sizes and name length as in the local header";
        EXPECT_EQ(Get16(archive, central + 30), 0);
        EXPECT_EQ(Get16(archive, central + 32), 0);
        EXPECT_EQ(Get16(archive, central + 34), 0);
        EXPECT_EQ(Get16(archive, central + 36), 0);
        EXPECT_EQ(Get32(archive, central + 38), e.attributes);
        EXPECT_EQ(Get32(archive, central + 42), local);
        EXPECT_EQ(archive.substr(central + 46, e.name.size()), e.name);
        local += 30 + e.name.size() + e.packed;
    }
    const std::size_t end = EndRecordOffset(archive);
    EXPECT_EQ(Get32(archive, end + 16), local) << "central directory right after the last local part";
    EXPECT_EQ(Get32(archive, end + 12), end - local);
    EXPECT_EQ(Get16(archive, end + 8), 2);
    EXPECT_EQ(Get16(archive, end + 10), 2);
    EXPECT_EQ(Get16(archive, end + 20), 0);
}

TEST(ZipWriting, FolderEntriesAreAddedOnceForEveryLevel) {
    TMemoryStream stream;
    TXLSZipArchive zip;
    zip.CreateNew(stream);
    TMemoryStream part(std::string("<x/>"));
    zip.AddStream(u"xl/worksheets/", u"sheet1.xml", part);
    zip.AddStream(u"xl/", u"styles.xml", part);
    zip.AddStream(u"xl/worksheets/_rels/", u"sheet1.xml.rels", part);
    zip.AddStream(u"", u"[Content_Types].xml", part);
    EXPECT_THAT(EntryNames(zip), ElementsAre("xl/", "xl/worksheets/", "xl/worksheets/sheet1.xml",
                                             "xl/styles.xml", "xl/worksheets/_rels/",
                                             "xl/worksheets/_rels/sheet1.xml.rels", "[Content_Types].xml"));
    for (int i : {0, 1, 4}) {
        EXPECT_TRUE(zip.Zip().Entries()[i].Folder);
        EXPECT_EQ(zip.Zip().Entries()[i].central.method, 0);
    }
    EXPECT_EQ(Extract(zip, "xl/worksheets/sheet1.xml"), "<x/>");
}

TEST(ZipWriting, EmptyStreamBecomesAStoredEntryWithoutData) {
    TMemoryStream stream;
    TXLSZipArchive zip;
    zip.CreateNew(stream);
    TMemoryStream empty;
    zip.AddStream(u"", u"empty.txt", empty);
    const TNorvZipEntriesEntry& entry = zip.Zip().Entries()[0];
    EXPECT_EQ(entry.central.method, 0);
    EXPECT_EQ(entry.central.crc32, 0u);
    EXPECT_EQ(entry.central.compressed_size, 0u);
    EXPECT_EQ(entry.central.uncompressed_size, 0u);
    EXPECT_EQ(entry.central.external_attributes, 32u);
    EXPECT_EQ(Extract(zip, "empty.txt"), "");
    EXPECT_EQ(stream.Size(), 30 + 9 + 46 + 9 + 22);
    ExpectPeersRead(stream.Bytes(), {{"empty.txt", ""}});
}

// The replaced entry's bytes are cut out exactly: the result equals an archive that never held
// the old content, whatever letter case the new name has.
TEST(ZipWriting, AddingAnExistingNameInAnyCaseReplacesTheEntry) {
    const std::string old_text = SampleText(5000);
    const std::string new_text = "new workbook";
    for (const char* replacement :
         {"xl/workbook.xml", "XL/WORKBOOK.XML", "xl\\Workbook.xml", "/xl/workbook.xml"}) {
        SCOPED_TRACE(replacement);
        TMemoryStream stream;
        TXLSZipArchive zip;
        zip.Zip().SetEntryDateTime(FixedTime());
        zip.CreateNew(stream);
        TMemoryStream a(old_text), b(std::string("styles")), c(new_text);
        zip.AddStream(u"", u"xl/workbook.xml", a);
        zip.AddStream(u"", u"xl/styles.xml", b);
        zip.AddStream(u"", U16(replacement), c);

        std::string stored = ToZipName(replacement);
        if (stored.front() == '/') stored.erase(0, 1);  // never stored with a leading "/"
        EXPECT_THAT(EntryNames(zip), ElementsAre("xl/", "xl/styles.xml", stored));
        EXPECT_EQ(Extract(zip, "xl/workbook.xml"), new_text);
        EXPECT_EQ(stream.Bytes(), BuildArchive({{"xl/styles.xml", "styles"}, {stored, new_text}}));
    }
}

TEST(ZipWriting, RemovingAnyEntryLeavesTheArchiveOfTheOthers) {
    const std::vector<Part> parts = {{"a.xml", SampleText(3000)},
                                     {"b/c.bin", RandomBytes(2000, 7)},
                                     {"empty", ""},
                                     {"d.xml", SampleText(100)}};
    for (int removed = 0; removed < static_cast<int>(parts.size()); ++removed) {
        SCOPED_TRACE(removed);
        TMemoryStream stream(BuildArchiveWithoutFolders(parts));
        TNorvZip zip;
        zip.Open(stream);
        zip.RemoveEntry(removed);
        std::vector<Part> rest = parts;
        rest.erase(rest.begin() + removed);
        EXPECT_EQ(stream.Bytes(), BuildArchiveWithoutFolders(rest));
        for (int i = 0; i < zip.Entries().Count(); ++i)
            EXPECT_EQ(zip.ExtractToString(i), rest[static_cast<std::size_t>(i)].data);
    }
}

TEST(ZipWriting, RebuildAllGivesTheSameArchiveAsFastSave) {
    const std::vector<Part> parts = {
        {"a.xml", SampleText(3000)}, {"b/c.bin", RandomBytes(2000, 9)}, {"d.xml", "d"}};
    TMemoryStream stream(BuildArchiveWithoutFolders(parts));
    TNorvZip zip;
    zip.SetSaveMethod(TZipSaveMethod::RebuildAll);
    zip.SetStoreFolders(false);
    zip.SetEntryDateTime(FixedTime());
    int rebuilds = 0;
    zip.OnRebuildZip = [&] { ++rebuilds; };
    zip.Open(stream);
    zip.RemoveEntry(1);
    zip.AddBytes("A.XML", "replaced");
    EXPECT_GE(rebuilds, 2);
    EXPECT_EQ(stream.Bytes(), BuildArchiveWithoutFolders({{"d.xml", "d"}, {"A.XML", "replaced"}}));
}

// Data descriptors come with their optional signature (16 bytes) or without it (12 bytes); removing
// an entry must cut out exactly its own descriptor either way.
TEST(ZipWriting, RemovalCutsDataDescriptorsWithAndWithoutSignature) {
    for (const bool signature : {true, false}) {
        SCOPED_TRACE(signature ? "with signature" : "without signature");
        const std::vector<Part> parts = {
            {"first.xml", SampleText(4000)}, {"second.xml", SampleText(900)}, {"third.xml", "3"}};
        std::string archive;
        std::vector<TCentralDirectoryFile> centrals;
        for (const Part& part : parts) {
            const std::string packed = DeflateRaw(part.data, 6);
            TLocalFile local;
            local.flags = kFlagDataDescriptor;
            local.method = kMethodDeflated;
            local.name_length = static_cast<std::uint16_t>(part.name.size());
            local.name = part.name;
            TCentralDirectoryFile central;
            central.flags = kFlagDataDescriptor;
            central.method = kMethodDeflated;
            central.crc32 = Crc32(part.data);
            central.compressed_size = static_cast<std::uint32_t>(packed.size());
            central.uncompressed_size = static_cast<std::uint32_t>(part.data.size());
            central.name_length = local.name_length;
            central.name = part.name;
            central.external_attributes = kAttrArchive;
            central.local_header_offset = static_cast<std::uint32_t>(archive.size());
            archive += local.Encode() + packed;
            std::string descriptor(signature ? 16 : 12, '\0');
            std::size_t at = 0;
            if (signature) {
                Put32(descriptor, 0, kDataDescriptorSignature);
                at = 4;
            }
            Put32(descriptor, at, central.crc32);
            Put32(descriptor, at + 4, central.compressed_size);
            Put32(descriptor, at + 8, central.uncompressed_size);
            archive += descriptor;
            centrals.push_back(central);
        }
        TEndOfCentralDir end;
        end.central_dir_offset = static_cast<std::uint32_t>(archive.size());
        for (const TCentralDirectoryFile& c : centrals) archive += c.Encode();
        end.central_dir_size = static_cast<std::uint32_t>(archive.size() - end.central_dir_offset);
        end.entries_this_disk = end.entries_total = 3;
        archive += end.Encode();

        TMemoryStream stream(archive);
        TNorvZip zip;
        zip.Open(stream);
        ASSERT_EQ(zip.Entries().Count(), 3);
        EXPECT_FALSE(zip.HasBadEntries());
        EXPECT_EQ(zip.ExtractToString(0), parts[0].data);
        zip.RemoveEntry(0);
        EXPECT_EQ(zip.ExtractToString(0), parts[1].data);
        EXPECT_EQ(zip.ExtractToString(1), parts[2].data);
        ExpectPeersRead(stream.Bytes(), {parts[1], parts[2]});
    }
}

TEST(ZipWriting, RemovingTheLastEntryLeavesTheEmptyArchive) {
    TMemoryStream stream(BuildArchiveWithoutFolders({{"only.txt", "text"}}));
    TNorvZip zip;
    zip.Open(stream);
    zip.RemoveEntry(0);
    EXPECT_EQ(stream.Bytes(), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    EXPECT_EQ(zip.Entries().Count(), 0);
}

TEST(ZipWriting, EveryCompressionTypeRoundTripsAtItsLevel) {
    const std::string text = SampleText(200000);
    struct Case {
        TZipCompressionType type;
        int level;
    };
    const Case cases[] = {{TZipCompressionType::ctMaximum, 9},   {TZipCompressionType::ctFast, 1},
                          {TZipCompressionType::ctSuperFast, 1}, {TZipCompressionType::ctNone, 0},
                          {TZipCompressionType::ctNormal, -1},   {TZipCompressionType::ctUnknown, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.type));
        TMemoryStream stream;
        TXLSZipArchive zip;
        zip.Zip().SetCompressionType(c.type);
        zip.CreateNew(stream);
        TMemoryStream part(text);
        zip.AddStream(u"", u"sheet.xml", part);
        const TNorvZipEntriesEntry& entry = zip.Zip().Entries()[0];
        EXPECT_EQ(entry.central.method, 8);
        EXPECT_EQ(entry.central.compressed_size, DeflateRaw(text, c.level).size());
        EXPECT_EQ(Extract(zip, "sheet.xml"), text);
    }
}

TEST(ZipWriting, PeersAcceptWhatWeWrite) {
    const std::vector<Part> parts = {{"[Content_Types].xml", SampleText(700)},
                                     {"xl/workbook.xml", SampleText(300000)},
                                     {"xl/media/image1.bin", RandomBytes(70000, 3)},
                                     {"xl/empty.xml", ""},
                                     {"docProps/app.xml", "x"}};
    const std::string archive = BuildArchive(parts);
    ExpectPeersRead(archive, {{"[Content_Types].xml", parts[0].data},
                              {"xl/", ""},
                              {"xl/workbook.xml", parts[1].data},
                              {"xl/media/", ""},
                              {"xl/media/image1.bin", parts[2].data},
                              {"xl/empty.xml", ""},
                              {"docProps/", ""},
                              {"docProps/app.xml", "x"}});
}

// A package written straight into a file, parts replaced on the way, as the writer does when it
// copies a source package and then regenerates its parts.
TEST(ZipWriting, ArchiveOnAFileStaysValidThroughReplacements) {
    linograf::test::TempDir dir;
    const std::string path = dir.File("book.xlsx");
    {
        TFileStream file(path, TFileMode::fmCreate);
        TXLSZipArchive zip;
        zip.CreateNew(file);
        for (const char* name : {"xl/workbook.xml", "xl/styles.xml", "xl/worksheets/sheet1.xml"}) {
            TMemoryStream part(SampleText(10000) + name);
            zip.AddStream(u"", U16(name), part);
        }
        TMemoryStream shorter(std::string("short")), longer(SampleText(50000));
        zip.AddStream(u"", u"xl/workbook.xml", shorter);
        zip.AddStream(u"xl/", u"STYLES.xml", longer);
        zip.Close();
    }
    ExpectPeersRead(linograf::test::ReadFileBytes(path),
                    {{"xl/", ""},
                     {"xl/worksheets/", ""},
                     {"xl/worksheets/sheet1.xml", SampleText(10000) + "xl/worksheets/sheet1.xml"},
                     {"xl/workbook.xml", "short"},
                     {"xl/STYLES.xml", SampleText(50000)}});
}

TEST(ZipWriting, SameContentAndFixedTimeGiveTheSameBytesAndTheTimeReachesPeers) {
    const std::vector<Part> parts = {{"a/b.xml", SampleText(1000)}, {"c.xml", "c"}};
    const std::string first = BuildArchive(parts);
    EXPECT_EQ(first, BuildArchive(parts));

    linograf::test::TempDir dir;
    linograf::test::WriteFileBytes(dir.File("t.zip"), first);
    const auto r = linograf::test::RunPython(
        "import sys, zipfile\nprint(set(i.date_time for i in zipfile.ZipFile(sys.argv[1]).infolist()))",
        {dir.File("t.zip")});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    EXPECT_EQ(r.output, "{(2024, 5, 17, 13, 45, 30)}\n");
}

TEST(ZipWriting, ChangeNotificationsFollowOpenAddRemoveClose) {
    TMemoryStream stream;
    TXLSZipArchive zip;
    std::vector<int> changes;
    std::vector<std::string> added;
    zip.Zip().OnZipChange = [&](int change) { changes.push_back(change); };
    zip.Zip().OnAddItem = [&](const std::string& name) { added.push_back(name); };
    zip.CreateNew(stream);
    TMemoryStream part(std::string("1"));
    zip.AddStream(u"", u"d/a.xml", part);
    zip.AddStream(u"", u"D/A.XML", part);  // a replacement: its removal is not announced
    zip.Zip().RemoveEntry(0);
    zip.Close();
    EXPECT_THAT(changes, ElementsAre(kZipOpened, kZipEntryAdded, kZipEntryAdded, kZipEntryAdded,
                                     kZipEntryRemoved, kZipClosed));
    EXPECT_THAT(added, ElementsAre("d/", "d/a.xml", "D/A.XML"));
}

TEST(ZipWriting, NamesBeyondAsciiAreStoredAsFlaggedUtf8) {
    TMemoryStream stream;
    TXLSZipArchive zip;
    zip.CreateNew(stream);
    TMemoryStream part(std::string("data"));
    const std::u16string name = u"\u041b\u0438\u0441\u0442.xml";  // Russian "sheet"
    zip.AddStream(u"", name, part);
    EXPECT_EQ(zip.EntryName(0), name);
    EXPECT_EQ(zip.IndexOf(name), 0);
    EXPECT_EQ(zip.Zip().Entries()[0].central.flags & kFlagUtf8Name, kFlagUtf8Name);
    ExpectPeersRead(stream.Bytes(), {{"\xd0\x9b\xd0\xb8\xd1\x81\xd1\x82.xml", "data"}});
}

TEST(ZipWriting, RefusedAddsLeaveTheArchiveAsItWas) {
    TXLSZipArchive closed;
    TMemoryStream part(std::string("x"));
    EXPECT_THROW(closed.AddStream(u"", u"a.xml", part), EZipError);

    TMemoryStream stream(BuildArchive({{"a.xml", "a"}}));
    const std::string before = stream.Bytes();
    TXLSZipArchive zip;
    zip.Open(stream);
    for (const char16_t* name : {u"/", u"\\", u"C:\\"}) {
        try {
            zip.AddStream(u"", name, part);
            ADD_FAILURE() << "no error";
        } catch (const EZipError& e) {
            EXPECT_THAT(e.what(), HasSubstr("Invalid file name for ZIP"));
        }
    }
    EXPECT_EQ(stream.Bytes(), before);
    EXPECT_EQ(zip.EntryCount(), 1);
}

// An entry streamed in pieces of every size, some of them larger than zlib's output block: the
// peers read exactly the bytes put in, and the local header, written before the data, carries the
// same CRC and sizes as the central record, with no data descriptor behind the data.
TEST(ZipWriting, EntryStreamedInPiecesReadsBackWholeWithItsHeaderFilledIn) {
    const std::string data = SampleText(3'000'000) + RandomBytes(200'000, 7) + SampleText(123'457);
    TMemoryStream stream;
    TNorvZip zip;
    zip.SetEntryDateTime(FixedTime());
    zip.SetStoreFolders(false);
    stream.WriteBytes(TEndOfCentralDir{}.Encode());
    zip.Open(stream);
    zip.AddBytes("before.xml", "first part");
    zip.BeginEntry("xl/worksheets/sheet1.xml");
    EXPECT_TRUE(zip.EntryOpen());
    const std::size_t sizes[] = {1, 7, 4096, 65536, 300'000, 1'000'000};
    std::size_t at = 0;
    for (int i = 0; at < data.size(); ++i) {
        const std::size_t n = std::min(sizes[i % std::size(sizes)], data.size() - at);
        zip.WriteEntryData(std::string_view(data).substr(at, n));
        at += n;
    }
    zip.EndEntry();
    EXPECT_FALSE(zip.EntryOpen());
    zip.AddBytes("after.xml", "last part");
    zip.Close();

    const std::string archive = stream.Bytes();
    const std::size_t central = CentralRecordOffset(archive, 1);
    const std::size_t local = Get32(archive, central + 42);
    ASSERT_EQ(Get32(archive, local), 0x04034b50u);
    // Behind before.xml's header, name and data.
    EXPECT_EQ(local, 30 + 10 + Get32(archive, 18));
    EXPECT_EQ(Get16(archive, local + 6) & 8, 0) << "no data descriptor";
    EXPECT_EQ(Get16(archive, local + 8), 8) << "deflated";
    EXPECT_EQ(Get32(archive, local + 14), Get32(archive, central + 16)) << "CRC";
    EXPECT_EQ(Get32(archive, local + 18), Get32(archive, central + 20)) << "compressed size";
    EXPECT_EQ(Get32(archive, local + 22), data.size());
    EXPECT_EQ(Get32(archive, central + 24), data.size());
    EXPECT_LT(Get32(archive, local + 18), data.size() / 2);
    EXPECT_EQ(Get16(archive, local + 26), 24) << "name length";
    ExpectPeersRead(
        archive,
        {{"before.xml", "first part"}, {"xl/worksheets/sheet1.xml", data}, {"after.xml", "last part"}});

    TMemoryStream again(archive);
    TXLSZipArchive ours;
    ours.Open(again);
    EXPECT_TRUE(Extract(ours, "xl/worksheets/sheet1.xml") == data);
}

// A streamed entry replaces its namesake; one that gets no data is stored empty, as an added
// empty stream is; a cancelled one leaves no trace.
TEST(ZipWriting, StreamedEntriesReplaceStoreEmptyAndCancel) {
    TMemoryStream stream;
    TXLSZipArchive zip;
    zip.Zip().SetEntryDateTime(FixedTime());
    zip.CreateNew(stream);
    TMemoryStream a(std::string("old styles")), b(std::string("workbook"));
    zip.AddStream(u"", u"xl/styles.xml", a);
    zip.AddStream(u"", u"xl/workbook.xml", b);

    zip.BeginEntry(u"", u"XL/Styles.xml");
    zip.WriteEntryData("new ");
    zip.WriteEntryData("styles");
    zip.EndEntry();
    zip.BeginEntry(u"", u"xl/empty.xml");
    zip.EndEntry();
    EXPECT_EQ(zip.Zip().Entries()[3].central.method, 0);
    EXPECT_EQ(zip.Zip().Entries()[3].central.compressed_size, 0u);

    const std::string before = stream.Bytes();
    zip.BeginEntry(u"", u"xl/cancelled.xml");
    zip.WriteEntryData(SampleText(100'000));
    // Nothing else may change the archive meanwhile.
    TMemoryStream c(std::string("x"));
    EXPECT_THROW(zip.AddStream(u"", u"xl/other.xml", c), EZipError);
    zip.CancelEntry();
    EXPECT_EQ(stream.Bytes(), before);

    EXPECT_THAT(EntryNames(zip), ElementsAre("xl/", "xl/workbook.xml", "XL/Styles.xml", "xl/empty.xml"));
    ExpectPeersRead(stream.Bytes(), {{"xl/", ""},
                                     {"xl/workbook.xml", "workbook"},
                                     {"XL/Styles.xml", "new styles"},
                                     {"xl/empty.xml", ""}});
}

}  // namespace
}  // namespace linograf::workbook::test
