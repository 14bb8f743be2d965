// The fast clock of the test programs that link tollan_fast_clock (or tollan_very_fast_clock):
// the tick counter runs kClockSpeed times as fast as the wall clock, so that every wait of the
// engines, the link and the simulated modem (a second of silence, a peer's time-out, a ring
// interval) costs a fraction of its length. Every duration such a test gives is in clock
// milliseconds, kClockSpeed of which pass in one real millisecond.
#pragma once

#ifndef TOLLAN_TEST_CLOCK_SPEED
#error "link tollan_fast_clock or tollan_very_fast_clock: they set TOLLAN_TEST_CLOCK_SPEED"
#endif

namespace tollan::test {

inline constexpr int kClockSpeed = TOLLAN_TEST_CLOCK_SPEED;

} // namespace tollan::test
