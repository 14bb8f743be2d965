#include "link/comm_link.h"

#include "link/line_control.h"
#include "link/line_settings.h"
#include "link/tick_count.h"

namespace tollan {

CommLink::CommLink(CommPort& port) : port_(port) {
    if (port_.Status() != 0) {
        // The port failed to open: no line objects; CheckLine() reports the failure.
        return;
    }
    lineSettings_ = std::make_unique<LineSettings>(this);
    // A port that refuses these keeps what it had, and its status, which CheckLine() reports.
    (void)lineSettings_->Set(9600, 'N', 8, 1);
    lineControl_ = std::make_unique<LineControl>(*this);
    (void)port_.SetFlowControl(kFlowNone, kFlowNone);
}

CommLink::~CommLink() {
    // Flow codes first, then the line settings: the reverse of construction.
    lineControl_.reset();
    lineSettings_.reset();
}

int CommLink::ReadByte(int timeoutMs) {
    const std::uint32_t start = TickCount();
    int c = port_.GetByte();
    if (c >= 0) {
        return c;
    }
    const std::uint32_t deadline =
        start + static_cast<std::uint32_t>(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        const std::uint32_t now = TickCount();
        if (TickReached(now, deadline)) {
            return LINK_NO_DATA;
        }
        const int r = port_.WaitForInput(static_cast<int>(deadline - now));
        if (r < 0) {
            return r;
        }
        c = port_.GetByte();
        if (c >= 0) {
            return c;
        }
    }
}

int CommLink::WriteByte(std::uint8_t byte) {
    const int r = port_.PutByte(byte);
    if (charDelay_ == 0) {
        return r;
    }
    const std::uint32_t deadline = TickCount() + static_cast<std::uint32_t>(charDelay_);
    while (!TickReached(TickCount(), deadline)) {
        const int idle = port_.Idle();
        if (idle < 0) {
            return idle;
        }
    }
    return r;
}

int CommLink::ReservedOperation() {
    return LINK_UNSUPPORTED;
}

int CommLink::WriteBlock(const void* buffer, int length) {
    if (length == 0) {
        return 0;
    }
    return port_.Write(buffer, length);
}

int CommLink::InputCount() {
    QueueStatus record;
    return static_cast<int>(port_.GetQueueStatus(record, kQueueReceive).receiveCount);
}

int CommLink::OutputCount() {
    QueueStatus record;
    return static_cast<int>(port_.GetQueueStatus(record, kQueueTransmit).transmitCount);
}

int CommLink::Delay(int ms) {
    if (ms <= 0) {
        return 0;
    }
    const std::uint32_t deadline = TickCount() + static_cast<std::uint32_t>(ms);
    while (!TickReached(TickCount(), deadline)) {
        const int r = port_.Idle();
        if (r < 0) {
            return r;
        }
    }
    return 0;
}

int CommLink::CheckLine(std::uint16_t& flags) {
    const int code = port_.TakeStatus();
    flags = 0;
    if (code != 0) {
        return code;
    }
    if (!lineControl_) {
        return 0;
    }
    lineControl_->Refresh();
    const LineControl& control = *lineControl_;
    if (control.ParityError() == 1) {
        flags |= kLineParityError;
    }
    if (control.FramingError() == 1) {
        flags |= kLineFramingError;
    }
    if (control.ReceiveOverflow() == 1) {
        flags |= kLineReceiveOverflow;
    }
    if (control.Overrun() == 1) {
        flags |= kLineOverrun;
    }
    if (control.BreakReceived() == 1) {
        flags |= kLineBreakReceived;
    }
    return 0;
}

} // namespace tollan
