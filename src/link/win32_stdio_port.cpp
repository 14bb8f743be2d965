#include "link/win32_stdio_port.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

namespace tollan {
namespace {

constexpr DWORD kIdleSliceMs = 5;
// The modem lines a stdio line reports: CTS, DSR and carrier detect, all up.
constexpr std::uint32_t kLinesUp = 0x10 | 0x20 | 0x80;

} // namespace

struct Win32StdioPort::Arrivals {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<std::uint8_t> bytes;
    bool ended = false;
};

Win32StdioPort::Win32StdioPort()
    : CommPort(kNoPortNumber), in_(GetStdHandle(STD_INPUT_HANDLE)),
      out_(GetStdHandle(STD_OUTPUT_HANDLE)) {
    if (in_ == INVALID_HANDLE_VALUE || in_ == nullptr || out_ == INVALID_HANDLE_VALUE ||
        out_ == nullptr) {
        SetStatus(LINK_NO_PORT);
        return;
    }
    inputConsole_ = GetConsoleMode(in_, &savedInputMode_) != 0;
    outputConsole_ = GetConsoleMode(out_, &savedOutputMode_) != 0;
    if (inputConsole_) {
        SetConsoleMode(in_, savedInputMode_ &
                                ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT));
    }
    if (outputConsole_) {
        SetConsoleMode(out_, savedOutputMode_ & ~ENABLE_PROCESSED_OUTPUT);
    }
    // The reader ends with the input; a reader still waiting when the process ends goes with it.
    arrivals_ = std::make_shared<Arrivals>();
    std::thread([arrivals = arrivals_, in = in_] {
        std::uint8_t chunk[4096];
        for (;;) {
            DWORD got = 0;
            const BOOL read = ReadFile(in, chunk, sizeof chunk, &got, nullptr);
            std::lock_guard<std::mutex> lock(arrivals->mutex);
            if (!read || got == 0) {
                arrivals->ended = true;
                arrivals->arrived.notify_all();
                return;
            }
            arrivals->bytes.insert(arrivals->bytes.end(), chunk, chunk + got);
            arrivals->arrived.notify_all();
        }
    }).detach();
}

Win32StdioPort::~Win32StdioPort() {
    if (inputConsole_) {
        SetConsoleMode(in_, savedInputMode_);
    }
    if (outputConsole_) {
        SetConsoleMode(out_, savedOutputMode_);
    }
}

int Win32StdioPort::Refill() {
    inputNext_ = buffer_;
    inputEnd_ = buffer_;
    if (arrivals_ == nullptr) {
        return LINK_FAILED;
    }
    std::lock_guard<std::mutex> lock(arrivals_->mutex);
    std::size_t count = 0;
    while (count < sizeof buffer_ && !arrivals_->bytes.empty()) {
        buffer_[count++] = arrivals_->bytes.front();
        arrivals_->bytes.pop_front();
    }
    inputEnd_ = buffer_ + count;
    if (count == 0 && arrivals_->ended) {
        return LINK_FAILED;
    }
    return static_cast<int>(count);
}

int Win32StdioPort::Idle() {
    if (inputNext_ != inputEnd_) {
        Sleep(kIdleSliceMs);
        return 0;
    }
    return WaitForInput(static_cast<int>(kIdleSliceMs));
}

int Win32StdioPort::WaitForInput(int timeoutMs) {
    if (inputNext_ != inputEnd_) {
        return 0;
    }
    if (arrivals_ == nullptr) {
        return LINK_FAILED;
    }
    {
        std::unique_lock<std::mutex> lock(arrivals_->mutex);
        arrivals_->arrived.wait_for(
            lock, std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0),
            [this] { return !arrivals_->bytes.empty() || arrivals_->ended; });
    }
    return Refill() < 0 ? LINK_FAILED : 0;
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
    std::size_t waiting = 0;
    if (arrivals_ != nullptr) {
        std::lock_guard<std::mutex> lock(arrivals_->mutex);
        waiting = arrivals_->bytes.size();
    }
    record.receiveValid = 1;
    record.receiveCount = static_cast<std::uint32_t>(inputEnd_ - inputNext_ + waiting);
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
