#pragma once
// The record stream of a workbook file being read: the "Workbook" (BIFF8) or "Book" (BIFF5)
// stream of a compound document, or a whole plain BIFF2-4 file. Walked record by record; nothing
// read from it is trusted, every read is checked against what is left. The stream of a compound
// file is read from the file through a window rather than whole: it is most of the file, and on
// a virtual machine the page faults of a buffer as large as the file cost more than the rest of
// copying it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace linograf::workbook {

class TStream;
class TExtraObjects;

class TBiffRecordInput {
  public:
    TBiffRecordInput();
    ~TBiffRecordInput();
    TBiffRecordInput(const TBiffRecordInput&) = delete;
    TBiffRecordInput& operator=(const TBiffRecordInput&) = delete;

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
    bool PeekHeader(uint16_t& id, uint16_t& length) {
        if (bytes_.size() - position_ < 4 && !Refill(4)) return false;
        const auto* p = reinterpret_cast<const uint8_t*>(bytes_.data() + position_);
        id = static_cast<uint16_t>(p[0] | (p[1] << 8));
        length = static_cast<uint16_t>(p[2] | (p[3] << 8));
        return true;
    }
    // Exactly count bytes; raises "Stream read error" when the stream ends first.
    void Read(void* target, size_t count);
    // The next count bytes where they lie; raises "Stream read error" when the stream ends first.
    // They stay valid while at least the next kWindow / 2 bytes of the stream are read (the
    // reader holds a record and the one after it, each at most 8224 bytes).
    const uint8_t* Take(size_t count) {
        if (count > bytes_.size() - position_ && !Refill(count)) StreamEnds();
        const auto* p = reinterpret_cast<const uint8_t*>(bytes_.data() + position_);
        position_ += count;
        return p;
    }
    // The number of bytes from the current position to the end of the stream.
    uint64_t Left() const { return size_ - Position(); }

    uint64_t Position() const { return base_ + position_; }
    uint64_t Size() const { return size_; }
    void Close();

    static constexpr size_t kWindow = 256 * 1024;

  private:
    [[noreturn]] static void StreamEnds();

    void ReleaseFile();
    // Moves the window on so that at least `count` bytes follow the current position; false
    // when the stream has fewer left.
    bool Refill(size_t count);

    // The file as read: from the file itself (not cleared first: it is read over at once), or
    // from a source stream.
    std::unique_ptr<char[]> file_bytes_;
    std::string source_bytes_;
    std::string_view file_;
    // The record stream when it is not one piece of file_.
    std::string gathered_;
    // What of the stream is in memory: all of it, or the current window.
    std::string_view bytes_;
    size_t position_ = 0;  // in bytes_
    uint64_t base_ = 0;    // stream position of bytes_[0]
    uint64_t size_ = 0;    // of the whole stream
    // The windowed stream: the open file (or the source's bytes), the stream's ranges in it and
    // how far they were read, and two buffers used in turn, so that the bytes handed out before
    // a refill stay where they are until the refill after it.
    std::unique_ptr<TStream> file_input_;
    std::function<void(uint64_t at, size_t count, char* to)> read_;
    std::vector<std::pair<uint64_t, uint64_t>> ranges_;
    size_t range_ = 0;
    uint64_t range_read_ = 0;
    std::unique_ptr<char[]> windows_[2];
    size_t window_sizes_[2] = {};
    int window_ = 0;
};

}  // namespace linograf::workbook
