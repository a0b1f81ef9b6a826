// Compound documents against independent peers: python3-olefile reads what we write (in its
// strict mode), and we read what python3-xlwt and LibreOffice write, comparing with olefile's
// view of the same files. Files rewritten by us still open in python3-xlrd and LibreOffice.
#include "workbook/cfb/compound_document.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "tests/workbook/compound_document_fixtures.h"

namespace linograf::workbook {
namespace {

using cfbtest::Flatten;
using cfbtest::Pattern;

std::string FromHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

struct OleListing {
    std::map<std::string, std::string> streams;  // path -> bytes
    std::set<std::string> storages;
};

// olefile refuses files with defects of level "incorrect" or worse in this mode.
constexpr const char* kOlefileDump = R"(
import sys, olefile
ole = olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)
for path in ole.listdir(streams=True, storages=True):
    name = "/".join(path).encode("utf-8").hex()
    if ole.get_type(path) == olefile.STGTY_STORAGE:
        print("D", name)
    else:
        data = ole.openstream(path).read()
        assert len(data) == ole.get_size(path)
        print("F", name, data.hex() or "-")
)";

OleListing ReadWithOlefile(const std::string& path) {
    test::CommandResult r = test::RunPython(kOlefileDump, {path});
    EXPECT_EQ(r.exit_code, 0) << r.errors;
    OleListing listing;
    std::istringstream lines(r.output);
    std::string kind, name, data;
    while (lines >> kind >> name) {
        if (kind == "D") {
            listing.storages.insert(FromHex(name));
        } else {
            lines >> data;
            listing.streams[FromHex(name)] = data == "-" ? std::string() : FromHex(data);
        }
    }
    return listing;
}

void CollectStorages(const TCompoundStorage& storage, const std::string& prefix, std::set<std::string>& out) {
    for (const TCompoundElementInfo& e : storage.Elements()) {
        if (e.type != TCompoundElementType::cetStorage) continue;
        const std::string path = prefix + cfbtest::Utf8(e.name);
        out.insert(path);
        CollectStorages(storage.OpenStorage(e.name), path + "/", out);
    }
}

std::set<std::string> Storages(const TCompoundDocument& document) {
    std::set<std::string> out;
    CollectStorages(document.Root(), "", out);
    return out;
}

void RequireOlefile() {
    if (!test::PythonHasModule("olefile")) GTEST_SKIP() << "python3-olefile is not installed";
}

// ---------------------------------------------------------------------------------------------

struct WriteCase {
    int version;
    std::size_t workbook_size;
};

class OlefileReadsOurFiles : public ::testing::TestWithParam<WriteCase> {};

TEST_P(OlefileReadsOurFiles, NewWorkbookHasExactlyOneWorkbookStream) {
    RequireOlefile();
    test::TempDir dir;
    TCompoundDocument document(GetParam().version);
    document.Root().CreateStream(u"Workbook").Write(Pattern(GetParam().workbook_size, 5));
    document.SaveToFile(dir.File("new.xls"));
    const OleListing listing = ReadWithOlefile(dir.File("new.xls"));
    EXPECT_EQ(listing.streams,
              (std::map<std::string, std::string>{{"Workbook", Pattern(GetParam().workbook_size, 5)}}));
    EXPECT_TRUE(listing.storages.empty());
}

TEST_P(OlefileReadsOurFiles, NestedStoragesAndSummaryStreams) {
    RequireOlefile();
    test::TempDir dir;
    TCompoundDocument document(GetParam().version);
    TCompoundStorage& root = document.Root();
    root.CreateStream(u"Workbook").Write(Pattern(GetParam().workbook_size, 1));
    root.CreateStream(u"\u0005SummaryInformation").Write(Pattern(180, 2));
    root.CreateStream(u"\u0005DocumentSummaryInformation").Write(Pattern(4100, 3));
    root.CreateStream(u"\u0001CompObj").Write(Pattern(73, 4));
    root.CreateStream(u"Empty");
    TCompoundStorage& vba = root.CreateStorage(u"_VBA_PROJECT_CUR");
    vba.CreateStream(u"PROJECT").Write(Pattern(333, 5));
    TCompoundStorage& code = vba.CreateStorage(u"VBA");
    for (int i = 0; i < 12; ++i)
        code.CreateStream(u"Module" + std::u16string(1, static_cast<char16_t>(u'A' + i)))
            .Write(Pattern(static_cast<std::size_t>(i) * 700, static_cast<std::uint32_t>(i)));
    document.SaveToFile(dir.File("nested.xls"));

    const OleListing listing = ReadWithOlefile(dir.File("nested.xls"));
    EXPECT_EQ(listing.streams, Flatten(document));
    EXPECT_EQ(listing.storages, (std::set<std::string>{"_VBA_PROJECT_CUR", "_VBA_PROJECT_CUR/VBA"}));
}

INSTANTIATE_TEST_SUITE_P(Cases, OlefileReadsOurFiles,
                         ::testing::Values(WriteCase{3, 100}, WriteCase{3, 36000}, WriteCase{4, 100},
                                           WriteCase{4, 36000}),
                         [](const ::testing::TestParamInfo<WriteCase>& info) {
                             return "Version" + std::to_string(info.param.version) + "Workbook" +
                                    std::to_string(info.param.workbook_size);
                         });

// ---------------------------------------------------------------------------------------------
// Files of python3-xlwt

constexpr const char* kXlwtWrite = R"(
import sys, xlwt
rows = int(sys.argv[2])
wb = xlwt.Workbook()
for s in range(2):
    ws = wb.add_sheet("Sheet%d" % (s + 1))
    for r in range(rows):
        ws.write(r, 0, r * 1.5 + s)
        ws.write(r, 1, "text %d/%d" % (s, r))
wb.save(sys.argv[1])
)";

constexpr const char* kXlrdDump = R"(
import sys, xlrd
book = xlrd.open_workbook(sys.argv[1])
for sheet in book.sheets():
    for r in range(sheet.nrows):
        print(sheet.name, r, repr(sheet.row_values(r)))
)";

class XlwtFiles : public ::testing::TestWithParam<int> {};

TEST_P(XlwtFiles, ReadLikeOlefileReadsThem) {
    RequireOlefile();
    if (!test::PythonHasModule("xlwt")) GTEST_SKIP() << "python3-xlwt is not installed";
    test::TempDir dir;
    const std::string path = dir.File("xlwt.xls");
    ASSERT_EQ(test::RunPython(kXlwtWrite, {path, std::to_string(GetParam())}).exit_code, 0);

    const TCompoundDocument document = TCompoundDocument::LoadFile(path);
    const OleListing listing = ReadWithOlefile(path);
    ASSERT_TRUE(listing.streams.count("Workbook"));
    EXPECT_EQ(Flatten(document), listing.streams);
    EXPECT_EQ(Storages(document), listing.storages);
}

TEST_P(XlwtFiles, RewrittenByUsStillOpenInXlrd) {
    if (!test::PythonHasModule("xlwt") || !test::PythonHasModule("xlrd"))
        GTEST_SKIP() << "python3-xlwt/xlrd missing";
    test::TempDir dir;
    const std::string original = dir.File("xlwt.xls");
    ASSERT_EQ(test::RunPython(kXlwtWrite, {original, std::to_string(GetParam())}).exit_code, 0);
    const test::CommandResult expected = test::RunPython(kXlrdDump, {original});
    ASSERT_EQ(expected.exit_code, 0) << expected.errors;
    ASSERT_NE(expected.output.find("Sheet2"), std::string::npos);

    // Version 3 only: xlrd places every sector after a 512-byte header, so it cannot read
    // version 4 files (whose header takes a whole 4096-byte sector) from any producer.
    const TCompoundDocument read = TCompoundDocument::LoadFile(original);
    TCompoundDocument rewritten;
    read.Root().CopyTo(rewritten.Root());
    rewritten.SaveToFile(dir.File("rewritten.xls"));
    const test::CommandResult actual = test::RunPython(kXlrdDump, {dir.File("rewritten.xls")});
    EXPECT_EQ(actual.exit_code, 0) << actual.errors;
    EXPECT_EQ(actual.output, expected.output);
}

// xlwt pads the workbook stream to the 4096-byte mini stream cutoff: 2 rows give exactly that,
// 300 rows many sectors. (LibreOffice's summary streams below live in the mini stream.)
INSTANTIATE_TEST_SUITE_P(Rows, XlwtFiles, ::testing::Values(2, 300),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Rows" + std::to_string(info.param);
                         });

// ---------------------------------------------------------------------------------------------
// Files of LibreOffice

class LibreOffice {
  public:
    explicit LibreOffice(const test::TempDir& dir)
        : program_(test::FindProgram("soffice")),
          profile_("-env:UserInstallation=file://" + dir.File("profile")) {}
    bool Present() const { return !program_.empty(); }
    // Converts `file` into `format` ("xls", "csv") in `out_dir`.
    test::CommandResult Convert(const std::string& file, const std::string& format,
                                const std::string& out_dir) const {
        return test::RunCommand({program_, profile_, "--headless", "--norestore", "--convert-to", format,
                                 "--outdir", out_dir, file});
    }

  private:
    std::string program_, profile_;
};

TEST(LibreOfficeFiles, ReadLikeOlefileAndKeepTheirOtherStreamsWhenWrittenBack) {
    RequireOlefile();
    test::TempDir dir;
    LibreOffice office(dir);
    if (!office.Present()) GTEST_SKIP() << "LibreOffice is not installed";
    std::string csv = "name,value\n";
    for (int i = 0; i < 400; ++i) csv += "row" + std::to_string(i) + "," + std::to_string(i * 3) + "\n";
    test::WriteFileBytes(dir.File("table.csv"), csv);
    ASSERT_EQ(office.Convert(dir.File("table.csv"), "xls", dir.path().string()).exit_code, 0);
    const std::string original = dir.File("table.xls");

    const TCompoundDocument read = TCompoundDocument::LoadFile(original);
    const OleListing listing = ReadWithOlefile(original);
    EXPECT_EQ(Flatten(read), listing.streams);
    ASSERT_TRUE(listing.streams.count("Workbook"));
    ASSERT_GT(listing.streams.size(), 1u);  // summary information and the like

    // What a later write does: keep every other element, then write a new "Workbook" stream.
    TCompoundDocument kept;
    read.Root().CopyTo(kept.Root(),
                       [](const TCompoundElementInfo& e) { return !ElementNamesEqual(e.name, u"Workbook"); });
    for (int version : {3, 4}) {
        TCompoundDocument next(version);
        kept.Root().CopyTo(next.Root());
        next.Root().CreateStream(u"Workbook").Write(listing.streams.at("Workbook"));
        const std::string path = dir.File("back" + std::to_string(version) + ".xls");
        next.SaveToFile(path);
        EXPECT_EQ(ReadWithOlefile(path).streams, listing.streams) << "version " << version;
        // LibreOffice 7.4 takes version 4 files for plain text, so only version 3 goes back.
        if (version == 4) continue;
        std::filesystem::create_directory(dir.path() / "csv");
        ASSERT_EQ(office.Convert(path, "csv", (dir.path() / "csv").string()).exit_code, 0);
        EXPECT_EQ(test::ReadFileBytes(dir.File("csv/back3.csv")), csv);
    }
}

}  // namespace
}  // namespace linograf::workbook
