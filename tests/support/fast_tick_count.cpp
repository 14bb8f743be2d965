// The fast clock: linked into a test program (as an object library), this definition takes the
// place of the link's own TickCount().
#include <chrono>

#include "link/tick_count.h"
#include "support/fast_clock.h"

namespace tollan {

std::uint32_t TickCount() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms) * test::kClockSpeed);
}

} // namespace tollan
