// The line on the process's standard input and output under Windows, for a transfer run inside a
// terminal program or a remote shell: bytes come from the standard input handle and go out on
// the standard output handle. Whatever the input is (a pipe, a console, a file; under Wine a
// Unix pipe, which PeekNamedPipe cannot look into), a reader thread waits on it with blocking
// reads and queues what arrives, so that the port's reads never wait and its waits have a time
// limit. A console is put into raw mode (no line editing, no echo, no Ctrl-C processing) for the
// run and given back its modes when the port goes. Speed, format and hardware lines belong to
// whoever holds the real line: the port takes them and reports the lines up.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "link/comm_port.h"

namespace tollan {

class Win32StdioPort : public CommPort {
public:
    Win32StdioPort();
    ~Win32StdioPort() override;

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

    // What the reader thread hands over; shared with it, since it may outlive the port.
    struct Arrivals;

private:
    // Takes what has arrived into the empty buffer; the count, or LINK_FAILED once the input has
    // ended and all of it was taken.
    int Refill();

    HANDLE in_;
    HANDLE out_;
    std::shared_ptr<Arrivals> arrivals_;
    DWORD savedInputMode_ = 0;
    DWORD savedOutputMode_ = 0;
    bool inputConsole_ = false;
    bool outputConsole_ = false;
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
