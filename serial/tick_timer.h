#pragma once
// Millisecond counter and the coarse 55 ms tick timers of the port layer.
#include <cstdint>

namespace linograf::serial {

// Milliseconds of a monotonic clock, wrapping at 2^32 like the multimedia timer it stands for.
uint32_t TimeGetTime();

inline constexpr uint32_t kTickMilliseconds = 55;
// The largest tick count whose milliseconds fit in 31 bits.
inline constexpr uint32_t kMaxTicks = 39045157;

inline uint32_t TicksFromMilliseconds(uint32_t ms) {
    return ms / kTickMilliseconds;
}

struct TickTimer {
    uint32_t start_tick = 0;
    uint32_t end_tick = 0;
};

// A timer started at `now_tick` for `ticks` (capped at kMaxTicks).
TickTimer StartTimer(uint32_t now_tick, uint32_t ticks);
// Past its end tick, or the counter wrapped below the start tick and the end lies behind.
bool TimerExpired(const TickTimer& timer, uint32_t now_tick);
inline uint32_t CurrentTick() {
    return TicksFromMilliseconds(TimeGetTime());
}

}  // namespace linograf::serial
