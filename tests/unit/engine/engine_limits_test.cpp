// The long limits of the engine base, on a clock a thousand times as fast as the wall clock: a
// byte refused for 30 seconds, a block of which nothing more goes out for 60 seconds. The other
// side holds our output (CTS off) and the transmit queue is full, so nothing moves at all.
#include <gtest/gtest.h>

#include "engine/transfer_engine.h"
#include "engine_test_support.h"

namespace tollan::test {
namespace {

static_assert(kClockSpeed >= 1000, "this program needs the very fast clock");

class LimitEngine : public TransferEngine {
public:
    using TransferEngine::TransferEngine;
    int Send(char*) override { return 0; }
    int Receive(char*) override { return 0; }
    using TransferEngine::SendBlock;
    using TransferEngine::SendByte;
};

TEST(TransferEngineLimits, HeldOutputTimesOut) {
    MemoryPortOptions options;
    options.transmitSize = 64;
    MemoryPortPair line(options);
    Side side(line.A());
    line.A().SetFlowControl(kFlowNone, kFlowCts);
    line.A().SetModemLine(kSignalCts, false);
    const Bytes fill = Pattern(200);
    ASSERT_EQ(side.link->WriteBlock(fill.data(), 64), 64);
    LimitEngine engine(side.link.get(), &side.status);
    EXPECT_EQ(engine.SendByte(0x41), LINK_WRITE_SHORT);
    EXPECT_EQ(side.status.code_, TE_SEND_BYTE_TIMEOUT);
    side.status.code_ = 0;
    EXPECT_EQ(engine.SendBlock(fill.data(), 200), TE_SEND_TIMEOUT);
    EXPECT_EQ(side.status.code_, TE_SEND_TIMEOUT);
}

} // namespace
} // namespace tollan::test
