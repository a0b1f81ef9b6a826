#pragma once
// Entry data compression through zlib: raw deflate streams (no zlib header or Adler-32 trailer),
// as ZIP method 8 stores them, and the CRC-32 of APPNOTE.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace linograf::workbook {

// Window bits 15, memory level 8, default strategy; `level` 0-9 or Z_DEFAULT_COMPRESSION (-1).
// Raises EZipError "ZLib decompress error" when zlib fails (the text serves both directions).
std::string DeflateRaw(std::string_view data, int level);

// A raw deflate stream fed a piece at a time: the compressed bytes go to `out` as zlib makes them,
// in blocks of at most 64 KB, so neither the input nor the output is ever held whole. The bytes
// are those one DeflateRaw call over all the pieces would give at the same level.
class TRawDeflater {
  public:
    TRawDeflater(int level, std::function<void(std::string_view)> out);
    ~TRawDeflater();
    TRawDeflater(const TRawDeflater&) = delete;
    TRawDeflater& operator=(const TRawDeflater&) = delete;

    // Goes on from where `from` stands (zlib's deflateCopy): the bytes `from` would make next are
    // the ones this one makes, given to `out`. `from` is left as it was.
    TRawDeflater(const TRawDeflater& from, std::function<void(std::string_view)> out);

    void Write(std::string_view data);
    // Hands out everything written so far and ends on a byte boundary (Z_SYNC_FLUSH) without
    // ending the stream: the bytes so far can be stored, and a copy of this deflater made now
    // continues them later.
    void SyncFlush();
    // Ends the stream; nothing may be written after it.
    void Finish();

  private:
    struct TState;
    void Run(int flush);

    std::unique_ptr<TState> state_;
    std::function<void(std::string_view)> out_;
    bool finished_ = false;
};

// Inflates `data` and returns exactly `expected_size` bytes. Output grows as it is produced, so a
// stream that claims a large size but delivers little never reserves the claimed amount. Raises
// "ZLib decompress error" on a damaged stream, and EZipError `size_error` when the stream ends
// short of, or runs beyond, the expected size.
std::string InflateRaw(std::string_view data, std::uint64_t expected_size, const std::string& size_error);

// The same, handing the bytes to `piece` as they come, a bounded block at a time, so a large
// entry is never held whole. `piece` may see bytes beyond the expected size before the size
// error is raised.
void InflateRawInPieces(std::string_view data, std::uint64_t expected_size, const std::string& size_error,
                        const std::function<void(std::string_view)>& piece);
// ISO-HDLC / IEEE 802.3 CRC-32 (reflected polynomial 0xEDB88320), zlib's table-driven one; the
// second form goes on from the CRC of the bytes before.
std::uint32_t Crc32(std::string_view data);
std::uint32_t Crc32(std::string_view data, std::uint32_t before);

}  // namespace linograf::workbook
