#pragma once
// The record stream a BIFF8 file is written through. Records are appended to an in-memory image
// of the "Workbook" stream (the writer seeks back only to patch lengths and positions); Close
// puts that stream into a new compound document, together with the elements preserved from the
// file the workbook was read from, and saves the document: into a target stream when one is
// given, else to the file, which is replaced only once the new one is complete.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "workbook/seek_origin.h"

namespace linograf::workbook {

class TExtraObjects;
class TStream;

class TXLSStream {
public:
    TXLSStream() = default;

    // Starts a new record stream. Raises "Filename is missing" when there is neither a file
    // name nor a target stream.
    void OpenForWrite(const std::string& file_name, TStream* target, const TExtraObjects* preserved);
    // Builds the document and saves it (see above). Raises the storage and file errors; without
    // a successful Close nothing is written anywhere.
    void Close();

    // Plain bytes at the position.
    void Write(const void* data, size_t count) {
        if (position_ == bytes_.size()) {
            bytes_.append(static_cast<const char*>(data), count);
            position_ += count;
        } else {
            Overwrite(data, count);
        }
    }
    void WriteU8(uint8_t v) { Write(&v, 1); }
    void WriteU16(uint16_t v) {
        const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
        Write(b, 2);
    }
    void WriteU32(uint32_t v) {
        const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                              static_cast<uint8_t>(v >> 24)};
        Write(b, 4);
    }
    void WriteHeader(uint16_t id, uint16_t length) {
        WriteU16(id);
        WriteU16(length);
    }
    // A whole record: header and data. Raises when the data is beyond what a header can state.
    void WriteRecord(uint16_t id, const void* data, size_t length);
    void WriteRecord(uint16_t id, std::string_view data) { WriteRecord(id, data.data(), data.size()); }

    // Overwrites bytes written earlier without moving the position (record lengths, counts and
    // positions known only later).
    void Patch(uint64_t offset, const void* data, size_t count);
    void PatchU16(uint64_t offset, uint16_t v) {
        const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
        Patch(offset, b, 2);
    }
    void PatchU32(uint64_t offset, uint32_t v) {
        const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                              static_cast<uint8_t>(v >> 24)};
        Patch(offset, b, 4);
    }

    uint64_t Position() const { return position_; }
    uint64_t Seek(int64_t offset, TSeekOrigin origin);
    uint64_t Size() const { return bytes_.size(); }
    // The record stream written so far.
    const std::string& Bytes() const { return bytes_; }

private:
    void Overwrite(const void* data, size_t count);

    std::string file_name_;
    TStream* target_ = nullptr;
    const TExtraObjects* preserved_ = nullptr;
    std::string bytes_;
    size_t position_ = 0;
};

}  // namespace linograf::workbook
