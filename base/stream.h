#pragma once
// Byte streams with a position, as the ZIP archive and the Open XML writer and reader see them:
// a package always sits on a seekable stream (a memory buffer or an open file) and parts are
// produced into and read from memory streams.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "base/seek_origin.h"

namespace linograf::workbook {

// Short reads and failed writes of whole buffers, and failures of the file system.
class EStreamError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TStream {
  public:
    virtual ~TStream() = default;

    // Reads up to `count` bytes at the position and advances it; returns the bytes read (0 at
    // the end).
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes at the position, growing the stream when the write runs past its end.
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    // Returns the new position; a position before the start raises EStreamError. Positions past
    // the end are allowed and a later write fills the gap with zero bytes.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
    virtual std::int64_t Size() = 0;
    // Cuts or extends (with zero bytes) the stream; the position is kept unless it lies beyond
    // the new end, where it moves to the end.
    virtual void SetSize(std::int64_t size) = 0;

    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

    // Whole-buffer forms: anything short raises "Stream read error" / "Stream write error".
    void ReadBuffer(void* buffer, std::size_t count);
    void WriteBuffer(const void* buffer, std::size_t count);
    void WriteBytes(const std::string& bytes) { WriteBuffer(bytes.data(), bytes.size()); }
    // Reads exactly `count` bytes; the count is checked against what is left before anything is
    // allocated, so a length read from a hostile file cannot reserve memory that is not there.
    std::string ReadBytes(std::size_t count);
    // Everything from the position to the end.
    std::string ReadRest();
    // Copies `count` bytes from the source's position (0 = from its start to its end); returns
    // the bytes copied.
    std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

}  // namespace linograf::workbook
