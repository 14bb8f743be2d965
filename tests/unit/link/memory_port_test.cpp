// What the engine tests rely on in the in-memory port pair beyond the port contract: held sending
// and repeatable corruption.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "link/line_control.h"
#include "support/memory_port.h"

namespace tollan {
namespace {

TEST(MemoryPortTest, CtsHandshakeHoldsSending) {
    MemoryPortPair pair;
    ASSERT_EQ(pair.A().SetFlowControl(kFlowRts, kFlowCts), 0);
    pair.A().SetModemLine(kSignalCts, false);
    EXPECT_EQ(pair.A().PutString("held"), 4);
    QueueStatus record;
    pair.A().GetQueueStatus(record, kQueueAll);
    EXPECT_EQ(record.transmitCount, 4u);
    EXPECT_EQ(record.holdFlags & kHoldBlockReceived, kHoldBlockReceived);
    EXPECT_EQ(pair.B().GetByte(), LINK_NO_DATA);
    pair.A().SetModemLine(kSignalCts, true);
    EXPECT_EQ(pair.B().GetByte(), 'h');
}

TEST(MemoryPortTest, CorruptionFlipsOneBitInSomeBytesAndIsRepeatable) {
    MemoryPortOptions options;
    options.errorInterval = 10;
    options.seed = 7;
    options.receiveSize = options.transmitSize = 10000;
    std::vector<std::uint8_t> data(10000);
    std::iota(data.begin(), data.end(), 0);
    std::vector<std::uint8_t> first;
    for (int run = 0; run < 2; ++run) {
        MemoryPortPair pair(options);
        ASSERT_EQ(pair.A().Write(data.data(), 10000), 10000);
        std::vector<std::uint8_t> got(10000);
        ASSERT_EQ(pair.B().Read(got.data(), 10000), 10000);
        int changed = 0;
        for (std::size_t i = 0; i < data.size(); ++i) {
            const std::uint8_t diff = data[i] ^ got[i];
            changed += diff != 0;
            EXPECT_EQ(diff & (diff - 1), 0) << "more than one bit at " << i;
        }
        EXPECT_EQ(static_cast<std::uint64_t>(changed), pair.A().CorruptedCount());
        EXPECT_GT(changed, 800);
        EXPECT_LT(changed, 1200);
        EXPECT_TRUE(run == 0 || got == first);
        first = got;
    }
}

} // namespace
} // namespace tollan
