#include "link/posix_stdio_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace tollan {
namespace {

constexpr int kWriteWaitMs = 10000;

// The terminals the process changed, with what they held before, given back by the port or, when
// the process ends another way, at exit.
struct SavedTerminal {
    int fd = -1;
    termios settings{};
};

std::mutex savedMutex;
SavedTerminal saved[2];

void RestoreTerminals() {
    std::lock_guard<std::mutex> lock(savedMutex);
    for (SavedTerminal& terminal : saved) {
        if (terminal.fd >= 0) {
            tcsetattr(terminal.fd, TCSADRAIN, &terminal.settings);
            terminal.fd = -1;
        }
    }
}

// Saves `fd`'s settings (once per process) when it is a terminal; true when it is one.
bool SaveTerminal(int slot, int fd) {
    static std::once_flag atExit;
    termios settings;
    if (isatty(fd) != 1 || tcgetattr(fd, &settings) != 0) {
        return false;
    }
    std::call_once(atExit, [] { std::atexit(RestoreTerminals); });
    std::lock_guard<std::mutex> lock(savedMutex);
    saved[slot].fd = fd;
    saved[slot].settings = settings;
    return true;
}

bool SameFile(int a, int b) {
    struct stat first;
    struct stat second;
    return fstat(a, &first) == 0 && fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

} // namespace

PosixStdioPort::PosixStdioPort(int inputFd, int outputFd) : in_(inputFd), out_(outputFd) {
    const bool inputTerminal = SaveTerminal(0, in_);
    // One terminal on both sides (a remote shell) is saved once.
    if (!inputTerminal || !SameFile(in_, out_)) {
        SaveTerminal(1, out_);
    }
    const int flags = fcntl(in_, F_GETFL);
    if (flags < 0) {
        SetStatus(LINK_NO_PORT);
        return;
    }
    fcntl(in_, F_SETFL, flags | O_NONBLOCK);
    ApplyModes();
}

PosixStdioPort::~PosixStdioPort() {
    const int flags = fcntl(in_, F_GETFL);
    if (flags >= 0) {
        fcntl(in_, F_SETFL, flags & ~O_NONBLOCK);
    }
    RestoreTerminals();
}

void PosixStdioPort::ApplyModes() {
    std::lock_guard<std::mutex> lock(savedMutex);
    for (const SavedTerminal& terminal : saved) {
        if (terminal.fd < 0) {
            continue;
        }
        termios raw = terminal.settings;
        cfmakeraw(&raw);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (outputFlow_ == kFlowXonXoff) {
            raw.c_iflag |= IXON;
        }
        if (inputFlow_ == kFlowXonXoff) {
            raw.c_iflag |= IXOFF;
        }
        tcsetattr(terminal.fd, TCSADRAIN, &raw);
    }
}

int PosixStdioPort::Close() {
    return LINK_OK;
}

QueueStatus& PosixStdioPort::GetQueueStatus(QueueStatus& record, int) {
    record = QueueStatus{};
    int waiting = 0;
    if (ioctl(in_, FIONREAD, &waiting) != 0 || waiting < 0) {
        waiting = 0;
    }
    int queued = 0;
    if (isatty(out_) != 1 || ioctl(out_, TIOCOUTQ, &queued) != 0 || queued < 0) {
        queued = 0;
    }
    record.receiveValid = 1;
    record.receiveCount = static_cast<std::uint32_t>(inputEnd_ - inputNext_ + waiting);
    record.receiveSize = sizeof buffer_;
    record.transmitValid = 1;
    record.transmitCount = static_cast<std::uint32_t>(queued);
    record.transmitSize = 65536;
    return record;
}

int PosixStdioPort::Write(const void* buffer, int length) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    int written = 0;
    while (written < length) {
        const ssize_t n = write(out_, bytes + written, static_cast<std::size_t>(length - written));
        if (n > 0) {
            written += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd entry{out_, POLLOUT, 0};
            if (poll(&entry, 1, kWriteWaitMs) > 0 && (entry.revents & POLLOUT) != 0) {
                continue;
            }
        }
        if (n < 0 && errno != EAGAIN) {
            (void)LoseLine(errno); // the terminal hung up, or the reader of a pipe is gone
        } else {
            SetStatus(LINK_WRITE_SHORT);
        }
        break;
    }
    return written;
}

int PosixStdioPort::Refill() {
    inputNext_ = buffer_;
    inputEnd_ = buffer_;
    if (ended_) {
        return LINK_LINE_LOST;
    }
    const ssize_t got = read(in_, buffer_, sizeof buffer_);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return 0;
    }
    if (got <= 0) {
        // The other side closed our input, or the terminal hung up: the line is gone.
        ended_ = true;
        return LoseLine(got < 0 ? errno : 0);
    }
    inputEnd_ = buffer_ + got;
    return static_cast<int>(got);
}

void PosixStdioPort::DropOutput() {
    if (isatty(out_) == 1) {
        tcflush(out_, TCOFLUSH);
    }
}

int PosixStdioPort::WaitForInput(int timeoutMs) {
    if (InputBuffered()) {
        return 0;
    }
    if (ended_) {
        return LINK_LINE_LOST;
    }
    pollfd entry{in_, POLLIN, 0};
    const int ready = poll(&entry, 1, timeoutMs > 0 ? timeoutMs : 0);
    if (ready > 0) {
        if ((entry.revents & POLLIN) != 0) {
            return std::min(Refill(), 0);
        }
        if ((entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            ended_ = true;
            return LoseLine(EIO);
        }
    }
    return 0;
}

} // namespace tollan
