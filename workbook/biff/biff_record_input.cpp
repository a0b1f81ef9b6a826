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

TBiffRecordInput::TBiffRecordInput() = default;
TBiffRecordInput::~TBiffRecordInput() = default;

int TBiffRecordInput::Open(const std::string& file_name, TStream* source, TExtraObjects* extra) {
    Close();
    std::unique_ptr<TFileStream> input;
    TFileBytes file;
    if (source) {
        source->SetPosition(0);
        source_bytes_ = source->ReadRest();
        file_ = source_bytes_;
    } else {
        input = std::make_unique<TFileStream>(file_name, TFileMode::fmOpenRead);
        file.size = static_cast<uint64_t>(std::max<int64_t>(input->Size(), 0));
        file.read = [stream = input.get()](uint64_t at, size_t count, char* to) {
            stream->SetPosition(static_cast<int64_t>(at));
            stream->ReadBuffer(to, count);
        };
        char head[8] = {};
        const size_t head_size = static_cast<size_t>(std::min<uint64_t>(file.size, sizeof head));
        file.read(0, head_size, head);
        if (!TCompoundDocument::IsCompoundDocument(std::string_view(head, head_size))) {
            // A plain BIFF2-4 file, read whole; anything else is refused before it is read.
            if (PlainFileVersion(std::string_view(head, head_size)) == 0)
                throw std::runtime_error(kNotAWorkbook);
            file_bytes_ = std::make_unique_for_overwrite<char[]>(file.size);
            file.read(0, file.size, file_bytes_.get());
            file_ = std::string_view(file_bytes_.get(), file.size);
            input.reset();
        }
    }
    if (!input) {
        if (!TCompoundDocument::IsCompoundDocument(file_)) {
            const int version = source ? 0 : PlainFileVersion(file_);
            if (version == 0) throw std::runtime_error(kNotAWorkbook);
            bytes_ = file_;
            size_ = bytes_.size();
            return version;
        }
        file = {file_.size(),
                [this](uint64_t at, size_t count, char* to) { std::memcpy(to, file_.data() + at, count); }};
    }
    // The record stream is most of the file and is read from it as it is walked.
    TFileExtents workbook, book;
    const TCompoundDocument document =
        TCompoundDocument::Load(file, [&](std::u16string_view name, const TFileExtents& extents) {
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
        if (!extents->ranges.empty()) {
            ranges_ = extents->ranges;
            size_ = extents->size;
            read_ = std::move(file.read);
            file_input_ = std::move(input);
        } else {
            // Kept in the mini stream, or cut short by the end of the file.
            gathered_ = document.Root().OpenStream(name).Bytes();
            ReleaseFile();
            bytes_ = gathered_;
            size_ = bytes_.size();
        }
        return version;
    }
    throw std::runtime_error(kNotAWorkbook);
}

bool TBiffRecordInput::Refill(size_t count) {
    if (!read_ || count > Left()) return false;
    const std::string_view carry = bytes_.substr(position_);
    // Never more than the stream has left: a small or false stream takes no full window.
    const size_t room = std::max<size_t>(count, static_cast<size_t>(std::min<uint64_t>(kWindow, Left())));
    window_ ^= 1;
    if (window_sizes_[window_] < room) {
        windows_[window_] = std::make_unique_for_overwrite<char[]>(room);
        window_sizes_[window_] = room;
    }
    char* window = windows_[window_].get();
    if (!carry.empty()) std::memmove(window, carry.data(), carry.size());
    size_t filled = carry.size();
    while (filled < room && range_ < ranges_.size()) {
        const auto& [at, length] = ranges_[range_];
        const size_t n = static_cast<size_t>(std::min<uint64_t>(room - filled, length - range_read_));
        read_(at + range_read_, n, window + filled);
        filled += n;
        range_read_ += n;
        if (range_read_ == length) {
            ++range_;
            range_read_ = 0;
        }
    }
    base_ += position_;
    position_ = 0;
    bytes_ = std::string_view(window, filled);
    return bytes_.size() >= count;
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
    base_ = 0;
    size_ = 0;
    read_ = nullptr;
    file_input_.reset();
    ranges_.clear();
    range_ = 0;
    range_read_ = 0;
    windows_[0].reset();
    windows_[1].reset();
    window_sizes_[0] = window_sizes_[1] = 0;
}

}  // namespace linograf::workbook
