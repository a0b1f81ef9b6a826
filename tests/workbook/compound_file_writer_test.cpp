#include "workbook/cfb/compound_file_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "tests/support/temp_dir.h"
#include "tests/workbook/compound_document_fixtures.h"

namespace linograf::workbook {
namespace {

using cfbtest::Flatten;
using cfbtest::Pattern;
using ::testing::HasSubstr;

void AddOtherElements(TCompoundStorage& root) {
    root.CreateStream(u"\u0005SummaryInformation").Write(Pattern(200, 1));
    root.CreateStream(u"\u0005DocumentSummaryInformation").Write(Pattern(5000, 2));
    root.CreateStorage(u"MsoDataStore").CreateStream(u"Item").Write(Pattern(70, 3));
}

// Drives the file writer and an in-memory stream through the same random writes, seeks back
// (patches), seeks to the end and past it, and returns what the in-memory stream holds.
template <typename Stream>
void Drive(Stream& stream, std::size_t target, std::size_t max_write, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uint32_t chunk = 0;
    while (stream.Size() < target) {
        const std::uint32_t roll = random() % 16;
        if (roll == 0 && stream.Size() > 0) {
            stream.Seek(static_cast<std::int64_t>(random() % stream.Size()), TSeekOrigin::soBeginning);
        } else if (roll == 1) {
            stream.Seek(0, TSeekOrigin::soEnd);
        } else if (roll == 2) {
            stream.Seek(static_cast<std::int64_t>(random() % 300), TSeekOrigin::soEnd);  // leaves a hole
        } else if (roll == 3) {
            stream.Seek(-static_cast<std::int64_t>(std::min<std::uint64_t>(stream.Position(), 10)),
                        TSeekOrigin::soCurrent);
        }
        const std::string bytes = Pattern(1 + random() % max_write, ++chunk);
        ASSERT_EQ(stream.Write(bytes), bytes.size());
    }
}

struct DriveCase {
    const char* name;
    int version;
    std::size_t target;
    std::size_t max_write;
};

class FileWriterMatchesMemory : public ::testing::TestWithParam<DriveCase> {};

TEST_P(FileWriterMatchesMemory, SameStreamAndElementsAsAnInMemoryDocument) {
    const DriveCase& c = GetParam();
    test::TempDir dir;
    TCompoundDocument expected(c.version);
    TCompoundStream memory = expected.Root().CreateStream(u"Workbook");
    AddOtherElements(expected.Root());
    Drive(memory, c.target, c.max_write, 42);

    TCompoundFileWriter writer(dir.File("book.xls"), u"Workbook", c.version);
    AddOtherElements(writer.Root());
    Drive(writer, c.target, c.max_write, 42);
    EXPECT_EQ(writer.Size(), memory.Size());
    EXPECT_EQ(writer.Position(), memory.Position());
    writer.Close();
    EXPECT_FALSE(writer.IsOpen());

    const std::string bytes = test::ReadFileBytes(dir.File("book.xls"));
    const TCompoundDocument read = TCompoundDocument::Load(bytes);
    EXPECT_EQ(read.MajorVersion(), c.version);
    EXPECT_EQ(Flatten(read), Flatten(expected));
    EXPECT_EQ(bytes.size() % expected.SectorSize(), 0u);
    if (memory.Size() < 4096) {
        EXPECT_EQ(bytes, expected.Save());  // moved into the mini stream: the same layout
    } else {
        // The stream takes the sectors right behind the header.
        EXPECT_EQ(bytes.substr(expected.SectorSize(), 4096), memory.Bytes().substr(0, 4096));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileWriterMatchesMemory,
    ::testing::Values(DriveCase{"Tiny", 3, 10, 8}, DriveCase{"BelowTheMiniCutoff", 3, 3000, 200},
                      DriveCase{"Records", 3, 700000, 8228}, DriveCase{"LargeWrites", 3, 3000000, 600000},
                      DriveCase{"Version4Small", 4, 2000, 300},
                      DriveCase{"Version4Records", 4, 500000, 8228}),
    [](const ::testing::TestParamInfo<DriveCase>& info) { return std::string(info.param.name); });

TEST(FileWriter, EmptyStreamAndSameBytesOnEveryRun) {
    test::TempDir dir;
    for (const char* name : {"a.xls", "b.xls"}) {
        TCompoundFileWriter writer(dir.File(name), u"Workbook");
        writer.Root().CreateStream(u"Workbook").Write("left out: the main stream has this name");
        writer.Close();
    }
    const std::string bytes = test::ReadFileBytes(dir.File("a.xls"));
    EXPECT_EQ(bytes, test::ReadFileBytes(dir.File("b.xls")));
    EXPECT_EQ(Flatten(TCompoundDocument::Load(bytes)),
              (std::map<std::string, std::string>{{"Workbook", ""}}));
}

TEST(FileWriter, ReplacesALongerFileCompletely) {
    test::TempDir dir;
    const std::string path = dir.File("book.xls");
    test::WriteFileBytes(path, Pattern(3 << 20, 9));
    TCompoundFileWriter writer(path, u"Workbook");
    writer.Write(Pattern(10000, 1));
    writer.Close();
    const std::string bytes = test::ReadFileBytes(path);
    EXPECT_LT(bytes.size(), 20000u);
    EXPECT_EQ(Flatten(TCompoundDocument::Load(bytes)),
              (std::map<std::string, std::string>{{"Workbook", Pattern(10000, 1)}}));
}

TEST(FileWriter, ErrorsCarryTheCauseAndClosedWritersRefuseWork) {
    test::TempDir dir;
    try {
        TCompoundFileWriter writer(dir.File("missing/book.xls"), u"Workbook");
        ADD_FAILURE() << "a file in a missing folder cannot be created";
    } catch (const ECompoundDocumentError& e) {
        EXPECT_THAT(e.what(), HasSubstr("Cannot create"));
        EXPECT_THAT(e.what(), HasSubstr("No such file or directory"));
    }
    try {
        TCompoundFileWriter writer("", u"Workbook");
        ADD_FAILURE() << "an empty name must raise";
    } catch (const ECompoundDocumentError& e) {
        EXPECT_STREQ(e.what(), "Filename is missing");
    }
    EXPECT_THROW(TCompoundFileWriter(dir.File("x.xls"), u"Work/book"), ECompoundDocumentError);

    TCompoundFileWriter writer(dir.File("book.xls"), u"Workbook");
    writer.Write("abc");
    EXPECT_THROW(writer.Seek(-4, TSeekOrigin::soEnd), ECompoundDocumentError);
    EXPECT_EQ(writer.Position(), 3u);
    writer.Close();
    EXPECT_THROW(writer.Write("x"), ECompoundDocumentError);
    EXPECT_THROW(writer.Close(), ECompoundDocumentError);
}

}  // namespace
}  // namespace linograf::workbook
