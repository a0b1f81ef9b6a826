#include "workbook/model/extra_objects.h"

#include <gtest/gtest.h>

#include "tests/workbook/compound_document_fixtures.h"

namespace linograf::workbook {
namespace {

using cfbtest::Flatten;
using cfbtest::Pattern;

struct KeepCase {
    const char* label;
    std::u16string name;
    TCompoundElementType type;
    bool kept;
};

class ExtraObjectsKeep : public ::testing::TestWithParam<KeepCase> {};

TEST_P(ExtraObjectsKeep, KeepsAllButTheRecordStreamsAndTheMacroStorage) {
    const KeepCase& c = GetParam();
    TCompoundDocument read;
    if (c.type == TCompoundElementType::cetStream)
        read.Root().CreateStream(c.name).Write(Pattern(100, 1));
    else
        read.Root().CreateStorage(c.name).CreateStream(u"Inner").Write(Pattern(100, 2));
    read.Root().CreateStream(u"\u0005SummaryInformation").Write(Pattern(50, 3));

    TExtraObjects extra;
    extra.Assign(read);
    EXPECT_EQ(extra.Elements().Contains(c.name), c.kept);
    EXPECT_TRUE(extra.Elements().Contains(u"\u0005SummaryInformation"));
}

INSTANTIATE_TEST_SUITE_P(
    Names, ExtraObjectsKeep,
    ::testing::Values(KeepCase{"Workbook", u"Workbook", TCompoundElementType::cetStream, false},
                      KeepCase{"WorkbookUpper", u"WORKBOOK", TCompoundElementType::cetStream, false},
                      KeepCase{"Book", u"Book", TCompoundElementType::cetStream, false},
                      KeepCase{"BookLower", u"book", TCompoundElementType::cetStream, false},
                      KeepCase{"MacroStorage", u"_VBA_PROJECT_CUR", TCompoundElementType::cetStorage, false},
                      // The macro storage is matched exactly, as the file's reader does.
                      KeepCase{"MacroStorageOtherCase", u"_vba_project_cur", TCompoundElementType::cetStorage,
                               true},
                      KeepCase{"LongerName", u"Workbook1", TCompoundElementType::cetStream, true},
                      KeepCase{"StorageNamedBook", u"Books", TCompoundElementType::cetStorage, true}),
    [](const ::testing::TestParamInfo<KeepCase>& info) { return std::string(info.param.label); });

TEST(ExtraObjects, PutsTheKeptElementsIntoTheNextFileBesideANewWorkbookStream) {
    TCompoundDocument read;
    read.Root().CreateStream(u"Workbook").Write(Pattern(9000, 1));
    read.Root().CreateStream(u"\u0005SummaryInformation").Write(Pattern(200, 2));
    read.Root().CreateStream(u"\u0005DocumentSummaryInformation").Write(Pattern(300, 3));
    TCompoundStorage& store = read.Root().CreateStorage(u"MsoDataStore");
    store.CreateStream(u"Workbook").Write("nested streams keep their names");  // not the record stream
    read.Root().CreateStorage(u"_VBA_PROJECT_CUR").CreateStream(u"PROJECT").Write("macros");

    TExtraObjects extra;
    extra.Assign(TCompoundDocument::Load(read.Save()));
    read.Root().OpenStream(u"\u0005SummaryInformation").Write("later changes to the source");

    TCompoundDocument next;
    extra.CopyTo(next.Root());
    next.Root().CreateStream(u"Workbook").Write("new records");
    const std::map<std::string, std::string> expected = {
        {"Workbook", "new records"},
        {"\x05SummaryInformation", Pattern(200, 2)},
        {"\x05"
         "DocumentSummaryInformation",
         Pattern(300, 3)},
        {"MsoDataStore/Workbook", "nested streams keep their names"},
    };
    EXPECT_EQ(Flatten(TCompoundDocument::Load(next.Save())), expected);

    // A second write from the same workbook gets the same elements again.
    TCompoundDocument again;
    extra.CopyTo(again.Root());
    again.Root().CreateStream(u"Workbook").Write("new records");
    EXPECT_EQ(again.Save(), next.Save());
}

TEST(ExtraObjects, AssignReplacesAndClearEmpties) {
    TCompoundDocument first, second;
    first.Root().CreateStream(u"First");
    second.Root().CreateStream(u"Second");
    second.Root().CreateStream(u"Workbook");
    TExtraObjects extra;
    EXPECT_TRUE(extra.IsEmpty());
    extra.Assign(first);
    extra.Assign(second);
    EXPECT_FALSE(extra.Elements().Contains(u"First"));
    EXPECT_TRUE(extra.Elements().Contains(u"Second"));
    extra.Clear();
    EXPECT_TRUE(extra.IsEmpty());
    extra.Assign(first);
    TCompoundDocument plain;  // a file with nothing but its record stream leaves nothing to keep
    plain.Root().CreateStream(u"Book");
    extra.Assign(plain);
    EXPECT_TRUE(extra.IsEmpty());
}

}  // namespace
}  // namespace linograf::workbook
