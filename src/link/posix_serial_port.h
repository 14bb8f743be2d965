// The serial port on a POSIX terminal device (a serial line, a USB adapter, a pseudo-terminal),
// driven through termios: raw mode, speed, parity, data and stop bits, XON/XOFF (IXON/IXOFF) and
// RTS/CTS (CRTSCTS). Reads never wait; they take what the device holds in one system call and
// hand it out from the port's own buffer. Writes offer only what fits into the transmit queue,
// wait for room in the device while it is full, and then wait for the device to send it, each no
// longer than a slow line would need (10 ms plus 5 ms per byte). Waits sleep in poll() or for the
// time the queued bytes need at the line's speed, not in short slices. Modem lines and line-error
// counters are used where the device has them; a device without them (a pseudo-terminal) reports
// them off, and one whose transmit queue always reads empty is not asked about it on each write.
//
// What termios cannot express: DTR handshake (input code 3) and DSR handshake (output code 13)
// answer LINK_UNSUPPORTED, and RTS/CTS works in both directions at once (input code 4 and output
// code 12 each switch on CRTSCTS). The queue sizes are the port's own limits, not the driver's.
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>

#include "link/comm_port.h"

namespace tollan {

class PosixSerialPort : public CommPort {
public:
    // Opens the device at `devicePath`; the port takes part in the open table by path (its
    // resolved form), so a second object on the same device is refused with LINK_PORT_IN_USE.
    explicit PosixSerialPort(std::string devicePath, std::uint32_t receiveSize = 4096,
                             std::uint32_t transmitSize = 2048);
    // Opens the device at `devicePath` as port number `portNumber` in the open table.
    PosixSerialPort(std::uint32_t portNumber, std::string devicePath,
                    std::uint32_t receiveSize = 4096, std::uint32_t transmitSize = 2048);
    // Closes the device when this object opened it: drops DTR and RTS, discards both queues and
    // puts back the terminal settings found at open.
    ~PosixSerialPort() override;

    [[nodiscard]] int Idle() override;
    int ReadModemStatus() override;
    void Open(std::uint32_t portNumber) override;
    [[nodiscard]] int OpenDevice() override;
    [[nodiscard]] int Close() override;
    QueueStatus& GetQueueStatus(QueueStatus& record, int mask) override;
    [[nodiscard]] int SetQueues(std::uint32_t receiveSize, std::uint32_t xoffLimit,
                                std::uint32_t transmitSize) override;
    [[nodiscard]] int SetFlowControl(int input, int output) override;
    int GetFlowControl(int& input, int& output) override;
    [[nodiscard]] int SetBreak(int state) override;
    [[nodiscard]] int Signal(int code, int value) override;
    [[nodiscard]] int SetFormat(std::uint32_t speed, char parity, int dataBits,
                                int stopBits) override;
    void GetFormat(std::uint32_t& speed, char& parity, int& dataBits, int& stopBits) override;
    int GetLineSnapshot(LineSnapshot& snapshot) override;
    [[nodiscard]] int PutByte(std::uint8_t byte) override;
    [[nodiscard]] int PutString(const char* text) override;
    [[nodiscard]] int Write(const void* buffer, int length) override;
    [[nodiscard]] int SendImmediate(std::uint8_t byte) override;
    [[nodiscard]] int GetByte() override;
    [[nodiscard]] int Read(void* buffer, int length) override;
    [[nodiscard]] int Purge(PurgeDirection direction, int count) override;
    void Dump(const PrintLine& printLine) override;
    [[nodiscard]] int WaitForInput(int timeoutMs) override;
    // Output still in the device at close goes on; only output stuck behind flow control is
    // discarded.
    bool KeepsOutputOnClose() const override { return true; }

    bool IsOpen() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }
    const std::string& DevicePath() const { return path_; }

private:
    // Open() without its boundary for std::bad_alloc.
    void OpenAndConfigure(std::uint32_t portNumber);
    // Adds line errors counted by the driver since the last look to the accumulated errors.
    void CollectErrors();
    // The modem status lines in the low 8 bits (0x10 CTS, 0x20 DSR, 0x40 RI, 0x80 DCD); 0 when
    // the device has none.
    int ModemLines();
    // Sets or clears one modem control line (TIOCM_DTR, TIOCM_RTS); devices without them
    // ignore it.
    void SetControlLine(int line, bool on);
    void SetOutputLine(int code, bool on) override;
    bool ModemInputOn(std::uint32_t mask) override;
    bool ErrorSeen(int code) const override;
    // Discard what the port and the device hold of the input, and the device's output.
    void DropInput() override;
    void DropOutput() override;
    // Bytes still waiting in the driver's transmit queue.
    std::uint32_t OutputQueued();
    // Writes up to `length` bytes, waiting for room while the device is full until `deadline`
    // (tick count); the count written.
    int WriteUntil(const std::uint8_t* bytes, int length, std::uint32_t deadline);
    // Waits until the device has sent `count` bytes just written, or a slow line's time for them.
    void WaitUntilSent(int count);
    // Reads what the device holds into the empty buffer; the count.
    int Refill() override;
    // Refill() for a wait that ended; notes whether the input trickles in.
    int TakeArrivedInput();

    std::string path_;
    std::string claimedPath_; // the resolved path this object holds in the open table
    bool byNumber_;
    int fd_ = -1;
    termios original_{};
    termios working_{};
    std::uint32_t speed_ = 19200;
    char parity_ = 'N';
    int dataBits_ = 8;
    int stopBits_ = 1;
    std::uint32_t errors_ = 0; // one bit per error signal code, see posix_serial_port.cpp
    std::uint32_t modemStatus_ = 0;
    std::uint32_t xoffLimit_ = 128;
    // Driver error counters at the last look: frame, overrun, parity, break, buffer overrun.
    std::uint32_t counters_[5] = {0, 0, 0, 0, 0};
    // Whether the transmit queue is known to be empty (seen so after the last write), so the
    // next write needs no look at it.
    bool queueSeenEmpty_ = false;
    // False once the device has shown that its transmit queue count says nothing: large writes
    // that read back as an empty queue at once (a pseudo-terminal).
    bool queueCounted_ = true;
    int emptyAfterWrite_ = 0; // large writes in a row whose queue read back empty at once
    InputPacing pacing_;
    // Bytes read from the device; those not yet taken lie between inputNext_ and inputEnd_, so
    // that most byte reads need no system call.
    std::uint8_t buffer_[4096];
};

} // namespace tollan
