#include "workbook/biff/biff_record_input.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "base/file_stream.h"
#include "base/stream.h"
#include "workbook/cfb/compound_document.h"
#include "workbook/model/extra_objects.h"

namespace linograf::workbook {
namespace {

const char* const kNotAWorkbook = "The file is not an Excel workbook";

// BIFF2-4 files are plain record streams; their first record is a BOF whose id tells the version.
int PlainFileVersion(std::string_view bytes) {
    if (bytes.size() < 4) return 0;
    const unsigned id = static_cast<uint8_t>(bytes[0]) | (static_cast<uint8_t>(bytes[1]) << 8);
    if ((id & 0xFF) != 0x09) return 0;
    if (id < 0x0100) return 2;
    if (id >= 0x0200 && id <= 0x02FF) return 3;
    if (id >= 0x0400 && id <= 0x04FF) return 4;
    return 0;
}

}  // namespace

int TBiffRecordInput::Open(const std::string& file_name, TStream* source, TExtraObjects* extra) {
    Close();
    if (source) {
        source->SetPosition(0);
        source_bytes_ = source->ReadRest();
        file_ = source_bytes_;
    } else {
        TFileStream input(file_name, TFileMode::fmOpenRead);
        const auto size = static_cast<size_t>(std::max<int64_t>(input.Size(), 0));
        file_bytes_ = std::make_unique_for_overwrite<char[]>(size);
        input.ReadBuffer(file_bytes_.get(), size);
        file_ = std::string_view(file_bytes_.get(), size);
    }
    if (!TCompoundDocument::IsCompoundDocument(file_)) {
        const int version = source ? 0 : PlainFileVersion(file_);
        if (version == 0) throw std::runtime_error(kNotAWorkbook);
        bytes_ = file_;
        return version;
    }
    // The record stream is most of the file and is read straight from it: a document holding
    // it in the file's sector order needs no copy at all.
    TFileExtents workbook, book;
    const TCompoundDocument document =
        TCompoundDocument::Load(file_, [&](std::u16string_view name, const TFileExtents& extents) {
            if (ElementNamesEqual(name, u"Workbook")) {
                workbook = extents;
                return true;
            }
            if (ElementNamesEqual(name, u"Book")) {
                book = extents;
                return true;
            }
            return false;
        });
    if (extra) extra->Assign(document);
    // "Workbook" wins over "Book" when a file has both; names compare without regard to case.
    for (const auto& [name, version, extents] :
         {std::tuple{u"Workbook", 8, &workbook}, std::tuple{u"Book", 5, &book}}) {
        if (!document.Root().Contains(name)) continue;
        if (document.Root().Element(name).type != TCompoundElementType::cetStream) continue;
        if (extents->ranges.size() == 1) {
            bytes_ = std::string_view(file_).substr(extents->ranges[0].first, extents->ranges[0].second);
        } else if (!extents->ranges.empty()) {
            gathered_.reserve(extents->size);
            for (const auto& [at, count] : extents->ranges) gathered_.append(file_, at, count);
            ReleaseFile();
            bytes_ = gathered_;
        } else {
            // Kept in the mini stream, or cut short by the end of the file.
            gathered_ = document.Root().OpenStream(name).Bytes();
            ReleaseFile();
            bytes_ = gathered_;
        }
        return version;
    }
    throw std::runtime_error(kNotAWorkbook);
}

void TBiffRecordInput::StreamEnds() {
    throw std::runtime_error("Stream read error");
}

void TBiffRecordInput::Read(void* target, size_t count) {
    const uint8_t* p = Take(count);
    if (count) std::memcpy(target, p, count);
}

void TBiffRecordInput::ReleaseFile() {
    file_ = {};
    file_bytes_.reset();
    std::string().swap(source_bytes_);
}

void TBiffRecordInput::Close() {
    ReleaseFile();
    std::string().swap(gathered_);
    bytes_ = {};
    position_ = 0;
}

}  // namespace linograf::workbook
