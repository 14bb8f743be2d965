#include "support/memory_port.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <thread>

namespace tollan {
namespace {

using Clock = std::chrono::steady_clock;

// Accumulated line errors, one bit per error signal code (25 to 31).
std::uint32_t ErrorBit(int code) {
    return 1u << (code - 24);
}

bool IsErrorCode(int code) {
    return code == kSignalOverrun || code == kSignalParityError || code == kSignalFramingError ||
           code == kSignalBreakReceived || code == kSignalReceiveOverflow;
}

} // namespace

struct MemoryEnd {
    std::deque<std::uint8_t> transmit; // bytes waiting to leave this end
    std::deque<std::uint8_t> receive;  // bytes arrived at this end
    std::uint32_t receiveSize = 4096;
    std::uint32_t transmitSize = 2048;
    std::uint32_t xoffLimit = 128;
    int inputFlow = 0;
    int outputFlow = 0;
    std::uint32_t speed = 19200;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    int dtr = 1;
    int rts = 1;
    int breakState = 0;
    bool cts = true;
    bool dsr = true;
    bool ring = false;
    bool carrier = true;
    std::uint32_t errors = 0;
    int modemCopy = 0;
    bool held = false; // sending held: the other end's queue is full or the handshake line is off
    double credit = 0; // bytes the paced line may still carry
    int idleResult = 0;
    std::uint64_t idleCount = 0;
    std::uint64_t corrupted = 0;
    bool open = false;
    bool usesTable = false;
};

struct MemoryLine {
    std::mutex mutex;
    MemoryEnd ends[2];
    std::uint32_t bytesPerSecond = 0;
    std::uint32_t errorInterval = 0;
    std::uint32_t maxSpeed = 0;
    std::mt19937 random;
    Clock::time_point last = Clock::now();

    // Moves bytes along both directions for the time passed since the last call. Holds the lock.
    void Advance() {
        const Clock::time_point now = Clock::now();
        const double seconds = std::chrono::duration<double>(now - last).count();
        last = now;
        for (int side = 0; side < 2; ++side) {
            Carry(ends[side], ends[1 - side], seconds);
        }
    }

    void Carry(MemoryEnd& from, MemoryEnd& to, double seconds) {
        from.held = false;
        if (from.transmit.empty()) {
            from.credit = 0;
            return;
        }
        if ((from.outputFlow == kFlowCts && !from.cts) ||
            (from.outputFlow == kFlowDsr && !from.dsr)) {
            from.held = true;
            from.credit = 0;
            return;
        }
        std::size_t allowed = from.transmit.size();
        if (bytesPerSecond != 0) {
            from.credit += seconds * bytesPerSecond;
            allowed = std::min(allowed, static_cast<std::size_t>(from.credit));
            from.credit -= static_cast<double>(allowed);
        }
        for (std::size_t i = 0; i < allowed; ++i) {
            std::uint8_t byte = from.transmit.front();
            if (to.receive.size() >= to.receiveSize) {
                if (bytesPerSecond == 0 || from.outputFlow != kFlowNone) {
                    from.held = true;
                    from.credit = 0;
                    return;
                }
                // A paced line without flow control overruns the receiver.
                from.transmit.pop_front();
                to.errors |= ErrorBit(kSignalReceiveOverflow);
                continue;
            }
            from.transmit.pop_front();
            if (errorInterval != 0 && random() % errorInterval == 0) {
                byte ^= static_cast<std::uint8_t>(1u << (random() % 8));
                ++from.corrupted;
            }
            if (to.open) {
                to.receive.push_back(byte);
            }
        }
    }
};

MemoryPort::MemoryPort(std::shared_ptr<MemoryLine> line, int side, std::uint32_t portNumber)
    : CommPort(portNumber), line_(std::move(line)), side_(side) {}

MemoryPort::~MemoryPort() {
    bool open;
    {
        std::lock_guard lock(line_->mutex);
        open = line_->ends[side_].open;
    }
    if (open) {
        Close();
    }
}

int MemoryPort::Idle() {
    int result;
    {
        std::lock_guard lock(line_->mutex);
        line_->Advance();
        MemoryEnd& end = line_->ends[side_];
        ++end.idleCount;
        result = end.idleResult;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    return result;
}

int MemoryPort::ReadModemStatus() {
    std::lock_guard lock(line_->mutex);
    MemoryEnd& end = line_->ends[side_];
    end.modemCopy = (end.cts ? 0x10 : 0) | (end.dsr ? 0x20 : 0) | (end.ring ? 0x40 : 0) |
                    (end.carrier ? 0x80 : 0);
    return end.modemCopy;
}

void MemoryPort::Open(std::uint32_t portNumber) {
    bool usesTable;
    {
        std::lock_guard lock(line_->mutex);
        usesTable = line_->ends[side_].usesTable;
    }
    if (usesTable) {
        const int code = CheckPortFree(portNumber);
        if (code != 0) {
            SetStatus(code);
            return;
        }
    }
    if (OpenDevice() != 0) {
        return;
    }
    if (usesTable) {
        RaisePortCount();
    }
}

int MemoryPort::OpenDevice() {
    std::lock_guard lock(line_->mutex);
    line_->ends[side_].open = true;
    return 0;
}

int MemoryPort::Close() {
    std::lock_guard lock(line_->mutex);
    MemoryEnd& end = line_->ends[side_];
    end.transmit.clear();
    end.receive.clear();
    end.dtr = 0;
    end.rts = 0;
    end.open = false;
    return 0;
}

QueueStatus& MemoryPort::GetQueueStatus(QueueStatus& record, int) {
    std::lock_guard lock(line_->mutex);
    line_->Advance();
    const MemoryEnd& end = line_->ends[side_];
    record.receiveValid = 1;
    record.receiveCount = static_cast<std::uint32_t>(end.receive.size());
    record.receiveSize = end.receiveSize;
    record.transmitValid = 1;
    record.transmitCount = static_cast<std::uint32_t>(end.transmit.size());
    record.transmitSize = end.transmitSize;
    record.holdFlags = 0;
    if (end.held) {
        record.holdFlags |= kHoldBlockReceived;
    }
    if (end.inputFlow != kFlowNone && end.receive.size() >= end.receiveSize) {
        record.holdFlags |= kHoldBlockSent;
    }
    return record;
}

int MemoryPort::SetQueues(std::uint32_t receiveSize, std::uint32_t xoffLimit,
                          std::uint32_t transmitSize) {
    std::lock_guard lock(line_->mutex);
    MemoryEnd& end = line_->ends[side_];
    end.receive.clear();
    end.transmit.clear();
    if (receiveSize != 0) {
        end.receiveSize = receiveSize;
    }
    if (transmitSize != 0) {
        end.transmitSize = transmitSize;
    }
    if (xoffLimit != 0) {
        end.xoffLimit = xoffLimit;
    }
    return 0;
}

int MemoryPort::SetFlowControl(int input, int output) {
    const int r = CheckFlowCodes(input, output);
    if (r != 0) {
        return r;
    }
    std::lock_guard lock(line_->mutex);
    MemoryEnd& end = line_->ends[side_];
    end.inputFlow = input;
    end.outputFlow = output;
    return 0;
}

int MemoryPort::GetFlowControl(int& input, int& output) {
    std::lock_guard lock(line_->mutex);
    input = line_->ends[side_].inputFlow;
    output = line_->ends[side_].outputFlow;
    return 0;
}

int MemoryPort::SetBreak(int state) {
    std::lock_guard lock(line_->mutex);
    MemoryEnd& end = line_->ends[side_];
    if (state < 0) {
        return end.breakState;
    }
    if (state == 1 && end.breakState != 1) {
        line_->ends[1 - side_].errors |= ErrorBit(kSignalBreakReceived);
    }
    end.breakState = static_cast<std::uint16_t>(state);
    return end.breakState;
}

int MemoryPort::Signal(int code, int value) {
    if (code == kSignalBreakState) {
        return SetBreak(value);
    }
    std::lock_guard lock(line_->mutex);
    MemoryEnd& end = line_->ends[side_];
    if (value != -1) {
        if (code == kSignalDtr) {
            end.dtr = value != 0;
        } else if (code == kSignalRts) {
            end.rts = value != 0;
        }
    }
    switch (code) {
    case kSignalDtr:
        return end.dtr;
    case kSignalRts:
        return end.rts;
    case kSignalCts:
        return end.cts;
    case kSignalDsr:
        return end.dsr;
    case kSignalRing:
        return end.ring;
    case kSignalCarrier:
        return end.carrier;
    case 17:
    case 18:
    case 19:
    case 20:
        return 0;
    default:
        if (IsErrorCode(code)) {
            return (end.errors & ErrorBit(code)) != 0;
        }
        return 2;
    }
}

int MemoryPort::SetFormat(std::uint32_t speed, char parity, int dataBits, int stopBits) {
    const int r = CheckFormat(parity, dataBits, stopBits);
    if (r != 0) {
        return r;
    }
    std::lock_guard lock(line_->mutex);
    if (speed == 0 || (line_->maxSpeed != 0 && speed > line_->maxSpeed)) {
        return SetStatus(LINK_BAD_SPEED);
    }
    MemoryEnd& end = line_->ends[side_];
    end.speed = speed;
    end.parity = parity;
    end.dataBits = dataBits;
    // Five data bits always go with one and a half stop bits, which read back as one.
    end.stopBits = dataBits == 5 ? 1 : stopBits;
    return 0;
}

void MemoryPort::GetFormat(std::uint32_t& speed, char& parity, int& dataBits, int& stopBits) {
    std::lock_guard lock(line_->mutex);
    const MemoryEnd& end = line_->ends[side_];
    speed = end.speed;
    parity = end.parity;
    dataBits = end.dataBits;
    stopBits = end.stopBits;
}

int MemoryPort::GetLineSnapshot(LineSnapshot& snapshot) {
    ReadModemStatus();
    FillLineSnapshot(snapshot);
    std::lock_guard lock(line_->mutex);
    line_->ends[side_].errors = 0;
    line_->ends[side_].modemCopy = 0;
    return 0;
}

int MemoryPort::PutByte(std::uint8_t byte) {
    return Write(&byte, 1) == 1 ? 0 : Status();
}

int MemoryPort::PutString(const char* text) {
    return Write(text, static_cast<int>(std::strlen(text)));
}

int MemoryPort::Write(const void* buffer, int length) {
    if (length <= 0) {
        return 0;
    }
    std::lock_guard lock(line_->mutex);
    MemoryEnd& end = line_->ends[side_];
    if (!end.open) {
        SetStatus(LINK_NO_PORT);
        return 0;
    }
    line_->Advance();
    const std::size_t room =
        end.transmit.size() < end.transmitSize ? end.transmitSize - end.transmit.size() : 0;
    const std::size_t count = std::min(room, static_cast<std::size_t>(length));
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    end.transmit.insert(end.transmit.end(), bytes, bytes + count);
    line_->Advance();
    if (count < static_cast<std::size_t>(length)) {
        SetStatus(LINK_WRITE_SHORT);
    }
    return static_cast<int>(count);
}

int MemoryPort::SendImmediate(std::uint8_t byte) {
    std::lock_guard lock(line_->mutex);
    MemoryEnd& end = line_->ends[side_];
    if (!end.open) {
        return LINK_FAILED;
    }
    end.transmit.push_front(byte);
    line_->Advance();
    return 0;
}

int MemoryPort::GetByte() {
    std::lock_guard lock(line_->mutex);
    line_->Advance();
    MemoryEnd& end = line_->ends[side_];
    if (end.receive.empty()) {
        return LINK_NO_DATA;
    }
    const std::uint8_t byte = end.receive.front();
    end.receive.pop_front();
    return byte;
}

int MemoryPort::Read(void* buffer, int length) {
    if (length <= 0) {
        return 0;
    }
    std::lock_guard lock(line_->mutex);
    line_->Advance();
    MemoryEnd& end = line_->ends[side_];
    const std::size_t count = std::min(end.receive.size(), static_cast<std::size_t>(length));
    std::copy_n(end.receive.begin(), count, static_cast<std::uint8_t*>(buffer));
    end.receive.erase(end.receive.begin(), end.receive.begin() + static_cast<long>(count));
    return static_cast<int>(count);
}

int MemoryPort::Purge(int direction, int count) {
    if (direction != 0 || count <= 0) {
        std::lock_guard lock(line_->mutex);
        MemoryEnd& end = line_->ends[side_];
        (direction != 0 ? end.transmit : end.receive).clear();
        return 0;
    }
    return DiscardByReading(count);
}

void MemoryPort::Dump(const PrintLine& printLine) {
    QueueStatus queues;
    GetQueueStatus(queues, kQueueAll);
    std::unique_lock lock(line_->mutex);
    const MemoryEnd end = line_->ends[side_];
    const std::uint32_t pacing = line_->bytesPerSecond;
    const std::uint32_t errorInterval = line_->errorInterval;
    lock.unlock();
    char text[128];
    std::snprintf(text, sizeof text, "Port type: memory  BaudRate: %-6u  ByteSize: %1d  Parity: %c",
                  end.speed, end.dataBits, end.parity);
    printLine(text);
    std::snprintf(text, sizeof text, "StopBits: %1d  DTR: %1d  RTS: %1d  Break: %1d", end.stopBits,
                  end.dtr, end.rts, end.breakState);
    printLine(text);
    std::snprintf(text, sizeof text,
                  "InFlow: %2d  OutFlow: %2d  CTS: %1d  DSR: %1d  RI: %1d  DCD: %1d", end.inputFlow,
                  end.outputFlow, end.cts, end.dsr, end.ring, end.carrier);
    printLine(text);
    std::snprintf(text, sizeof text, "Pacing: %u bytes/s  ErrorInterval: %u", pacing,
                  errorInterval);
    printLine(text);
    std::snprintf(text, sizeof text, "XoffLim: %-5u Errors: %02x", end.xoffLimit, end.errors);
    printLine(text);
    std::snprintf(text, sizeof text,
                  "RX sz/ct: %5d/%-5d  TX sz/ct: %5d/%-5d  BLOCK SENT:%d  BLOCK RECEIVED:%d",
                  static_cast<int>(queues.receiveSize), static_cast<int>(queues.receiveCount),
                  static_cast<int>(queues.transmitSize), static_cast<int>(queues.transmitCount),
                  queues.holdFlags & kHoldBlockSent ? 1 : 0,
                  queues.holdFlags & kHoldBlockReceived ? 1 : 0);
    printLine(text);
}

void MemoryPort::SetModemLine(int code, bool on) {
    std::lock_guard lock(line_->mutex);
    MemoryEnd& end = line_->ends[side_];
    switch (code) {
    case kSignalCts:
        end.cts = on;
        break;
    case kSignalDsr:
        end.dsr = on;
        break;
    case kSignalRing:
        end.ring = on;
        break;
    case kSignalCarrier:
        end.carrier = on;
        break;
    default:
        break;
    }
}

void MemoryPort::InjectLineError(int code) {
    if (!IsErrorCode(code)) {
        return;
    }
    std::lock_guard lock(line_->mutex);
    line_->ends[side_].errors |= ErrorBit(code);
}

void MemoryPort::SetIdleResult(int result) {
    std::lock_guard lock(line_->mutex);
    line_->ends[side_].idleResult = result;
}

std::uint64_t MemoryPort::IdleCount() const {
    std::lock_guard lock(line_->mutex);
    return line_->ends[side_].idleCount;
}

std::uint64_t MemoryPort::CorruptedCount() const {
    std::lock_guard lock(line_->mutex);
    return line_->ends[side_].corrupted;
}

bool MemoryPort::IsOpen() const {
    std::lock_guard lock(line_->mutex);
    return line_->ends[side_].open;
}

MemoryPortPair::MemoryPortPair(const MemoryPortOptions& options)
    : line_(std::make_shared<MemoryLine>()) {
    line_->bytesPerSecond = options.bytesPerSecond;
    line_->errorInterval = options.errorInterval;
    line_->maxSpeed = options.maxSpeed;
    line_->random.seed(options.seed);
    const std::uint32_t numbers[2] = {options.portNumberA, options.portNumberB};
    std::unique_ptr<MemoryPort>* ports[2] = {&a_, &b_};
    for (int side = 0; side < 2; ++side) {
        MemoryEnd& end = line_->ends[side];
        end.receiveSize = options.receiveSize;
        end.transmitSize = options.transmitSize;
        end.usesTable = numbers[side] != kNoPortNumber;
        const std::uint32_t number =
            end.usesTable ? numbers[side] : static_cast<std::uint32_t>(side);
        ports[side]->reset(new MemoryPort(line_, side, number));
        if (options.openStatus != 0) {
            (*ports[side])->SetStatus(options.openStatus);
        } else {
            (*ports[side])->Open(number);
        }
    }
}

MemoryPortPair::~MemoryPortPair() = default;

void MemoryPortPair::SetPacing(std::uint32_t bytesPerSecond) {
    std::lock_guard lock(line_->mutex);
    line_->Advance();
    line_->bytesPerSecond = bytesPerSecond;
}

} // namespace tollan
