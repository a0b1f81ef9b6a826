#pragma once
// Turns the bytes a serial device sends into journal rows: bytes gather in the line buffer until a
// carriage return, then the line is cut into the format's fields from its right end and stored as
// a new journal row, whose posting runs the live workbook log before the next byte is taken.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/date_time.h"
#include "core/mem_table.h"
#include "text/device_text.h"

namespace linograf {

// The part of `line` that starts at the 1-based position `start` and is `length` bytes long: a
// start below 1 is taken as 1 without shortening the length, a length passing the end is cut
// there, and a start beyond the end or a length of 0 or less gives nothing.
std::string_view CutField(std::string_view line, std::int64_t start, std::int64_t length);

// Without the bytes of code 32 or less (blanks, control characters, NUL) at either end.
std::string_view TrimControls(std::string_view value);

// A byte source over a buffer, with the GetChar of the port component: drives the capture in
// tests, benchmarks and replays as the port does.
class TByteBufferSource {
  public:
    explicit TByteBufferSource(std::string_view bytes) : bytes_(bytes) {}
    char GetChar() { return position_ < bytes_.size() ? bytes_[position_++] : '\0'; }
    std::size_t Taken() const { return position_; }
    std::size_t Available() const { return bytes_.size() - position_; }

  private:
    std::string_view bytes_;
    std::size_t position_ = 0;
};

class TLineCapture {
  public:
    // A line longer than this keeps only its newest bytes. Fields are cut from the right end, so
    // the tail holds every value of any format up to this width, while a device that never sends
    // a carriage return can no longer make the buffer grow without end.
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;

    // `format` is the clone cursor of the format (its rows visited by ascending npp), `journal`
    // the journal table; both are used as they are at each line, so a rebuild that remakes them
    // in place needs no new capture.
    TLineCapture(TMemTable& format, TMemTable& journal) : format_(format), journal_(journal) {}

    // The device's text encoding when it is not Windows-1251 (nullptr: the bytes go into the
    // journal as they are). With a decoder each field's bytes are converted to UTF-8 before they
    // are trimmed and stored, and the journal holds UTF-8. The decoder must outlive the capture.
    void SetDeviceText(TDeviceTextDecoder* decoder) { decoder_ = decoder; }
    bool JournalIsUtf8() const { return decoder_ != nullptr; }

    // The clock that stamps a journal with an arrival column (kArrivalField) as each line ends.
    std::function<TDateTime()> Clock = DateTimeNow;

    // The port was opened: nothing left from an earlier opening starts the first line.
    void PortOpened() { buffer_.clear(); }

    // The port reports `count` received bytes: exactly that many are taken, one at a time, with
    // `source.GetChar()` (the port component, or a TByteBufferSource). An error while a line is
    // finished ends the call at once: the bytes after that carriage return stay in the source, and
    // the line stays in the buffer in front of the next one.
    template <class Source>
    void TriggerAvail(unsigned count, Source& source) {
        for (unsigned i = 0; i < count; ++i) TakeByte(source.GetChar());
    }

    void TakeByte(char c) {
        if (c == '\r') {
            FinishLine();
            return;
        }
        buffer_.push_back(c);
        if (buffer_.size() >= 2 * kMaxLineBytes) DropOldBytes();
    }

    // The line gathered so far (at most kMaxLineBytes, the newest ones).
    std::string_view Line() const {
        std::string_view all(buffer_);
        return all.size() > kMaxLineBytes ? all.substr(all.size() - kMaxLineBytes) : all;
    }
    // Bytes held in memory for the line; never more than twice kMaxLineBytes.
    std::size_t BufferBytes() const { return buffer_.size(); }

    // Cuts the line into a new journal row and posts it, then empties the buffer.
    void FinishLine();

  private:
    void DropOldBytes();

    TMemTable& format_;
    TMemTable& journal_;
    std::string buffer_;
    std::string field_name_;  // reused for the journal column names
    TDeviceTextDecoder* decoder_ = nullptr;
    std::string decoded_;
};

}  // namespace linograf
