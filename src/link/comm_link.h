// The communication link: what the protocols need on top of a port. Reading one byte with a
// time-out in milliseconds, writing one byte with an optional character delay, a wait that keeps
// the port serviced, queue counts, discarding input or output, and a line check. Every wait is a
// loop on the tick counter; a read waits in the port's WaitForInput() for the time left, the other
// waits call the port's Idle() on each turn.
#pragma once

#include <cstdint>
#include <memory>

#include "link/comm_port.h"

namespace tollan {

class LineControl;
class LineSettings;

// Bits of the flags that CommLink::CheckLine() reports.
inline constexpr std::uint16_t kLineParityError = 0x01;
inline constexpr std::uint16_t kLineFramingError = 0x02;
inline constexpr std::uint16_t kLineReceiveOverflow = 0x04;
inline constexpr std::uint16_t kLineOverrun = 0x08;
inline constexpr std::uint16_t kLineBreakReceived = 0x10;

class CommLink {
public:
    // Keeps the port (not owned). When the port opened, sets the line to 9600 N 8 1 and flow
    // control to none, remembering what it found; destruction puts that back.
    explicit CommLink(CommPort& port);
    virtual ~CommLink();

    CommLink(const CommLink&) = delete;
    CommLink& operator=(const CommLink&) = delete;

    // The next byte (0 to 255), LINK_NO_DATA when none arrived within `timeoutMs`, or a negative
    // result of the port's Idle(). A time-out of 0 (or less) looks once and returns at once.
    [[nodiscard]] virtual int ReadByte(int timeoutMs);
    // The port's PutByte() result; with a character delay, waits that long afterwards.
    [[nodiscard]] virtual int WriteByte(std::uint8_t byte);

    // The third of the link's virtual operations, whose place in their fixed order is kept for
    // an operation no link provides: answers LINK_UNSUPPORTED.
    [[nodiscard]] virtual int ReservedOperation();

    [[nodiscard]] int HoldRemote() { return port_.HoldRemote(); }
    [[nodiscard]] int ReleaseRemote() { return port_.ReleaseRemote(); }
    [[nodiscard]] int SetTransmitQueue(std::uint32_t size) { return port_.SetQueues(0, 0, size); }
    [[nodiscard]] int PurgeInput(int count) { return port_.Purge(PurgeDirection::kInput, count); }
    [[nodiscard]] int PurgeOutput() { return port_.Purge(PurgeDirection::kOutput, 0); }
    // 0 for length 0 (the port is not touched), else the port's Write() count.
    [[nodiscard]] int WriteBlock(const void* buffer, int length);
    // Bytes waiting in the receive queue and still waiting in the transmit queue.
    int InputCount();
    int OutputCount();
    [[nodiscard]] int Idle() { return port_.Idle(); }
    // Waits `ms` milliseconds calling Idle(); a negative Idle() result ends the wait with that
    // code. 0 or less returns 0 at once.
    [[nodiscard]] int Delay(int ms);
    // Takes the port's status: a non-zero status is returned (flags 0). Otherwise refreshes the
    // line snapshot and reports its error bits (kLine...) in `flags`; returns 0. Right after
    // construction a non-zero result means that opening the port failed.
    [[nodiscard]] int CheckLine(std::uint16_t& flags);

    CommPort& Port() const { return port_; }
    // The link's own line objects; absent when the port failed to open.
    LineControl* GetLineControl() const { return lineControl_.get(); }
    LineSettings* GetLineSettings() const { return lineSettings_.get(); }

    // Milliseconds to wait after each WriteByte(); 0 means none.
    int CharDelay() const { return charDelay_; }
    void SetCharDelay(int ms) { charDelay_ = ms; }

private:
    CommPort& port_;
    int charDelay_ = 0;
    std::unique_ptr<LineControl> lineControl_;
    std::unique_ptr<LineSettings> lineSettings_;
};

} // namespace tollan
