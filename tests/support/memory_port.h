// Two in-memory ports joined like a null-modem cable, for tests of everything above the port:
// bytes written on one end arrive on the other, optionally with a flipped bit now and then
// (seeded). A test sets the modem lines each end sees and injects line errors. The two ends may
// be used from two threads at once: every operation takes the pair's lock.
//
// Bytes leave an end's transmit queue for the other end's receive queue; while that queue is
// full, or while CTS or DSR is off under that output flow control, they wait in the transmit
// queue (the end's sending is held).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "link/comm_port.h"

namespace tollan {

struct MemoryPortOptions {
    std::uint32_t errorInterval = 0; // on average one corrupted byte per this many; 0: none
    std::uint32_t seed = 1;          // for the corruption
    std::uint32_t transmitSize = 2048;
    int openStatus = 0; // non-zero: both ends fail to open with this code
};

class MemoryPortPair;
struct MemoryLine;

class MemoryPort : public CommPort {
public:
    MemoryPort(std::shared_ptr<MemoryLine> line, int side);
    ~MemoryPort() override;

    int Idle() override;
    int Close() override;
    QueueStatus& GetQueueStatus(QueueStatus& record, int mask) override;
    int SetQueues(std::uint32_t receiveSize, std::uint32_t xoffLimit,
                  std::uint32_t transmitSize) override;
    int SetFlowControl(int input, int output) override;
    int GetFlowControl(int& input, int& output) override;
    int Signal(int code, int value) override;
    int SetFormat(std::uint32_t speed, char parity, int dataBits, int stopBits) override;
    void GetFormat(std::uint32_t& speed, char& parity, int& dataBits, int& stopBits) override;
    int GetLineSnapshot(LineSnapshot& snapshot) override;
    int PutByte(std::uint8_t byte) override { return PutByteByWrite(byte); }
    int Write(const void* buffer, int length) override;
    int GetByte() override;
    int Read(void* buffer, int length) override;
    int Purge(PurgeDirection direction, int count) override;

    // What a test controls. Modem lines this end sees: kSignalCts, kSignalDsr, kSignalRing,
    // kSignalCarrier (CTS, DSR and DCD start on, RI off).
    void SetModemLine(int code, bool on);
    // Records a line error as seen by this end (kSignalOverrun ... kSignalReceiveOverflow).
    void InjectLineError(int code);
    // Makes Idle() answer `result` (0 by default).
    void SetIdleResult(int result);
    // How often Idle() has been called.
    std::uint64_t IdleCount() const;
    // Bytes this end has corrupted on their way out.
    std::uint64_t CorruptedCount() const;
    // Everything this end has written, as written; and a bit flip on its way out for the byte
    // at `index` of it.
    std::vector<std::uint8_t> Sent() const;
    void CorruptSent(std::uint64_t index, std::uint8_t mask);

private:
    friend class MemoryPortPair;
    std::shared_ptr<MemoryLine> line_;
    int side_;
};

class MemoryPortPair {
public:
    explicit MemoryPortPair(const MemoryPortOptions& options = {});
    MemoryPortPair(const MemoryPortPair&) = delete;
    MemoryPortPair& operator=(const MemoryPortPair&) = delete;

    MemoryPort& A() { return *a_; }
    MemoryPort& B() { return *b_; }

private:
    std::shared_ptr<MemoryLine> line_;
    std::unique_ptr<MemoryPort> a_;
    std::unique_ptr<MemoryPort> b_;
};

} // namespace tollan
