#include "tests/ooxml/zip_test_support.h"

#include <random>
#include <stdexcept>

#include "base/memory_stream.h"
#include "tests/support/run_command.h"
#include "workbook/ooxml/xls_zip_archive.h"

namespace linograf::workbook::test {

std::u16string U16(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::string BuildArchive(const std::vector<Part>& parts) {
    TMemoryStream out;
    TXLSZipArchive zip;
    zip.Zip().SetEntryDateTime(FixedTime());
    zip.CreateNew(out);
    for (const Part& part : parts) {
        TMemoryStream data(part.data);
        zip.AddStream(u"", U16(part.name), data);
    }
    zip.Close();
    return out.Release();
}

std::string BuildArchiveWithoutFolders(const std::vector<Part>& parts) {
    TMemoryStream out;
    TXLSZipArchive zip;
    zip.Zip().SetEntryDateTime(FixedTime());
    zip.Zip().SetStoreFolders(false);
    zip.CreateNew(out);
    for (const Part& part : parts) zip.Zip().AddBytes(part.name, part.data);
    zip.Close();
    return out.Release();
}

std::uint16_t Get16(std::string_view b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b.at(at)) |
                                      (static_cast<unsigned char>(b.at(at + 1)) << 8));
}

std::uint32_t Get32(std::string_view b, std::size_t at) {
    return Get16(b, at) | (std::uint32_t{Get16(b, at + 2)} << 16);
}

void Put16(std::string& b, std::size_t at, std::uint16_t v) {
    b.at(at) = static_cast<char>(v & 0xFF);
    b.at(at + 1) = static_cast<char>(v >> 8);
}

void Put32(std::string& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, static_cast<std::uint16_t>(v & 0xFFFF));
    Put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

std::size_t EndRecordOffset(std::string_view archive) {
    if (archive.size() < 22 || Get32(archive, archive.size() - 22) != 0x06054b50)
        throw std::logic_error("no end record at the end of the archive");
    return archive.size() - 22;
}

std::size_t CentralRecordOffset(std::string_view archive, int index) {
    std::size_t at = Get32(archive, EndRecordOffset(archive) + 16);
    for (int i = 0; i < index; ++i)
        at += 46 + Get16(archive, at + 28) + Get16(archive, at + 30) + Get16(archive, at + 32);
    if (Get32(archive, at) != 0x02014b50) throw std::logic_error("no central record there");
    return at;
}

std::string SampleText(std::size_t size) {
    std::string text;
    for (int row = 1; text.size() < size; ++row)
        text += "<row r=\"" + std::to_string(row) + "\"><c r=\"A" + std::to_string(row) + "\" t=\"s\"><v>" +
                std::to_string(row % 97) + "</v></c></row>";
    text.resize(size);
    return text;
}

std::string RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
    return bytes;
}

namespace {

std::string FromHex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

}  // namespace

PeerListing ReadWithPython(const std::string& path) {
    static const char* kScript = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    bad = z.testzip()
    if bad is not None:
        sys.exit("CRC error in " + bad)
    for info in z.infolist():
        print(info.filename.encode("utf-8").hex(), z.read(info).hex())
)";
    PeerListing listing;
    const linograf::test::CommandResult r = linograf::test::RunPython(kScript, {path});
    if (r.exit_code != 0) {
        listing.error = "python3 zipfile failed: " + r.errors;
        return listing;
    }
    std::size_t start = 0;
    while (start < r.output.size()) {
        std::size_t end = r.output.find('\n', start);
        if (end == std::string::npos) end = r.output.size();
        const std::string_view line(r.output.data() + start, end - start);
        const std::size_t blank = line.find(' ');
        listing.entries.push_back({FromHex(line.substr(0, blank)), FromHex(line.substr(blank + 1))});
        start = end + 1;
    }
    return listing;
}

std::pair<int, std::string> TestWithUnzip(const std::string& path) {
    const linograf::test::CommandResult r = linograf::test::RunCommand({"unzip", "-t", path});
    return {r.exit_code, r.output + r.errors};
}

}  // namespace linograf::workbook::test
