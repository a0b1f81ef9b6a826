#pragma once
// A stream held wholly in memory: part buffers of the Open XML writer, extracted parts for the
// reader, and packages built before they reach a file.
#include <string>
#include <string_view>

#include "base/stream.h"

namespace linograf::workbook {

class TMemoryStream : public TStream {
  public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(bytes_.size()); }
    void SetSize(std::int64_t size) override;

    void Clear() {
        bytes_.clear();
        position_ = 0;
    }
    // The content; valid until the next change of the stream.
    const std::string& Bytes() const { return bytes_; }
    std::string_view View() const { return bytes_; }
    // Takes the content out, leaving the stream empty.
    std::string Release();

  private:
    std::string bytes_;
    std::size_t position_ = 0;
};

}  // namespace linograf::workbook
