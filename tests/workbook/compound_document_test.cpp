#include "workbook/cfb/compound_document.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/temp_dir.h"
#include "tests/workbook/compound_document_fixtures.h"

namespace linograf::workbook {
namespace {

using cfbtest::FatEntryOffset;
using cfbtest::Flatten;
using cfbtest::Get32;
using cfbtest::Pattern;
using cfbtest::Put16;
using cfbtest::Put32;
using ::testing::HasSubstr;

std::vector<std::u16string> Names(const TCompoundStorage& storage) {
    std::vector<std::u16string> names;
    for (const TCompoundElementInfo& e : storage.Elements()) names.push_back(e.name);
    return names;
}

// ---------------------------------------------------------------------------------------------
// Streams: writing, seeking, overwriting, reading

struct StreamCase {
    const char* name;
    std::function<void(TCompoundStream&)> steps;
    std::string content;
    std::uint64_t position;
};

class StreamPositioning : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamPositioning, GivesContentAndPosition) {
    TCompoundDocument document;
    TCompoundStream stream = document.Root().CreateStream(u"Workbook");
    GetParam().steps(stream);
    EXPECT_EQ(stream.Position(), GetParam().position);
    EXPECT_EQ(stream.Size(), GetParam().content.size());
    // What the handle wrote is what the document holds.
    EXPECT_EQ(document.Root().OpenStream(u"Workbook").Bytes(), GetParam().content);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamPositioning,
    ::testing::Values(StreamCase{"Append",
                                 [](TCompoundStream& s) {
                                     s.Write("abc");
                                     s.Write("def");
                                 },
                                 "abcdef", 6},
                      StreamCase{"OverwriteInside",
                                 [](TCompoundStream& s) {
                                     s.Write("HEADER-0000-BODY");
                                     s.Seek(7, TSeekOrigin::soBeginning);
                                     s.Write("1234");
                                 },
                                 "HEADER-1234-BODY", 11},
                      StreamCase{"OverwritePastTheEndGrows",
                                 [](TCompoundStream& s) {
                                     s.Write("abcdef");
                                     s.Seek(-2, TSeekOrigin::soCurrent);
                                     s.Write("XYZ");
                                 },
                                 "abcdXYZ", 7},
                      StreamCase{"SeekFromEnd",
                                 [](TCompoundStream& s) {
                                     s.Write("abcdef");
                                     s.Seek(-6, TSeekOrigin::soEnd);
                                     s.Write("Q");
                                 },
                                 "Qbcdef", 1},
                      StreamCase{"SeekPastEndFillsWithZeros",
                                 [](TCompoundStream& s) {
                                     s.Write("ab");
                                     s.Seek(3, TSeekOrigin::soEnd);
                                     s.Write("c");
                                 },
                                 std::string("ab\0\0\0c", 6), 6},
                      // The record writer's pattern: patch a field written earlier, then go on at the end.
                      StreamCase{"PatchThenAppend",
                                 [](TCompoundStream& s) {
                                     s.Write("BOF.");
                                     const std::uint64_t field = s.Position();
                                     s.Write("????");
                                     s.Write("SHEET");
                                     s.Seek(static_cast<std::int64_t>(field), TSeekOrigin::soBeginning);
                                     s.Write("0123");
                                     s.Seek(0, TSeekOrigin::soEnd);
                                     s.Write("EOF");
                                 },
                                 "BOF.0123SHEETEOF", 16},
                      StreamCase{"ShrinkKeepsPosition",
                                 [](TCompoundStream& s) {
                                     s.Write("abcdef");
                                     s.SetSize(2);
                                 },
                                 "ab", 6}),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

TEST(CompoundStream, ReadsFromThePositionAndStopsAtTheEnd) {
    TCompoundDocument document;
    TCompoundStream writer = document.Root().CreateStream(u"Data");
    writer.Write("0123456789");
    TCompoundStream reader = document.Root().OpenStream(u"DATA");
    char buffer[8] = {};
    reader.Seek(6, TSeekOrigin::soBeginning);
    ASSERT_EQ(reader.Read(buffer, sizeof buffer), 4u);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 0u);
    reader.Seek(20, TSeekOrigin::soBeginning);
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(reader.Size(), 10u);  // reading past the end does not grow the stream
}

TEST(CompoundStream, SeekBeforeTheStartRaisesAndKeepsThePosition) {
    TCompoundDocument document;
    TCompoundStream stream = document.Root().CreateStream(u"Data");
    stream.Write("abc");
    EXPECT_THROW(stream.Seek(-4, TSeekOrigin::soCurrent), ECompoundDocumentError);
    EXPECT_THROW(stream.Seek(-1, TSeekOrigin::soBeginning), ECompoundDocumentError);
    EXPECT_THROW(stream.Seek(-4, TSeekOrigin::soEnd), ECompoundDocumentError);
    EXPECT_EQ(stream.Position(), 3u);
    EXPECT_THROW(TCompoundStream().Write("x"), ECompoundDocumentError);
}

TEST(CompoundStream, CreatedFromBytesHoldsThemAndStartsAtTheBeginning) {
    TCompoundDocument document;
    TCompoundStream stream = document.Root().CreateStream(u"Workbook", Pattern(5000, 3));
    EXPECT_EQ(stream.Position(), 0u);
    stream.Write("AB");
    std::string expected = Pattern(5000, 3);
    expected.replace(0, 2, "AB");
    EXPECT_EQ(document.Root().OpenStream(u"Workbook").Bytes(), expected);
    EXPECT_THROW(document.Root().CreateStream(u"a/b", "x"), ECompoundDocumentError);
}

TEST(CompoundStream, HandleKeepsItsBytesAfterTheElementIsReplaced) {
    TCompoundDocument document;
    TCompoundStream old_stream = document.Root().CreateStream(u"Workbook");
    old_stream.Write("old");
    TCompoundStream new_stream = document.Root().CreateStream(u"WORKBOOK");  // create mode
    old_stream.Write("er");
    EXPECT_EQ(old_stream.Bytes(), "older");
    EXPECT_EQ(new_stream.Size(), 0u);
    EXPECT_EQ(document.Root().OpenStream(u"workbook").Size(), 0u);
    EXPECT_EQ(Names(document.Root()), std::vector<std::u16string>{u"WORKBOOK"});
}

// ---------------------------------------------------------------------------------------------
// Storages: names, lookup, enumeration, copying

TEST(CompoundStorage, NamesAreFoundWithoutRegardToCaseAndListedInFormatOrder) {
    TCompoundDocument document;
    TCompoundStorage& root = document.Root();
    root.CreateStream(u"ccc").Write("3");
    root.CreateStream(u"bb").Write("22");
    root.CreateStorage(u"C");
    root.CreateStream(u"a").Write("1111");
    root.CreateStream(u"\u0436\u0443\u0440\u043d\u0430\u043b");  // Cyrillic folds to upper case too
    // Shorter names first, then by upper-cased units.
    EXPECT_EQ(Names(root), (std::vector<std::u16string>{u"a", u"C", u"bb", u"ccc",
                                                        u"\u0436\u0443\u0440\u043d\u0430\u043b"}));
    EXPECT_TRUE(root.Contains(u"BB"));
    EXPECT_TRUE(root.Contains(u"\u0416\u0423\u0420\u041d\u0410\u041b"));
    EXPECT_FALSE(root.Contains(u"b"));
    EXPECT_EQ(root.Element(u"A").size, 4u);
    EXPECT_EQ(root.Element(u"c").type, TCompoundElementType::cetStorage);
    EXPECT_TRUE(root.Remove(u"CCC"));
    EXPECT_FALSE(root.Remove(u"ccc"));
    EXPECT_FALSE(root.Contains(u"ccc"));
}

TEST(CompoundStorage, WrongNamesAndWrongTypesRaise) {
    TCompoundDocument document;
    TCompoundStorage& root = document.Root();
    EXPECT_NO_THROW(root.CreateStream(std::u16string(31, u'x')));
    for (std::u16string bad : {std::u16string(), std::u16string(32, u'x'), std::u16string(u"a/b"),
                               std::u16string(u"a\\b"), std::u16string(u"a:b"), std::u16string(u"a!b")}) {
        EXPECT_THROW(root.CreateStream(bad), ECompoundDocumentError) << cfbtest::Utf8(bad);
        EXPECT_THROW(root.CreateStorage(bad), ECompoundDocumentError) << cfbtest::Utf8(bad);
    }
    root.CreateStorage(u"Folder");
    root.CreateStream(u"File");
    EXPECT_THROW(root.OpenStream(u"Folder"), ECompoundDocumentError);
    EXPECT_THROW(root.OpenStorage(u"File"), ECompoundDocumentError);
    try {
        root.OpenStream(u"Workbook");
        ADD_FAILURE() << "a missing stream must raise";
    } catch (const ECompoundDocumentError& e) {
        EXPECT_THAT(e.what(), HasSubstr("\"Workbook\""));
    }
}

// A document like one read from Excel: the workbook stream, summaries, a macro storage and a
// storage with a class id.
void FillLikeAnExcelFile(TCompoundStorage& root) {
    root.CreateStream(u"Workbook").Write(Pattern(9000, 1));
    root.CreateStream(u"\u0005SummaryInformation").Write(Pattern(200, 2));
    root.CreateStream(u"\u0005DocumentSummaryInformation").Write(Pattern(4096, 3));
    TCompoundStorage& vba = root.CreateStorage(u"_VBA_PROJECT_CUR");
    vba.CreateStream(u"PROJECT").Write(Pattern(300, 4));
    vba.CreateStorage(u"VBA").CreateStream(u"dir").Write(Pattern(50, 5));
    TCompoundStorage& store = root.CreateStorage(u"MsoDataStore");
    store.SetClassId({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    store.SetStateBits(0x5A);
    store.SetTimes(0x01D0000000000001ull, 0x01D0000000000002ull);
    store.CreateStream(u"Item").Write(Pattern(10, 6));
}

TEST(CompoundStorage, CopyToTakesEveryElementButTheExcludedOnesDeeply) {
    TCompoundDocument source;
    FillLikeAnExcelFile(source.Root());
    const TCompoundDocument read = TCompoundDocument::Load(source.Save());

    // What the record stream keeps from a file read for the next write.
    TCompoundDocument kept;
    read.Root().CopyTo(kept.Root(), [](const TCompoundElementInfo& e) {
        return !ElementNamesEqual(e.name, u"Workbook") && !ElementNamesEqual(e.name, u"Book") &&
               e.name != u"_VBA_PROJECT_CUR";
    });
    EXPECT_EQ(Names(kept.Root()), (std::vector<std::u16string>{u"MsoDataStore", u"\u0005SummaryInformation",
                                                               u"\u0005DocumentSummaryInformation"}));
    const TCompoundStorage& store = kept.Root().OpenStorage(u"MsoDataStore");
    EXPECT_EQ(store.ClassId(), read.Root().OpenStorage(u"MsoDataStore").ClassId());
    EXPECT_EQ(store.StateBits(), 0x5Au);
    EXPECT_EQ(store.ModifiedTime(), 0x01D0000000000002ull);

    // The next file: the kept elements plus a new workbook stream.
    TCompoundDocument next;
    kept.Root().CopyTo(next.Root());
    next.Root().CreateStream(u"Workbook").Write("new records");
    auto expected = Flatten(source);
    expected.erase("_VBA_PROJECT_CUR/PROJECT");
    expected.erase("_VBA_PROJECT_CUR/VBA/dir");
    expected["Workbook"] = "new records";
    EXPECT_EQ(Flatten(TCompoundDocument::Load(next.Save())), expected);

    // Copies do not share bytes with their source.
    kept.Root().OpenStream(u"\u0005SummaryInformation").Write("changed");
    EXPECT_EQ(next.Root().OpenStream(u"\u0005SummaryInformation").Bytes(), Pattern(200, 2));

    TCompoundStorage& sub = next.Root().OpenStorage(u"MsoDataStore");
    EXPECT_THROW(next.Root().CopyTo(sub), ECompoundDocumentError);
    EXPECT_THROW(next.Root().CopyTo(next.Root()), ECompoundDocumentError);
}

// ---------------------------------------------------------------------------------------------
// Saving and loading

class CompoundRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(CompoundRoundTrip, KeepsEveryStreamAcrossTheMiniStreamCutoff) {
    const int version = GetParam();
    TCompoundDocument document(version);
    // Sizes around the mini sector, the mini stream cutoff and the sector size.
    const std::size_t sizes[] = {0, 1, 63, 64, 65, 511, 512, 4095, 4096, 4097, 8192, 70001};
    std::uint32_t seed = 10;
    for (std::size_t size : sizes) {
        std::u16string name = u"S";
        for (char c : std::to_string(size)) name += static_cast<char16_t>(c);
        document.Root().CreateStream(name).Write(Pattern(size, ++seed));
    }
    FillLikeAnExcelFile(document.Root().CreateStorage(u"Nested"));

    const std::string bytes = document.Save();
    EXPECT_EQ(bytes.size() % document.SectorSize(), 0u);
    const TCompoundDocument loaded = TCompoundDocument::Load(bytes);
    EXPECT_EQ(loaded.MajorVersion(), version);
    EXPECT_EQ(Flatten(loaded), Flatten(document));
    EXPECT_EQ(loaded.Root().Element(u"S70001").size, 70001u);
    EXPECT_EQ(loaded.Root().OpenStorage(u"nested").OpenStorage(u"MSODATASTORE").ClassId(),
              document.Root().OpenStorage(u"Nested").OpenStorage(u"MsoDataStore").ClassId());
    // A loaded document saves to the same bytes: nothing varies between saves.
    EXPECT_EQ(loaded.Save(), bytes);
}

TEST_P(CompoundRoundTrip, EmptyDocument) {
    TCompoundDocument document(GetParam());
    const TCompoundDocument loaded = TCompoundDocument::Load(document.Save());
    EXPECT_TRUE(loaded.Root().Elements().empty());
    EXPECT_EQ(loaded.MajorVersion(), GetParam());
}

TEST_P(CompoundRoundTrip, SaveToFileReplacesTheFileAndLoadFileReadsIt) {
    test::TempDir dir;
    const std::string path = dir.File("book.xls");
    test::WriteFileBytes(path, Pattern(100000, 7));  // an older, longer file
    TCompoundDocument document(GetParam());
    document.Root().CreateStream(u"Workbook").Write(Pattern(5000, 8));
    document.SaveToFile(path);
    EXPECT_EQ(test::ReadFileBytes(path), document.Save());
    EXPECT_TRUE(TCompoundDocument::IsCompoundFile(path));
    EXPECT_EQ(Flatten(TCompoundDocument::LoadFile(path)), Flatten(document));
}

INSTANTIATE_TEST_SUITE_P(Versions, CompoundRoundTrip, ::testing::Values(3, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Version" + std::to_string(info.param);
                         });

TEST(CompoundDocument, SameTreeGivesSameBytesWhateverTheOrderOfCreation) {
    TCompoundDocument a, b;
    a.Root().CreateStream(u"Workbook").Write(Pattern(6000, 1));
    a.Root().CreateStorage(u"Sub").CreateStream(u"x").Write("1");
    a.Root().CreateStream(u"\u0005SummaryInformation").Write(Pattern(100, 2));
    b.Root().CreateStream(u"\u0005SummaryInformation").Write(Pattern(100, 2));
    b.Root().CreateStorage(u"Sub").CreateStream(u"x").Write("1");
    b.Root().CreateStream(u"Workbook").Write(Pattern(6000, 1));
    EXPECT_EQ(a.Save(), b.Save());
    EXPECT_EQ(a.Save(), a.Save());
}

// Reads the sibling tree of a storage from a saved version 3 file: in-order traversal must give
// the names in the format's order (the order other implementations search in), every node black.
void CheckSiblingTree(const std::string& bytes, const std::string& directory, std::uint32_t id,
                      std::vector<std::u16string>& in_order, int depth) {
    if (id == 0xFFFFFFFF) return;
    ASSERT_LT(depth, 64);
    const std::size_t at = std::size_t{id} * 128;
    ASSERT_LE(at + 128, directory.size());
    CheckSiblingTree(bytes, directory, Get32(directory, at + 0x44), in_order, depth + 1);
    std::u16string name;
    const std::size_t length = static_cast<unsigned char>(directory[at + 0x40]) / 2 - 1;
    for (std::size_t i = 0; i < length; ++i)
        name += static_cast<char16_t>(static_cast<unsigned char>(directory[at + 2 * i]) |
                                      (static_cast<unsigned char>(directory[at + 2 * i + 1]) << 8));
    EXPECT_EQ(directory[at + 0x43], 1) << "entry " << id << " is not black";
    in_order.push_back(name);
    CheckSiblingTree(bytes, directory, Get32(directory, at + 0x48), in_order, depth + 1);
}

TEST(CompoundDocument, ManyElementsFormSearchTreesInNameOrder) {
    TCompoundDocument document;
    TCompoundStorage& root = document.Root();
    std::vector<std::u16string> expected;
    for (int i = 0; i < 57; ++i) {  // more entries than fit one directory sector many times over
        std::u16string name = u"Stream";
        for (char c : std::to_string(i * 7919 % 1000)) name += static_cast<char16_t>(c);
        if (i % 3 == 0) name = u"z" + name;
        root.CreateStream(name).Write(
            Pattern(static_cast<std::size_t>(i) * 97, static_cast<std::uint32_t>(i)));
    }
    const std::string bytes = document.Save();
    const TCompoundDocument loaded = TCompoundDocument::Load(bytes);
    EXPECT_EQ(Flatten(loaded), Flatten(document));

    // The directory, read through the FAT.
    std::string directory;
    for (std::uint32_t s = Get32(bytes, 0x30); s != 0xFFFFFFFE; s = Get32(bytes, FatEntryOffset(bytes, s))) {
        ASSERT_LT(directory.size(), bytes.size());
        directory += bytes.substr((s + 1) * 512, 512);
    }
    std::vector<std::u16string> in_order;
    CheckSiblingTree(bytes, directory, Get32(directory, 0x4C), in_order, 0);
    EXPECT_EQ(in_order, Names(root));
    EXPECT_EQ(in_order.size(), 57u);
}

TEST(CompoundDocument, LargeStreamNeedsDifatSectors) {
    TCompoundDocument document;
    // More than 109 FAT sectors of 128 entries: the FAT list continues in DIFAT sectors.
    const std::string big = Pattern(8u << 20, 99);
    document.Root().CreateStream(u"Workbook").Write(big);
    document.Root().CreateStream(u"Tail").Write("tail");
    const std::string bytes = document.Save();
    ASSERT_GT(Get32(bytes, 0x2C), 109u);  // FAT sectors
    ASSERT_GT(Get32(bytes, 0x48), 0u);    // DIFAT sectors
    const TCompoundDocument loaded = TCompoundDocument::Load(bytes);
    EXPECT_TRUE(loaded.Root().OpenStream(u"Workbook").Bytes() == big);
    EXPECT_EQ(loaded.Root().OpenStream(u"Tail").Bytes(), "tail");
}

TEST(CompoundDocument, StorageNestingIsBounded) {
    TCompoundDocument shallow, deep;
    TCompoundStorage* s = &shallow.Root();
    for (int i = 0; i < 200; ++i) s = &s->CreateStorage(u"d");
    s->CreateStream(u"leaf").Write("x");
    EXPECT_EQ(Flatten(TCompoundDocument::Load(shallow.Save())).size(), 1u);
    s = &deep.Root();
    for (int i = 0; i < 300; ++i) s = &s->CreateStorage(u"d");
    try {
        TCompoundDocument::Load(deep.Save());
        ADD_FAILURE() << "300 nested storages must be refused";
    } catch (const ECompoundDocumentError& e) {
        EXPECT_THAT(e.what(), HasSubstr("nested"));
    }
}

// ---------------------------------------------------------------------------------------------
// Damaged files

// A saved version 3 file with helpers that find its structures the way a reader does.
class SavedFile {
  public:
    SavedFile() {
        TCompoundDocument document;
        document.Root().CreateStream(u"Workbook").Write(Pattern(130000, 1));  // 254 sectors
        document.Root().CreateStream(u"Data").Write(Pattern(4500, 2));
        document.Root().CreateStream(u"Small").Write(Pattern(300, 3));  // 5 mini sectors
        document.Root().CreateStorage(u"Sub").CreateStream(u"Inner").Write(Pattern(100, 4));
        bytes = document.Save();
    }
    static std::size_t SectorOffset(std::uint32_t s) { return (std::size_t{s} + 1) * 512; }
    std::size_t FatEntry(std::uint32_t s) const { return FatEntryOffset(bytes, s); }
    std::size_t MiniFatEntry(std::uint32_t s) const { return SectorOffset(Get32(bytes, 0x3C)) + 4 * s; }
    std::size_t EntryOffset(std::uint32_t id) const {
        std::uint32_t s = Get32(bytes, 0x30);
        for (std::uint32_t i = 0; i < id / 4; ++i) s = Get32(bytes, FatEntry(s));
        return SectorOffset(s) + 128 * (id % 4);
    }
    std::uint32_t EntryId(std::u16string_view name) const {
        for (std::uint32_t id = 0;; ++id) {
            const std::size_t at = EntryOffset(id);
            std::u16string n;
            for (std::size_t i = 0; i + 1 < static_cast<unsigned char>(bytes[at + 0x40]) / 2u; ++i)
                n += static_cast<char16_t>(static_cast<unsigned char>(bytes[at + 2 * i]));
            if (n == name) return id;
        }
    }
    std::size_t Entry(std::u16string_view name) const { return EntryOffset(EntryId(name)); }
    std::uint32_t Start(std::u16string_view name) const { return Get32(bytes, Entry(name) + 0x74); }

    std::string bytes;
};

struct DamageCase {
    const char* name;
    std::function<void(SavedFile&)> damage;
    const char* message;  // part of the error text
};

class DamagedFile : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedFile, IsRefusedWithAClearMessage) {
    SavedFile file;
    ASSERT_NO_THROW(TCompoundDocument::Load(file.bytes));
    GetParam().damage(file);
    try {
        TCompoundDocument::Load(file.bytes);
        ADD_FAILURE() << "the damaged file was accepted";
    } catch (const ECompoundDocumentError& e) {
        EXPECT_THAT(e.what(), HasSubstr(GetParam().message));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedFile,
    ::testing::Values(
        DamageCase{"NoSignature", [](SavedFile& f) { f.bytes[3] = 'x'; }, "Not a compound document"},
        DamageCase{"Empty", [](SavedFile& f) { f.bytes.clear(); }, "Not a compound document"},
        DamageCase{"CutInTheHeader", [](SavedFile& f) { f.bytes.resize(300); }, "shorter than its header"},
        DamageCase{"CutBeforeTheFat", [](SavedFile& f) { f.bytes.resize(512 * 100); }, "outside the file"},
        DamageCase{"WrongByteOrder", [](SavedFile& f) { Put16(f.bytes, 0x1C, 0xFEFF); }, "byte order"},
        DamageCase{"UnknownVersion", [](SavedFile& f) { Put16(f.bytes, 0x1A, 5); },
                   "Unsupported compound document version 5"},
        DamageCase{"HugeSectorShift", [](SavedFile& f) { Put16(f.bytes, 0x1E, 30); }, "invalid sector size"},
        DamageCase{"OtherMiniSectorShift", [](SavedFile& f) { Put16(f.bytes, 0x20, 7); }, "mini sector size"},
        DamageCase{"OtherMiniCutoff", [](SavedFile& f) { Put32(f.bytes, 0x38, 0x7FFFFFFF); },
                   "mini stream cutoff"},
        DamageCase{"FatCountBeyondTheFile", [](SavedFile& f) { Put32(f.bytes, 0x2C, 0xFFFFFFFF); },
                   "more FAT sectors than the file holds"},
        DamageCase{"NoFat", [](SavedFile& f) { Put32(f.bytes, 0x2C, 0); }, "no FAT"},
        DamageCase{"FatSectorOutsideTheFile", [](SavedFile& f) { Put32(f.bytes, 0x4C, 0x00FFFFFF); },
                   "outside the file"},
        DamageCase{"FatSectorListedTwice", [](SavedFile& f) { Put32(f.bytes, 0x50, Get32(f.bytes, 0x4C)); },
                   "listed twice"},
        DamageCase{"DifatLoop",
                   [](SavedFile& f) {
                       // Claim more FAT sectors than the header lists and let the DIFAT sector
                       // name itself as its successor.
                       const std::uint32_t difat = f.Start(u"Workbook") + 5;
                       Put32(f.bytes, 0x2C, 109 + 127 + 5);
                       Put32(f.bytes, 0x44, difat);
                       Put32(f.bytes, SavedFile::SectorOffset(difat) + 508, difat);
                   },
                   "DIFAT chain loops"},
        DamageCase{"StreamChainLoop",
                   [](SavedFile& f) {
                       const std::uint32_t s = f.Start(u"Workbook");
                       Put32(f.bytes, f.FatEntry(s + 100), s + 50);
                   },
                   "stream \"Workbook\" loops"},
        DamageCase{"StreamChainSelfLoop",
                   [](SavedFile& f) {
                       const std::uint32_t s = f.Start(u"Data");
                       Put32(f.bytes, f.FatEntry(s), s);
                   },
                   "loops at sector"},
        DamageCase{"StreamChainLeavesTheFile",
                   [](SavedFile& f) { Put32(f.bytes, f.FatEntry(f.Start(u"Data") + 2), 0x00100000); },
                   "runs outside the file"},
        DamageCase{"StreamChainReachesAFreeSector",
                   [](SavedFile& f) { Put32(f.bytes, f.FatEntry(f.Start(u"Data")), 0xFFFFFFFF); },
                   "runs outside the file"},
        DamageCase{"StreamChainEndsEarly",
                   [](SavedFile& f) { Put32(f.bytes, f.FatEntry(f.Start(u"Data") + 3), 0xFFFFFFFE); },
                   "shorter than its size"},
        DamageCase{"StreamsShareSectors",
                   [](SavedFile& f) { Put32(f.bytes, f.Entry(u"Data") + 0x74, f.Start(u"Workbook") + 4); },
                   "shares sector"},
        DamageCase{"StreamSizeBeyondTheFile",
                   [](SavedFile& f) { Put32(f.bytes, f.Entry(u"Workbook") + 0x78, 0x7FFFFFFF); },
                   "larger than the file"},
        DamageCase{"DirectoryChainLoop",
                   [](SavedFile& f) {
                       const std::uint32_t d = Get32(f.bytes, 0x30);
                       Put32(f.bytes, f.FatEntry(d), d);
                   },
                   "directory chain loops"},
        DamageCase{"DirectoryInAFatSector", [](SavedFile& f) { Put32(f.bytes, 0x30, Get32(f.bytes, 0x4C)); },
                   "shares sector"},
        DamageCase{"RootIsNotARoot", [](SavedFile& f) { f.bytes[f.EntryOffset(0) + 0x42] = 1; },
                   "not the root"},
        DamageCase{"SiblingTreeLoop",
                   [](SavedFile& f) {
                       const std::uint32_t top = Get32(f.bytes, f.EntryOffset(0) + 0x4C);
                       Put32(f.bytes, f.EntryOffset(top) + 0x44, top);
                   },
                   "directory tree loops"},
        DamageCase{"ChildLinksBackToTheRoot", [](SavedFile& f) { Put32(f.bytes, f.Entry(u"Sub") + 0x4C, 0); },
                   "directory tree loops"},
        DamageCase{"LinkPastTheDirectory", [](SavedFile& f) { Put32(f.bytes, f.Entry(u"Sub") + 0x4C, 1000); },
                   "past the directory"},
        DamageCase{"UnusedEntryLinked", [](SavedFile& f) { f.bytes[f.Entry(u"Inner") + 0x42] = 0; },
                   "is linked but has type 0"},
        DamageCase{"SecondRootLinked", [](SavedFile& f) { f.bytes[f.Entry(u"Data") + 0x42] = 5; },
                   "has type 5"},
        DamageCase{"NameLengthTooLong", [](SavedFile& f) { Put16(f.bytes, f.Entry(u"Data") + 0x40, 66); },
                   "invalid name length 66"},
        DamageCase{"NameLengthOdd", [](SavedFile& f) { Put16(f.bytes, f.Entry(u"Data") + 0x40, 9); },
                   "invalid name length 9"},
        DamageCase{"TwoElementsNamedAlike",
                   [](SavedFile& f) {
                       const std::size_t at = f.Entry(u"Data");
                       const std::u16string name = u"SMALL";
                       for (std::size_t i = 0; i < name.size(); ++i) Put16(f.bytes, at + 2 * i, name[i]);
                       Put16(f.bytes, at + 0x40, static_cast<std::uint16_t>(2 * name.size() + 2));
                   },
                   "named alike"},
        DamageCase{"MiniChainLoop",
                   [](SavedFile& f) {
                       const std::uint32_t s = f.Start(u"Small");
                       Put32(f.bytes, f.MiniFatEntry(s + 2), s + 1);
                   },
                   "loops at mini sector"},
        DamageCase{"MiniChainOutsideTheMiniStream",
                   [](SavedFile& f) { Put32(f.bytes, f.MiniFatEntry(f.Start(u"Small")), 5000); },
                   "outside the mini stream"},
        DamageCase{"MiniStreamsShareSectors",
                   [](SavedFile& f) { Put32(f.bytes, f.Entry(u"Inner") + 0x74, f.Start(u"Small") + 1); },
                   "shares mini sector"},
        DamageCase{"MiniStreamLargerThanTheFile",
                   [](SavedFile& f) { Put32(f.bytes, f.EntryOffset(0) + 0x78, 0x7FFFFFC0); },
                   "mini stream is larger than the file"}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

TEST(DamagedFileTolerance, UninitialisedHighHalfOfAVersion3StreamSizeIsIgnored) {
    SavedFile file;
    const auto expected = Flatten(TCompoundDocument::Load(file.bytes));
    Put32(file.bytes, file.Entry(u"Small") + 0x7C, 0xDEADBEEF);
    Put32(file.bytes, file.Entry(u"Workbook") + 0x7C, 0x00000001);
    EXPECT_EQ(Flatten(TCompoundDocument::Load(file.bytes)), expected);
}

TEST(DamagedFileTolerance, UnlinkedEntriesAndLongerChainsAreIgnored) {
    SavedFile file;
    auto expected = Flatten(TCompoundDocument::Load(file.bytes));
    // Unlink "Inner" from its storage and shorten "Data" to two sectors' worth.
    Put32(file.bytes, file.Entry(u"Sub") + 0x4C, 0xFFFFFFFF);
    Put32(file.bytes, file.Entry(u"Data") + 0x78, 4096);
    expected.erase("Sub/Inner");
    expected["Data"].resize(4096);
    const TCompoundDocument loaded = TCompoundDocument::Load(file.bytes);
    EXPECT_EQ(Flatten(loaded), expected);
    EXPECT_TRUE(loaded.Root().OpenStorage(u"Sub").Elements().empty());
}

// ---------------------------------------------------------------------------------------------
// Streams left in the file

// Whatever the layout, a stream left in the file is found at its extents with the bytes a plain
// load gives, and only streams of the root in regular sectors whole within the file are offered.
TEST(StreamsLeftInTheFile, ExtentsHoldTheBytesAPlainLoadGives) {
    struct Layout {
        const char* name;
        std::function<void(std::string&)> change;
        std::size_t workbook_ranges;  // 0: "Workbook" must not be offered
    };
    const Layout layouts[] = {
        {"as saved", [](std::string&) {}, 1},
        {"sectors reversed", [](std::string& f) { cfbtest::ReverseStreamSectors(f, u"Workbook"); }, 254},
        // The last sector of "Workbook" moved behind the end of the file, which is cut short.
        {"last sector cut short",
         [](std::string& f) {
             std::vector<std::uint32_t> chain;
             for (std::uint32_t s = Get32(f, cfbtest::DirectoryEntryOffset(f, u"Workbook") + 0x74);
                  s < 0xFFFFFFFA; s = Get32(f, FatEntryOffset(f, s)))
                 chain.push_back(s);
             const auto moved = static_cast<std::uint32_t>(f.size() / 512 - 1);
             f += f.substr((std::size_t{chain.back()} + 1) * 512, 512);
             Put32(f, FatEntryOffset(f, chain[chain.size() - 2]), moved);
             Put32(f, FatEntryOffset(f, moved), 0xFFFFFFFE);
             Put32(f, FatEntryOffset(f, chain.back()), 0xFFFFFFFF);
             f.resize(f.size() - 100);
         },
         0},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        TCompoundDocument source;
        source.Root().CreateStream(u"Workbook").Write(Pattern(130000, 1));
        source.Root().CreateStream(u"Data").Write(Pattern(4500, 2));
        source.Root().CreateStream(u"Small").Write(Pattern(300, 3));
        source.Root().CreateStorage(u"Sub").CreateStream(u"Inner").Write(Pattern(5000, 4));
        std::string file = source.Save();
        layout.change(file);
        const auto plain = Flatten(TCompoundDocument::Load(file));

        std::map<std::string, TFileExtents> offered;
        const auto offer = [&](std::u16string_view name, const TFileExtents& e) {
            offered[cfbtest::Utf8(name)] = e;
            return name != u"Data";
        };
        const TCompoundDocument left = TCompoundDocument::Load(file, offer);
        auto expected = plain;
        for (const auto& [name, extents] : offered) {
            std::string bytes;
            for (const auto& [at, count] : extents.ranges) {
                ASSERT_LE(at + count, file.size());
                bytes += file.substr(at, count);
            }
            EXPECT_EQ(extents.size, bytes.size());
            EXPECT_EQ(bytes, plain.at(name)) << name;
            if (name != "Data") expected[name].clear();
        }
        EXPECT_EQ(Flatten(left), expected);
        EXPECT_FALSE(offered.count("Small"));
        EXPECT_FALSE(offered.count("Inner") || offered.count("Sub/Inner"));
        EXPECT_TRUE(offered.count("Data"));
        if (layout.workbook_ranges == 0)
            EXPECT_FALSE(offered.count("Workbook"));
        else if (offered.count("Workbook"))
            EXPECT_EQ(offered["Workbook"].ranges.size(), layout.workbook_ranges);
        else
            ADD_FAILURE() << "Workbook not offered";
    }
}

}  // namespace
}  // namespace linograf::workbook
