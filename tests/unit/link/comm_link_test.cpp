// The communication link and the line objects over the in-memory port pair: time-outs, character
// delay, purges, the line check; what the link, the line settings and flow control set up and put
// back; the line snapshot's layout; the checks of flow-control codes and formats every port makes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>
#include <utility>

#include "link/comm_link.h"
#include "link/line_control.h"
#include "link/line_settings.h"
#include "link/tick_count.h"
#include "support/memory_port.h"
#include "support/port_readings.h"

namespace tollan {
namespace {

using test::FlowOf;
using test::FormatOf;

// Nothing leaves the port: its output waits for CTS, which is off.
void HoldOutput(MemoryPort& port) {
    port.SetFlowControl(kFlowNone, kFlowCts);
    port.SetModemLine(kSignalCts, false);
}

TEST(CommLinkTest, ReadByteWaitsOnlyWhenItMust) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    const std::uint64_t idles = pair.A().IdleCount();
    EXPECT_EQ(link.ReadByte(0), LINK_NO_DATA);
    EXPECT_EQ(link.ReadByte(-5), LINK_NO_DATA);
    pair.B().PutByte(0xC3);
    EXPECT_EQ(link.InputCount(), 1);
    EXPECT_EQ(link.ReadByte(1000), 0xC3);
    EXPECT_EQ(pair.A().IdleCount(), idles); // a zero wait looks once; a waiting byte needs none

    const std::uint32_t start = TickCount();
    EXPECT_EQ(link.ReadByte(60), LINK_NO_DATA);
    EXPECT_GE(TickCount() - start, 60u);
    EXPECT_GT(pair.A().IdleCount(), idles);

    // A read ends at its time-out, and a byte that comes after it is left for the next read. The
    // byte is put only once the read has ended, or two seconds late if it never ends by itself.
    std::atomic<bool> ended = false;
    std::thread late([&] {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!ended && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        pair.B().PutByte('y');
    });
    const int timedOut = link.ReadByte(200);
    ended = true;
    late.join();
    EXPECT_EQ(timedOut, LINK_NO_DATA);
    EXPECT_EQ(link.ReadByte(0), 'y');
}

TEST(CommLinkTest, DelaysIdleAndANegativeIdleEndsEveryWait) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    std::uint64_t idles = pair.A().IdleCount();
    EXPECT_EQ(link.Delay(0), 0);
    EXPECT_EQ(link.Delay(-10), 0);
    EXPECT_EQ(link.WriteByte('1'), 0); // no character delay set
    EXPECT_EQ(pair.A().IdleCount(), idles);
    link.SetCharDelay(50);
    const std::uint32_t start = TickCount();
    EXPECT_EQ(link.WriteByte('2'), 0);
    EXPECT_GE(TickCount() - start, 50u);
    EXPECT_EQ(pair.B().GetByte(), '1');
    EXPECT_EQ(pair.B().GetByte(), '2');

    pair.A().SetIdleResult(-901);
    idles = pair.A().IdleCount();
    EXPECT_EQ(link.ReadByte(60000), -901);
    EXPECT_EQ(link.Delay(60000), -901);
    EXPECT_EQ(link.WriteByte('a'), -901);
    EXPECT_EQ(pair.A().IdleCount(), idles + 3); // one look each
    EXPECT_EQ(pair.B().GetByte(), 'a');         // sent before the delay began
}

TEST(CommLinkTest, LinkSetsUpThePortAndPutsItBack) {
    MemoryPortPair pair;
    MemoryPort& port = pair.A();
    ASSERT_EQ(port.SetFormat(2400, 'E', 7, 2), 0);
    ASSERT_EQ(port.SetFlowControl(kFlowRts, kFlowCts), 0);
    {
        CommLink link(port);
        EXPECT_EQ(FormatOf(port), std::make_tuple(9600u, 'N', 8, 1));
        EXPECT_EQ(FlowOf(port), std::make_pair(kFlowNone, kFlowNone));
    }
    EXPECT_EQ(FormatOf(port), std::make_tuple(2400u, 'E', 7, 2));
    EXPECT_EQ(FlowOf(port), std::make_pair(kFlowRts, kFlowCts));
}

TEST(CommLinkTest, CheckLineReportsEachFailureOnce) {
    MemoryPortOptions options;
    options.openStatus = LINK_NO_PORT;
    MemoryPortPair unopened(options);
    CommLink link(unopened.A());
    EXPECT_EQ(link.GetLineControl(), nullptr);
    EXPECT_EQ(link.GetLineSettings(), nullptr);
    std::uint16_t flags = 0xFFFF;
    EXPECT_EQ(link.CheckLine(flags), LINK_NO_PORT);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(link.CheckLine(flags), 0);

    // A stored failure comes first, the line errors at the next check, and each only once; the
    // held bytes are counted until purged.
    options = {};
    options.transmitSize = 4;
    MemoryPortPair pair(options);
    CommLink held(pair.A());
    HoldOutput(pair.A());
    EXPECT_EQ(held.WriteBlock("1234", 4), 4);
    EXPECT_EQ(held.WriteByte('5'), LINK_WRITE_SHORT);
    EXPECT_EQ(held.OutputCount(), 4);
    for (int code : {kSignalParityError, kSignalBreakReceived, kSignalOverrun, kSignalFramingError,
                     kSignalReceiveOverflow}) {
        pair.A().InjectLineError(code);
    }
    EXPECT_EQ(held.CheckLine(flags), LINK_WRITE_SHORT);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(held.CheckLine(flags), 0);
    EXPECT_EQ(flags, kLineParityError | kLineBreakReceived | kLineOverrun | kLineFramingError |
                         kLineReceiveOverflow);
    EXPECT_EQ(held.CheckLine(flags), 0);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(held.PurgeOutput(), 0); // the held bytes go
    EXPECT_EQ(held.OutputCount(), 0);
}

TEST(LineSettingsTest, SecondObjectOnALinkRestoresTheLinksSettings) {
    EXPECT_EQ(LineSettings().Set(9600, 'N', 8, 1), LINK_FAILED); // no port
    MemoryPortPair pair;
    CommLink link(pair.A());
    {
        LineSettings run(&link);
        EXPECT_EQ(FormatOf(pair.A()), std::make_tuple(1200u, 'N', 8, 1)); // its own set
        EXPECT_EQ(run.Set(38400, 'O', 7, 2), 0);
        EXPECT_EQ(FormatOf(pair.A()), std::make_tuple(38400u, 'O', 7, 2));
        // A refused speed puts the old one back; a refused full set stays the object's own.
        EXPECT_EQ(run.SetSpeed(0), LINK_FAILED);
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
    {
        LineControl run(link);
        EXPECT_EQ(run.SetFlowControl(kFlowXonXoff, kFlowXonXoff), 0);
        // A refused pair is stored as current but leaves the port as it was.
        EXPECT_EQ(run.SetFlowControl(2, 0), LINK_FAILED);
        EXPECT_EQ(run.InputFlow(), 2);
        EXPECT_EQ(FlowOf(pair.A()), std::make_pair(kFlowXonXoff, kFlowXonXoff));
    }
    EXPECT_EQ(FlowOf(pair.A()), std::make_pair(kFlowNone, kFlowNone));

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
    port.Signal(kSignalBreakState, 1);
    port.SetModemLine(kSignalDsr, false);
    port.SetModemLine(kSignalRing, true);
    port.SetModemLine(kSignalCarrier, false); // CTS stays on
    for (int code : {kSignalBreakReceived, kSignalParityError, kSignalOverrun, kSignalFramingError,
                     kSignalReceiveOverflow}) {
        port.InjectLineError(code);
    }
    LineSnapshot s;
    EXPECT_EQ(port.GetLineSnapshot(s), 0);
    // DTR 1, RTS 0, break 1, DSR 0 | CTS 1, RI 1, DCD 0, code 20 | codes 19, 17, 18, break
    // received 1 | parity, framing, overflow and overrun 1
    EXPECT_EQ(std::make_tuple(s.bytes[0], s.bytes[1], s.bytes[2], s.bytes[3]),
              std::make_tuple(0x11, 0x05, 0x40, 0x55));
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
    EXPECT_EQ(FlowOf(port), std::make_pair(kFlowDtr, kFlowDsr));
    EXPECT_EQ(FormatOf(port), std::make_tuple(9600u, 'E', 7, 1));
}

// A port without any device: every operation is left abstract.
class BarePort : public CommPort {
public:
    BarePort() { SetStatus(LINK_FAILED); }
};

TEST(CommLinkDeathTest, AbstractPortOperationEndsTheProcessWithItsReport) {
    BarePort port;
    CommLink link(port); // a port that did not open: the link touches nothing
    EXPECT_EQ(link.WriteBlock(nullptr, 0), 0);
    EXPECT_EXIT(static_cast<void>(link.PurgeOutput()), testing::ExitedWithCode(1),
                "Pure Virtual function called @COMLINK,283\nUnable to continue execution\n");
}

} // namespace
} // namespace tollan
