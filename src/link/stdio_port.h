// What the two stdio lines share, on every platform: the line that standard input and output
// stand for belongs to whoever holds the real one (a remote shell, a terminal program). The port
// takes speed and format as given and keeps them, reports the modem lines up and no line errors,
// and offers no break. A platform's port supplies the reads, the writes and the waits, and hears
// of a change of flow control through FlowControlChanged().
#pragma once

#include <cstdint>

#include "link/comm_port.h"

namespace tollan {

class StdioPort : public CommPort {
public:
    StdioPort() : CommPort(kNoPortNumber) {}

    // Sleeps a slice while input is buffered; otherwise WaitForInput() for a slice.
    [[nodiscard]] int Idle() override;
    int ReadModemStatus() override;
    void Open(std::uint32_t portNumber) override;
    [[nodiscard]] int OpenDevice() override;
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
    [[nodiscard]] int SendImmediate(std::uint8_t byte) override;
    [[nodiscard]] int GetByte() override;
    [[nodiscard]] int Read(void* buffer, int length) override;
    // Input: drops what is buffered and reads the rest away (count > 0: LINK_FAILED when more
    // than that is still arriving). Output goes out whole, so only a terminal has any to drop.
    [[nodiscard]] int Purge(PurgeDirection direction, int count) override;
    void Dump(const PrintLine& printLine) override;
    // Writes go out whole before they return; closing throws nothing away.
    bool KeepsOutputOnClose() const override { return true; }

protected:
    // Takes what has arrived into the port's empty buffer: the count, 0 when nothing is
    // waiting, a negative code once the input has ended (LINK_LINE_LOST where the port loses
    // the line with it). Output not yet sent is dropped by DropOutput(), where the platform's
    // output holds any.
    int Refill() override = 0;
    // The flow-control codes changed (inputFlow_, outputFlow_).
    virtual void FlowControlChanged() {}

    std::uint32_t speed_ = 115200;
    char parity_ = 'N';
    int dataBits_ = 8;
    int stopBits_ = 1;
    std::uint32_t errors_ = 0;
    std::uint32_t modemStatus_ = 0;
};

} // namespace tollan
