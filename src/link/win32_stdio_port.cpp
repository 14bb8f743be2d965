#include "link/win32_stdio_port.h"

#include <cstdio>

#include "link/tick_count.h"

namespace tollan {
namespace {

constexpr DWORD kIdleSliceMs = 5;
// The modem lines a stdio line reports: CTS, DSR and carrier detect, all up.
constexpr std::uint32_t kLinesUp = 0x10 | 0x20 | 0x80;

} // namespace

Win32StdioPort::Win32StdioPort()
    : CommPort(kNoPortNumber), in_(GetStdHandle(STD_INPUT_HANDLE)),
      out_(GetStdHandle(STD_OUTPUT_HANDLE)) {
    if (in_ == INVALID_HANDLE_VALUE || in_ == nullptr || out_ == INVALID_HANDLE_VALUE ||
        out_ == nullptr) {
        SetStatus(LINK_NO_PORT);
        inputType_ = FILE_TYPE_UNKNOWN;
        return;
    }
    inputType_ = GetFileType(in_);
    inputConsole_ = GetConsoleMode(in_, &savedInputMode_) != 0;
    outputConsole_ = GetConsoleMode(out_, &savedOutputMode_) != 0;
    if (inputConsole_) {
        SetConsoleMode(in_, savedInputMode_ &
                                ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT));
    }
    if (outputConsole_) {
        SetConsoleMode(out_, savedOutputMode_ & ~ENABLE_PROCESSED_OUTPUT);
    }
}

Win32StdioPort::~Win32StdioPort() {
    if (inputConsole_) {
        SetConsoleMode(in_, savedInputMode_);
    }
    if (outputConsole_) {
        SetConsoleMode(out_, savedOutputMode_);
    }
}

long Win32StdioPort::Waiting() {
    if (ended_) {
        return 1;
    }
    if (inputType_ == FILE_TYPE_PIPE) {
        DWORD available = 0;
        if (!PeekNamedPipe(in_, nullptr, 0, nullptr, &available, nullptr)) {
            return 1; // broken: the read finds the end
        }
        return static_cast<long>(available);
    }
    if (inputConsole_) {
        DWORD events = 0;
        return GetNumberOfConsoleInputEvents(in_, &events) && events > 0 ? 1 : 0;
    }
    return -1; // a disk file: reads never wait long
}

int Win32StdioPort::Refill() {
    inputNext_ = buffer_;
    inputEnd_ = buffer_;
    if (ended_) {
        return LINK_FAILED;
    }
    const long waiting = Waiting();
    if (waiting == 0) {
        return 0;
    }
    DWORD want = sizeof buffer_;
    if (waiting > 0 && static_cast<DWORD>(waiting) < want && inputType_ == FILE_TYPE_PIPE) {
        want = static_cast<DWORD>(waiting);
    }
    DWORD got = 0;
    if (!ReadFile(in_, buffer_, want, &got, nullptr) || got == 0) {
        ended_ = !inputConsole_;
        return ended_ ? LINK_FAILED : 0;
    }
    inputEnd_ = buffer_ + got;
    return static_cast<int>(got);
}

int Win32StdioPort::Idle() {
    if (inputNext_ != inputEnd_) {
        Sleep(kIdleSliceMs);
        return 0;
    }
    return WaitForInput(static_cast<int>(kIdleSliceMs));
}

int Win32StdioPort::WaitForInput(int timeoutMs) {
    const std::uint32_t start = TickCount();
    for (;;) {
        if (inputNext_ != inputEnd_) {
            return 0;
        }
        if (ended_) {
            return LINK_FAILED;
        }
        const long waiting = Waiting();
        if (waiting != 0) {
            return Refill() < 0 ? LINK_FAILED : 0;
        }
        if (static_cast<int>(TickCount() - start) >= timeoutMs) {
            return 0;
        }
        if (inputConsole_) {
            WaitForSingleObject(in_, 1);
        } else {
            Sleep(1);
        }
    }
}

int Win32StdioPort::ReadModemStatus() {
    modemStatus_ = kLinesUp;
    return static_cast<int>(modemStatus_);
}

void Win32StdioPort::Open(std::uint32_t) {}

int Win32StdioPort::OpenDevice() {
    return LINK_OK;
}

int Win32StdioPort::Close() {
    return LINK_OK;
}

QueueStatus& Win32StdioPort::GetQueueStatus(QueueStatus& record, int) {
    record = QueueStatus{};
    const long waiting = Waiting();
    record.receiveValid = 1;
    record.receiveCount =
        static_cast<std::uint32_t>(inputEnd_ - inputNext_ + (waiting > 0 ? waiting : 0));
    record.receiveSize = sizeof buffer_;
    record.transmitValid = 1;
    record.transmitSize = 65536;
    return record;
}

int Win32StdioPort::SetQueues(std::uint32_t, std::uint32_t, std::uint32_t) {
    return LINK_OK;
}

int Win32StdioPort::SetFlowControl(int input, int output) {
    const int checked = CheckFlowCodes(input, output);
    if (checked != 0) {
        return checked;
    }
    inputFlow_ = input;
    outputFlow_ = output;
    return LINK_OK;
}

int Win32StdioPort::GetFlowControl(int& input, int& output) {
    input = inputFlow_;
    output = outputFlow_;
    return 0;
}

int Win32StdioPort::SetBreak(int) {
    return 0;
}

int Win32StdioPort::Signal(int code, int) {
    switch (code) {
    case kSignalDtr:
    case kSignalRts:
    case kSignalCts:
    case kSignalDsr:
    case kSignalCarrier:
        return 1;
    case kSignalBreakState:
    case kSignalRing:
    case kSignalOverrun:
    case kSignalParityError:
    case kSignalFramingError:
    case kSignalBreakReceived:
    case kSignalReceiveOverflow:
        return 0;
    default:
        return code >= 17 && code <= 20 ? 0 : 2;
    }
}

int Win32StdioPort::SetFormat(std::uint32_t speed, char parity, int dataBits, int stopBits) {
    const int checked = CheckFormat(parity, dataBits, stopBits);
    if (checked != 0) {
        return checked;
    }
    speed_ = speed;
    parity_ = parity;
    dataBits_ = dataBits;
    stopBits_ = stopBits;
    return LINK_OK;
}

void Win32StdioPort::GetFormat(std::uint32_t& speed, char& parity, int& dataBits, int& stopBits) {
    speed = speed_;
    parity = parity_;
    dataBits = dataBits_;
    stopBits = stopBits_;
}

int Win32StdioPort::GetLineSnapshot(LineSnapshot& snapshot) {
    return TakeLineSnapshot(snapshot, errors_, modemStatus_);
}

int Win32StdioPort::PutByte(std::uint8_t byte) {
    return PutByteByWrite(byte);
}

int Win32StdioPort::PutString(const char* text) {
    return PutStringByWrite(text);
}

int Win32StdioPort::Write(const void* buffer, int length) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    int written = 0;
    while (written < length) {
        DWORD n = 0;
        if (!WriteFile(out_, bytes + written, static_cast<DWORD>(length - written), &n, nullptr) ||
            n == 0) {
            SetStatus(LINK_FAILED);
            break;
        }
        written += static_cast<int>(n);
    }
    return written;
}

int Win32StdioPort::SendImmediate(std::uint8_t byte) {
    return Write(&byte, 1) == 1 ? 0 : LINK_FAILED;
}

int Win32StdioPort::GetByte() {
    if (inputNext_ == inputEnd_ && Refill() <= 0) {
        return LINK_NO_DATA;
    }
    return *inputNext_++;
}

int Win32StdioPort::Read(void* buffer, int length) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    int count = 0;
    while (count < length) {
        const int c = GetByte();
        if (c < 0) {
            break;
        }
        bytes[count++] = static_cast<std::uint8_t>(c);
    }
    return count;
}

int Win32StdioPort::Purge(int direction, int count) {
    if (direction != 0) {
        return LINK_OK;
    }
    inputNext_ = inputEnd_;
    int taken = 0;
    while (GetByte() >= 0) {
        if (count > 0 && ++taken >= count) {
            return LINK_FAILED;
        }
    }
    return LINK_OK;
}

void Win32StdioPort::Dump(const PrintLine& printLine) {
    char line[128];
    std::snprintf(line, sizeof line, "Port type: standard input and output  BaudRate: %-6u",
                  static_cast<unsigned>(speed_));
    printLine(line);
}

} // namespace tollan
