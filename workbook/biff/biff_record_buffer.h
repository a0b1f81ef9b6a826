#pragma once
// Builds the data of one BIFF record field by field (little-endian), to be written in one piece.
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

namespace linograf::workbook {

class TRecordBuffer {
  public:
    TRecordBuffer() { data_.reserve(64); }

    TRecordBuffer& U8(uint8_t v) {
        data_.push_back(static_cast<char>(v));
        return *this;
    }
    TRecordBuffer& U16(uint16_t v) { return U8(static_cast<uint8_t>(v)).U8(static_cast<uint8_t>(v >> 8)); }
    TRecordBuffer& U32(uint32_t v) {
        return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16));
    }
    TRecordBuffer& F64(double v) {
        const uint64_t bits = std::bit_cast<uint64_t>(v);
        return U32(static_cast<uint32_t>(bits)).U32(static_cast<uint32_t>(bits >> 32));
    }
    // UTF-16 characters, two bytes each.
    TRecordBuffer& Wide(std::u16string_view text) {
        for (char16_t c : text) U16(static_cast<uint16_t>(c));
        return *this;
    }
    TRecordBuffer& Raw(const void* bytes, size_t count) {
        data_.append(static_cast<const char*>(bytes), count);
        return *this;
    }
    TRecordBuffer& Clear() {
        data_.clear();
        return *this;
    }

    std::string_view View() const { return data_; }
    size_t Size() const { return data_.size(); }

  private:
    std::string data_;
};

}  // namespace linograf::workbook
