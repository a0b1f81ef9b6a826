#include "serial/tick_timer.h"

#include <algorithm>
#include <chrono>

namespace linograf::serial {

uint32_t TimeGetTime() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

TickTimer StartTimer(uint32_t now_tick, uint32_t ticks) {
    ticks = std::min(ticks, kMaxTicks);
    return TickTimer{now_tick, now_tick + ticks};
}

bool TimerExpired(const TickTimer& timer, uint32_t now_tick) {
    if (now_tick > timer.end_tick) return true;
    return now_tick < timer.start_tick &&
           static_cast<uint64_t>(timer.end_tick) < static_cast<uint64_t>(now_tick) + kMaxTicks;
}

}  // namespace linograf::serial
