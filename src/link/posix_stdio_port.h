// The line on the process's standard input and output, for a transfer run inside a remote shell
// or a terminal program (the way sz and rz run): bytes come from one descriptor and go out on the
// other. A terminal on either side is put into raw mode for the run and given back its settings
// when the port goes, and at exit should the process end some other way. Speed, format and
// hardware lines belong to whoever holds the real line: the port takes them and reports the
// lines up; XON/XOFF is set on the terminal when asked for.
#pragma once

#include <termios.h>

#include <cstdint>

#include "link/comm_port.h"

namespace tollan {

class PosixStdioPort : public CommPort {
public:
    PosixStdioPort(int inputFd = 0, int outputFd = 1);
    ~PosixStdioPort() override;

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
    int WaitForInput(int timeoutMs) override;
    // Writes go out whole before they return; closing throws nothing away.
    bool KeepsOutputOnClose() const override { return true; }

private:
    // Reads what is waiting into the empty buffer; the count, or LINK_FAILED once the input
    // has ended.
    int Refill();
    // Sets the terminals' modes for the current flow-control codes.
    void ApplyModes();

    int in_;
    int out_;
    bool ended_ = false;
    std::uint32_t speed_ = 115200;
    char parity_ = 'N';
    int dataBits_ = 8;
    int stopBits_ = 1;
    int inputFlow_ = 0;
    int outputFlow_ = 0;
    std::uint32_t errors_ = 0;
    std::uint32_t modemStatus_ = 0;
    std::uint8_t buffer_[4096];
};

} // namespace tollan
