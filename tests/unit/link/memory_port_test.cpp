// What the engine tests rely on in the in-memory port pair: held sending, corruption, and both
// ends of a paced line used from threads of their own.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "comm_link.h"
#include "line_control.h"
#include "memory_port.h"

namespace tollan {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> data(size);
    std::uint32_t x = 12345;
    for (auto& byte : data) {
        x = x * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(x >> 16);
    }
    return data;
}

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
    const auto data = Pattern(10000);
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

// Both ends of a transfer run on threads of their own, as the engine tests do.
TEST(MemoryPortTest, TwoThreadsMoveABlockThroughAPacedLine) {
    MemoryPortOptions options;
    options.bytesPerSecond = 400000;
    options.receiveSize = 1024;
    options.transmitSize = 512;
    MemoryPortPair pair(options);
    const auto data = Pattern(60000);
    std::thread writer([&] {
        CommLink link(pair.A());
        link.GetLineControl()->SetFlowControl(kFlowRts, kFlowCts); // no losses when the reader lags
        for (std::size_t sent = 0; sent < data.size(); link.Idle()) {
            const int chunk = static_cast<int>(std::min<std::size_t>(700, data.size() - sent));
            sent += static_cast<std::size_t>(link.WriteBlock(data.data() + sent, chunk));
        }
        while (link.OutputCount() > 0) {
            link.Idle();
        }
    });
    std::vector<std::uint8_t> got;
    {
        CommLink link(pair.B());
        for (int c; got.size() < data.size() && (c = link.ReadByte(3000)) >= 0;) {
            got.push_back(static_cast<std::uint8_t>(c));
        }
    }
    writer.join();
    EXPECT_EQ(got, data);
}

} // namespace
} // namespace tollan
