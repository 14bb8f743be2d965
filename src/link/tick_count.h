// The millisecond tick counter on which every time-out and delay is measured. It is 32 bits wide
// and wraps after about 49.7 days: compare ticks by their unsigned difference, never by order.
#pragma once

#include <cstdint>

namespace tollan {

// Milliseconds since an arbitrary fixed point (system start on Windows).
std::uint32_t TickCount();

// True once `deadline` has been reached, robust against the counter wrapping.
inline bool TickReached(std::uint32_t now, std::uint32_t deadline) {
    return static_cast<std::int32_t>(now - deadline) >= 0;
}

} // namespace tollan
