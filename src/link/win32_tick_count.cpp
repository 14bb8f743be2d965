#include "link/tick_count.h"

#include <windows.h>

namespace tollan {

std::uint32_t TickCount() {
    return GetTickCount();
}

} // namespace tollan
