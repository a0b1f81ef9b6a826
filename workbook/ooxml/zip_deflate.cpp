#include "workbook/ooxml/zip_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>

#include "workbook/ooxml/zip_error.h"

namespace linograf::workbook {
namespace {

constexpr const char* kZLibError = "ZLib decompress error";
constexpr int kWindowBits = 15;
constexpr int kMemLevel = 8;

}  // namespace

std::string DeflateRaw(std::string_view data, int level) {
    if (data.size() > std::numeric_limits<uInt>::max()) throw EZipError(kZLibError);
    z_stream z{};
    // Negative window bits make zlib write the raw stream itself: the same bytes as a zlib stream
    // with its 2-byte header and 4-byte Adler-32 trailer cut off.
    if (deflateInit2(&z, level, Z_DEFLATED, -kWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        throw EZipError(kZLibError);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    // Output in chunks rather than one buffer of deflateBound(): large parts compress to a
    // fraction of their size, so this keeps the peak memory near input + output.
    std::string out;
    char chunk[1 << 16];
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        rc = deflate(&z, Z_FINISH);
        out.append(chunk, sizeof chunk - z.avail_out);
    }
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw EZipError(kZLibError);
    return out;
}

struct TRawDeflater::TState {
    z_stream z{};
    char chunk[1 << 16];
};

TRawDeflater::TRawDeflater(int level, std::function<void(std::string_view)> out)
    : state_(std::make_unique<TState>()), out_(std::move(out)) {
    if (deflateInit2(&state_->z, level, Z_DEFLATED, -kWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        throw EZipError(kZLibError);
}

TRawDeflater::TRawDeflater(const TRawDeflater& from, std::function<void(std::string_view)> out)
    : state_(std::make_unique<TState>()), out_(std::move(out)), finished_(from.finished_) {
    if (deflateCopy(&state_->z, &from.state_->z) != Z_OK) throw EZipError(kZLibError);
}

TRawDeflater::~TRawDeflater() {
    deflateEnd(&state_->z);
}

void TRawDeflater::SyncFlush() {
    if (finished_) throw EZipError(kZLibError);
    state_->z.next_in = nullptr;
    state_->z.avail_in = 0;
    Run(Z_SYNC_FLUSH);
}

void TRawDeflater::Write(std::string_view data) {
    if (finished_) throw EZipError(kZLibError);
    // zlib counts input in 32 bits; a larger piece goes in slices.
    constexpr std::size_t kSlice = std::size_t{1} << 30;
    while (!data.empty()) {
        const std::string_view slice = data.substr(0, kSlice);
        state_->z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(slice.data()));
        state_->z.avail_in = static_cast<uInt>(slice.size());
        Run(Z_NO_FLUSH);
        data.remove_prefix(slice.size());
    }
}

void TRawDeflater::Finish() {
    if (finished_) return;
    state_->z.next_in = nullptr;
    state_->z.avail_in = 0;
    Run(Z_FINISH);
    finished_ = true;
}

// Without a flush, zlib keeps what it cannot yet emit in its own window and buffers: the loop
// ends once all input is taken and the output block was not filled up.
void TRawDeflater::Run(int flush) {
    z_stream& z = state_->z;
    for (;;) {
        z.next_out = reinterpret_cast<Bytef*>(state_->chunk);
        z.avail_out = sizeof state_->chunk;
        const int rc = deflate(&z, flush);
        if (rc == Z_STREAM_ERROR) throw EZipError(kZLibError);
        const std::size_t made = sizeof state_->chunk - z.avail_out;
        if (made > 0) out_(std::string_view(state_->chunk, made));
        if (flush == Z_FINISH) {
            if (rc == Z_STREAM_END) return;
            if (rc != Z_OK && rc != Z_BUF_ERROR) throw EZipError(kZLibError);
        } else if (z.avail_in == 0 && z.avail_out != 0) {
            return;
        }
    }
}

std::string InflateRaw(std::string_view data, std::uint64_t expected_size, const std::string& size_error) {
    if (data.size() > std::numeric_limits<uInt>::max()) throw EZipError(kZLibError);
    z_stream z{};
    if (inflateInit2(&z, -kWindowBits) != Z_OK) throw EZipError(kZLibError);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());

    std::string out;
    // One byte of room beyond the expected size tells a stream that runs on from one that ends.
    const std::uint64_t limit = expected_size + 1;
    // Deflate cannot expand more than about 1032-fold, so this reservation is bounded by the
    // input actually there, whatever size was claimed.
    out.reserve(
        static_cast<std::size_t>(std::min<std::uint64_t>(limit, data.size() * std::uint64_t{1032} + 1024)));
    std::size_t produced = 0;
    int rc = Z_OK;
    while (produced < limit) {
        if (out.size() == produced) {
            const std::uint64_t grow =
                std::min<std::uint64_t>(std::max<std::size_t>(out.size(), 1 << 16), limit - out.size());
            out.resize(out.size() + static_cast<std::size_t>(grow));
        }
        z.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
        z.avail_out =
            static_cast<uInt>(std::min<std::size_t>(out.size() - produced, std::numeric_limits<uInt>::max()));
        const uInt room = z.avail_out;
        const uInt input_left = z.avail_in;
        rc = inflate(&z, Z_NO_FLUSH);
        produced += room - z.avail_out;
        if (rc == Z_STREAM_END) break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            inflateEnd(&z);
            throw EZipError(kZLibError);
        }
        // Input used up without a final block, or no progress possible: what came out is all.
        if (rc == Z_BUF_ERROR || (z.avail_out == room && z.avail_in == input_left)) break;
    }
    inflateEnd(&z);
    if (produced != expected_size) throw EZipError(size_error);
    out.resize(produced);
    return out;
}

void InflateRawInPieces(std::string_view data, std::uint64_t expected_size, const std::string& size_error,
                        const std::function<void(std::string_view)>& piece) {
    if (data.size() > std::numeric_limits<uInt>::max()) throw EZipError(kZLibError);
    z_stream z{};
    if (inflateInit2(&z, -kWindowBits) != Z_OK) throw EZipError(kZLibError);
    struct TEnd {
        z_stream& z;
        ~TEnd() { inflateEnd(&z); }
    } end{z};
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());

    // Small enough to stay in the cache while the consumer reads it.
    constexpr std::size_t kPiece = std::size_t{1} << 17;
    const auto buffer = std::make_unique<char[]>(kPiece);
    const std::uint64_t limit = expected_size + 1;
    std::uint64_t produced = 0;
    while (produced < limit) {
        const auto room = static_cast<uInt>(std::min<std::uint64_t>(kPiece, limit - produced));
        z.next_out = reinterpret_cast<Bytef*>(buffer.get());
        z.avail_out = room;
        const uInt input_left = z.avail_in;
        const int rc = inflate(&z, Z_NO_FLUSH);
        const std::size_t made = room - z.avail_out;
        produced += made;
        if (made > 0) piece(std::string_view(buffer.get(), made));
        if (rc == Z_STREAM_END) break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) throw EZipError(kZLibError);
        if (rc == Z_BUF_ERROR || (made == 0 && z.avail_in == input_left)) break;
    }
    if (produced != expected_size) throw EZipError(size_error);
}

std::uint32_t Crc32(std::string_view data, std::uint32_t before) {
    return static_cast<std::uint32_t>(
        crc32_z(before, reinterpret_cast<const Bytef*>(data.data()), data.size()));
}

std::uint32_t Crc32(std::string_view data) {
    uLong crc = crc32_z(0L, Z_NULL, 0);
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(data.data()), data.size());
    return static_cast<std::uint32_t>(crc);
}

}  // namespace linograf::workbook
