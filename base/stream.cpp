#include "base/stream.h"

#include <algorithm>
#include <vector>

namespace linograf::workbook {

void TStream::ReadBuffer(void* buffer, std::size_t count) {
    auto* out = static_cast<char*>(buffer);
    while (count > 0) {
        const std::size_t got = Read(out, count);
        if (got == 0) throw EStreamError("Stream read error");
        out += got;
        count -= got;
    }
}

void TStream::WriteBuffer(const void* buffer, std::size_t count) {
    const auto* in = static_cast<const char*>(buffer);
    while (count > 0) {
        const std::size_t put = Write(in, count);
        if (put == 0) throw EStreamError("Stream write error");
        in += put;
        count -= put;
    }
}

std::string TStream::ReadBytes(std::size_t count) {
    const std::int64_t left = Size() - Position();
    if (left < 0 || count > static_cast<std::uint64_t>(left)) throw EStreamError("Stream read error");
    std::string bytes(count, '\0');
    ReadBuffer(bytes.data(), count);
    return bytes;
}

std::string TStream::ReadRest() {
    const std::int64_t left = Size() - Position();
    return left > 0 ? ReadBytes(static_cast<std::size_t>(left)) : std::string();
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<char> chunk(static_cast<std::size_t>(std::min<std::int64_t>(count, 1 << 20)));
    std::int64_t left = count;
    while (left > 0) {
        const auto n =
            static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(chunk.size())));
        source.ReadBuffer(chunk.data(), n);
        WriteBuffer(chunk.data(), n);
        left -= static_cast<std::int64_t>(n);
    }
    return count;
}

}  // namespace linograf::workbook
