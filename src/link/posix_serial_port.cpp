#include "link/posix_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <utility>

#include "link/line_speeds.h"
#include "link/tick_count.h"

namespace tollan {
namespace {

// Accumulated line errors, one bit per error signal code (25 to 31).
std::uint32_t ErrorBit(int code) {
    return 1u << (code - 24);
}

// What poll() reports of a device that has gone away: a hung-up terminal (a USB adapter pulled,
// the master of a pseudo-terminal closed) reads as readable, with nothing to read, for ever.
constexpr short kGoneEvents = POLLHUP | POLLERR | POLLNVAL;

// Errors of read() and write() that say the device will not come back.
bool DeviceGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

// Devices opened by path in this process (resolved paths).
std::mutex pathMutex;
std::set<std::string> openPaths;

std::string ResolvedPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return path;
    }
    std::string result(resolved);
    std::free(resolved);
    return result;
}

struct SpeedEntry {
    std::uint32_t speed;
    speed_t code;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},
#ifdef B460800
    {460800, B460800},   {500000, B500000},   {576000, B576000},   {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
#endif
};

bool SpeedCode(std::uint32_t speed, speed_t& code) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.speed == speed) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

int CodeForErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTTY:
    case EBADF:
        return LINK_NO_PORT;
    case EBUSY:
        return LINK_PORT_IN_USE;
    case ENOMEM:
        return LINK_NO_MEMORY;
    default:
        return LINK_FAILED;
    }
}

} // namespace

bool LineSpeedOffered(std::uint32_t speed) {
    speed_t code;
    return SpeedCode(speed, code);
}

PosixSerialPort::PosixSerialPort(std::string devicePath, std::uint32_t receiveSize,
                                 std::uint32_t transmitSize)
    : CommPort(kNoPortNumber), path_(std::move(devicePath)), byNumber_(false) {
    KeepQueueSizes(receiveSize, transmitSize);
    Open(kNoPortNumber);
    if (IsOpen()) {
        RaiseOutputLines();
    }
}

PosixSerialPort::PosixSerialPort(std::uint32_t portNumber, std::string devicePath,
                                 std::uint32_t receiveSize, std::uint32_t transmitSize)
    : CommPort(portNumber), path_(std::move(devicePath)), byNumber_(true) {
    KeepQueueSizes(receiveSize, transmitSize);
    Open(portNumber);
    if (IsOpen()) {
        RaiseOutputLines();
    }
}

PosixSerialPort::~PosixSerialPort() {
    if (IsOpen()) {
        (void)Close(); // nobody is left to hear of a failed close
    }
    if (!claimedPath_.empty()) {
        std::lock_guard lock(pathMutex);
        openPaths.erase(claimedPath_);
    }
}

void PosixSerialPort::Open(std::uint32_t portNumber) {
    // Where running out of memory ends as a code: the resolved path and the table of open paths
    // allocate.
    try {
        OpenAndConfigure(portNumber);
    } catch (const std::bad_alloc&) {
        SetStatus(LINK_NO_MEMORY);
    }
}

void PosixSerialPort::OpenAndConfigure(std::uint32_t portNumber) {
    std::string resolved;
    if (byNumber_) {
        const int free = CheckPortFree(portNumber);
        if (free != 0) {
            SetStatus(free);
            return;
        }
    } else {
        resolved = ResolvedPath(path_);
        std::lock_guard lock(pathMutex);
        if (openPaths.count(resolved) != 0) {
            SetStatus(LINK_PORT_IN_USE);
            return;
        }
    }
    if (OpenDevice() != 0) {
        return;
    }
    if (byNumber_) {
        RaisePortCount();
    } else {
        std::lock_guard lock(pathMutex);
        openPaths.insert(resolved);
        claimedPath_ = resolved;
    }

    working_ = original_;
    cfmakeraw(&working_);
    working_.c_cflag |= CLOCAL | CREAD;
    working_.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB | PARODD | CSIZE);
#ifdef CMSPAR
    working_.c_cflag &= ~CMSPAR;
#endif
    working_.c_cflag |= CS8;
    working_.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    working_.c_iflag |= IGNBRK;
    working_.c_cc[VMIN] = 0; // a read returns at once with what has arrived
    working_.c_cc[VTIME] = 0;
    working_.c_cc[VSTART] = 0x11;
    working_.c_cc[VSTOP] = 0x13;
    cfsetispeed(&working_, B19200);
    cfsetospeed(&working_, B19200);
    speed_ = 19200;
    parity_ = 'N';
    dataBits_ = 8;
    stopBits_ = 1;
    if (tcsetattr(fd_, TCSANOW, &working_) != 0) {
        SetStatus(CodeForErrno(errno));
    }
    CollectErrors();
    errors_ = 0;
}

int PosixSerialPort::OpenDevice() {
    const int fd = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return SetStatus(CodeForErrno(errno));
    }
    if (!isatty(fd) || tcgetattr(fd, &original_) != 0) {
        close(fd);
        return SetStatus(LINK_NO_PORT);
    }
    // No sharing: another process holding the device keeps it.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return SetStatus(errno == EWOULDBLOCK ? LINK_PORT_IN_USE : LINK_FAILED);
    }
    fd_ = fd;
    return 0;
}

int PosixSerialPort::Close() {
    DropInput();
    // What the device still holds leaves on the line (a pseudo-terminal keeps it for its reader);
    // output that flow control holds back would only keep the close waiting.
    if (OutputQueued() > 0) {
        DropOutput();
    }
    SetControlLine(TIOCM_DTR, false);
    SetControlLine(TIOCM_RTS, false);
    tcsetattr(fd_, TCSANOW, &original_);
    const int closed = close(fd_);
    fd_ = -1;
    if (closed != 0) {
        return SetStatus(LINK_CLOSE_FAILED);
    }
    return 0;
}

int PosixSerialPort::Idle() {
    if (!IsOpen()) {
        return LINK_NO_PORT;
    }
    if (LineLost() != 0) {
        return LINK_LINE_LOST;
    }
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0 && DeviceGone(errno)) {
        return LoseLine(errno); // a hung-up device answers EIO
    }
    return IdleSlice(InputBuffered() || waiting > 0, [this](int ms) {
        pollfd entry{fd_, POLLIN, 0};
        if (poll(&entry, 1, ms) > 0 && (entry.revents & kGoneEvents) != 0 &&
            TakeArrivedInput() == 0) {
            return LoseLine(EIO);
        }
        return 0;
    });
}

void PosixSerialPort::CollectErrors() {
#ifdef TIOCGICOUNT
    serial_icounter_struct counts{};
    if (ioctl(fd_, TIOCGICOUNT, &counts) != 0) {
        return; // the device keeps no counters
    }
    const std::uint32_t now[5] = {
        static_cast<std::uint32_t>(counts.frame), static_cast<std::uint32_t>(counts.overrun),
        static_cast<std::uint32_t>(counts.parity), static_cast<std::uint32_t>(counts.brk),
        static_cast<std::uint32_t>(counts.buf_overrun)};
    const int codes[5] = {kSignalFramingError, kSignalOverrun, kSignalParityError,
                          kSignalBreakReceived, kSignalReceiveOverflow};
    for (int i = 0; i < 5; ++i) {
        if (now[i] != counters_[i]) {
            errors_ |= ErrorBit(codes[i]);
        }
        counters_[i] = now[i];
    }
#endif
}

int PosixSerialPort::ModemLines() {
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) != 0) {
        return 0;
    }
    return ((lines & TIOCM_CTS) ? 0x10 : 0) | ((lines & TIOCM_DSR) ? 0x20 : 0) |
           ((lines & TIOCM_RI) ? 0x40 : 0) | ((lines & TIOCM_CD) ? 0x80 : 0);
}

void PosixSerialPort::SetOutputLine(int code, bool on) {
    SetControlLine(code == kSignalDtr ? TIOCM_DTR : TIOCM_RTS, on);
}

bool PosixSerialPort::ModemInputOn(std::uint32_t mask) {
    return (static_cast<std::uint32_t>(ModemLines()) & mask) != 0;
}

bool PosixSerialPort::ErrorSeen(int code) const {
    return (errors_ & ErrorBit(code)) != 0;
}

void PosixSerialPort::SetControlLine(int line, bool on) {
    ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line);
}

std::uint32_t PosixSerialPort::OutputQueued() {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(queued);
}

int PosixSerialPort::ReadModemStatus() {
    CollectErrors();
    modemStatus_ = static_cast<std::uint32_t>(ModemLines());
    return static_cast<int>(modemStatus_);
}

QueueStatus& PosixSerialPort::GetQueueStatus(QueueStatus& record, int) {
    CollectErrors();
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0 || waiting < 0) {
        waiting = 0;
    }
    // termios does not tell of holds.
    return FillQueueStatus(record, static_cast<std::uint32_t>(waiting), OutputQueued(), 0);
}

int PosixSerialPort::SetQueues(std::uint32_t receiveSize, std::uint32_t xoffLimit,
                               std::uint32_t transmitSize) {
    DropInput();
    DropOutput();
    KeepQueueSizes(receiveSize, transmitSize);
    if (xoffLimit != 0) {
        xoffLimit_ = xoffLimit;
    }
    return 0;
}

int PosixSerialPort::SetFlowControl(int input, int output) {
    const int checked = CheckFlowCodes(input, output);
    if (checked != 0) {
        return checked;
    }
    if (input == kFlowDtr || output == kFlowDsr) {
        return SetStatus(LINK_UNSUPPORTED);
    }
    termios config = working_;
    config.c_iflag &= ~(IXON | IXOFF | IXANY);
    config.c_cflag &= ~CRTSCTS;
    if (input == kFlowXonXoff) {
        config.c_iflag |= IXOFF;
    }
    if (output == kFlowXonXoff) {
        config.c_iflag |= IXON;
    }
    if (input == kFlowRts || output == kFlowCts) {
        config.c_cflag |= CRTSCTS;
    }
    if (tcsetattr(fd_, TCSANOW, &config) != 0) {
        return SetStatus(CodeForErrno(errno));
    }
    working_ = config;
    return KeepFlow(input, output);
}

int PosixSerialPort::GetFlowControl(int& input, int& output) {
    return ReportFlow(input, output);
}

int PosixSerialPort::SetBreak(int state) {
    return ChangeBreak(state,
                       [this](bool on) { return ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) == 0; });
}

int PosixSerialPort::Signal(int code, int value) {
    return AnswerSignal(code, value);
}

int PosixSerialPort::SetFormat(std::uint32_t speed, char parity, int dataBits, int stopBits) {
    const int checked = CheckFormat(parity, dataBits, stopBits);
    if (checked != 0) {
        return checked;
    }
    speed_t code;
    if (!SpeedCode(speed, code)) {
        return SetStatus(LINK_BAD_SPEED);
    }
    termios config = working_;
    config.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD);
#ifdef CMSPAR
    config.c_cflag &= ~CMSPAR;
#endif
    switch (dataBits) {
    case 5:
        config.c_cflag |= CS5;
        break;
    case 6:
        config.c_cflag |= CS6;
        break;
    case 7:
        config.c_cflag |= CS7;
        break;
    case 8:
        config.c_cflag |= CS8;
        break;
    default:
        return SetStatus(LINK_BAD_DATA_BITS); // the driver has no 4-bit characters
    }
    switch (parity) {
    case 'O':
        config.c_cflag |= PARENB | PARODD;
        break;
    case 'E':
        config.c_cflag |= PARENB;
        break;
    case 'M':
    case 'S':
#ifdef CMSPAR
        config.c_cflag |= PARENB | CMSPAR | (parity == 'M' ? PARODD : 0);
        break;
#else
        return SetStatus(LINK_BAD_PARITY);
#endif
    default:
        break;
    }
    // With five data bits the driver sends one and a half stop bits for "two".
    if (stopBits == 2) {
        config.c_cflag |= CSTOPB;
    }
    cfsetispeed(&config, code);
    cfsetospeed(&config, code);
    if (tcsetattr(fd_, TCSANOW, &config) != 0) {
        return SetStatus(CodeForErrno(errno));
    }
    working_ = config;
    speed_ = speed;
    parity_ = parity;
    dataBits_ = dataBits;
    // One and a half stop bits read back as one.
    stopBits_ = dataBits == 5 ? 1 : stopBits;
    return 0;
}

void PosixSerialPort::GetFormat(std::uint32_t& speed, char& parity, int& dataBits, int& stopBits) {
    speed = speed_;
    parity = parity_;
    dataBits = dataBits_;
    stopBits = stopBits_;
}

int PosixSerialPort::GetLineSnapshot(LineSnapshot& snapshot) {
    return TakeLineSnapshot(snapshot, errors_, modemStatus_);
}

int PosixSerialPort::PutByte(std::uint8_t byte) {
    return PutByteByWrite(byte);
}

int PosixSerialPort::PutString(const char* text) {
    return PutStringByWrite(text);
}

int PosixSerialPort::Write(const void* buffer, int length) {
    if (length <= 0) {
        return 0;
    }
    if (LineLost() != 0) {
        SetStatus(LINK_LINE_LOST);
        return 0;
    }
    pacing_.Wrote();
    const std::uint32_t queued = queueSeenEmpty_ || !queueCounted_ ? 0 : OutputQueued();
    const int wanted = static_cast<int>(TransmitRoom(length, queued));
    int count = 0;
    if (wanted > 0) {
        const std::uint32_t deadline = TickCount() + 10 + 5 * static_cast<std::uint32_t>(wanted);
        count = WriteUntil(static_cast<const std::uint8_t*>(buffer), wanted, deadline);
    }
    if (count > 0) {
        WaitUntilSent(count);
    }
    if (count < length) {
        SetStatus(LineLost() != 0 ? LINK_LINE_LOST : LINK_WRITE_SHORT);
    }
    return count;
}

int PosixSerialPort::WriteUntil(const std::uint8_t* bytes, int length, std::uint32_t deadline) {
    int count = 0;
    while (count < length) {
        const ssize_t written = write(fd_, bytes + count, static_cast<std::size_t>(length - count));
        if (written > 0) {
            count += static_cast<int>(written);
            queueSeenEmpty_ = false;
            if (count == length) {
                break;
            }
            // Only a part was taken: the device is full now.
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (DeviceGone(errno)) {
                (void)LoseLine(errno); // the status keeps it; the short count tells the caller
            }
            break;
        }
        // The device's queue is full: sleep until it takes more.
        const std::uint32_t now = TickCount();
        if (TickReached(now, deadline)) {
            break;
        }
        pollfd entry{fd_, POLLOUT, 0};
        const int ready = poll(&entry, 1, static_cast<int>(deadline - now));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready > 0 && (entry.revents & POLLOUT) == 0) {
            (void)LoseLine(EIO); // an error or a hang-up: no room will come
            break;
        }
    }
    return count;
}

void PosixSerialPort::WaitUntilSent(int count) {
    if (!queueCounted_) {
        return;
    }
    // Never longer than a slow line would need.
    const std::uint32_t deadline = TickCount() + 10 + 5 * static_cast<std::uint32_t>(count);
    for (bool first = true;; first = false) {
        const std::uint32_t queued = OutputQueued();
        if (queued == 0) {
            queueSeenEmpty_ = true;
            // A queue that reads empty at once after many bytes is not counted by the device.
            constexpr int kLargeWrite = 256;
            constexpr int kLargeWritesInARow = 8;
            if (first && count >= kLargeWrite) {
                queueCounted_ = ++emptyAfterWrite_ < kLargeWritesInARow;
            } else if (count >= kLargeWrite) {
                emptyAfterWrite_ = 0;
            }
            return;
        }
        const std::uint32_t now = TickCount();
        if (TickReached(now, deadline)) {
            return;
        }
        // Sleep for the time the queued bytes take on the line, then look again.
        const std::uint64_t needed = static_cast<std::uint64_t>(queued) * CharacterMicros();
        const std::uint64_t left = static_cast<std::uint64_t>(deadline - now) * 1000;
        usleep(static_cast<useconds_t>(std::clamp<std::uint64_t>(needed, 500, left)));
    }
}

int PosixSerialPort::SendImmediate(std::uint8_t byte) {
    queueSeenEmpty_ = false;
    pacing_.Wrote();
    if (write(fd_, &byte, 1) == 1) {
        return 0;
    }
    return DeviceGone(errno) ? LoseLine(errno) : LINK_FAILED;
}

int PosixSerialPort::Refill() {
    const ssize_t got = read(fd_, buffer_, sizeof buffer_);
    if (got < 0 && DeviceGone(errno)) {
        (void)LoseLine(errno); // the next wait reports it, once the bytes read are taken
    }
    const int count = got > 0 ? static_cast<int>(got) : 0;
    inputNext_ = buffer_;
    inputEnd_ = buffer_ + count;
    return count;
}

int PosixSerialPort::TakeArrivedInput() {
    return pacing_.Arrived(Refill());
}

int PosixSerialPort::WaitForInput(int timeoutMs) {
    const auto wait = [this](int ms) {
        pollfd entry{fd_, POLLIN, 0};
        if (poll(&entry, 1, ms) <= 0) {
            return 0;
        }
        // The next GetByte() needs no system call. What a device that went away still held is
        // handed on first.
        if (TakeArrivedInput() == 0 && (entry.revents & kGoneEvents) != 0) {
            return LoseLine(EIO);
        }
        return InputBuffered() ? 0 : LostCode();
    };
    return PacedWait(
        IsOpen(), pacing_, timeoutMs, [this] { return TakeArrivedInput(); }, wait);
}

int PosixSerialPort::GetByte() {
    return BufferedByte();
}

int PosixSerialPort::Read(void* buffer, int length) {
    if (length <= 0 || !IsOpen()) {
        return 0;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    int count = TakeBuffered(out, length);
    if (count < length) {
        const ssize_t got = read(fd_, out + count, static_cast<std::size_t>(length - count));
        if (got > 0) {
            count += static_cast<int>(got);
        }
    }
    return count;
}

int PosixSerialPort::Purge(PurgeDirection direction, int count) {
    return PurgeByDropping(direction, count);
}

void PosixSerialPort::DropInput() {
    inputNext_ = inputEnd_ = buffer_;
    tcflush(fd_, TCIFLUSH);
}

void PosixSerialPort::DropOutput() {
    tcflush(fd_, TCOFLUSH);
    queueSeenEmpty_ = true;
}

void PosixSerialPort::Dump(const PrintLine& printLine) {
    const termios& c = working_;
    char text[PATH_MAX + 64];
    std::snprintf(text, sizeof text,
                  "Port type: POSIX termios  BaudRate: %-6u  ByteSize: %1d  Parity: %c", speed_,
                  dataBits_, parity_ != 0 ? parity_ : '?');
    printLine(text);
    std::snprintf(text, sizeof text, "StopBits: %1d  CRTSCTS: %1d  CLOCAL: %1d  HUPCL: %1d",
                  stopBits_, (c.c_cflag & CRTSCTS) ? 1 : 0, (c.c_cflag & CLOCAL) ? 1 : 0,
                  (c.c_cflag & HUPCL) ? 1 : 0);
    printLine(text);
    std::snprintf(text, sizeof text, "IXON: %1d  IXOFF: %1d  IXANY: %1d  DTR: %1d  RTS: %1d",
                  (c.c_iflag & IXON) ? 1 : 0, (c.c_iflag & IXOFF) ? 1 : 0,
                  (c.c_iflag & IXANY) ? 1 : 0, dtrState_, rtsState_);
    printLine(text);
    std::snprintf(text, sizeof text, "XonChar: %02x  XoffChar: %02x  VMIN: %u  VTIME: %u",
                  c.c_cc[VSTART], c.c_cc[VSTOP], c.c_cc[VMIN], c.c_cc[VTIME]);
    printLine(text);
    std::snprintf(text, sizeof text, "XoffLim: %-5u Device: %s", xoffLimit_, path_.c_str());
    printLine(text);
    DumpQueues(printLine);
}

} // namespace tollan
