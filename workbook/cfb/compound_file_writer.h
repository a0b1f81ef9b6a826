#pragma once
// Writes a compound file whose main stream (the workbook's record stream) goes to the disk as it
// is written, instead of being collected in memory first: the stream takes the sectors right
// after the header, so stream position p is file offset sector size + p, and seeking back to
// patch a length is a write at an earlier offset. Everything else (the other elements, the
// directory, the FAT) is laid out behind the stream by Close; until then the file is not a valid
// document. A main stream that ends up shorter than the mini stream cutoff is moved into the
// mini stream at Close, so the result is a normal file either way.
//
// The file is created (or truncated) at construction; the other elements are held in memory.
#include <cstdint>
#include <string>
#include <string_view>

#include "workbook/cfb/compound_document.h"

namespace linograf::workbook {

class TCompoundFileWriter {
  public:
    // Raises "Filename is missing" for an empty path, and the system's error text when the file
    // cannot be created.
    TCompoundFileWriter(const std::string& path, std::u16string_view stream_name, int major_version = 3);
    // A writer not closed leaves its file incomplete; callers write to a temporary file when
    // the old content must survive a failure.
    ~TCompoundFileWriter();
    TCompoundFileWriter(const TCompoundFileWriter&) = delete;
    TCompoundFileWriter& operator=(const TCompoundFileWriter&) = delete;

    // The other elements of the document; an element named like the main stream is left out.
    TCompoundStorage& Root() { return document_.Root(); }

    // The main stream, with the semantics of TCompoundStream: writing past the end fills the
    // gap with zero bytes, seeking past the end does not grow the stream.
    std::size_t Write(const void* data, std::size_t count);
    std::size_t Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
    std::uint64_t Seek(std::int64_t offset, TSeekOrigin origin);
    std::uint64_t Position() const { return position_; }
    std::uint64_t Size() const;

    // Completes and closes the file. Raises on a write error; the file is closed in any case.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

  private:
    void CheckOpen() const;
    void Flush();
    void WriteAt(const char* data, std::size_t count, std::uint64_t offset);
    [[noreturn]] void Fail(const std::string& what, int error);

    static constexpr std::size_t kBufferSize = 256 * 1024;
    // Writes at least this long go to the file at once.
    static constexpr std::size_t kDirectWrite = 64 * 1024;
    // Written bytes handed to the disk in steps of this size.
    static constexpr std::uint64_t kWritebackStep = 4 * 1024 * 1024;

    std::string path_;
    int fd_ = -1;
    TCompoundDocument document_;
    std::u16string name_;
    std::uint32_t sector_size_;
    // Bytes not yet on disk: the stream range [buffer_start_, buffer_start_ + buffer_.size()).
    std::string buffer_;
    std::uint64_t buffer_start_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t written_size_ = 0;    // stream bytes already on disk, holes included
    std::uint64_t writeback_from_ = 0;  // file offset up to which writeback has been started
};

}  // namespace linograf::workbook
