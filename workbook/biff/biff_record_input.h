#pragma once
// The record stream of a workbook file being read: the "Workbook" (BIFF8) or "Book" (BIFF5)
// stream of a compound document, or a whole plain BIFF2-4 file. The stream is held in memory and
// walked record by record; nothing read from it is trusted, every read is checked against what
// is left.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace linograf::workbook {

class TStream;
class TExtraObjects;

class TBiffRecordInput {
  public:
    // Opens the file (or, when source is given, the document in that stream, from its start) and
    // returns the BIFF version found: 8 for a "Workbook" stream, 5 for "Book", 2, 3 or 4 for a
    // plain file starting with a BOF of that version. The other elements of a compound document
    // go to `extra` for the next write. Raises "The file is not an Excel workbook" for anything
    // else, and the file's and the container's own errors.
    int Open(const std::string& file_name, TStream* source, TExtraObjects* extra);

    // The next record header; false when fewer than 4 bytes are left (the end of the records).
    bool ReadHeader(uint16_t& id, uint16_t& length) {
        if (!PeekHeader(id, length)) return false;
        position_ += 4;
        return true;
    }
    // The header of the record after the current one, without moving on; false at the end.
    bool PeekHeader(uint16_t& id, uint16_t& length) const {
        if (bytes_.size() - position_ < 4) return false;
        const auto* p = reinterpret_cast<const uint8_t*>(bytes_.data() + position_);
        id = static_cast<uint16_t>(p[0] | (p[1] << 8));
        length = static_cast<uint16_t>(p[2] | (p[3] << 8));
        return true;
    }
    // Exactly count bytes; raises "Stream read error" when the stream ends first.
    void Read(void* target, size_t count);
    // The next count bytes where they lie, valid until Close; raises "Stream read error" when the
    // stream ends first.
    const uint8_t* Take(size_t count) {
        if (count > bytes_.size() - position_) StreamEnds();
        const auto* p = reinterpret_cast<const uint8_t*>(bytes_.data() + position_);
        position_ += count;
        return p;
    }
    // The bytes from the current position on, for looking ahead without moving on.
    std::string_view Rest() const { return bytes_.substr(position_); }

    uint64_t Position() const { return position_; }
    uint64_t Size() const { return bytes_.size(); }
    void Close();

  private:
    [[noreturn]] static void StreamEnds();

    void ReleaseFile();

    // The file as read: from the file itself (not cleared first: it is read over at once), or
    // from a source stream.
    std::unique_ptr<char[]> file_bytes_;
    std::string source_bytes_;
    std::string_view file_;
    // The record stream when it is not one piece of file_.
    std::string gathered_;
    std::string_view bytes_;
    size_t position_ = 0;
};

}  // namespace linograf::workbook
