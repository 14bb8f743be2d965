// What the command needs of its console: whether the standard error stream is a terminal, and
// the user's interrupt (Ctrl-C, or SIGINT, SIGTERM, SIGHUP and SIGQUIT on POSIX systems, where a
// closed output, SIGPIPE, becomes a failed write).
#pragma once

#include <functional>

namespace tollan {

bool StderrIsTerminal();
bool StdinIsTerminal();
// Whether the standard error stream is the terminal that standard input or output is: then
// nothing may be written to it while the line runs over standard input and output.
bool StderrSharesLine();
// The width of the terminal on the standard error stream as it is now; 0 when not known.
int TerminalColumns();
// Whether standard input has reached its end (a pipe or file with nothing more to come); asked
// once a run on standard input and output failed.
bool StdinAtEnd();

// From now on an interrupt calls `onInterrupt` (on a thread of its own) instead of ending the
// process. Call before any other thread starts.
void WatchInterrupts(std::function<void()> onInterrupt);

} // namespace tollan
