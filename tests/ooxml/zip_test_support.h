#pragma once
// Building, inspecting and damaging ZIP archives in tests, and reading them with the independent
// peers (python3 zipfile, unzip). Record fields are read here by offset, not through the
// archive's own decoders, so the layout is checked independently.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/date_time.h"
#include "workbook/ooxml/norv_zip.h"

namespace linograf::workbook::test {

// 2024-05-17 13:45:30: even seconds, so the MS-DOS form holds it exactly. A function, not a
// global: the date helpers' own tables are initialised dynamically.
inline TDateTime FixedTime() {
    return EncodeDateTime({2024, 5, 17, 13, 45, 30, 0});
}

struct Part {
    std::string name;
    std::string data;
};

std::u16string U16(std::string_view ascii);

// An archive made by TXLSZipArchive (CreateNew, then AddStream per part) with fixed time stamps.
std::string BuildArchive(const std::vector<Part>& parts);
// The same through TNorvZip with folder entries switched off, so exactly these entries appear.
std::string BuildArchiveWithoutFolders(const std::vector<Part>& parts);

std::uint16_t Get16(std::string_view bytes, std::size_t at);
std::uint32_t Get32(std::string_view bytes, std::size_t at);
void Put16(std::string& bytes, std::size_t at, std::uint16_t value);
void Put32(std::string& bytes, std::size_t at, std::uint32_t value);

// Offsets in an archive without trailing comment: the end record is its last 22 bytes.
std::size_t EndRecordOffset(std::string_view archive);
// Offset of the index-th central directory record, walked from the end record.
std::size_t CentralRecordOffset(std::string_view archive, int index);

// Text that deflates well, and bytes that do not.
std::string SampleText(std::size_t size);
std::string RandomBytes(std::size_t size, std::uint32_t seed);

// Names and contents in archive order as python3 zipfile reads them, after its testzip() found no
// CRC error; an empty list and `error` set when python failed.
struct PeerListing {
    std::vector<Part> entries;
    std::string error;
};
PeerListing ReadWithPython(const std::string& path);

// `unzip -t` exit code and output.
std::pair<int, std::string> TestWithUnzip(const std::string& path);

}  // namespace linograf::workbook::test
