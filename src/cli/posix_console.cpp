#include "cli/console.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

namespace tollan {

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

bool StderrSharesLine() {
    struct stat error;
    if (isatty(STDERR_FILENO) != 1 || fstat(STDERR_FILENO, &error) != 0) {
        return false;
    }
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO}) {
        struct stat other;
        if (fstat(fd, &other) == 0 && other.st_rdev == error.st_rdev) {
            return true;
        }
    }
    return false;
}

int TerminalColumns() {
    winsize size{};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

bool StdinAtEnd() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, 0) != 1) {
        return false;
    }
    char byte;
    return (input.revents & POLLHUP) != 0 || read(STDIN_FILENO, &byte, 1) == 0;
}

void WatchInterrupts(std::function<void()> onInterrupt) {
    // The signals are blocked in every thread (threads inherit the mask) and taken by one
    // thread with sigwait, so that the handler may do whatever it likes.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGQUIT);
    signal(SIGPIPE, SIG_IGN);
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
