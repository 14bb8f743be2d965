// The communication link over the in-memory port pair: time-outs, character delay, waits, the
// line check, and what the link sets up and restores on its port.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "comm_link.h"
#include "line_control.h"
#include "line_settings.h"
#include "memory_port.h"
#include "tick_count.h"

namespace tollan {
namespace {

std::uint32_t Since(std::uint32_t start) {
    return TickCount() - start;
}

TEST(CommLinkTest, ReadByteTakesWaitingByteWithoutIdling) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    pair.B().PutByte(0xC3);
    const std::uint64_t idles = pair.A().IdleCount();
    EXPECT_EQ(link.ReadByte(1000), 0xC3);
    EXPECT_EQ(pair.A().IdleCount(), idles);
}

TEST(CommLinkTest, ReadByteZeroLooksOnceWithoutIdling) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    const std::uint64_t idles = pair.A().IdleCount();
    EXPECT_EQ(link.ReadByte(0), LINK_NO_DATA);
    EXPECT_EQ(link.ReadByte(-5), LINK_NO_DATA);
    EXPECT_EQ(pair.A().IdleCount(), idles);
}

TEST(CommLinkTest, ReadByteTimesOutAfterItsTimeAndIdlesMeanwhile) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    const std::uint32_t start = TickCount();
    EXPECT_EQ(link.ReadByte(60), LINK_NO_DATA);
    const std::uint32_t elapsed = Since(start);
    EXPECT_GE(elapsed, 60u);
    EXPECT_LT(elapsed, 1000u);
    EXPECT_GT(pair.A().IdleCount(), 0u);
}

TEST(CommLinkTest, ReadByteReturnsByteArrivingDuringTheWait) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    std::thread sender([&pair] {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        pair.B().PutByte('x');
    });
    const std::uint32_t start = TickCount();
    EXPECT_EQ(link.ReadByte(5000), 'x');
    EXPECT_LT(Since(start), 4000u);
    sender.join();
}

TEST(CommLinkTest, NegativeIdleEndsEveryWait) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    pair.A().SetIdleResult(-901);
    const std::uint32_t start = TickCount();
    EXPECT_EQ(link.ReadByte(5000), -901);
    EXPECT_EQ(link.Delay(5000), -901);
    link.SetCharDelay(5000);
    EXPECT_EQ(link.WriteByte('a'), -901);
    EXPECT_LT(Since(start), 1000u);
    // The byte itself went out before the delay began.
    EXPECT_EQ(pair.B().GetByte(), 'a');
}

TEST(CommLinkTest, WriteByteWaitsForTheCharacterDelay) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    std::uint64_t idles = pair.A().IdleCount();
    EXPECT_EQ(link.WriteByte('1'), 0);
    EXPECT_EQ(pair.A().IdleCount(), idles);

    link.SetCharDelay(50);
    const std::uint32_t start = TickCount();
    EXPECT_EQ(link.WriteByte('2'), 0);
    EXPECT_GE(Since(start), 50u);
    EXPECT_GT(pair.A().IdleCount(), idles);
    EXPECT_EQ(pair.B().GetByte(), '1');
    EXPECT_EQ(pair.B().GetByte(), '2');
}

TEST(CommLinkTest, WriteByteReportsARefusedByte) {
    MemoryPortOptions options;
    options.transmitSize = 1;
    options.bytesPerSecond = 1; // nothing leaves during the test
    MemoryPortPair pair(options);
    CommLink link(pair.A());
    EXPECT_EQ(link.WriteByte('a'), 0);
    EXPECT_EQ(link.WriteByte('b'), LINK_WRITE_SHORT);
    EXPECT_EQ(link.OutputCount(), 1);
}

TEST(CommLinkTest, DelayWaitsAndNonPositiveDelayDoesNothing) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    const std::uint64_t idles = pair.A().IdleCount();
    EXPECT_EQ(link.Delay(0), 0);
    EXPECT_EQ(link.Delay(-10), 0);
    EXPECT_EQ(pair.A().IdleCount(), idles);
    const std::uint32_t start = TickCount();
    EXPECT_EQ(link.Delay(40), 0);
    EXPECT_GE(Since(start), 40u);
}

TEST(CommLinkTest, BlocksCountsAndPurges) {
    MemoryPortPair pair;
    CommLink a(pair.A());
    CommLink b(pair.B());
    const char text[] = "0123456789";
    EXPECT_EQ(a.WriteBlock(text, 10), 10);
    EXPECT_EQ(b.InputCount(), 10);
    EXPECT_EQ(b.PurgeInput(4), LINK_FAILED); // still input after 4 bytes
    EXPECT_EQ(b.ReadByte(0), '4');
    EXPECT_EQ(b.PurgeInput(10), 0); // 5 left, then none
    EXPECT_EQ(b.InputCount(), 0);

    pair.SetPacing(10);
    EXPECT_EQ(a.WriteBlock(text, 10), 10);
    EXPECT_GT(a.OutputCount(), 5);
    EXPECT_EQ(a.PurgeOutput(), 0);
    EXPECT_EQ(a.OutputCount(), 0);
}

TEST(CommLinkTest, WriteBlockOfNothingLeavesThePortAlone) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    pair.A().Close();
    EXPECT_EQ(link.WriteBlock(nullptr, 0), 0);
    EXPECT_EQ(pair.A().Status(), 0);
    EXPECT_EQ(link.WriteBlock("x", 1), 0);
    EXPECT_EQ(pair.A().Status(), LINK_NO_PORT);
}

TEST(CommLinkTest, TransmitQueueSizeGoesToThePort) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    EXPECT_EQ(link.SetTransmitQueue(4096), 0);
    QueueStatus record;
    pair.A().GetQueueStatus(record, kQueueAll);
    EXPECT_EQ(record.transmitSize, 4096u);
    EXPECT_EQ(record.receiveSize, 4096u);
}

TEST(CommLinkTest, RemoteHoldAndExtensionAreNotProvided) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    EXPECT_EQ(link.HoldRemote(), LINK_UNSUPPORTED);
    EXPECT_EQ(link.ReleaseRemote(), LINK_UNSUPPORTED);
    EXPECT_EQ(link.Extension(), LINK_UNSUPPORTED);
}

TEST(CommLinkTest, LinkSetsUpThePortAndPutsItBack) {
    MemoryPortPair pair;
    MemoryPort& port = pair.A();
    ASSERT_EQ(port.SetFormat(2400, 'E', 7, 2), 0);
    ASSERT_EQ(port.SetFlowControl(kFlowRts, kFlowCts), 0);
    {
        CommLink link(port);
        ASSERT_NE(link.GetLineControl(), nullptr);
        ASSERT_NE(link.GetLineSettings(), nullptr);
        std::uint32_t speed;
        char parity;
        int dataBits, stopBits, input, output;
        port.GetFormat(speed, parity, dataBits, stopBits);
        EXPECT_EQ(speed, 9600u);
        EXPECT_EQ(parity, 'N');
        EXPECT_EQ(dataBits, 8);
        EXPECT_EQ(stopBits, 1);
        port.GetFlowControl(input, output);
        EXPECT_EQ(input, kFlowNone);
        EXPECT_EQ(output, kFlowNone);
    }
    std::uint32_t speed;
    char parity;
    int dataBits, stopBits, input, output;
    port.GetFormat(speed, parity, dataBits, stopBits);
    EXPECT_EQ(speed, 2400u);
    EXPECT_EQ(parity, 'E');
    EXPECT_EQ(dataBits, 7);
    EXPECT_EQ(stopBits, 2);
    port.GetFlowControl(input, output);
    EXPECT_EQ(input, kFlowRts);
    EXPECT_EQ(output, kFlowCts);
}

TEST(CommLinkTest, CheckLineReportsAFailedOpenOnce) {
    MemoryPortOptions options;
    options.openStatus = LINK_NO_PORT;
    MemoryPortPair pair(options);
    CommLink link(pair.A());
    EXPECT_EQ(link.GetLineControl(), nullptr);
    EXPECT_EQ(link.GetLineSettings(), nullptr);
    std::uint16_t flags = 0xFFFF;
    EXPECT_EQ(link.CheckLine(flags), LINK_NO_PORT);
    EXPECT_EQ(flags, 0);
    flags = 0xFFFF;
    EXPECT_EQ(link.CheckLine(flags), 0);
    EXPECT_EQ(flags, 0);
}

TEST(CommLinkTest, CheckLineReportsEachLineErrorOnlyWhenItHappenedAgain) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    std::uint16_t flags = 0xFFFF;
    EXPECT_EQ(link.CheckLine(flags), 0);
    EXPECT_EQ(flags, 0);

    pair.A().InjectLineError(kSignalParityError);
    pair.A().InjectLineError(kSignalBreakReceived);
    EXPECT_EQ(link.CheckLine(flags), 0);
    EXPECT_EQ(flags, kLineParityError | kLineBreakReceived);
    EXPECT_EQ(link.CheckLine(flags), 0);
    EXPECT_EQ(flags, 0);

    pair.A().InjectLineError(kSignalOverrun);
    pair.A().InjectLineError(kSignalFramingError);
    pair.A().InjectLineError(kSignalReceiveOverflow);
    EXPECT_EQ(link.CheckLine(flags), 0);
    EXPECT_EQ(flags, kLineOverrun | kLineFramingError | kLineReceiveOverflow);
}

TEST(CommLinkTest, CheckLineTakesAStoredFailureFirst) {
    MemoryPortOptions options;
    options.transmitSize = 4;
    options.bytesPerSecond = 1;
    MemoryPortPair pair(options);
    CommLink link(pair.A());
    EXPECT_EQ(link.WriteBlock("123456", 6), 4);
    pair.A().InjectLineError(kSignalParityError);
    std::uint16_t flags = 0xFFFF;
    EXPECT_EQ(link.CheckLine(flags), LINK_WRITE_SHORT);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(link.CheckLine(flags), 0);
    EXPECT_EQ(flags, kLineParityError);
}

TEST(CommLinkTest, CarrierComesFromTheLastRefresh) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    LineControl& control = *link.GetLineControl();
    EXPECT_EQ(control.Carrier(), 1);
    pair.A().SetModemLine(kSignalCarrier, false);
    EXPECT_EQ(control.Carrier(), 1);
    control.Refresh();
    EXPECT_EQ(control.Carrier(), 0);
}

// A port without any device: every operation is left abstract.
class BarePort : public CommPort {
public:
    explicit BarePort(int status) { SetStatus(status); }
};

TEST(CommLinkDeathTest, AbstractPortOperationEndsTheProcessWithItsReport) {
    BarePort port(LINK_FAILED);
    CommLink link(port); // a port that did not open: the link touches nothing
    EXPECT_EQ(link.WriteBlock(nullptr, 0), 0);
    EXPECT_EXIT(link.PurgeOutput(), testing::ExitedWithCode(1),
                "Pure Virtual function called @COMLINK,283\nUnable to continue execution\n");
    EXPECT_EXIT(link.ReadByte(0), testing::ExitedWithCode(1), "@COMLINK,279\n");
    EXPECT_EXIT(port.Idle(), testing::ExitedWithCode(1), "@COMLINK,241\n");
    EXPECT_EXIT(port.Dump([](const char*) {}), testing::ExitedWithCode(1), "@COMLINK,285\n");
}

} // namespace
} // namespace tollan
