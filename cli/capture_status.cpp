#include "cli/capture_status.h"

#include <unistd.h>

#include "base/atomic_file.h"

namespace linograf {

namespace {

void AppendJsonString(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

}  // namespace

std::string CaptureStatusJson(const TCaptureStatus& status) {
    std::string out = "{\"state\": ";
    AppendJsonString(out, status.state);
    out += ", \"device\": ";
    AppendJsonString(out, status.device);
    out += ", \"file\": ";
    AppendJsonString(out, status.file);
    out += ", \"lines_received\": " + std::to_string(status.lines_received);
    out += ", \"rows_written\": " + std::to_string(status.rows_written);
    out += ", \"rows_waiting\": " + std::to_string(status.rows_waiting);
    out += ", \"last_error\": ";
    AppendJsonString(out, status.last_error);
    out += "}\n";
    return out;
}

void TCaptureStatusFile::Update(const TCaptureStatus& status) {
    if (written_ && status == last_) return;
    if (written_ && Clock::now() - last_write_ < kMinInterval) return;
    Write(status);
}

void TCaptureStatusFile::Finish(const TCaptureStatus& status) {
    Write(status);
}

void TCaptureStatusFile::Write(const TCaptureStatus& status) {
    workbook::WriteFileAtomically(path_, CaptureStatusJson(status));
    last_ = status;
    written_ = true;
    last_write_ = Clock::now();
}

std::string CaptureHealthLine(const TCaptureStatus& status) {
    std::string line = "health: " + status.state + ", " + std::to_string(status.lines_received) +
                       " lines received, " + std::to_string(status.rows_written) + " rows written, " +
                       std::to_string(status.rows_waiting) + " rows waiting, file " +
                       (status.file.empty() ? std::string("(none yet)") : status.file);
    if (!status.last_error.empty()) line += ", last error: " + status.last_error;
    return line;
}

THealthLog::THealthLog(std::FILE* err, std::chrono::steady_clock::duration interval)
    : err_(err),
      enabled_(::isatty(::fileno(err)) != 1),
      interval_(interval),
      next_(std::chrono::steady_clock::now() + interval) {}

void THealthLog::Poll(const TCaptureStatus& status) {
    if (!enabled_ || std::chrono::steady_clock::now() < next_) return;
    next_ = std::chrono::steady_clock::now() + interval_;
    std::fprintf(err_, "linograf: %s\n", CaptureHealthLine(status).c_str());
    std::fflush(err_);
}

}  // namespace linograf
