#pragma once
// What a capture tells others while it runs: the status file that monitoring tools read
// (--status-file), and the health line a capture without a terminal writes to standard error
// once a minute, which under systemd lands in the journal.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace linograf {

struct TCaptureStatus {
    // "capturing", "reconnecting" (the device vanished and is waited for), "disconnected" (it
    // vanished and is not waited for), "stopped" (the capture has ended).
    std::string state = "capturing";
    std::string device;  // UTF-8; empty for standard input
    std::string file;    // the workbook written last (UTF-8), empty before the first write
    std::int64_t lines_received = 0;
    std::int64_t rows_written = 0;
    std::int64_t rows_waiting = 0;
    std::string last_error;  // UTF-8, empty while nothing failed

    bool operator==(const TCaptureStatus&) const = default;
};

// One JSON object with the fields above, on one line with a newline after it.
std::string CaptureStatusJson(const TCaptureStatus& status);

// Keeps `path` holding the newest status: the file is replaced whole (a reader sees the old or the
// new text, never a part), at most once a second so a fast device does not turn every line into
// a disk write; a change held back is written by a later Update or by Finish.
class TCaptureStatusFile {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kMinInterval = std::chrono::seconds(1);

    explicit TCaptureStatusFile(std::string path) : path_(std::move(path)) {}
    // Raises EStreamError when the file cannot be replaced.
    void Update(const TCaptureStatus& status);
    // Writes the status now, whatever the time since the last write.
    void Finish(const TCaptureStatus& status);

  private:
    void Write(const TCaptureStatus& status);

    std::string path_;
    bool written_ = false;
    TCaptureStatus last_;
    Clock::time_point last_write_{};
};

// The health line: "health: N lines received, M rows written, W rows waiting, file F".
std::string CaptureHealthLine(const TCaptureStatus& status);

// Writes the health line to `err` every `interval` when `err` is not a terminal (a terminal has
// the live line count instead).
class THealthLog {
  public:
    THealthLog(std::FILE* err, std::chrono::steady_clock::duration interval);
    void Poll(const TCaptureStatus& status);

  private:
    std::FILE* err_;
    bool enabled_;
    std::chrono::steady_clock::duration interval_;
    std::chrono::steady_clock::time_point next_;
};

}  // namespace linograf
