// The memory and file streams behave alike: positions, growth, cutting and short reads.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "base/file_stream.h"
#include "base/memory_stream.h"
#include "tests/support/temp_dir.h"

namespace linograf::workbook {
namespace {

struct StreamKind {
    const char* name;
    std::function<std::unique_ptr<TStream>(const std::string& path)> make;
};

class Streams : public ::testing::TestWithParam<StreamKind> {
  protected:
    std::unique_ptr<TStream> Make() { return GetParam().make(dir_.File("stream.bin")); }
    static std::string All(TStream& s) {
        s.SetPosition(0);
        return s.ReadRest();
    }
    linograf::test::TempDir dir_;
};

TEST_P(Streams, WritesOverwriteGrowAndFillGapsWithZeros) {
    auto s = Make();
    s->WriteBytes("abcdef");
    s->SetPosition(2);
    s->WriteBytes("XYZWV");  // overwrites the rest and runs past the end
    EXPECT_EQ(All(*s), "abXYZWV");
    s->Seek(3, TSeekOrigin::soEnd);
    s->WriteBytes("!");
    EXPECT_EQ(All(*s), std::string("abXYZWV\0\0\0!", 11));
    EXPECT_EQ(s->Size(), 11);
}

TEST_P(Streams, SetSizeCutsAndExtendsAndKeepsThePositionInside) {
    auto s = Make();
    s->WriteBytes("0123456789");
    s->SetSize(4);
    EXPECT_EQ(s->Position(), 4);
    EXPECT_EQ(All(*s), "0123");
    s->SetPosition(1);
    s->SetSize(6);
    EXPECT_EQ(s->Position(), 1);
    EXPECT_EQ(All(*s), std::string("0123\0\0", 6));
}

TEST_P(Streams, ShortReadsAreErrorsOnlyForWholeBuffers) {
    auto s = Make();
    s->WriteBytes("abc");
    s->SetPosition(1);
    char buffer[8];
    EXPECT_EQ(s->Read(buffer, sizeof buffer), 2u);
    EXPECT_EQ(s->Read(buffer, sizeof buffer), 0u);
    s->SetPosition(1);
    try {
        s->ReadBuffer(buffer, 3);
        FAIL() << "no error";
    } catch (const EStreamError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
    s->SetPosition(0);
    EXPECT_THROW(s->ReadBytes(std::size_t{1} << 40), EStreamError);  // refused before allocating
    EXPECT_THROW(s->Seek(-1, TSeekOrigin::soBeginning), EStreamError);
}

TEST_P(Streams, CopyFromTakesTheCountOrTheWholeSource) {
    TMemoryStream source(std::string("0123456789"));
    auto s = Make();
    source.SetPosition(3);
    EXPECT_EQ(s->CopyFrom(source, 4), 4);
    EXPECT_EQ(s->CopyFrom(source, 0), 10);  // 0: all of it, from the start
    EXPECT_EQ(All(*s), "34560123456789");
    source.SetPosition(8);
    EXPECT_THROW(s->CopyFrom(source, 5), EStreamError);
}

INSTANTIATE_TEST_SUITE_P(
    MemoryAndFile, Streams,
    ::testing::Values(StreamKind{"Memory",
                                 [](const std::string&) { return std::make_unique<TMemoryStream>(); }},
                      StreamKind{"File",
                                 [](const std::string& path) {
                                     return std::make_unique<TFileStream>(path, TFileMode::fmCreate);
                                 }}),
    [](const ::testing::TestParamInfo<StreamKind>& info) { return std::string(info.param.name); });

TEST(FileStream, OpeningAMissingFileNamesIt) {
    linograf::test::TempDir dir;
    const std::string path = dir.File("missing.xlsx");
    try {
        TFileStream file(path, TFileMode::fmOpenRead);
        FAIL() << "no error";
    } catch (const EStreamError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + path + "\". No such file or directory");
    }
}

TEST(FileStream, ReadOnlyFileRefusesWrites) {
    linograf::test::TempDir dir;
    const std::string path = dir.File("in.bin");
    linograf::test::WriteFileBytes(path, "content");
    TFileStream file(path, TFileMode::fmOpenRead);
    EXPECT_EQ(file.ReadRest(), "content");
    EXPECT_THROW(file.WriteBytes("x"), EStreamError);
}

}  // namespace
}  // namespace linograf::workbook
