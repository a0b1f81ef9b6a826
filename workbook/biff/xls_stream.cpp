#include "workbook/biff/xls_stream.h"

#include <algorithm>
#include <stdexcept>

#include "base/atomic_file.h"
#include "base/stream.h"
#include "workbook/cfb/compound_document.h"
#include "workbook/cfb/compound_document_writer.h"
#include "workbook/cfb/compound_file_writer.h"
#include "workbook/model/extra_objects.h"

namespace linograf::workbook {
namespace {

constexpr std::u16string_view kStreamName = u"Workbook";

}  // namespace

TXLSStream::TXLSStream() = default;

TXLSStream::~TXLSStream() {
    Discard();
}

void TXLSStream::Discard() noexcept {
    document_.reset();
    file_.reset();  // removes the temporary file
}

void TXLSStream::OpenForWrite(const std::string& file_name, TStream* target, const TExtraObjects* preserved) {
    if (!target && file_name.empty()) throw std::runtime_error("Filename is missing");
    Discard();
    target_ = target;
    preserved_ = preserved;
    std::string().swap(memory_);
    sent_size_ = 0;
    if (!block_) block_.reset(new uint8_t[kBlockSize]);
    block_start_ = 0;
    cur_ = filled_ = block_.get();
    end_ = block_.get() + kBlockSize;
    if (!target) {
        file_ = std::make_unique<TAtomicFileWriter>(file_name);
        document_ = std::make_unique<TCompoundFileWriter>(file_->TempName(), kStreamName);
        if (preserved) preserved->CopyTo(document_->Root());
    }
}

void TXLSStream::WriteRecord(uint16_t id, const void* data, size_t length) {
    if (length > 0xFFFF) throw std::length_error("Record is too long");
    uint8_t* p = Reserve(4 + length);
    p[0] = static_cast<uint8_t>(id);
    p[1] = static_cast<uint8_t>(id >> 8);
    p[2] = static_cast<uint8_t>(length);
    p[3] = static_cast<uint8_t>(length >> 8);
    if (length) std::memcpy(p + 4, data, length);
    Advance(4 + length);
}

void TXLSStream::WriteLarge(const void* data, size_t count) {
    SendBlock();
    if (count <= kBlockSize) {
        std::memcpy(cur_, data, count);
        Advance(count);
        return;
    }
    SendAt(block_start_, data, count);
    block_start_ += count;
}

void TXLSStream::SendBlock() {
    const uint64_t position = Position();
    const size_t filled = static_cast<size_t>(filled_ - block_.get());
    if (filled > 0) SendAt(block_start_, block_.get(), filled);
    block_start_ = position;
    cur_ = filled_ = block_.get();
}

void TXLSStream::SendAt(uint64_t offset, const void* data, size_t count) {
    if (document_) {
        document_->Seek(static_cast<int64_t>(offset), TSeekOrigin::soBeginning);
        document_->Write(data, count);
    } else {
        if (memory_.size() < offset + count) memory_.resize(static_cast<size_t>(offset + count), '\0');
        std::memcpy(memory_.data() + offset, data, count);
    }
    sent_size_ = std::max(sent_size_, offset + count);
}

uint64_t TXLSStream::Size() const {
    if (filled_ == block_.get()) return sent_size_;
    return std::max(sent_size_, block_start_ + static_cast<uint64_t>(filled_ - block_.get()));
}

void TXLSStream::Patch(uint64_t offset, const void* data, size_t count) {
    const uint64_t size = Size();
    if (offset > size || count > size - offset) throw std::out_of_range("Stream seek error");
    const auto* bytes = static_cast<const uint8_t*>(data);
    const uint64_t end = offset + count;
    const uint64_t block_end = block_start_ + static_cast<uint64_t>(filled_ - block_.get());
    // The parts before, inside and after the block.
    if (offset < block_start_) {
        const uint64_t stop = std::min(end, block_start_);
        SendAt(offset, bytes, static_cast<size_t>(stop - offset));
    }
    const uint64_t from = std::max(offset, block_start_), to = std::min(end, block_end);
    if (from < to)
        std::memcpy(block_.get() + (from - block_start_), bytes + (from - offset),
                    static_cast<size_t>(to - from));
    if (end > block_end) {
        const uint64_t start = std::max(offset, block_end);
        SendAt(start, bytes + (start - offset), static_cast<size_t>(end - start));
    }
}

uint64_t TXLSStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                         : origin == TSeekOrigin::soCurrent ? static_cast<int64_t>(Position())
                                                            : static_cast<int64_t>(Size());
    if (base + offset < 0) throw std::out_of_range("Stream seek error");
    const auto at = static_cast<uint64_t>(base + offset);
    const uint64_t block_end = block_start_ + static_cast<uint64_t>(filled_ - block_.get());
    if (at >= block_start_ && at <= block_end) {
        cur_ = block_.get() + (at - block_start_);
    } else {
        SendBlock();
        block_start_ = at;
    }
    return at;
}

void TXLSStream::Close() {
    SendBlock();
    if (!target_) {
        document_->Close();
        document_.reset();
        file_->Commit();
        file_.reset();
        return;
    }
    TCompoundDocument document;
    if (preserved_) preserved_->CopyTo(document.Root());
    if (memory_.size() < cfb::kMiniStreamCutoff) {
        document.Root().CreateStream(kStreamName).Write(memory_);
        const std::string image = document.Save();
        target_->WriteBuffer(image.data(), image.size());
        return;
    }
    // The same layout as a file: the stream in the sectors right behind the header, the rest
    // of the document after it.
    TCompoundDocumentWriter writer(document);
    writer.SetExternalStream(kStreamName, memory_.size());
    const std::string rest = writer.Write();
    const size_t sector = document.SectorSize();
    target_->WriteBuffer(rest.data(), sector);
    target_->WriteBuffer(memory_.data(), memory_.size());
    const std::string padding(static_cast<size_t>(writer.FirstSectorWritten()) * sector - memory_.size(),
                              '\0');
    target_->WriteBuffer(padding.data(), padding.size());
    target_->WriteBuffer(rest.data() + sector, rest.size() - sector);
    std::string().swap(memory_);
}

}  // namespace linograf::workbook
