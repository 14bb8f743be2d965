#include "link/win32_stdio_port.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace tollan {
struct Win32StdioPort::Arrivals {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<std::uint8_t> bytes;
    bool ended = false;
    DWORD error = 0; // why the input ended: the system's code, 0 for its plain end
};

Win32StdioPort::Win32StdioPort()
    : in_(GetStdHandle(STD_INPUT_HANDLE)), out_(GetStdHandle(STD_OUTPUT_HANDLE)) {
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
    // Without memory or a thread for it the port stays closed, with the code in its status.
    try {
        StartReader();
    } catch (const std::bad_alloc&) {
        arrivals_.reset();
        SetStatus(LINK_NO_MEMORY);
    } catch (const std::system_error&) {
        arrivals_.reset();
        SetStatus(LINK_FAILED);
    }
}

void Win32StdioPort::StartReader() {
    arrivals_ = std::make_shared<Arrivals>();
    std::thread([arrivals = arrivals_, in = in_] {
        std::uint8_t chunk[4096];
        for (;;) {
            DWORD got = 0;
            const BOOL read = ReadFile(in, chunk, sizeof chunk, &got, nullptr);
            const DWORD error = read ? 0 : GetLastError();
            std::lock_guard<std::mutex> lock(arrivals->mutex);
            bool taken = read && got != 0;
            try {
                if (taken) {
                    arrivals->bytes.insert(arrivals->bytes.end(), chunk, chunk + got);
                }
            } catch (const std::bad_alloc&) {
                taken = false; // without room for it the input ends here
            }
            if (!taken) {
                arrivals->ended = true;
                arrivals->error = error;
                arrivals->arrived.notify_all();
                return;
            }
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
        // The other side closed our input (or the pipe broke): the line is gone.
        return LoseLine(static_cast<int>(arrivals_->error));
    }
    return static_cast<int>(count);
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
    return std::min(Refill(), 0);
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

int Win32StdioPort::Write(const void* buffer, int length) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    int written = 0;
    while (written < length) {
        DWORD n = 0;
        if (!WriteFile(out_, bytes + written, static_cast<DWORD>(length - written), &n, nullptr)) {
            // The reader of our output is gone.
            static_cast<void>(LoseLine(static_cast<int>(GetLastError())));
            break;
        }
        if (n == 0) {
            SetStatus(LINK_WRITE_SHORT);
            break;
        }
        written += static_cast<int>(n);
    }
    return written;
}

} // namespace tollan
