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

#include "link/stdio_port.h"

namespace tollan {

class Win32StdioPort : public StdioPort {
public:
    Win32StdioPort();
    ~Win32StdioPort() override;

    [[nodiscard]] int Close() override;
    QueueStatus& GetQueueStatus(QueueStatus& record, int mask) override;
    [[nodiscard]] int Write(const void* buffer, int length) override;
    [[nodiscard]] int WaitForInput(int timeoutMs) override;

    // What the reader thread hands over; shared with it, since it may outlive the port.
    struct Arrivals;

private:
    // Makes the shared record and starts the reader thread; throws when either fails.
    void StartReader();
    // Takes what has arrived into the empty buffer; the count, or LINK_LINE_LOST once the input
    // has ended and all of it was taken.
    int Refill() override;

    HANDLE in_;
    HANDLE out_;
    std::shared_ptr<Arrivals> arrivals_;
    DWORD savedInputMode_ = 0;
    DWORD savedOutputMode_ = 0;
    bool inputConsole_ = false;
    bool outputConsole_ = false;
    std::uint8_t buffer_[4096];
};

} // namespace tollan
