#include "base/memory_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace linograf::workbook {

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
    if (position_ >= bytes_.size()) return 0;
    const std::size_t n = std::min(count, bytes_.size() - position_);
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return n;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) return 0;
    if (position_ > bytes_.size()) bytes_.resize(position_, '\0');
    if (position_ == bytes_.size()) {
        bytes_.append(static_cast<const char*>(buffer), count);
    } else {
        const std::size_t overlap = std::min(count, bytes_.size() - position_);
        bytes_.replace(position_, overlap, static_cast<const char*>(buffer), count);
    }
    position_ += count;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    std::int64_t base = 0;
    switch (origin) {
        case TSeekOrigin::soBeginning:
            base = 0;
            break;
        case TSeekOrigin::soCurrent:
            base = static_cast<std::int64_t>(position_);
            break;
        case TSeekOrigin::soEnd:
            base = Size();
            break;
    }
    if ((offset < 0 && base + offset < 0) ||
        (offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset))
        throw EStreamError("Stream seek error");
    position_ = static_cast<std::size_t>(base + offset);
    return base + offset;
}

void TMemoryStream::SetSize(std::int64_t size) {
    if (size < 0) throw EStreamError("Stream seek error");
    bytes_.resize(static_cast<std::size_t>(size), '\0');
    position_ = std::min(position_, bytes_.size());
}

std::string TMemoryStream::Release() {
    std::string out = std::move(bytes_);
    Clear();
    return out;
}

}  // namespace linograf::workbook
