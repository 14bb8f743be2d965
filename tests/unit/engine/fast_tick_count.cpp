// The clock of the engine tests: the tick counter runs kClockSpeed times as fast as the wall
// clock, so that every wait of the engines and the link (a second of silence, the settle time
// after a cancel, a peer's time-out) costs a fraction of its length. Linked into a test program,
// this definition takes the place of the link's own TickCount().
#include <chrono>

#include "engine_test_support.h"
#include "link/tick_count.h"

namespace tollan {

std::uint32_t TickCount() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms) * test::kClockSpeed);
}

} // namespace tollan
