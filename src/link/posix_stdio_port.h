// The line on the process's standard input and output, for a transfer run inside a remote shell
// or a terminal program (the way sz and rz run): bytes come from one descriptor and go out on the
// other. A terminal on either side is put into raw mode for the run and given back its settings
// when the port goes, and at exit should the process end some other way. Speed, format and
// hardware lines belong to whoever holds the real line: the port takes them and reports the
// lines up; XON/XOFF is set on the terminal when asked for.
#pragma once

#include <termios.h>

#include <cstdint>

#include "link/stdio_port.h"

namespace tollan {

class PosixStdioPort : public StdioPort {
public:
    PosixStdioPort(int inputFd = 0, int outputFd = 1);
    ~PosixStdioPort() override;

    [[nodiscard]] int Close() override;
    QueueStatus& GetQueueStatus(QueueStatus& record, int mask) override;
    [[nodiscard]] int Write(const void* buffer, int length) override;
    [[nodiscard]] int WaitForInput(int timeoutMs) override;

private:
    // Reads what is waiting into the empty buffer; the count, or LINK_FAILED once the input
    // has ended.
    int Refill() override;
    // Sets the terminals' modes for the current flow-control codes.
    void ApplyModes();
    void FlowControlChanged() override { ApplyModes(); }
    void DropOutput() override;

    int in_;
    int out_;
    bool ended_ = false;
    std::uint8_t buffer_[4096];
};

} // namespace tollan
