// The line speeds the platform's serial interface can set, beyond the few the automation
// interface's BaudRate allows: what the command offers for fast USB adapters.
#pragma once

#include <cstdint>

namespace tollan {

// Whether `speed` (bits per second) is one the platform's serial interface offers.
bool LineSpeedOffered(std::uint32_t speed);

} // namespace tollan
