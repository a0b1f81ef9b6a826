#include "workbook/xls_stream.h"

#include <stdexcept>

#include "workbook/atomic_file.h"
#include "workbook/compound_document.h"
#include "workbook/extra_objects.h"
#include "workbook/ooxml/stream.h"

namespace linograf::workbook {

void TXLSStream::OpenForWrite(const std::string& file_name, TStream* target, const TExtraObjects* preserved) {
    if (!target && file_name.empty()) throw std::runtime_error("Filename is missing");
    file_name_ = file_name;
    target_ = target;
    preserved_ = preserved;
    bytes_.clear();
    position_ = 0;
}

void TXLSStream::WriteRecord(uint16_t id, const void* data, size_t length) {
    if (length > 0xFFFF) throw std::length_error("Record is too long");
    WriteHeader(id, static_cast<uint16_t>(length));
    if (length) Write(data, length);
}

void TXLSStream::Overwrite(const void* data, size_t count) {
    if (position_ + count > bytes_.size()) bytes_.resize(position_ + count, '\0');
    std::memcpy(bytes_.data() + position_, data, count);
    position_ += count;
}

void TXLSStream::Patch(uint64_t offset, const void* data, size_t count) {
    if (offset > bytes_.size() || count > bytes_.size() - offset) throw std::out_of_range("Stream seek error");
    std::memcpy(bytes_.data() + offset, data, count);
}

uint64_t TXLSStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                         : origin == TSeekOrigin::soCurrent ? static_cast<int64_t>(position_)
                                                            : static_cast<int64_t>(bytes_.size());
    if (base + offset < 0) throw std::out_of_range("Stream seek error");
    position_ = static_cast<size_t>(base + offset);
    return position_;
}

void TXLSStream::Close() {
    TCompoundDocument document;
    if (preserved_) preserved_->CopyTo(document.Root());
    document.Root().CreateStream(u"Workbook").Write(bytes_);
    std::string().swap(bytes_);
    position_ = 0;
    const std::string image = document.Save();
    if (target_) {
        target_->WriteBuffer(image.data(), image.size());
    } else {
        WriteFileAtomically(file_name_, image);
    }
}

}  // namespace linograf::workbook
