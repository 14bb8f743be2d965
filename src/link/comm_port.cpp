#include "link/comm_port.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "link/fault_report.h"
#include "link/tick_count.h"

namespace tollan {
namespace {

// Counters of the port open table. One transfer runs at a time, so nothing guards it.
std::uint16_t openCounts[kPortOpenTableSize];

// Ends the process: the operation is abstract here.
[[noreturn]] void Abstract(int line) {
    ReportPureVirtualCall("COMLINK", line);
}

// A wait for input that follows one that took fewer than kTrickleBytes sleeps for the time
// kGatherCharacters take on the line (at most kGatherLimitMs) before it looks again.
constexpr int kTrickleBytes = 256;
// Gathering starts once this many bytes have come in since this end last wrote: a long stream
// of data, not a header answering ours, nor a window or a short file whose end wants an answer
// at once (a batch gathered there would delay the answer by up to its time on the line).
constexpr std::uint32_t kStreamBytes = 8192;
constexpr std::uint64_t kGatherCharacters = 64;
constexpr int kGatherLimitMs = 10;

// The modem status bit of each modem input line.
std::uint32_t ModemStatusBit(int code) {
    switch (code) {
    case kSignalCts:
        return 0x10;
    case kSignalDsr:
        return 0x20;
    case kSignalRing:
        return 0x40;
    default:
        return 0x80; // kSignalCarrier
    }
}

} // namespace

void LineSnapshot::SetField(int position, int value) {
    const int shift = 2 * (position % 4);
    std::uint8_t& byte = bytes[position / 4];
    byte = static_cast<std::uint8_t>((byte & ~(3 << shift)) | ((value & 3) << shift));
}

int LineSnapshot::FieldOf(int code) const {
    const int position = LineSnapshotPosition(code);
    return position < 0 ? -1 : Field(position);
}

int LineSnapshotPosition(int code) {
    for (int position = 0; position < 16; ++position) {
        if (kLineSnapshotCodes[position] == code) {
            return position;
        }
    }
    return -1;
}

std::uint16_t PortOpenCount(std::uint32_t portNumber) {
    return portNumber < kPortOpenTableSize ? openCounts[portNumber] : 0;
}

CommPort::CommPort(std::uint32_t portNumber) : portNumber_(portNumber) {}

CommPort::~CommPort() {
    if (raisedCount_ && portNumber_ < kPortOpenTableSize && openCounts[portNumber_] > 0) {
        --openCounts[portNumber_];
    }
}

int CommPort::TakeStatus() {
    const int status = status_;
    status_ = 0;
    return status;
}

int CommPort::CheckPortFree(std::uint32_t portNumber) {
    if (portNumber >= kPortOpenTableSize) {
        return LINK_NO_PORT;
    }
    return openCounts[portNumber] != 0 ? LINK_PORT_IN_USE : LINK_OK;
}

void CommPort::RaisePortCount() {
    if (portNumber_ < kPortOpenTableSize && !raisedCount_) {
        ++openCounts[portNumber_];
        raisedCount_ = true;
    }
}

void CommPort::FillLineSnapshot(LineSnapshot& snapshot) {
    for (int position = 0; position < 16; ++position) {
        snapshot.SetField(position, Signal(kLineSnapshotCodes[position], kSignalQuery));
    }
}

int CommPort::TakeLineSnapshot(LineSnapshot& snapshot, std::uint32_t& errors,
                               std::uint32_t& modemStatus) {
    ReadModemStatus();
    FillLineSnapshot(snapshot);
    errors = 0;
    modemStatus = 0;
    return 0;
}

int CommPort::PutByteByWrite(std::uint8_t byte) {
    return Write(&byte, 1) == 1 ? 0 : Status();
}

int CommPort::PutStringByWrite(const char* text) {
    return Write(text, static_cast<int>(std::strlen(text)));
}

void CommPort::KeepQueueSizes(std::uint32_t receiveSize, std::uint32_t transmitSize) {
    if (receiveSize != 0) {
        receiveSize_ = static_cast<std::uint16_t>(receiveSize);
    }
    if (transmitSize != 0) {
        transmitSize_ = static_cast<std::uint16_t>(transmitSize);
    }
}

std::uint32_t CommPort::TransmitRoom(int length, std::uint32_t queued) const {
    return std::min(static_cast<std::uint32_t>(length), transmitSize_ - queued);
}

QueueStatus& CommPort::FillQueueStatus(QueueStatus& record, std::uint32_t received,
                                       std::uint32_t transmitCount, std::uint16_t holdFlags) const {
    record.receiveValid = 1;
    record.receiveCount = received + static_cast<std::uint32_t>(inputEnd_ - inputNext_);
    record.receiveSize = receiveSize_;
    record.transmitValid = 1;
    record.transmitCount = transmitCount;
    record.transmitSize = transmitSize_;
    record.holdFlags = holdFlags;
    return record;
}

void CommPort::DumpQueues(const PrintLine& printLine) {
    QueueStatus queues;
    GetQueueStatus(queues, kQueueAll);
    char text[128];
    std::snprintf(text, sizeof text,
                  "RX sz/ct: %5d/%-5d  TX sz/ct: %5d/%-5d  BLOCK SENT:%d  BLOCK RECEIVED:%d",
                  static_cast<int>(queues.receiveSize), static_cast<int>(queues.receiveCount),
                  static_cast<int>(queues.transmitSize), static_cast<int>(queues.transmitCount),
                  (queues.holdFlags & kHoldBlockSent) ? 1 : 0,
                  (queues.holdFlags & kHoldBlockReceived) ? 1 : 0);
    printLine(text);
}

int CommPort::BufferedByte() {
    if (inputNext_ == inputEnd_ && Refill() <= 0) {
        return LINK_NO_DATA;
    }
    return *inputNext_++;
}

int CommPort::TakeBuffered(std::uint8_t* out, int length) {
    const int buffered = std::min(length, static_cast<int>(inputEnd_ - inputNext_));
    std::copy(inputNext_, inputNext_ + buffered, out);
    inputNext_ += buffered;
    return buffered;
}

int CommPort::PurgeByDropping(PurgeDirection direction, int count) {
    if (direction == PurgeDirection::kOutput) {
        DropOutput();
        return 0;
    }
    if (count <= 0) {
        DropInput();
        return 0;
    }
    return DiscardByReading(count);
}

int CommPort::DiscardByReading(int count) {
    for (int i = 0; i < count; ++i) {
        if (GetByte() == LINK_NO_DATA) {
            return 0;
        }
    }
    return LINK_FAILED; // input may still be arriving
}

void CommPort::SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint32_t CommPort::CharacterMicros() {
    std::uint32_t speed = 0;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    GetFormat(speed, parity, dataBits, stopBits);
    const std::uint32_t bits = 1 + static_cast<std::uint32_t>(dataBits) + (parity != 'N' ? 1 : 0) +
                               static_cast<std::uint32_t>(stopBits);
    return speed == 0 ? 1000 : std::max<std::uint32_t>(1, bits * 1000000 / speed);
}

int CommPort::AnswerSignal(int code, int value) {
    if (code == kSignalBreakState) {
        return SetBreak(value);
    }
    if (value != kSignalQuery && (code == kSignalDtr || code == kSignalRts)) {
        const bool on = value != 0;
        (code == kSignalDtr ? dtrState_ : rtsState_) = on ? 1 : 0;
        SetOutputLine(code, on);
    }
    switch (code) {
    case kSignalDtr:
        return dtrState_;
    case kSignalRts:
        return rtsState_;
    case kSignalCts:
    case kSignalDsr:
    case kSignalRing:
    case kSignalCarrier:
        return ModemInputOn(ModemStatusBit(code)) ? 1 : 0;
    case kSignalReserved17:
    case kSignalReserved18:
    case kSignalReserved19:
    case kSignalReserved20:
        return 0;
    case kSignalOverrun:
    case kSignalParityError:
    case kSignalFramingError:
    case kSignalBreakReceived:
    case kSignalReceiveOverflow:
        return ErrorSeen(code) ? 1 : 0;
    default:
        return 2;
    }
}

void CommPort::RaiseOutputLines() {
    // The answers are the states just set.
    (void)Signal(kSignalDtr, 1);
    (void)Signal(kSignalRts, 1);
}

int CommPort::CheckFlowCodes(int input, int output) {
    switch (input) {
    case kFlowNone:
    case kFlowXonXoff:
    case kFlowDtr:
    case kFlowRts:
        break;
    case kFlowDsr:
        return SetStatus(LINK_UNSUPPORTED);
    default:
        SetStatus(LINK_BAD_INPUT_FLOW);
        return LINK_FAILED;
    }
    switch (output) {
    case kFlowNone:
    case kFlowXonXoff:
    case kFlowCts:
    case kFlowDsr:
        return 0;
    case kFlowCarrier:
        return SetStatus(LINK_UNSUPPORTED);
    default:
        return SetStatus(LINK_BAD_PARAMETER);
    }
}

int CommPort::CheckFormat(char parity, int dataBits, int stopBits) {
    if (parity != 'N' && parity != 'O' && parity != 'E' && parity != 'M' && parity != 'S') {
        return SetStatus(LINK_BAD_PARITY);
    }
    if (dataBits < 4 || dataBits > 8) {
        return SetStatus(LINK_BAD_DATA_BITS);
    }
    if (stopBits != 1 && stopBits != 2) {
        return SetStatus(LINK_BAD_STOP_BITS);
    }
    return 0;
}

// The abstract operations. The numbers are the ones the fault report has always used.
int CommPort::Idle() {
    Abstract(241);
}
int CommPort::ReadModemStatus() {
    Abstract(243);
}
void CommPort::Open(std::uint32_t) {
    Abstract(245);
}
int CommPort::OpenDevice() {
    Abstract(247);
}
int CommPort::Close() {
    Abstract(249);
}
QueueStatus& CommPort::GetQueueStatus(QueueStatus&, int) {
    Abstract(251);
}
int CommPort::SetQueues(std::uint32_t, std::uint32_t, std::uint32_t) {
    Abstract(255);
}
int CommPort::SetFlowControl(int, int) {
    Abstract(257);
}
int CommPort::GetFlowControl(int&, int&) {
    Abstract(259);
}
int CommPort::SetBreak(int) {
    Abstract(261);
}
int CommPort::Signal(int, int) {
    Abstract(263);
}
int CommPort::SetFormat(std::uint32_t, char, int, int) {
    Abstract(265);
}
void CommPort::GetFormat(std::uint32_t&, char&, int&, int&) {
    Abstract(267);
}
int CommPort::GetLineSnapshot(LineSnapshot&) {
    Abstract(269);
}
int CommPort::PutByte(std::uint8_t) {
    Abstract(271);
}
int CommPort::PutString(const char*) {
    Abstract(273);
}
int CommPort::Write(const void*, int) {
    Abstract(275);
}
int CommPort::SendImmediate(std::uint8_t) {
    Abstract(277);
}
int CommPort::GetByte() {
    Abstract(279);
}
int CommPort::Read(void*, int) {
    Abstract(281);
}
int CommPort::Purge(PurgeDirection, int) {
    Abstract(283);
}
void CommPort::Dump(const PrintLine&) {
    Abstract(285);
}

int CommPort::HoldRemote() {
    return LINK_UNSUPPORTED;
}
int CommPort::ReleaseRemote() {
    return LINK_UNSUPPORTED;
}

int CommPort::WaitForInput(int) {
    return Idle();
}

int CommPort::LoseLine(int error) {
    if (lineLost_ == 0) {
        lineLost_ = error != 0 ? error : -1;
        if (onLineLost_) {
            onLineLost_(lineLost_);
        }
    }
    return SetStatus(LINK_LINE_LOST);
}

int InputPacing::Arrived(int count) {
    const int got = std::max(count, 0);
    streamBytes_ += static_cast<std::uint32_t>(got);
    trickling_ = got > 0 && got < kTrickleBytes && streamBytes_ >= kStreamBytes;
    return count;
}

std::uint32_t InputPacing::Gather(int timeoutMs, std::uint32_t characterMicros) {
    const std::uint32_t start = TickCount();
    const std::uint64_t gather = kGatherCharacters * characterMicros;
    const std::uint64_t limit = static_cast<std::uint64_t>(std::min(timeoutMs, kGatherLimitMs));
    std::this_thread::sleep_for(std::chrono::microseconds(std::min(gather, limit * 1000)));
    return start;
}

int InputPacing::TimeLeft(int timeoutMs, std::uint32_t start) {
    return std::max(0, timeoutMs - static_cast<int>(TickCount() - start));
}

} // namespace tollan
