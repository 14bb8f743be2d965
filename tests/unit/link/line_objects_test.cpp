// The line objects and the port contract shared by every port, over the in-memory pair: line
// settings and flow control put back what they found, the line snapshot's layout, and the checks
// of flow-control codes and formats.
#include <gtest/gtest.h>

#include <tuple>

#include "link/comm_link.h"
#include "link/line_control.h"
#include "link/line_settings.h"
#include "support/memory_port.h"

namespace tollan {
namespace {

std::tuple<std::uint32_t, char, int, int> FormatOf(CommPort& port) {
    std::tuple<std::uint32_t, char, int, int> f;
    port.GetFormat(std::get<0>(f), std::get<1>(f), std::get<2>(f), std::get<3>(f));
    return f;
}

TEST(LineSettingsTest, SecondObjectOnALinkRestoresTheLinksSettings) {
    EXPECT_EQ(LineSettings().Set(9600, 'N', 8, 1), LINK_FAILED); // no port
    MemoryPortOptions options;
    options.maxSpeed = 115200;
    MemoryPortPair pair(options);
    CommLink link(pair.A());
    {
        LineSettings run(&link);
        EXPECT_EQ(FormatOf(pair.A()), std::make_tuple(1200u, 'N', 8, 1)); // its own set
        EXPECT_EQ(run.Set(38400, 'O', 7, 2), 0);
        EXPECT_EQ(FormatOf(pair.A()), std::make_tuple(38400u, 'O', 7, 2));
        // A refused speed puts the old one back; a refused full set stays the object's own.
        EXPECT_EQ(run.SetSpeed(230400), LINK_FAILED);
        EXPECT_EQ(run.Speed(), 38400u);
        EXPECT_EQ(pair.A().TakeStatus(), LINK_BAD_SPEED);
        EXPECT_EQ(run.Set(19200, 'x', 8, 1), LINK_FAILED);
        EXPECT_EQ(run.Parity(), 'x');
        EXPECT_EQ(FormatOf(pair.A()), std::make_tuple(38400u, 'O', 7, 2));
    }
    EXPECT_EQ(FormatOf(pair.A()), std::make_tuple(9600u, 'N', 8, 1));
}

TEST(LineControlTest, PutsBackTheFlowCodesAndReadsTheLastSnapshot) {
    MemoryPortPair pair;
    CommLink link(pair.A()); // flow control none
    int input = -1, output = -1;
    {
        LineControl run(link);
        EXPECT_EQ(run.SetFlowControl(kFlowXonXoff, kFlowXonXoff), 0);
        // A refused pair is stored as current but leaves the port as it was.
        EXPECT_EQ(run.SetFlowControl(2, 0), LINK_FAILED);
        EXPECT_EQ(run.InputFlow(), 2);
        pair.A().GetFlowControl(input, output);
        EXPECT_EQ(input, kFlowXonXoff);
        EXPECT_EQ(output, kFlowXonXoff);
    }
    pair.A().GetFlowControl(input, output);
    EXPECT_EQ(input, kFlowNone);
    EXPECT_EQ(output, kFlowNone);

    LineControl& control = *link.GetLineControl();
    EXPECT_EQ(control.Carrier(), 1);
    pair.A().SetModemLine(kSignalCarrier, false);
    EXPECT_EQ(control.Carrier(), 1);
    control.Refresh();
    EXPECT_EQ(control.Carrier(), 0);
}

TEST(LineSnapshotTest, FieldsSitWhereTheLayoutPutsThem) {
    MemoryPortPair pair;
    MemoryPort& port = pair.A();
    port.Signal(kSignalRts, 0); // DTR stays on
    port.SetBreak(1);
    port.SetModemLine(kSignalDsr, false);
    port.SetModemLine(kSignalRing, true);
    port.SetModemLine(kSignalCarrier, false); // CTS stays on
    for (int code : {kSignalBreakReceived, kSignalParityError, kSignalOverrun}) {
        port.InjectLineError(code);
    }
    LineSnapshot s;
    EXPECT_EQ(port.GetLineSnapshot(s), 0);
    // DTR 1, RTS 0, break 1, DSR 0 | CTS 1, RI 1, DCD 0, code 20 | codes 19, 17, 18, break
    // received 1 | parity 1, framing 0, overflow 0, overrun 1
    EXPECT_EQ(std::make_tuple(s.bytes[0], s.bytes[1], s.bytes[2], s.bytes[3]),
              std::make_tuple(0x11, 0x05, 0x40, 0x41));
    // The first snapshot cleared the errors; the lines stay.
    port.InjectLineError(kSignalFramingError);
    port.InjectLineError(kSignalReceiveOverflow);
    port.GetLineSnapshot(s);
    EXPECT_EQ(std::make_tuple(s.bytes[0], s.bytes[1], s.bytes[2], s.bytes[3]),
              std::make_tuple(0x11, 0x05, 0x00, 0x14));
    EXPECT_EQ(s.FieldOf(16), -1);
}

TEST(PortContractTest, FlowCodesAndFormatAreCheckedBeforeAnyChange) {
    MemoryPortPair pair;
    MemoryPort& port = pair.A();
    ASSERT_EQ(port.SetFlowControl(kFlowDtr, kFlowDsr), 0);
    ASSERT_EQ(port.SetFormat(9600, 'E', 7, 1), 0);
    struct Flow {
        int input, output, result, status;
    };
    const Flow flows[] = {
        {2, 0, LINK_FAILED, LINK_BAD_INPUT_FLOW},
        {99, 99, LINK_FAILED, LINK_BAD_INPUT_FLOW}, // input first
        {kFlowDsr, 0, LINK_UNSUPPORTED, LINK_UNSUPPORTED},
        {0, kFlowCarrier, LINK_UNSUPPORTED, LINK_UNSUPPORTED},
        {0, 4, LINK_BAD_PARAMETER, LINK_BAD_PARAMETER},
    };
    for (const Flow& f : flows) {
        EXPECT_EQ(port.SetFlowControl(f.input, f.output), f.result) << f.input << " " << f.output;
        EXPECT_EQ(port.TakeStatus(), f.status);
    }
    struct Shape {
        char parity;
        int dataBits, stopBits, result;
    };
    const Shape shapes[] = {
        {'n', 8, 1, LINK_BAD_PARITY},    {'N', 9, 1, LINK_BAD_DATA_BITS},
        {'N', 3, 1, LINK_BAD_DATA_BITS}, {'N', 8, 0, LINK_BAD_STOP_BITS},
        {'x', 9, 3, LINK_BAD_PARITY},    {'N', 9, 3, LINK_BAD_DATA_BITS}, // in this order
    };
    for (const Shape& s : shapes) {
        EXPECT_EQ(port.SetFormat(1200, s.parity, s.dataBits, s.stopBits), s.result) << s.parity;
    }
    int input, output;
    port.GetFlowControl(input, output);
    EXPECT_EQ(std::make_pair(input, output), std::make_pair(kFlowDtr, kFlowDsr));
    EXPECT_EQ(FormatOf(port), std::make_tuple(9600u, 'E', 7, 1));
}

} // namespace
} // namespace tollan
