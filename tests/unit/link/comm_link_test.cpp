// The communication link over the in-memory port pair: time-outs, character delay, purges, the
// line check, and what the link sets up on its port and puts back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "link/comm_link.h"
#include "link/line_control.h"
#include "link/line_settings.h"
#include "link/tick_count.h"
#include "support/memory_port.h"

namespace tollan {
namespace {

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
    EXPECT_EQ(link.ReadByte(1000), 0xC3);
    EXPECT_EQ(pair.A().IdleCount(), idles); // a zero wait looks once; a waiting byte needs none

    const std::uint32_t start = TickCount();
    EXPECT_EQ(link.ReadByte(60), LINK_NO_DATA);
    EXPECT_GE(TickCount() - start, 60u);
    EXPECT_GT(pair.A().IdleCount(), idles);

    std::thread sender([&pair] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pair.B().PutByte('x');
    });
    EXPECT_EQ(link.ReadByte(60000), 'x');
    sender.join();

    // A byte that comes after a read's time-out is left for the next read.
    std::atomic<bool> reading = false;
    std::thread late([&] {
        while (!reading) {
            std::this_thread::yield();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        pair.B().PutByte('y');
    });
    reading = true;
    EXPECT_EQ(link.ReadByte(200), LINK_NO_DATA);
    late.join();
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

TEST(CommLinkTest, BlocksCountsAndPurges) {
    MemoryPortPair pair;
    CommLink a(pair.A());
    CommLink b(pair.B());
    EXPECT_EQ(a.WriteBlock("0123456789", 10), 10);
    EXPECT_EQ(b.InputCount(), 10);
    EXPECT_EQ(b.PurgeInput(4), LINK_FAILED); // still input after 4 bytes
    EXPECT_EQ(b.ReadByte(0), '4');
    EXPECT_EQ(b.PurgeInput(10), 0);
    EXPECT_EQ(b.InputCount(), 0);

    HoldOutput(pair.A());
    EXPECT_EQ(a.WriteBlock("0123456789", 10), 10);
    EXPECT_EQ(a.OutputCount(), 10);
    EXPECT_EQ(a.PurgeOutput(), 0);
    EXPECT_EQ(a.OutputCount(), 0);
}

TEST(CommLinkTest, LinkSetsUpThePortAndPutsItBack) {
    MemoryPortPair pair;
    MemoryPort& port = pair.A();
    ASSERT_EQ(port.SetFormat(2400, 'E', 7, 2), 0);
    ASSERT_EQ(port.SetFlowControl(kFlowRts, kFlowCts), 0);
    const auto state = [&port] {
        std::uint32_t speed;
        char parity;
        int dataBits, stopBits, input, output;
        port.GetFormat(speed, parity, dataBits, stopBits);
        port.GetFlowControl(input, output);
        return std::make_tuple(speed, parity, dataBits, stopBits, input, output);
    };
    {
        CommLink link(port);
        EXPECT_EQ(state(), std::make_tuple(9600u, 'N', 8, 1, kFlowNone, kFlowNone));
    }
    EXPECT_EQ(state(), std::make_tuple(2400u, 'E', 7, 2, kFlowRts, kFlowCts));
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

    // A stored failure comes first, the line errors at the next check, and each only once.
    options = {};
    options.transmitSize = 4;
    MemoryPortPair pair(options);
    CommLink held(pair.A());
    HoldOutput(pair.A());
    EXPECT_EQ(held.WriteBlock("1234", 4), 4);
    EXPECT_EQ(held.WriteByte('5'), LINK_WRITE_SHORT);
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
    EXPECT_EXIT(link.PurgeOutput(), testing::ExitedWithCode(1),
                "Pure Virtual function called @COMLINK,283\nUnable to continue execution\n");
}

} // namespace
} // namespace tollan
