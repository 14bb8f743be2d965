#include "link/win32_serial_port.h"

#include <algorithm>
#include <cstdio>

#include "link/line_speeds.h"

namespace tollan {
namespace {

// A read of an empty queue waits this long at most for its first byte (where the system keeps
// the time-out; a wait for input ends its read itself when its own time is up).
constexpr DWORD kWaitReadLimitMs = 1000;

// Parity characters in the order of the DCB's parity values (NOPARITY .. SPACEPARITY).
constexpr char kParityChars[] = {'N', 'O', 'E', 'M', 'S'};

BYTE ParityValue(char parity) {
    return static_cast<BYTE>(std::find(std::begin(kParityChars), std::end(kParityChars), parity) -
                             std::begin(kParityChars));
}

} // namespace

// The DCB takes any number; these are the rates serial drivers and USB adapters commonly set.
bool LineSpeedOffered(std::uint32_t speed) {
    static constexpr std::uint32_t kSpeeds[] = {110,    300,     600,     1200,    2400,   4800,
                                                9600,   14400,   19200,   38400,   57600,  115200,
                                                128000, 230400,  256000,  460800,  500000, 576000,
                                                921600, 1000000, 1500000, 2000000, 3000000};
    return std::find(std::begin(kSpeeds), std::end(kSpeeds), speed) != std::end(kSpeeds);
}

Win32SerialPort::Win32SerialPort(std::uint32_t portNumber, std::uint32_t receiveSize,
                                 std::uint32_t transmitSize, const Win32CommCalls& calls)
    : CommPort(portNumber), calls_(&calls) {
    KeepQueueSizes(receiveSize, transmitSize);
    waitEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Open(portNumber);
    if (IsOpen()) {
        RaiseOutputLines();
    }
}

Win32SerialPort::~Win32SerialPort() {
    if (waitEvent_ != nullptr) {
        CloseHandle(waitEvent_);
        waitEvent_ = nullptr;
    }
    if (IsOpen()) {
        (void)Close(); // nobody is left to hear of a failed close
    }
}

bool Win32SerialPort::ClearErrors(COMSTAT* stat) {
    DWORD errors = 0;
    if (!IsOpen()) {
        SetStatus(LINK_NO_PORT);
        return false;
    }
    if (LineLost() == 0 && calls_->ClearCommError(handle_, &errors, stat)) {
        errors_ |= errors;
        return true;
    }
    (void)LoseLine(static_cast<int>(GetLastError())); // the status keeps LINK_LINE_LOST
    return false;
}

bool Win32SerialPort::Finish(BOOL started, OVERLAPPED* request, DWORD& count) {
    // A request that failed at once never completes: waiting for it would never end. The count
    // of one that completed at once is taken from the request too: the call's own count
    // parameter is not reliable for overlapped handles.
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        ClearErrors(nullptr);
        return false;
    }
    if (!calls_->GetOverlappedResult(handle_, request, &count, !started)) {
        ClearErrors(nullptr);
        return false;
    }
    return true;
}

int Win32SerialPort::Idle() {
    if (!IsOpen()) {
        return LINK_NO_PORT;
    }
    return IdleSlice(WaitingCount() > 0, [this](int ms) {
        WaitForByte(ms);
        return LostCode();
    });
}

std::uint32_t Win32SerialPort::WaitingCount() {
    COMSTAT stat{};
    ClearErrors(&stat);
    return stat.cbInQue + static_cast<std::uint32_t>(inputEnd_ - inputNext_);
}

void Win32SerialPort::WaitForByte(int timeoutMs) {
    if (waitEvent_ == nullptr || InputBuffered()) {
        Sleep(static_cast<DWORD>(timeoutMs));
        return;
    }
    OVERLAPPED request{};
    request.hEvent = waitEvent_;
    ResetEvent(waitEvent_);
    DWORD count = 0;
    if (!calls_->ReadFile(handle_, input_, 1, &count, &request)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            // Nothing to wait for. A device that has gone is reported at once; after another
            // failure the caller looks again after a slice, not after its whole time.
            if (ClearErrors(nullptr)) {
                Sleep(static_cast<DWORD>(std::min(timeoutMs, kIdleSliceMs)));
            }
            return;
        }
        if (WaitForSingleObject(waitEvent_, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
            calls_->CancelIo(handle_);
        }
        // A read that the cancel ended may still have delivered its byte: the count says so.
        if (!calls_->GetOverlappedResult(handle_, &request, &count, TRUE)) {
            ClearErrors(nullptr);
        }
    }
    if (count == 1) {
        inputNext_ = input_;
        inputEnd_ = input_ + 1;
    }
}

int Win32SerialPort::WaitForInput(int timeoutMs) {
    // What came while a batch gathered is left in the device for the next read.
    const auto takeGathered = [this] {
        const std::uint32_t waiting = WaitingCount();
        return LineLost() != 0 ? LINK_LINE_LOST : pacing_.Arrived(static_cast<int>(waiting));
    };
    const auto wait = [this](int ms) {
        if (WaitingCount() > 0) {
            return 0;
        }
        if (ms == 0 || LineLost() != 0) {
            return LostCode();
        }
        WaitForByte(ms);
        if (InputBuffered()) {
            pacing_.Arrived(static_cast<int>(WaitingCount()));
            return 0;
        }
        return LostCode();
    };
    return PacedWait(IsOpen(), pacing_, timeoutMs, takeGathered, wait);
}

int Win32SerialPort::ReadModemStatus() {
    ClearErrors(nullptr);
    DWORD status = 0;
    if (!calls_->GetCommModemStatus(handle_, &status)) {
        status = 0; // a device without modem lines reports none
    }
    modemStatus_ = status & 0xFF;
    return static_cast<int>(modemStatus_);
}

void Win32SerialPort::Open(std::uint32_t portNumber) {
    const int free = CheckPortFree(portNumber);
    if (free != 0) {
        SetStatus(free);
        return;
    }
    if (OpenDevice() != 0) {
        return;
    }
    RaisePortCount();
    calls_->SetupComm(handle_, receiveSize_, transmitSize_);
    calls_->GetCommMask(handle_, &eventMask_);
    calls_->SetCommMask(handle_, 0);

    config_.DCBlength = sizeof(DCB);
    calls_->GetCommState(handle_, &config_);
    config_.BaudRate = 19200;
    config_.ByteSize = 8;
    config_.Parity = NOPARITY;
    config_.StopBits = ONESTOPBIT;
    // Every field the run depends on, whatever another program left in the device: no
    // handshake and no software flow control yet, input kept while DSR is low (three-wire
    // cables), sending on while this side holds the other, no call aborted by a line error, no
    // byte replaced or dropped.
    config_.fOutxCtsFlow = FALSE;
    config_.fOutxDsrFlow = FALSE;
    config_.fDtrControl = DTR_CONTROL_ENABLE;
    config_.fRtsControl = RTS_CONTROL_DISABLE;
    config_.fDsrSensitivity = FALSE;
    config_.fTXContinueOnXoff = TRUE;
    config_.fOutX = FALSE;
    config_.fInX = FALSE;
    config_.fAbortOnError = FALSE;
    config_.fParity = FALSE;
    config_.fErrorChar = FALSE;
    config_.ErrorChar = 0;
    config_.fBinary = TRUE;
    config_.fNull = FALSE;
    config_.EofChar = 0;
    config_.EvtChar = 0;
    config_.XonChar = 0x11;
    config_.XoffChar = 0x13;
    config_.XonLim = static_cast<WORD>(receiveSize_ / 4);
    config_.XoffLim = 128;

    calls_->GetCommTimeouts(handle_, &timeouts_);
    COMMTIMEOUTS timeouts{};
    // A read returns at once with what has arrived; a read of an empty queue (only a wait for
    // input makes one) returns with its first byte.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kWaitReadLimitMs;
    timeouts.WriteTotalTimeoutMultiplier = 5;
    timeouts.WriteTotalTimeoutConstant = 10;
    calls_->SetCommTimeouts(handle_, &timeouts);

    if (!calls_->SetCommState(handle_, &config_)) {
        SetStatus(MapLastError());
    }
}

int Win32SerialPort::OpenDevice() {
    char name[16];
    std::snprintf(name, sizeof name, "\\\\.\\COM%u", PortNumber() + 1);
    const HANDLE handle = calls_->CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return SetStatus(MapLastError());
    }
    handle_ = handle;
    return 0;
}

int Win32SerialPort::Close() {
    DropInput();
    DropOutput();
    calls_->EscapeCommFunction(handle_, CLRDTR);
    calls_->EscapeCommFunction(handle_, CLRRTS);
    const BOOL closed = calls_->CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    if (!closed) {
        return SetStatus(LINK_CLOSE_FAILED);
    }
    return 0;
}

QueueStatus& Win32SerialPort::GetQueueStatus(QueueStatus& record, int) {
    COMSTAT stat{};
    ClearErrors(&stat);
    const bool held = stat.fCtsHold || stat.fDsrHold || stat.fXoffHold;
    const auto holds = static_cast<std::uint16_t>((held ? kHoldBlockReceived : 0) |
                                                  (stat.fXoffSent ? kHoldBlockSent : 0));
    return FillQueueStatus(record, stat.cbInQue, stat.cbOutQue, holds);
}

int Win32SerialPort::SetQueues(std::uint32_t receiveSize, std::uint32_t xoffLimit,
                               std::uint32_t transmitSize) {
    DropInput();
    DropOutput();
    KeepQueueSizes(receiveSize, transmitSize);
    config_.XonLim = static_cast<WORD>(receiveSize_ / 4);
    if (xoffLimit != 0) {
        config_.XoffLim = static_cast<WORD>(xoffLimit);
    }
    calls_->SetupComm(handle_, receiveSize_, transmitSize_);
    DropInput();
    DropOutput();
    if (!calls_->SetCommState(handle_, &config_)) {
        return SetStatus(MapLastError());
    }
    return 0;
}

int Win32SerialPort::SetFlowControl(int input, int output) {
    const int checked = CheckFlowCodes(input, output);
    if (checked != 0) {
        return checked;
    }
    DCB config = config_;
    config.fInX = FALSE;
    config.fOutX = FALSE;
    if (config.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        config.fRtsControl = RTS_CONTROL_ENABLE;
    }
    if (config.fDtrControl == DTR_CONTROL_HANDSHAKE) {
        config.fDtrControl = DTR_CONTROL_ENABLE;
    }
    config.fOutxCtsFlow = FALSE;
    config.fOutxDsrFlow = FALSE;
    switch (input) {
    case kFlowXonXoff:
        config.fInX = TRUE;
        break;
    case kFlowDtr:
        config.fDtrControl = DTR_CONTROL_HANDSHAKE;
        break;
    case kFlowRts:
        config.fRtsControl = RTS_CONTROL_HANDSHAKE;
        break;
    default:
        break;
    }
    switch (output) {
    case kFlowXonXoff:
        config.fOutX = TRUE;
        break;
    case kFlowCts:
        config.fOutxCtsFlow = TRUE;
        break;
    case kFlowDsr:
        config.fOutxDsrFlow = TRUE;
        break;
    default:
        break;
    }
    if (!calls_->SetCommState(handle_, &config)) {
        return SetStatus(MapLastError());
    }
    config_ = config;
    return KeepFlow(input, output);
}

int Win32SerialPort::GetFlowControl(int& input, int& output) {
    return ReportFlow(input, output);
}

int Win32SerialPort::SetBreak(int state) {
    return ChangeBreak(state, [this](bool on) {
        return (on ? calls_->SetCommBreak(handle_) : calls_->ClearCommBreak(handle_)) != FALSE;
    });
}

int Win32SerialPort::Signal(int code, int value) {
    return AnswerSignal(code, value);
}

void Win32SerialPort::SetOutputLine(int code, bool on) {
    // The working configuration carries the new state with the next SetCommState. Devices
    // without modem lines refuse the escape; the state is remembered all the same.
    if (code == kSignalDtr) {
        config_.fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        calls_->EscapeCommFunction(handle_, on ? SETDTR : CLRDTR);
    } else {
        config_.fRtsControl = on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        calls_->EscapeCommFunction(handle_, on ? SETRTS : CLRRTS);
    }
}

bool Win32SerialPort::ModemInputOn(std::uint32_t mask) {
    return ModemLine(mask) != 0;
}

bool Win32SerialPort::ErrorSeen(int code) const {
    switch (code) {
    case kSignalOverrun:
        return (errors_ & CE_OVERRUN) != 0;
    case kSignalParityError:
        return (errors_ & CE_RXPARITY) != 0;
    case kSignalFramingError:
        return (errors_ & CE_FRAME) != 0;
    case kSignalBreakReceived:
        return (errors_ & CE_BREAK) != 0;
    default:
        return (errors_ & CE_RXOVER) != 0; // kSignalReceiveOverflow
    }
}

int Win32SerialPort::SetFormat(std::uint32_t speed, char parity, int dataBits, int stopBits) {
    const int checked = CheckFormat(parity, dataBits, stopBits);
    if (checked != 0) {
        return checked;
    }
    DCB config = config_;
    config.BaudRate = speed;
    config.Parity = ParityValue(parity);
    config.fParity = config.Parity != NOPARITY; // parity errors are reported with parity only
    config.ByteSize = static_cast<BYTE>(dataBits);
    config.StopBits = stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    if (dataBits == 5) {
        config.StopBits = ONE5STOPBITS;
    }
    if (!calls_->SetCommState(handle_, &config)) {
        return SetStatus(MapLastError());
    }
    config_ = config;
    return 0;
}

void Win32SerialPort::GetFormat(std::uint32_t& speed, char& parity, int& dataBits, int& stopBits) {
    speed = config_.BaudRate;
    parity = config_.Parity < sizeof kParityChars ? kParityChars[config_.Parity] : 0;
    dataBits = config_.ByteSize;
    stopBits = config_.StopBits == TWOSTOPBITS ? 2 : 1;
}

int Win32SerialPort::GetLineSnapshot(LineSnapshot& snapshot) {
    return TakeLineSnapshot(snapshot, errors_, modemStatus_);
}

int Win32SerialPort::PutByte(std::uint8_t byte) {
    return PutByteByWrite(byte);
}

int Win32SerialPort::PutString(const char* text) {
    return PutStringByWrite(text);
}

int Win32SerialPort::Write(const void* buffer, int length) {
    COMSTAT stat{};
    if (!ClearErrors(&stat)) {
        return 0;
    }
    const DWORD wanted = TransmitRoom(length, stat.cbOutQue);
    pacing_.Wrote();
    writeRequest_ = OVERLAPPED{};
    // A write that reaches its time-out (the other side holds this one) completes with fewer
    // bytes, successfully or not: the count is what went.
    DWORD count = 0;
    // A write that failed has its count all the same; ClearErrors() noted a gone device.
    (void)Finish(calls_->WriteFile(handle_, buffer, wanted, &count, &writeRequest_), &writeRequest_,
                 count);
    if (LineLost() != 0) {
        return static_cast<int>(count);
    }
    calls_->FlushFileBuffers(handle_);
    if (count < static_cast<DWORD>(length)) {
        SetStatus(LINK_WRITE_SHORT);
    }
    return static_cast<int>(count);
}

int Win32SerialPort::SendImmediate(std::uint8_t byte) {
    pacing_.Wrote();
    return calls_->TransmitCommChar(handle_, static_cast<char>(byte)) ? 0 : LINK_FAILED;
}

int Win32SerialPort::GetByte() {
    return BufferedByte();
}

int Win32SerialPort::Refill() {
    const DWORD count = ReadWaiting(input_, sizeof input_);
    inputNext_ = input_;
    inputEnd_ = input_ + count;
    return static_cast<int>(count);
}

DWORD Win32SerialPort::ReadWaiting(void* out, DWORD most) {
    COMSTAT stat{};
    if (!ClearErrors(&stat) || stat.cbInQue == 0) {
        return 0;
    }
    readRequest_ = OVERLAPPED{};
    DWORD count = 0;
    // A read that failed has its count all the same; ClearErrors() noted a gone device.
    (void)Finish(
        calls_->ReadFile(handle_, out, std::min(most, stat.cbInQue), &count, &readRequest_),
        &readRequest_, count);
    return count;
}

int Win32SerialPort::Read(void* buffer, int length) {
    if (length <= 0) {
        return 0;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    // The bytes already read from the device come first.
    const int buffered = TakeBuffered(out, length);
    if (buffered == length) {
        return buffered;
    }
    return buffered +
           static_cast<int>(ReadWaiting(out + buffered, static_cast<DWORD>(length - buffered)));
}

int Win32SerialPort::Purge(PurgeDirection direction, int count) {
    return PurgeByDropping(direction, count);
}

void Win32SerialPort::DropInput() {
    inputNext_ = inputEnd_;
    calls_->PurgeComm(handle_, PURGE_RXABORT);
    calls_->PurgeComm(handle_, PURGE_RXCLEAR);
}

void Win32SerialPort::DropOutput() {
    calls_->PurgeComm(handle_, PURGE_TXABORT);
    calls_->PurgeComm(handle_, PURGE_TXCLEAR);
}

void Win32SerialPort::Dump(const PrintLine& printLine) {
    const DCB& c = config_;
    char text[128];
    std::snprintf(text, sizeof text,
                  "Port type: MS Win32  BaudRate: %-6u  ByteSize: %1d  Parity: %1d",
                  static_cast<unsigned>(c.BaudRate), c.ByteSize, c.Parity);
    printLine(text);
    std::snprintf(text, sizeof text, "StopBits: %1d  fBinary: %1d  fRtsControl: %1d", c.StopBits,
                  static_cast<int>(c.fBinary), static_cast<int>(c.fRtsControl));
    printLine(text);
    std::snprintf(text, sizeof text,
                  "Parity: %1d  OutCtsFlow: %1d  OutDsrFlow: %1d  DtrControl: %1d  OutX: %1d  "
                  "InX: %1d",
                  static_cast<int>(c.fParity), static_cast<int>(c.fOutxCtsFlow),
                  static_cast<int>(c.fOutxDsrFlow), static_cast<int>(c.fDtrControl),
                  static_cast<int>(c.fOutX), static_cast<int>(c.fInX));
    printLine(text);
    std::snprintf(text, sizeof text, "Null: %1d  XonChar: %02x  XoffChar: %02x",
                  static_cast<int>(c.fNull), static_cast<unsigned char>(c.XonChar),
                  static_cast<unsigned char>(c.XoffChar));
    printLine(text);
    std::snprintf(text, sizeof text, "XonLim: %-5u XoffLim: %-5u EofChr: %02x  EvtChr: %02x",
                  static_cast<unsigned>(c.XonLim), static_cast<unsigned>(c.XoffLim),
                  static_cast<unsigned char>(c.EofChar), static_cast<unsigned char>(c.EvtChar));
    printLine(text);
    DumpQueues(printLine);
}

int Win32SerialPort::SetEventChar(char character) {
    calls_->GetCommState(handle_, &config_);
    config_.EvtChar = character;
    return calls_->SetCommState(handle_, &config_) ? 1 : 0;
}

int Win32SerialPort::GetEventMask(DWORD& mask) {
    return calls_->GetCommMask(handle_, &mask) ? 0 : MapLastError();
}

int Win32SerialPort::SetEventMask(DWORD mask) {
    return calls_->SetCommMask(handle_, mask) ? 0 : MapLastError();
}

int Win32SerialPort::WaitEvent(DWORD& mask) {
    // The device is opened for overlapped I/O, so the wait goes through a request of its own.
    OVERLAPPED request{};
    request.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (request.hEvent == nullptr) {
        return MapLastError();
    }
    int result = 0;
    if (!calls_->WaitCommEvent(handle_, &mask, &request)) {
        if (GetLastError() == ERROR_IO_PENDING) {
            DWORD done = 0;
            if (!calls_->GetOverlappedResult(handle_, &request, &done, TRUE)) {
                result = MapLastError();
            }
        } else {
            result = MapLastError();
        }
    }
    CloseHandle(request.hEvent);
    return result;
}

int Win32SerialPort::ModemLine(DWORD mask) {
    if (mask == kModemLineDtr) {
        return dtrState_;
    }
    if (mask == kModemLineRts) {
        return rtsState_;
    }
    DWORD status = 0;
    if (!calls_->GetCommModemStatus(handle_, &status)) {
        return 0;
    }
    return (status & mask) != 0 ? 1 : 0;
}

int Win32SerialPort::MapLastError() {
    return LinkCodeForError(GetLastError());
}

int Win32SerialPort::LinkCodeForError(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND: // no such device name
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
        return LINK_NO_PORT;
    case ERROR_ACCESS_DENIED: // another program has the port open
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return LINK_PORT_IN_USE;
    case ERROR_DEVICE_NOT_CONNECTED: // a device that was there has gone
    case ERROR_DEVICE_REMOVED:
        return LINK_LINE_LOST;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
        return LINK_NO_MEMORY;
    default:
        return LINK_FAILED;
    }
}

} // namespace tollan
