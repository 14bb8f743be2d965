// The engine tests run on a fast clock (fast_tick_count.cpp): every duration they give, to the
// engines or to their own waits, is in clock milliseconds, kClockSpeed of which pass in one real
// millisecond.
#pragma once

#include "engine_test_support.h"

namespace tollan::test {

#ifndef TOLLAN_TEST_CLOCK_SPEED
#define TOLLAN_TEST_CLOCK_SPEED 10
#endif
inline constexpr int kClockSpeed = TOLLAN_TEST_CLOCK_SPEED;

// A raw peer's waits: for a byte that must come; for the silence that ends a sequence still
// arriving (longer than the engines' settle time after a cancel); for what is already queued.
inline constexpr int kPeerWait = 30000;
inline constexpr int kSilence = 3000;
inline constexpr int kQueued = 500;

// A side on a plain link (the clock already runs fast) whose status record gives up only after
// a long while.
struct EngineSide : Side {
    explicit EngineSide(MemoryPort& port) : Side(port, false) { status.SetTimeLimit(600000); }
};

} // namespace tollan::test
