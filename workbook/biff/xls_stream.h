#pragma once
// The record stream a BIFF8 file is written through. Records are collected in a block of memory
// that goes out whole whenever it fills: written to a file, the "Workbook" stream goes straight
// into a temporary compound file beside the target (never held whole in memory), which replaces
// the target at Close once it is complete and on the disk. Into a target stream, the blocks are
// gathered in memory and the document is written into the target at Close. Either way the
// elements preserved from the file the workbook was read from are put into the new document.
// The writer seeks back only to patch lengths and positions.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "base/seek_origin.h"

namespace linograf::workbook {

class TAtomicFileWriter;
class TCompoundFileWriter;
class TExtraObjects;
class TStream;

class TXLSStream {
  public:
    TXLSStream();
    // A stream not closed leaves the target alone and removes its temporary file.
    ~TXLSStream();
    TXLSStream(const TXLSStream&) = delete;
    TXLSStream& operator=(const TXLSStream&) = delete;

    // Starts a new record stream. Raises "Filename is missing" when there is neither a file
    // name nor a target stream, and the file errors when the temporary file cannot be made.
    void OpenForWrite(const std::string& file_name, TStream* target, const TExtraObjects* preserved);
    // Completes the document (see above). Raises the storage and file errors; without a
    // successful Close the target is not touched.
    void Close();

    // Plain bytes at the position.
    void Write(const void* data, size_t count) {
        if (static_cast<size_t>(end_ - cur_) >= count) {
            std::memcpy(cur_, data, count);
            Advance(count);
        } else {
            WriteLarge(data, count);
        }
    }
    void WriteU8(uint8_t v) { Write(&v, 1); }
    void WriteU16(uint16_t v) {
        const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
        Write(b, 2);
    }
    void WriteU32(uint32_t v) {
        const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
        Write(b, 4);
    }
    void WriteHeader(uint16_t id, uint16_t length) {
        const uint8_t b[4] = {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                              static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
        Write(b, 4);
    }
    // A whole record: header and data. Raises when the data is beyond what a header can state.
    void WriteRecord(uint16_t id, const void* data, size_t length);
    void WriteRecord(uint16_t id, std::string_view data) { WriteRecord(id, data.data(), data.size()); }

    // Room for `count` (at most kBlockSize) bytes at the position, to be filled by the caller
    // and then passed with Advance: a record built in place instead of copied in.
    uint8_t* Reserve(size_t count) {
        if (static_cast<size_t>(end_ - cur_) < count) SendBlock();
        return cur_;
    }
    void Advance(size_t count) {
        cur_ += count;
        if (cur_ > filled_) filled_ = cur_;
    }

    // Overwrites bytes written earlier without moving the position (record lengths, counts and
    // positions known only later).
    void Patch(uint64_t offset, const void* data, size_t count);
    void PatchU16(uint64_t offset, uint16_t v) {
        const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
        Patch(offset, b, 2);
    }
    void PatchU32(uint64_t offset, uint32_t v) {
        const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
        Patch(offset, b, 4);
    }

    uint64_t Position() const { return block_start_ + static_cast<uint64_t>(cur_ - block_.get()); }
    uint64_t Seek(int64_t offset, TSeekOrigin origin);
    uint64_t Size() const;

    // Large enough that a full block goes to the file without another copy, small enough to
    // stay in the cache while it is filled.
    static constexpr size_t kBlockSize = 256 * 1024;

  private:
    void WriteLarge(const void* data, size_t count);
    // Sends the block's bytes to the document and starts an empty block at the position.
    void SendBlock();
    // Writes bytes that are no longer in the block.
    void SendAt(uint64_t offset, const void* data, size_t count);
    void Discard() noexcept;

    TStream* target_ = nullptr;
    const TExtraObjects* preserved_ = nullptr;
    std::unique_ptr<TAtomicFileWriter> file_;
    std::unique_ptr<TCompoundFileWriter> document_;  // written to file_'s temporary file
    std::string memory_;                             // the stream for a target stream
    uint64_t sent_size_ = 0;                         // stream bytes sent, holes included

    // The block: stream bytes [block_start_, block_start_ + (filled_ - block_)).
    std::unique_ptr<uint8_t[]> block_;
    uint64_t block_start_ = 0;
    uint8_t* cur_ = nullptr;
    uint8_t* filled_ = nullptr;
    uint8_t* end_ = nullptr;
};

}  // namespace linograf::workbook
