#include "workbook/read/biff_record_input.h"

#include <cstring>
#include <stdexcept>

#include "workbook/compound_document.h"
#include "workbook/extra_objects.h"
#include "workbook/ooxml/file_stream.h"
#include "workbook/ooxml/stream.h"

namespace linograf::workbook {
namespace {

const char* const kNotAWorkbook = "The file is not an Excel workbook";

// BIFF2-4 files are plain record streams; their first record is a BOF whose id tells the version.
int PlainFileVersion(const std::string& bytes) {
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
    std::string file;
    if (source) {
        source->SetPosition(0);
        file = source->ReadRest();
    } else {
        TFileStream input(file_name, TFileMode::fmOpenRead);
        file = input.ReadRest();
    }
    if (!TCompoundDocument::IsCompoundDocument(file)) {
        const int version = source ? 0 : PlainFileVersion(file);
        if (version == 0) throw std::runtime_error(kNotAWorkbook);
        bytes_ = std::move(file);
        return version;
    }
    const TCompoundDocument document = TCompoundDocument::Load(file);
    std::string().swap(file);
    if (extra) extra->Assign(document);
    // "Workbook" wins over "Book" when a file has both; names compare without regard to case.
    for (const auto& [name, version] : {std::pair{u"Workbook", 8}, std::pair{u"Book", 5}}) {
        if (!document.Root().Contains(name)) continue;
        if (document.Root().Element(name).type != TCompoundElementType::cetStream) continue;
        bytes_ = document.Root().OpenStream(name).Bytes();
        return version;
    }
    throw std::runtime_error(kNotAWorkbook);
}

bool TBiffRecordInput::PeekHeader(uint16_t& id, uint16_t& length) const {
    if (bytes_.size() - position_ < 4) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes_.data() + position_);
    id = static_cast<uint16_t>(p[0] | (p[1] << 8));
    length = static_cast<uint16_t>(p[2] | (p[3] << 8));
    return true;
}

bool TBiffRecordInput::ReadHeader(uint16_t& id, uint16_t& length) {
    if (!PeekHeader(id, length)) return false;
    position_ += 4;
    return true;
}

void TBiffRecordInput::Read(void* target, size_t count) {
    if (count > bytes_.size() - position_) throw std::runtime_error("Stream read error");
    if (count) std::memcpy(target, bytes_.data() + position_, count);
    position_ += count;
}

void TBiffRecordInput::Close() {
    std::string().swap(bytes_);
    position_ = 0;
}

}  // namespace linograf::workbook
