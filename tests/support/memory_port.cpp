#include "support/memory_port.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <tuple>
#include <utility>

namespace tollan {

struct MemoryEnd {
    MemoryEnd() { sent.reserve(1 << 16); } // a short run's writes allocate little (allocation_test)
    std::deque<std::uint8_t> transmit;     // bytes waiting to leave this end
    std::deque<std::uint8_t> receive;      // bytes arrived at this end
    std::uint32_t receiveSize = 4096;
    std::uint32_t transmitSize = 2048;
    int inputFlow = 0;
    int outputFlow = 0;
    std::uint32_t speed = 19200;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    // The lines by their signal code: what this end sets (DTR, RTS, break) and what it sees.
    std::map<int, bool> lines{
        {kSignalDtr, true}, {kSignalBreakState, false}, {kSignalRts, true},    {kSignalCts, true},
        {kSignalDsr, true}, {kSignalRing, false},       {kSignalCarrier, true}};
    std::set<int> errors; // the line errors seen since the last snapshot
    int idleResult = 0;
    std::uint64_t idleCount = 0;
    std::uint64_t corrupted = 0;
    bool open = false;
    std::vector<std::uint8_t> sent;
    std::map<std::uint64_t, std::uint8_t> corrupt; // index in `sent`: the bits to flip
};

struct MemoryLine {
    std::mutex mutex;
    MemoryEnd ends[2];
    std::uint32_t errorInterval = 0;
    std::mt19937 random;

    // Moves what may cross in both directions. Holds the lock.
    void Advance() {
        for (int side = 0; side < 2; ++side) {
            Carry(ends[side], ends[1 - side]);
        }
    }

    void Carry(MemoryEnd& from, MemoryEnd& to) {
        // Sending waits for room at the other end and for the handshake line.
        const bool held = (from.outputFlow == kFlowCts && !from.lines[kSignalCts]) ||
                          (from.outputFlow == kFlowDsr && !from.lines[kSignalDsr]);
        while (!held && !from.transmit.empty() && to.receive.size() < to.receiveSize) {
            std::uint8_t byte = from.transmit.front();
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

MemoryPort::MemoryPort(std::shared_ptr<MemoryLine> line, int side)
    : CommPort(static_cast<std::uint32_t>(side)), line_(std::move(line)), side_(side) {}

MemoryPort::~MemoryPort() {
    Close();
}

int MemoryPort::Idle() {
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    std::lock_guard lock(line_->mutex);
    line_->Advance();
    MemoryEnd& end = line_->ends[side_];
    ++end.idleCount;
    return end.idleResult;
}

int MemoryPort::Close() {
    std::lock_guard lock(line_->mutex);
    MemoryEnd& end = line_->ends[side_];
    end.transmit.clear();
    end.receive.clear();
    end.lines[kSignalDtr] = end.lines[kSignalRts] = false;
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
    return record;
}

int MemoryPort::SetQueues(std::uint32_t receiveSize, std::uint32_t, std::uint32_t transmitSize) {
    std::lock_guard lock(line_->mutex);
    MemoryEnd& end = line_->ends[side_];
    end.receive.clear();
    end.transmit.clear();
    end.receiveSize = receiveSize != 0 ? receiveSize : end.receiveSize;
    end.transmitSize = transmitSize != 0 ? transmitSize : end.transmitSize;
    return 0;
}

int MemoryPort::SetFlowControl(int input, int output) {
    const int r = CheckFlowCodes(input, output);
    if (r != 0) {
        return r;
    }
    std::lock_guard lock(line_->mutex);
    line_->ends[side_].inputFlow = input;
    line_->ends[side_].outputFlow = output;
    return 0;
}

int MemoryPort::GetFlowControl(int& input, int& output) {
    std::lock_guard lock(line_->mutex);
    input = line_->ends[side_].inputFlow;
    output = line_->ends[side_].outputFlow;
    return 0;
}

int MemoryPort::Signal(int code, int value) {
    std::lock_guard lock(line_->mutex);
    MemoryEnd& end = line_->ends[side_];
    const auto line = end.lines.find(code);
    if (line == end.lines.end()) {
        return static_cast<int>(end.errors.count(code));
    }
    if (value != -1 && (code == kSignalDtr || code == kSignalRts || code == kSignalBreakState)) {
        line->second = value != 0;
    }
    return line->second;
}

int MemoryPort::SetFormat(std::uint32_t speed, char parity, int dataBits, int stopBits) {
    const int r = CheckFormat(parity, dataBits, stopBits);
    if (r != 0) {
        return r;
    }
    std::lock_guard lock(line_->mutex);
    if (speed == 0) {
        return SetStatus(LINK_BAD_SPEED);
    }
    MemoryEnd& end = line_->ends[side_];
    // Five data bits always go with one and a half stop bits, which read back as one.
    std::tie(end.speed, end.parity, end.dataBits, end.stopBits) =
        std::tuple(speed, parity, dataBits, dataBits == 5 ? 1 : stopBits);
    return 0;
}

void MemoryPort::GetFormat(std::uint32_t& speed, char& parity, int& dataBits, int& stopBits) {
    std::lock_guard lock(line_->mutex);
    const MemoryEnd& end = line_->ends[side_];
    std::tie(speed, parity, dataBits, stopBits) =
        std::tie(end.speed, end.parity, end.dataBits, end.stopBits);
}

int MemoryPort::GetLineSnapshot(LineSnapshot& snapshot) {
    FillLineSnapshot(snapshot);
    std::lock_guard lock(line_->mutex);
    line_->ends[side_].errors.clear();
    return 0;
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
    if (end.idleResult == LINK_LINE_LOST) {
        return length; // a device that has gone takes the bytes and delivers none of them
    }
    line_->Advance();
    const std::size_t room =
        end.transmitSize - std::min<std::size_t>(end.transmit.size(), end.transmitSize);
    const std::size_t count = std::min(room, static_cast<std::size_t>(length));
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < count; ++i) {
        const auto flip = end.corrupt.find(end.sent.size());
        end.transmit.push_back(bytes[i] ^ (flip != end.corrupt.end() ? flip->second : 0));
        end.sent.push_back(bytes[i]);
    }
    line_->Advance();
    if (count < static_cast<std::size_t>(length)) {
        SetStatus(LINK_WRITE_SHORT);
    }
    return static_cast<int>(count);
}

int MemoryPort::GetByte() {
    std::uint8_t byte;
    return Read(&byte, 1) == 1 ? byte : LINK_NO_DATA;
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

int MemoryPort::Purge(PurgeDirection direction, int count) {
    const bool output = direction == PurgeDirection::kOutput;
    if (output || count <= 0) {
        std::lock_guard lock(line_->mutex);
        MemoryEnd& end = line_->ends[side_];
        (output ? end.transmit : end.receive).clear();
        return 0;
    }
    return DiscardByReading(count);
}

void MemoryPort::SetModemLine(int code, bool on) {
    std::lock_guard lock(line_->mutex);
    line_->ends[side_].lines[code] = on;
}

void MemoryPort::InjectLineError(int code) {
    std::lock_guard lock(line_->mutex);
    line_->ends[side_].errors.insert(code);
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

std::vector<std::uint8_t> MemoryPort::Sent() const {
    std::lock_guard lock(line_->mutex);
    return line_->ends[side_].sent;
}

void MemoryPort::CorruptSent(std::uint64_t index, std::uint8_t mask) {
    std::lock_guard lock(line_->mutex);
    line_->ends[side_].corrupt[index] = mask;
}

MemoryPortPair::MemoryPortPair(const MemoryPortOptions& options)
    : line_(std::make_shared<MemoryLine>()) {
    line_->errorInterval = options.errorInterval;
    line_->random.seed(options.seed);
    for (MemoryEnd& end : line_->ends) {
        end.transmitSize = options.transmitSize;
        end.open = options.openStatus == 0;
    }
    a_ = std::make_unique<MemoryPort>(line_, 0);
    b_ = std::make_unique<MemoryPort>(line_, 1);
    a_->SetStatus(options.openStatus);
    b_->SetStatus(options.openStatus);
}

} // namespace tollan
