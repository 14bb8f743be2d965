// The report for an abstract operation that was called although no derived class provides it:
// "Pure Virtual function called @<source>,<line>" and "Unable to continue execution" on the
// standard error stream, then the process ends with exit status 1. The link layer reports with
// the source name COMLINK, the transfer engine base with TRANSFER.
#pragma once

namespace tollan {

[[noreturn]] void ReportPureVirtualCall(const char* source, int line);

} // namespace tollan
