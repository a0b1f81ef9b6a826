#pragma once
// What a capture without the window did, for its summary and its exit status: the lines received
// and the lines in a file are counted apart, so a line that never reached a file is never reported
// as success.
#include <cstdint>
#include <string>
#include <vector>

#include "core/mem_table.h"

namespace linograf {

struct TCaptureTally {
    std::int64_t lines_received = 0;    // complete lines, cut and posted to the journal
    std::int64_t lines_written = 0;     // of them, put into a file by a successful write
    std::int64_t unfinished_bytes = 0;  // a last line without its carriage return: not a row
    std::int64_t bytes_not_taken = 0;   // announced while the port was closing
    std::int64_t errors = 0;
    std::vector<std::string> files;  // UTF-8, in the order they were first written to
    std::string write_error;         // the last reason a write failed (UTF-8)
};

// "N lines received, M written, F files, E errors" and what else was left (UTF-8, no newline).
std::string CaptureSummaryLine(const TCaptureTally& tally);
// Empty when every received line is in a file; else how many are not, and why.
std::string CaptureLossMessage(const TCaptureTally& tally);
// 0 when every received line is in a file and nothing failed; 1 otherwise.
int CaptureExitStatus(const TCaptureTally& tally);

// The command line shows no grid: a journal row is needed only until the live log has copied it,
// so a long capture holds in memory just the rows not yet in a file (the log's queue). Removes
// the posted rows; a row still being filled stays.
void ForgetPostedRows(TMemTable& journal);

}  // namespace linograf
