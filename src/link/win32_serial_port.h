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
#include <vector>

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

    // Refreshes the working configuration from the device, sets its event character and sends
    // it back; the truth value of the last system call.
    virtual int SetEventChar(char character);
    virtual int GetEventMask(DWORD& mask);
    virtual int SetEventMask(DWORD mask);
    // Waits for one of the masked events.
    virtual int WaitEvent(DWORD& mask);
    // Mask 1: the DTR state; 2: the RTS state; otherwise 1 when the device reports any of the
    // mask's modem status bits (MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON).
    virtual int ModemLine(DWORD mask);
    // GetLastError() as a link code.
    virtual int MapLastError();

    // The link code for a last-error value: a device that does not exist LINK_NO_PORT, one that
    // another program holds LINK_PORT_IN_USE, a gone device LINK_LINE_LOST; LINK_FAILED for
    // anything else.
    static int LinkCodeForError(DWORD error);

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return handle_; }
    // The working configuration (absent when allocating it failed).
    const DCB* Configuration() const { return config_; }

private:
    void ReleaseRecords();
    // ClearCommError, OR-ing the errors into the accumulated ones. False when the device has
    // gone: the call fails on an open handle only then, and the line stays lost (LoseLine).
    bool ClearErrors(COMSTAT* stat);
    // LINK_LINE_LOST once the device has gone, else 0.
    int LostCode() const { return LineLost() != 0 ? LINK_LINE_LOST : 0; }
    // Finishes an overlapped request that `started` (the call's result) began: true once it has
    // completed without error, `count` the bytes it moved either way. A request that failed at
    // once is not waited for.
    bool Finish(BOOL started, OVERLAPPED* request, DWORD& count);
    // Reads at most `most` of the bytes the device holds; the count read.
    DWORD ReadWaiting(void* out, DWORD most);
    // Bytes received and not yet taken: the device's queue and the input buffer.
    std::uint32_t WaitingCount();
    // Blocks on a read of one byte for at most `timeoutMs`; a byte that came is kept for the
    // next read.
    void WaitForByte(int timeoutMs);

    const Win32CommCalls* calls_;
    DCB* config_ = nullptr;
    OVERLAPPED* readRequest_ = nullptr;
    OVERLAPPED* writeRequest_ = nullptr;
    COMMTIMEOUTS* timeouts_ = nullptr;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    int inputFlow_ = 0;
    int outputFlow_ = 0;
    int rtsState_ = 1;
    int dtrState_ = 1;
    std::uint16_t breakState_ = 0;
    std::uint32_t errors_ = 0;
    std::uint32_t modemStatus_ = 0;
    DWORD eventMask_ = 0;
    std::uint32_t transmitSize_ = 0;
    std::uint32_t receiveSize_ = 0;
    // Reads the bytes the device holds (at most the buffer's size) into the input buffer;
    // the count read.
    int Refill();

    // Bytes read from the device and not yet taken: [inputNext_, inputEnd_) lies in here.
    std::vector<std::uint8_t> input_;
    HANDLE waitEvent_ = nullptr;
    // Input has been coming a few bytes at a time: the next wait lets a batch gather first.
    bool trickling_ = false;
};

} // namespace tollan
