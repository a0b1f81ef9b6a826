#pragma once
// The record stream of a workbook file being read: the "Workbook" (BIFF8) or "Book" (BIFF5)
// stream of a compound document, or a whole plain BIFF2-4 file. The stream is held in memory and
// walked record by record; nothing read from it is trusted, every read is checked against what
// is left.
#include <cstddef>
#include <cstdint>
#include <string>

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
    bool ReadHeader(uint16_t& id, uint16_t& length);
    // The header of the record after the current one, without moving on; false at the end.
    bool PeekHeader(uint16_t& id, uint16_t& length) const;
    // Exactly count bytes; raises "Stream read error" when the stream ends first.
    void Read(void* target, size_t count);

    uint64_t Position() const { return position_; }
    uint64_t Size() const { return bytes_.size(); }
    void Close();

  private:
    std::string bytes_;
    size_t position_ = 0;
};

}  // namespace linograf::workbook
