#pragma once
// Clocks and a median for the benchmarks that compare against a peer or a floor in the same run.
// A thread's CPU time leaves out what a busy machine gives to other work; wall time keeps the
// wait for the disk, which a write that forces its file to disk is made of in good part.
#include <time.h>

#include <algorithm>
#include <vector>

namespace linograf::bench {

inline double Seconds(const timespec& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

inline double ClockSeconds(clockid_t clock) {
    timespec t{};
    ::clock_gettime(clock, &t);
    return Seconds(t);
}

inline double ThreadCpuSeconds() {
    return ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
}
inline double ProcessCpuSeconds() {
    return ClockSeconds(CLOCK_PROCESS_CPUTIME_ID);
}
inline double WallSeconds() {
    return ClockSeconds(CLOCK_MONOTONIC);
}

// The middle value, the mean of the two middle ones for an even count, 0 for none.
inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace linograf::bench
