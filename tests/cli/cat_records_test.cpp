// `linograf cat --records`: the BIFF record listing of an .xls file, checked against an
// independent walk of the same stream (python3-olefile takes the Workbook stream out of the
// compound file, a few lines of python step through the record headers).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "workbook/cfb/compound_document.h"

namespace linograf {
namespace {

struct Record {
    unsigned long offset;
    unsigned id;
    unsigned long length;
    bool operator==(const Record&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Record& r) {
    return out << "{" << r.offset << ", 0x" << std::hex << r.id << std::dec << ", " << r.length << "}";
}

// Offset, id and length of every line our listing prints: "%08x NAME %04X LENGTH bytes...".
std::vector<Record> ListedRecords(const std::string& listing) {
    std::vector<Record> records;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string offset, name, id;
        unsigned long length = 0;
        fields >> offset >> name >> id >> length;
        records.push_back(
            {std::stoul(offset, nullptr, 16), static_cast<unsigned>(std::stoul(id, nullptr, 16)), length});
    }
    return records;
}

std::vector<Record> PeerRecords(const std::string& path) {
    const test::CommandResult walked = test::RunPython(R"(
import sys, struct, olefile
data = olefile.OleFileIO(sys.argv[1]).openstream('Workbook').read()
at = 0
depth = 0
while at + 4 <= len(data):
    # Zeros after the last substream's EOF only round the stream up to a sector.
    if depth == 0 and at > 0 and not data[at:].strip(b'\0'):
        break
    rid, length = struct.unpack_from('<HH', data, at)
    print(at, rid, length)
    depth += 1 if rid == 0x0809 else -1 if rid == 0x000A else 0
    at += 4 + length
)",
                                                       {path});
    EXPECT_EQ(walked.exit_code, 0) << walked.errors;
    std::vector<Record> records;
    std::istringstream lines(walked.output);
    Record r{};
    while (lines >> r.offset >> r.id >> r.length) records.push_back(r);
    return records;
}

TEST(CatRecords, ListsEveryRecordOfAnXlwtWorkbookWhereAnIndependentWalkFindsIt) {
    test::TempDir dir;
    const std::string path = dir.File("peer.xls");
    const test::CommandResult made = test::RunPython(R"(
import sys, xlwt
book = xlwt.Workbook()
sheet = book.add_sheet('Data')
for r in range(40):
    sheet.write(r, 0, 'text %d' % r)
    sheet.write(r, 1, r * 1.5)
book.add_sheet('Second').write(0, 0, 'x')
book.save(sys.argv[1])
)",
                                                     {path});
    ASSERT_EQ(made.exit_code, 0) << made.errors;

    const test::CommandResult listed = test::RunCommand({LINOGRAF_PROGRAM, "cat", "--records", path});
    ASSERT_EQ(listed.exit_code, 0) << listed.errors;
    const std::vector<Record> expected = PeerRecords(path);
    ASSERT_GT(expected.size(), 40u);
    EXPECT_EQ(ListedRecords(listed.output), expected);
    // The records every workbook has carry their names, and no fixed-size record is flagged.
    for (const char* name : {" BOF ", " SST ", " LABELSST ", " BOUNDSHEET ", " EOF "})
        EXPECT_NE(listed.output.find(name), std::string::npos) << name;
    EXPECT_EQ(listed.output.find("expected"), std::string::npos) << listed.output;
}

TEST(CatRecords, ACutOffRecordEndsTheListingWithAnErrorAfterTheRecordsBeforeIt) {
    test::TempDir dir;
    const std::string path = dir.File("cut.xls");
    // BOF (id 0x0809, 16 bytes of data), then a header announcing 200 bytes of which 3 follow.
    std::string stream("\x09\x08\x10\x00", 4);
    stream += std::string(16, '\0');
    stream += std::string(
        "\xFC\x00\xC8\x00"
        "abc",
        7);
    workbook::TCompoundDocument document;
    document.Root().CreateStream(u"Workbook", stream);
    document.SaveToFile(path);

    const test::CommandResult listed = test::RunCommand({LINOGRAF_PROGRAM, "cat", "--records", path});
    EXPECT_EQ(listed.exit_code, 1);
    EXPECT_EQ(ListedRecords(listed.output), (std::vector<Record>{{0, 0x0809, 16}}));
    EXPECT_NE(listed.errors.find("Record at offset 20 is cut off"), std::string::npos) << listed.errors;
}

TEST(CatRecords, FilesWithoutAWorkbookStreamAreRefused) {
    test::TempDir dir;
    const std::string not_compound = dir.File("plain.xls");
    test::WriteFileBytes(not_compound, "just text, no compound document");
    const test::CommandResult plain = test::RunCommand({LINOGRAF_PROGRAM, "cat", "--records", not_compound});
    EXPECT_EQ(plain.exit_code, 1);
    EXPECT_NE(plain.errors.find("plain.xls"), std::string::npos) << plain.errors;

    const std::string other = dir.File("other.doc");
    workbook::TCompoundDocument document;
    document.Root().CreateStream(u"WordDocument", std::string("abc"));
    document.SaveToFile(other);
    const test::CommandResult no_stream = test::RunCommand({LINOGRAF_PROGRAM, "cat", "--records", other});
    EXPECT_EQ(no_stream.exit_code, 1);
    EXPECT_NE(no_stream.errors.find("no Workbook stream"), std::string::npos) << no_stream.errors;

    const test::CommandResult usage = test::RunCommand({LINOGRAF_PROGRAM, "cat", "--records=yes", other});
    EXPECT_EQ(usage.exit_code, 2);
    EXPECT_NE(usage.errors.find("--records takes no value"), std::string::npos) << usage.errors;
}

}  // namespace
}  // namespace linograf

namespace linograf {
namespace {

// An .xlsx that is no package (or an encrypted one, a compound document) is an error of `cat`,
// not an empty listing.
TEST(CatWorkbook, XlsxThatIsNoPackageIsAnError) {
    test::TempDir dir;
    const std::string text = dir.File("text.xlsx");
    test::WriteFileBytes(text, "just text, no ZIP archive");
    const std::string encrypted = dir.File("encrypted.xlsx");
    workbook::TCompoundDocument document;
    document.Root().CreateStream(u"EncryptedPackage", std::string("abc"));
    document.SaveToFile(encrypted);
    const std::pair<std::string, const char*> cases[] = {{text, "not a ZIP archive"},
                                                         {encrypted, "encrypted"}};
    for (const auto& [path, message] : cases) {
        const test::CommandResult result = test::RunCommand({LINOGRAF_PROGRAM, "cat", path});
        EXPECT_EQ(result.exit_code, 1) << path;
        EXPECT_TRUE(result.output.empty()) << result.output;
        EXPECT_NE(result.errors.find(message), std::string::npos) << result.errors;
    }
}

}  // namespace
}  // namespace linograf
