#include "core/capture_tally.h"

namespace linograf {

namespace {

std::string Plural(std::int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string CaptureSummaryLine(const TCaptureTally& tally) {
    std::string line = Plural(tally.lines_received, "line", "lines") + " received, " +
                       std::to_string(tally.lines_written) + " written, " +
                       Plural(static_cast<std::int64_t>(tally.files.size()), "file", "files") + ", " +
                       Plural(tally.errors, "error", "errors");
    if (tally.unfinished_bytes > 0)
        line += "; " + Plural(tally.unfinished_bytes, "byte", "bytes") +
                " of an unfinished line (no carriage return) not logged";
    if (tally.bytes_not_taken > 0)
        line += "; " + Plural(tally.bytes_not_taken, "byte", "bytes") + " arrived while the port closed";
    return line;
}

std::string CaptureLossMessage(const TCaptureTally& tally) {
    const std::int64_t missing = tally.lines_received - tally.lines_written;
    if (missing <= 0) return {};
    std::string message = std::to_string(missing) + " of " + std::to_string(tally.lines_received) +
                          " received lines are not in a file";
    message +=
        tally.write_error.empty() ? std::string(": no write succeeded for them") : ": " + tally.write_error;
    return message;
}

int CaptureExitStatus(const TCaptureTally& tally) {
    return tally.errors > 0 || tally.lines_written < tally.lines_received ? 1 : 0;
}

void ForgetPostedRows(TMemTable& journal) {
    if (!journal.Active() || journal.State() != TDataSetState::dsBrowse) return;
    while (!journal.IsEmpty()) {
        journal.Last();
        journal.Delete();
    }
}

}  // namespace linograf
