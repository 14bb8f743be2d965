// The serial port on a Windows COM device, opened for overlapped I/O as "\\.\COM<n>" (port
// number 0 is COM1). Reads take only what the device has already received, in batches that
// byte reads then take from the port's own buffer; writes offer only
// what fits into the transmit queue and then wait until the device has sent it. Millisecond
// time-outs are made above it, by CommLink; a wait for input blocks on a read of one byte until
// the byte comes or the time is up, so a quiet line costs no processor time. A device that has
// gone (a USB adapter pulled out: every call on it fails) is reported as LINK_LINE_LOST by every
// later wait, Idle() and write, once the bytes read before are taken.
#pragma once

#include <windows.h>

#include <cstdint>

#include "link/comm_port.h"
#include "link/win32_comm_calls.h"

namespace tollan {

class Win32SerialPort : public CommPort {
public:
    // Opens and configures the port (19200 8 N 1, no flow control, reads that return at once),
    // then raises DTR and RTS. A failure is left in the status. `calls` are the system calls the
    // port makes; the table must outlive the port.
    Win32SerialPort(std::uint32_t portNumber, std::uint32_t receiveSize, std::uint32_t transmitSize,
                    const Win32CommCalls& calls = SystemCommCalls());
    // Closes the device when this object opened it: drops DTR and RTS, discards both queues.
    ~Win32SerialPort() override;

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

    // Refreshes the working configuration from the device, sets its event character and sends
    // it back; the truth value of the last system call.
    virtual int SetEventChar(char character);
    [[nodiscard]] virtual int GetEventMask(DWORD& mask);
    [[nodiscard]] virtual int SetEventMask(DWORD mask);
    // Waits for one of the masked events.
    [[nodiscard]] virtual int WaitEvent(DWORD& mask);
    // The masks of ModemLine() that name an output line rather than modem status bits (fixed
    // by the port's interface, beside MS_CTS_ON and the others).
    static constexpr DWORD kModemLineDtr = 1;
    static constexpr DWORD kModemLineRts = 2;
    // kModemLineDtr: the DTR state; kModemLineRts: the RTS state; otherwise 1 when the device
    // reports any of the mask's modem status bits (MS_CTS_ON, MS_DSR_ON, MS_RING_ON,
    // MS_RLSD_ON), else 0.
    virtual int ModemLine(DWORD mask);
    // GetLastError() as a link code.
    [[nodiscard]] virtual int MapLastError();

    // The link code for a last-error value: a device that does not exist LINK_NO_PORT, one that
    // another program holds LINK_PORT_IN_USE, a gone device LINK_LINE_LOST; LINK_FAILED for
    // anything else.
    static int LinkCodeForError(DWORD error);

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return handle_; }
    // The working configuration.
    const DCB& Configuration() const { return config_; }

private:
    // ClearCommError, OR-ing the errors into the accumulated ones. False when the device has
    // gone: the call fails on an open handle only then, and the line stays lost (LoseLine).
    bool ClearErrors(COMSTAT* stat);
    // Finishes an overlapped request that `started` (the call's result) began: true once it has
    // completed without error, `count` the bytes it moved either way. A request that failed at
    // once is not waited for.
    [[nodiscard]] bool Finish(BOOL started, OVERLAPPED* request, DWORD& count);
    // Reads at most `most` of the bytes the device holds; the count read.
    DWORD ReadWaiting(void* out, DWORD most);
    // Bytes received and not yet taken: the device's queue and the input buffer.
    std::uint32_t WaitingCount();
    // Blocks on a read of one byte for at most `timeoutMs`; a byte that came is kept for the
    // next read.
    void WaitForByte(int timeoutMs);
    void SetOutputLine(int code, bool on) override;
    bool ModemInputOn(std::uint32_t mask) override;
    bool ErrorSeen(int code) const override;
    // Discard what the port and the device hold of the input, and the device's output.
    void DropInput() override;
    void DropOutput() override;

    const Win32CommCalls* calls_;
    DCB config_{};
    OVERLAPPED readRequest_{};
    OVERLAPPED writeRequest_{};
    COMMTIMEOUTS timeouts_{}; // the time-outs found at open
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::uint32_t errors_ = 0;
    std::uint32_t modemStatus_ = 0;
    DWORD eventMask_ = 0;
    // Reads the bytes the device holds (at most the buffer's size) into the input buffer;
    // the count read.
    int Refill() override;

    // Bytes read from the device in batches, which single-byte reads then take without a
    // system call each: [inputNext_, inputEnd_) lies in here.
    std::uint8_t input_[4096];
    HANDLE waitEvent_ = nullptr;
    InputPacing pacing_;
};

} // namespace tollan
