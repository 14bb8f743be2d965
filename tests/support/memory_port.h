// Two in-memory ports joined like a null-modem cable, for tests of everything above the port:
// bytes written on one end arrive on the other. Optionally the line is paced (a number of bytes
// per second, so a transmit queue fills and drains over time) and corrupts bytes now and then
// (one flipped bit, seeded). A test sets the modem lines each end sees and injects line errors.
// The two ends may be used from two threads at once: every operation takes the pair's lock.
//
// Delivery: bytes leave an end's transmit queue for the other end's receive queue. When that
// queue is full, the bytes wait in the transmit queue (the end's sending is held) -- except on a
// paced line without output flow control, where they are lost and the receiving end sees a
// receive overflow. With CTS or DSR output flow control, the line going off holds the sending.
// XON/XOFF characters travel as data; the flow codes are remembered but not acted on in-band.
#pragma once

#include <cstdint>
#include <memory>

#include "link/comm_port.h"

namespace tollan {

struct MemoryPortOptions {
    std::uint32_t bytesPerSecond = 0; // 0: bytes cross at once
    std::uint32_t errorInterval = 0;  // on average one corrupted byte per this many; 0: none
    std::uint32_t seed = 1;           // for the corruption
    std::uint32_t receiveSize = 4096;
    std::uint32_t transmitSize = 2048;
    std::uint32_t maxSpeed = 0; // SetFormat refuses speeds above it (0: any non-zero speed)
    int openStatus = 0;         // non-zero: both ends fail to open with this code
    // Port numbers with which the ends take part in the port open table; kNoPortNumber keeps an
    // end out of it (its port number is then 0 for A and 1 for B).
    std::uint32_t portNumberA = kNoPortNumber;
    std::uint32_t portNumberB = kNoPortNumber;
};

class MemoryPortPair;
struct MemoryLine;

class MemoryPort : public CommPort {
public:
    ~MemoryPort() override;

    int Idle() override;
    int ReadModemStatus() override;
    void Open(std::uint32_t portNumber) override;
    int OpenDevice() override;
    int Close() override;
    QueueStatus& GetQueueStatus(QueueStatus& record, int mask) override;
    int SetQueues(std::uint32_t receiveSize, std::uint32_t xoffLimit,
                  std::uint32_t transmitSize) override;
    int SetFlowControl(int input, int output) override;
    int GetFlowControl(int& input, int& output) override;
    int SetBreak(int state) override;
    int Signal(int code, int value) override;
    int SetFormat(std::uint32_t speed, char parity, int dataBits, int stopBits) override;
    void GetFormat(std::uint32_t& speed, char& parity, int& dataBits, int& stopBits) override;
    int GetLineSnapshot(LineSnapshot& snapshot) override;
    int PutByte(std::uint8_t byte) override;
    int PutString(const char* text) override;
    int Write(const void* buffer, int length) override;
    int SendImmediate(std::uint8_t byte) override;
    int GetByte() override;
    int Read(void* buffer, int length) override;
    int Purge(int direction, int count) override;
    void Dump(const PrintLine& printLine) override;

    // What a test controls. Modem lines this end sees: kSignalCts, kSignalDsr, kSignalRing,
    // kSignalCarrier (CTS, DSR and DCD start on, RI off).
    void SetModemLine(int code, bool on);
    // Records a line error as seen by this end: kSignalOverrun, kSignalParityError,
    // kSignalFramingError, kSignalBreakReceived or kSignalReceiveOverflow.
    void InjectLineError(int code);
    // Makes Idle() answer `result` (0 by default).
    void SetIdleResult(int result);
    // How often Idle() has been called.
    std::uint64_t IdleCount() const;
    // Bytes this end has corrupted on their way out.
    std::uint64_t CorruptedCount() const;
    bool IsOpen() const;

private:
    friend class MemoryPortPair;
    MemoryPort(std::shared_ptr<MemoryLine> line, int side, std::uint32_t portNumber);

    std::shared_ptr<MemoryLine> line_;
    int side_;
};

class MemoryPortPair {
public:
    explicit MemoryPortPair(const MemoryPortOptions& options = {});
    ~MemoryPortPair();

    MemoryPortPair(const MemoryPortPair&) = delete;
    MemoryPortPair& operator=(const MemoryPortPair&) = delete;

    MemoryPort& A() { return *a_; }
    MemoryPort& B() { return *b_; }

    // Changes the pacing of both directions (0: bytes cross at once).
    void SetPacing(std::uint32_t bytesPerSecond);

private:
    std::shared_ptr<MemoryLine> line_;
    std::unique_ptr<MemoryPort> a_;
    std::unique_ptr<MemoryPort> b_;
};

} // namespace tollan
