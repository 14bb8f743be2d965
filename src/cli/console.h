// What the command needs of its console: whether the standard error stream is a terminal, and
// the user's interrupt (Ctrl-C, or SIGINT and SIGTERM on POSIX systems).
#pragma once

#include <functional>

namespace tollan {

bool StderrIsTerminal();
bool StdinIsTerminal();

// From now on an interrupt calls `onInterrupt` (on a thread of its own) instead of ending the
// process. Call before any other thread starts.
void WatchInterrupts(std::function<void()> onInterrupt);

} // namespace tollan
