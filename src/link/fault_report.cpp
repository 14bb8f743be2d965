#include "link/fault_report.h"

#include <cstdio>
#include <cstdlib>

namespace tollan {

void ReportPureVirtualCall(const char* source, int line) {
    std::fprintf(stderr, "Pure Virtual function called @%s,%d\n", source, line);
    std::fprintf(stderr, "Unable to continue execution\n");
    std::fflush(stderr);
    std::exit(1);
}

} // namespace tollan
