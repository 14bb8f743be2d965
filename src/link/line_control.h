// Changes a port's flow control for as long as it lives (remembering the codes it found and
// putting them back when destroyed), and holds the last line snapshot: the modem status lines
// and the receive errors seen. The engines read carrier detect from the link's own object.
#pragma once

#include "link/comm_port.h"

namespace tollan {

class CommLink;

class LineControl {
public:
    // Takes the link's port (which must be open), refreshes the snapshot and remembers the
    // port's current flow-control codes.
    explicit LineControl(CommLink& link);
    // Sets the remembered codes again.
    virtual ~LineControl();

    LineControl(const LineControl&) = delete;
    LineControl& operator=(const LineControl&) = delete;

    // Stores the codes as current; the port's SetFlowControl() result.
    [[nodiscard]] int SetFlowControl(int input, int output);
    // Takes a new line snapshot from the port (which clears the port's accumulated errors).
    void Refresh();

    // Two-bit fields of the last snapshot (1 on or seen, 0 off); they do not refresh it.
    int Carrier() const { return snapshot_.FieldOf(kSignalCarrier); }
    int BreakReceived() const { return snapshot_.FieldOf(kSignalBreakReceived); }
    int ParityError() const { return snapshot_.FieldOf(kSignalParityError); }
    int FramingError() const { return snapshot_.FieldOf(kSignalFramingError); }
    int ReceiveOverflow() const { return snapshot_.FieldOf(kSignalReceiveOverflow); }
    int Overrun() const { return snapshot_.FieldOf(kSignalOverrun); }
    const LineSnapshot& Snapshot() const { return snapshot_; }

    int InputFlow() const { return input_; }
    int OutputFlow() const { return output_; }

private:
    int savedInput_ = 0;
    int savedOutput_ = 0;
    int input_ = 0;
    int output_ = 0;
    LineSnapshot snapshot_;
    CommPort& port_;
};

} // namespace tollan
