// A null-modem cable between two pseudo-terminals, at the pace of a real serial line.
//
// The simulator opens two pseudo-terminal pairs, A and B; programs use the slave ends as their
// serial devices. Bytes written to slave A come out of slave B and the other way round, but no
// byte arrives before its time on the wire is over: each direction has a clock of when its wire
// is free, and each byte takes bits-per-byte / bit rate seconds (8N1: 10 bits). Like a UART pair,
// each direction holds at most a bounded number of bytes; while that buffer is full, the
// simulator stops reading from the sender, whose writes then block once the kernel's queue of the
// pseudo-terminal is full too.
//
//   line_simulator [--bps N] [--bits-per-byte N] [--buffer BYTES] [--link-a PATH] [--link-b PATH]
//                  [--bit-errors N] [--seed S]
//
// With --bit-errors N the line is noisy: in each direction one data bit in N on average (the
// gaps between errors drawn at random, seeded by S and the direction) arrives flipped, as line
// noise would flip it.
//
// Prints "A <slave path>" and "B <slave path>", makes the symbolic links asked for, and runs
// until SIGTERM or SIGINT; then removes the links and prints how many bytes went each way and
// how long each wire stood idle between its first byte and its last.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <string_view>

namespace {

volatile sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
    stopRequested = 1;
}

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

speed_t SpeedCode(long bps) {
    switch (bps) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B0;
    }
}

// One pseudo-terminal pair: the master the simulator reads and writes, and the slave it keeps
// open itself, so that the master sees no hang-up while no program has the device open.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
};

bool OpenPty(Pty& pty, long bps) {
    pty.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) {
        return false;
    }
    const char* name = ptsname(pty.master);
    if (name == nullptr) {
        return false;
    }
    pty.path = name;
    pty.slave = open(name, O_RDWR | O_NOCTTY);
    if (pty.slave < 0) {
        return false;
    }
    // Raw on both sides: no echo, no line editing, no character translation.
    for (int fd : {pty.slave, pty.master}) {
        termios mode{};
        if (tcgetattr(fd, &mode) != 0) {
            return false;
        }
        cfmakeraw(&mode);
        mode.c_cflag |= CLOCAL | CREAD;
        // Programs that size their packets by the line's speed see the simulated one.
        if (SpeedCode(bps) != B0) {
            cfsetispeed(&mode, SpeedCode(bps));
            cfsetospeed(&mode, SpeedCode(bps));
        }
        if (tcsetattr(fd, TCSANOW, &mode) != 0) {
            return false;
        }
    }
    return fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK) == 0;
}

// One direction of the cable: bytes read from one master, delivered to the other.
class Wire {
public:
    Wire(int from, int to, double byteTime, std::size_t capacity)
        : from_(from), to_(to), byteTime_(byteTime), capacity_(capacity) {}

    // One flipped data bit in `interval` on average; 0: a clean line.
    void SetNoise(long interval, std::uint64_t seed) {
        noisy_ = interval > 0;
        if (noisy_) {
            random_.seed(seed);
            gaps_ = std::geometric_distribution<std::uint64_t>(1.0 / static_cast<double>(interval));
            nextError_ = gaps_(random_);
        }
    }

    bool HasRoom() const { return queue_.size() < capacity_; }
    bool Busy() const { return !queue_.empty(); }
    // "<bytes> bytes, idle <s> s in <n> pauses of 10 ms or more, longest <s> s": the pauses are
    // those between the first byte and the last.
    void Report(const char* name) const {
        std::printf("%s %llu bytes, idle %.3f s in %d pauses of 10 ms or more, longest %.3f s, "
                    "%llu bits flipped\n",
                    name, static_cast<unsigned long long>(delivered_), idle_, pauses_, longest_,
                    static_cast<unsigned long long>(flipped_));
    }

    // Takes what the sender has written, as much as the buffer holds. Each byte goes on the
    // wire when the one before it is through, or now if the wire is idle.
    bool Read(double now) {
        unsigned char chunk[4096];
        const std::size_t room = std::min(capacity_ - queue_.size(), sizeof chunk);
        const ssize_t got = read(from_, chunk, room);
        if (got < 0) {
            return errno == EAGAIN || errno == EINTR || errno == EIO;
        }
        if (got > 0 && wireFree_ > 0 && now - wireFree_ >= 0.010) {
            idle_ += now - wireFree_;
            longest_ = std::max(longest_, now - wireFree_);
            ++pauses_;
        }
        wireFree_ = std::max(wireFree_, now) + static_cast<double>(got) * byteTime_;
        if (noisy_) {
            AddNoise(chunk, static_cast<std::size_t>(got));
        }
        queue_.insert(queue_.end(), chunk, chunk + got);
        return true;
    }

    // Delivers the bytes whose time on the wire is over. The bytes not yet due are always the
    // last ones queued, back to back on the wire up to wireFree_.
    bool Deliver(double now) {
        const double pending = std::ceil((wireFree_ - now) / byteTime_ - 1e-9);
        const std::size_t notDue =
            pending <= 0 ? 0 : std::min(queue_.size(), static_cast<std::size_t>(pending));
        std::size_t due = queue_.size() - notDue;
        while (due > 0) {
            unsigned char chunk[4096];
            const std::size_t count = std::min(due, sizeof chunk);
            std::copy_n(queue_.begin(), count, chunk);
            const ssize_t put = write(to_, chunk, count);
            if (put < 0) {
                // The receiver's queue is full: the bytes wait here, the wire goes on.
                return errno == EAGAIN || errno == EINTR || errno == EIO;
            }
            queue_.erase(queue_.begin(), queue_.begin() + put);
            delivered_ += static_cast<std::uint64_t>(put);
            due -= static_cast<std::size_t>(put);
        }
        return true;
    }

    // Seconds until the oldest queued byte is due (0 if it already is).
    double UntilNextDue(double now) const {
        const double oldestDue = wireFree_ - static_cast<double>(queue_.size() - 1) * byteTime_;
        return std::max(0.0, oldestDue - now);
    }

private:
    // Flips the bits whose turn has come; nextError_ counts the clean data bits still to go.
    void AddNoise(unsigned char* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            while (nextError_ < 8) {
                bytes[i] ^= static_cast<unsigned char>(1u << nextError_);
                ++flipped_;
                nextError_ += 1 + gaps_(random_);
            }
            nextError_ -= 8;
        }
    }

    bool noisy_ = false;
    std::mt19937_64 random_;
    std::geometric_distribution<std::uint64_t> gaps_;
    std::uint64_t nextError_ = 0;
    std::uint64_t flipped_ = 0;
    int from_;
    int to_;
    double byteTime_;
    std::size_t capacity_;
    std::deque<unsigned char> queue_;
    double wireFree_ = 0;
    std::uint64_t delivered_ = 0;
    double idle_ = 0;
    double longest_ = 0;
    int pauses_ = 0;
};

bool ParseNumber(const char* text, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value > 0;
}

int Usage() {
    std::fprintf(stderr, "usage: line_simulator [--bps N] [--bits-per-byte N] [--buffer BYTES] "
                         "[--link-a PATH] [--link-b PATH] [--bit-errors N] [--seed S]\n");
    return 64;
}

} // namespace

int main(int argc, char** argv) {
    long bps = 115200;
    long bitsPerByte = 10;
    long capacity = 4096;
    long bitErrors = 0;
    long seed = 1;
    std::string links[2];
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (i + 1 >= argc) {
            return Usage();
        }
        const char* value = argv[++i];
        if (option == "--link-a") {
            links[0] = value;
        } else if (option == "--link-b") {
            links[1] = value;
        } else if (!((option == "--bps" && ParseNumber(value, bps)) ||
                     (option == "--bits-per-byte" && ParseNumber(value, bitsPerByte)) ||
                     (option == "--buffer" && ParseNumber(value, capacity)) ||
                     (option == "--bit-errors" && ParseNumber(value, bitErrors)) ||
                     (option == "--seed" && ParseNumber(value, seed)))) {
            return Usage();
        }
    }

    // SIGTERM and SIGINT are blocked except while waiting, so a stop is never missed.
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigset_t stopSignals;
    sigset_t waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);

    Pty pty[2];
    for (int side = 0; side < 2; ++side) {
        if (!OpenPty(pty[side], bps)) {
            std::fprintf(stderr, "line_simulator: no pseudo-terminal: %s\n", std::strerror(errno));
            return 1;
        }
    }
    for (int side = 0; side < 2; ++side) {
        if (!links[side].empty()) {
            unlink(links[side].c_str());
            if (symlink(pty[side].path.c_str(), links[side].c_str()) != 0) {
                std::fprintf(stderr, "line_simulator: %s: %s\n", links[side].c_str(),
                             std::strerror(errno));
                return 1;
            }
        }
    }
    std::printf("A %s\nB %s\n", pty[0].path.c_str(), pty[1].path.c_str());
    std::fflush(stdout);

    const double byteTime = static_cast<double>(bitsPerByte) / static_cast<double>(bps);
    Wire wires[2] = {Wire(pty[0].master, pty[1].master, byteTime, capacity),
                     Wire(pty[1].master, pty[0].master, byteTime, capacity)};
    for (int side = 0; side < 2; ++side) {
        wires[side].SetNoise(bitErrors, static_cast<std::uint64_t>(seed) * 2 + side);
    }
    bool ok = true;
    while (ok && !stopRequested) {
        pollfd fds[2];
        double wait = -1;
        const double now = Now();
        for (int side = 0; side < 2; ++side) {
            fds[side] = {pty[side].master, static_cast<short>(wires[side].HasRoom() ? POLLIN : 0),
                         0};
            if (wires[side].Busy()) {
                // Slices of 1 to 2 ms, as a UART's receive FIFO hands bytes on: never early.
                const double until = std::clamp(wires[side].UntilNextDue(now), 0.001, 0.002);
                wait = wait < 0 ? until : std::min(wait, until);
            }
        }
        timespec timeout{};
        timeout.tv_nsec = static_cast<long>(wait * 1e9);
        if (ppoll(fds, 2, wait < 0 ? nullptr : &timeout, &waitMask) < 0 && errno != EINTR) {
            ok = false;
            break;
        }
        for (int side = 0; side < 2; ++side) {
            if ((fds[side].revents & POLLIN) != 0) {
                ok = ok && wires[side].Read(Now());
            }
        }
        for (Wire& wire : wires) {
            ok = ok && wire.Deliver(Now());
        }
    }

    for (const std::string& link : links) {
        if (!link.empty()) {
            unlink(link.c_str());
        }
    }
    wires[0].Report("A->B");
    wires[1].Report("B->A");
    if (!ok) {
        std::fprintf(stderr, "line_simulator: %s\n", std::strerror(errno));
    }
    return ok ? 0 : 1;
}
