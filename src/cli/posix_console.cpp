#include "cli/console.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

namespace tollan {

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

void WatchInterrupts(std::function<void()> onInterrupt) {
    // The signals are blocked in every thread (threads inherit the mask) and taken by one
    // thread with sigwait, so that the handler may do whatever it likes.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals, onInterrupt = std::move(onInterrupt)] {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) == 0) {
                onInterrupt();
            }
        }
    }).detach();
}

} // namespace tollan
