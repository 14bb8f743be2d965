// The line objects and the port contract shared by every port, over the in-memory pair: line
// settings and flow control put back what they found, the line snapshot's layout, the port open
// table, and the checks of flow-control codes and formats.
#include <gtest/gtest.h>

#include <memory>

#include "comm_link.h"
#include "line_control.h"
#include "line_settings.h"
#include "memory_port.h"

namespace tollan {
namespace {

struct Format {
    std::uint32_t speed = 0;
    char parity = 0;
    int dataBits = 0;
    int stopBits = 0;
};

Format FormatOf(CommPort& port) {
    Format f;
    port.GetFormat(f.speed, f.parity, f.dataBits, f.stopBits);
    return f;
}

TEST(LineSettingsTest, WithoutAPortNothingApplies) {
    LineSettings settings;
    EXPECT_EQ(settings.Apply(), LINK_FAILED);
    EXPECT_EQ(settings.Set(9600, 'N', 8, 1), LINK_FAILED);
    EXPECT_EQ(settings.Speed(), 9600u);
}

TEST(LineSettingsTest, SecondObjectOnALinkRestoresTheLinksSettings) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    {
        LineSettings run(&link);
        // Attaching applies the new object's own set, 1200 N 8 1.
        EXPECT_EQ(FormatOf(pair.A()).speed, 1200u);
        EXPECT_EQ(run.SetSpeed(57600), 0);
        EXPECT_EQ(FormatOf(pair.A()).speed, 57600u);
        EXPECT_EQ(run.Set(38400, 'O', 7, 2), 0);
        const Format f = FormatOf(pair.A());
        EXPECT_EQ(f.speed, 38400u);
        EXPECT_EQ(f.parity, 'O');
        EXPECT_EQ(f.dataBits, 7);
        EXPECT_EQ(f.stopBits, 2);
    }
    const Format f = FormatOf(pair.A());
    EXPECT_EQ(f.speed, 9600u);
    EXPECT_EQ(f.parity, 'N');
    EXPECT_EQ(f.dataBits, 8);
    EXPECT_EQ(f.stopBits, 1);
}

TEST(LineSettingsTest, RefusedSpeedKeepsTheOldOne) {
    MemoryPortOptions options;
    options.maxSpeed = 115200;
    MemoryPortPair pair(options);
    CommLink link(pair.A());
    LineSettings run(&link);
    ASSERT_EQ(run.SetSpeed(19200), 0);
    EXPECT_EQ(run.SetSpeed(230400), LINK_FAILED);
    EXPECT_EQ(run.Speed(), 19200u);
    EXPECT_EQ(FormatOf(pair.A()).speed, 19200u);
    EXPECT_EQ(pair.A().TakeStatus(), LINK_BAD_SPEED);
    // A refused full set stays the object's current set (only SetSpeed puts the old one back).
    EXPECT_EQ(run.Set(19200, 'x', 8, 1), LINK_FAILED);
    EXPECT_EQ(run.Parity(), 'x');
    EXPECT_EQ(FormatOf(pair.A()).parity, 'N');
}

TEST(LineControlTest, RemembersFlowCodesAndPutsThemBack) {
    MemoryPortPair pair;
    CommLink link(pair.A()); // flow control none
    int input = -1, output = -1;
    {
        LineControl run(link);
        EXPECT_EQ(run.SetFlowControl(kFlowXonXoff, kFlowXonXoff), 0);
        pair.A().GetFlowControl(input, output);
        EXPECT_EQ(input, kFlowXonXoff);
        EXPECT_EQ(output, kFlowXonXoff);
        // A refused pair is stored as current but leaves the port as it was.
        EXPECT_EQ(run.SetFlowControl(2, 0), LINK_FAILED);
        EXPECT_EQ(run.InputFlow(), 2);
        EXPECT_EQ(pair.A().TakeStatus(), LINK_BAD_INPUT_FLOW);
        pair.A().GetFlowControl(input, output);
        EXPECT_EQ(input, kFlowXonXoff);
        EXPECT_EQ(run.SetFlowControl(kFlowRts, kFlowCts), 0);
    }
    pair.A().GetFlowControl(input, output);
    EXPECT_EQ(input, kFlowNone);
    EXPECT_EQ(output, kFlowNone);
}

TEST(LineControlTest, ReadersTakeTheirFieldsFromTheSnapshot) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    LineControl& control = *link.GetLineControl();
    pair.A().InjectLineError(kSignalBreakReceived);
    pair.A().InjectLineError(kSignalFramingError);
    control.Refresh();
    EXPECT_EQ(control.BreakReceived(), 1);
    EXPECT_EQ(control.FramingError(), 1);
    EXPECT_EQ(control.ParityError(), 0);
    EXPECT_EQ(control.Overrun(), 0);
    EXPECT_EQ(control.ReceiveOverflow(), 0);
    control.Refresh();
    EXPECT_EQ(control.BreakReceived(), 0);
    EXPECT_EQ(control.FramingError(), 0);
}

TEST(LineSnapshotTest, FieldsSitWhereTheLayoutPutsThem) {
    MemoryPortPair pair;
    MemoryPort& port = pair.A();
    port.Signal(kSignalRts, 0); // DTR stays on
    port.SetBreak(1);           // break state on
    port.SetModemLine(kSignalDsr, false);
    port.SetModemLine(kSignalRing, true);
    port.SetModemLine(kSignalCarrier, false); // CTS stays on
    port.InjectLineError(kSignalBreakReceived);
    port.InjectLineError(kSignalParityError);
    port.InjectLineError(kSignalOverrun);

    LineSnapshot snapshot;
    EXPECT_EQ(port.GetLineSnapshot(snapshot), 0);
    EXPECT_EQ(snapshot.bytes[0], 0x11); // DTR 1, RTS 0, break 1, DSR 0
    EXPECT_EQ(snapshot.bytes[1], 0x05); // CTS 1, RI 1, DCD 0, code 20
    EXPECT_EQ(snapshot.bytes[2], 0x40); // codes 19, 17, 18, break received 1
    EXPECT_EQ(snapshot.bytes[3], 0x41); // parity 1, framing 0, overflow 0, overrun 1

    // The errors were cleared by the first snapshot; the lines stay.
    EXPECT_EQ(port.GetLineSnapshot(snapshot), 0);
    EXPECT_EQ(snapshot.bytes[0], 0x11);
    EXPECT_EQ(snapshot.bytes[1], 0x05);
    EXPECT_EQ(snapshot.bytes[2], 0x00);
    EXPECT_EQ(snapshot.bytes[3], 0x00);

    port.InjectLineError(kSignalFramingError);
    port.InjectLineError(kSignalReceiveOverflow);
    port.GetLineSnapshot(snapshot);
    EXPECT_EQ(snapshot.bytes[3], 0x14);
    EXPECT_EQ(snapshot.FieldOf(kSignalFramingError), 1);
    EXPECT_EQ(snapshot.FieldOf(16), -1);
}

TEST(LineSnapshotTest, DroppedDtrShowsInQueryAndSnapshot) {
    MemoryPortPair pair;
    EXPECT_EQ(pair.A().Signal(kSignalDtr, 0), 0);
    EXPECT_EQ(pair.A().Signal(kSignalDtr, -1), 0);
    LineSnapshot snapshot;
    pair.A().GetLineSnapshot(snapshot);
    EXPECT_EQ(snapshot.FieldOf(kSignalDtr), 0);
    EXPECT_EQ(pair.A().Signal(kSignalDtr, 7), 1);
}

TEST(PortContractTest, SignalQueriesOfUnknownAndReservedCodes) {
    MemoryPortPair pair;
    EXPECT_EQ(pair.A().Signal(16, -1), 2);
    EXPECT_EQ(pair.A().Signal(0, -1), 2);
    EXPECT_EQ(pair.A().Signal(32, 1), 2);
    for (int code = 17; code <= 20; ++code) {
        EXPECT_EQ(pair.A().Signal(code, -1), 0) << code;
    }
    // A value given with a line that cannot be set is ignored.
    EXPECT_EQ(pair.A().Signal(kSignalCts, 0), 1);
}

TEST(PortContractTest, BreakStateIsStoredAndQueried) {
    MemoryPortPair pair;
    EXPECT_EQ(pair.A().SetBreak(-1), 0);
    EXPECT_EQ(pair.A().SetBreak(1), 1);
    EXPECT_EQ(pair.A().Signal(kSignalBreakState, -1), 1);
    EXPECT_EQ(pair.B().Signal(kSignalBreakReceived, -1), 1);
    EXPECT_EQ(pair.A().Signal(kSignalBreakState, 0), 0);
    EXPECT_EQ(pair.A().SetBreak(-1), 0);
}

TEST(PortContractTest, FlowControlCodes) {
    MemoryPortPair pair;
    MemoryPort& port = pair.A();
    int input = -1, output = -1;
    EXPECT_EQ(port.SetFlowControl(kFlowDtr, kFlowDsr), 0);
    EXPECT_EQ(port.SetFlowControl(2, 0), LINK_FAILED);
    EXPECT_EQ(port.TakeStatus(), LINK_BAD_INPUT_FLOW);
    EXPECT_EQ(port.SetFlowControl(kFlowDsr, 0), LINK_UNSUPPORTED);
    EXPECT_EQ(port.TakeStatus(), LINK_UNSUPPORTED);
    EXPECT_EQ(port.SetFlowControl(0, kFlowCarrier), LINK_UNSUPPORTED);
    EXPECT_EQ(port.SetFlowControl(0, 4), LINK_BAD_PARAMETER);
    EXPECT_EQ(port.TakeStatus(), LINK_BAD_PARAMETER);
    // Input is checked first.
    EXPECT_EQ(port.SetFlowControl(99, 99), LINK_FAILED);
    EXPECT_EQ(port.TakeStatus(), LINK_BAD_INPUT_FLOW);
    EXPECT_EQ(port.GetFlowControl(input, output), 0);
    EXPECT_EQ(input, kFlowDtr);
    EXPECT_EQ(output, kFlowDsr);
}

TEST(PortContractTest, FormatChecksComeBeforeAnyChange) {
    MemoryPortPair pair;
    MemoryPort& port = pair.A();
    ASSERT_EQ(port.SetFormat(9600, 'E', 7, 1), 0);
    EXPECT_EQ(port.SetFormat(1200, 'n', 8, 1), LINK_BAD_PARITY);
    EXPECT_EQ(port.SetFormat(1200, 'N', 9, 1), LINK_BAD_DATA_BITS);
    EXPECT_EQ(port.SetFormat(1200, 'N', 3, 1), LINK_BAD_DATA_BITS);
    EXPECT_EQ(port.SetFormat(1200, 'N', 8, 0), LINK_BAD_STOP_BITS);
    // Parity is looked at first, then data bits, then stop bits.
    EXPECT_EQ(port.SetFormat(1200, 'x', 9, 3), LINK_BAD_PARITY);
    EXPECT_EQ(port.SetFormat(1200, 'N', 9, 3), LINK_BAD_DATA_BITS);
    EXPECT_EQ(port.Status(), LINK_BAD_DATA_BITS);
    Format f = FormatOf(port);
    EXPECT_EQ(f.speed, 9600u);
    EXPECT_EQ(f.parity, 'E');
    EXPECT_EQ(f.dataBits, 7);

    EXPECT_EQ(port.SetFormat(300, 'S', 5, 2), 0);
    f = FormatOf(port);
    EXPECT_EQ(f.dataBits, 5);
    EXPECT_EQ(f.stopBits, 1); // one and a half
}

TEST(PortOpenTableTest, SecondOpenOfANumberIsRefusedAndLeavesTheFirstAlone) {
    MemoryPortOptions options;
    options.portNumberA = 3;
    auto first = std::make_unique<MemoryPortPair>(options);
    ASSERT_EQ(first->A().Status(), 0);
    EXPECT_EQ(PortOpenCount(3), 1);
    {
        MemoryPortPair second(options);
        EXPECT_EQ(second.A().Status(), LINK_PORT_IN_USE);
        EXPECT_FALSE(second.A().IsOpen());
        EXPECT_TRUE(second.B().IsOpen()); // not in the table
        EXPECT_EQ(PortOpenCount(3), 1);
    }
    EXPECT_EQ(PortOpenCount(3), 1);
    EXPECT_EQ(first->A().PutByte('k'), 0);
    EXPECT_EQ(first->B().GetByte(), 'k');
    first.reset();
    EXPECT_EQ(PortOpenCount(3), 0);
    MemoryPortPair again(options);
    EXPECT_EQ(again.A().Status(), 0);
}

TEST(PortOpenTableTest, NumbersBeyondTheTableCannotBeOpened) {
    MemoryPortOptions options;
    options.portNumberA = kPortOpenTableSize;
    MemoryPortPair pair(options);
    EXPECT_EQ(pair.A().Status(), LINK_NO_PORT);
    EXPECT_EQ(PortOpenCount(kPortOpenTableSize), 0);
}

} // namespace
} // namespace tollan
