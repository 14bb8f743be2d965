// The in-memory port pair that the engine tests run on: delivery, pacing, held sending, lost
// bytes, corruption, purges, and use from two threads at once.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "comm_link.h"
#include "line_control.h"
#include "memory_port.h"
#include "tick_count.h"

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

// Waits until `port` has `count` bytes waiting, up to `ms` milliseconds.
bool WaitForInput(CommPort& port, std::uint32_t count, std::uint32_t ms) {
    const std::uint32_t deadline = TickCount() + ms;
    QueueStatus record;
    while (port.GetQueueStatus(record, kQueueReceive).receiveCount < count) {
        if (TickReached(TickCount(), deadline)) {
            return false;
        }
        port.Idle();
    }
    return true;
}

TEST(MemoryPortTest, BytesCrossBothWays) {
    MemoryPortPair pair;
    EXPECT_EQ(pair.A().PutString("ping"), 4);
    EXPECT_EQ(pair.B().SendImmediate('!'), 0);
    EXPECT_EQ(pair.B().PutString("pong"), 4);
    char text[8] = {};
    EXPECT_EQ(pair.B().Read(text, 8), 4);
    EXPECT_STREQ(text, "ping");
    EXPECT_EQ(pair.A().Read(text, 8), 5);
    EXPECT_EQ(std::string(text, 5), "!pong");
    EXPECT_EQ(pair.A().GetByte(), LINK_NO_DATA);
    EXPECT_EQ(pair.A().Read(text, 8), 0);
}

TEST(MemoryPortTest, PacedLineDrainsItsTransmitQueueOverTime) {
    MemoryPortOptions options;
    options.bytesPerSecond = 320;
    options.transmitSize = 64;
    MemoryPortPair pair(options);
    const auto data = Pattern(100);
    const std::uint32_t start = TickCount();
    EXPECT_EQ(pair.A().Write(data.data(), 100), 64);
    EXPECT_EQ(pair.A().TakeStatus(), LINK_WRITE_SHORT);
    QueueStatus record;
    EXPECT_GT(pair.A().GetQueueStatus(record, kQueueAll).transmitCount, 40u);
    EXPECT_EQ(record.transmitSize, 64u);
    ASSERT_TRUE(WaitForInput(pair.B(), 64, 2000));
    // 64 bytes at 320 bytes per second take 200 ms.
    EXPECT_GE(TickCount() - start, 150u);
    EXPECT_EQ(pair.A().GetQueueStatus(record, kQueueAll).transmitCount, 0u);
    std::uint8_t got[64];
    EXPECT_EQ(pair.B().Read(got, 64), 64);
    EXPECT_EQ(std::vector<std::uint8_t>(got, got + 64),
              std::vector<std::uint8_t>(data.begin(), data.begin() + 64));
}

TEST(MemoryPortTest, FullReceiverHoldsAnInstantLine) {
    MemoryPortOptions options;
    options.receiveSize = 16;
    MemoryPortPair pair(options);
    const auto data = Pattern(40);
    EXPECT_EQ(pair.A().Write(data.data(), 40), 40);
    QueueStatus record;
    pair.A().GetQueueStatus(record, kQueueAll);
    EXPECT_EQ(record.transmitCount, 24u);
    EXPECT_EQ(record.holdFlags, kHoldBlockReceived);
    std::vector<std::uint8_t> got;
    std::uint8_t chunk[16];
    while (got.size() < 40) {
        const int n = pair.B().Read(chunk, 16);
        ASSERT_GT(n, 0);
        got.insert(got.end(), chunk, chunk + n);
    }
    EXPECT_EQ(got, data);
    std::uint16_t flags;
    CommLink link(pair.B());
    EXPECT_EQ(link.CheckLine(flags), 0);
    EXPECT_EQ(flags, 0);
}

TEST(MemoryPortTest, PacedLineWithoutFlowControlOverrunsAFullReceiver) {
    MemoryPortOptions options;
    options.receiveSize = 16;
    options.bytesPerSecond = 20000;
    MemoryPortPair pair(options);
    const auto data = Pattern(40);
    EXPECT_EQ(pair.A().Write(data.data(), 40), 40);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    QueueStatus record;
    EXPECT_EQ(pair.A().GetQueueStatus(record, kQueueAll).transmitCount, 0u);
    EXPECT_EQ(pair.B().GetQueueStatus(record, kQueueAll).receiveCount, 16u);
    EXPECT_EQ(pair.B().Signal(kSignalReceiveOverflow, -1), 1);
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
    options.receiveSize = 20000;
    options.transmitSize = 20000;
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
            if (diff != 0) {
                ++changed;
                EXPECT_EQ(diff & (diff - 1), 0) << "more than one bit at " << i;
            }
        }
        EXPECT_EQ(static_cast<std::uint64_t>(changed), pair.A().CorruptedCount());
        EXPECT_GT(changed, 800);
        EXPECT_LT(changed, 1200);
        if (run == 0) {
            first = got;
        } else {
            EXPECT_EQ(got, first);
        }
    }
}

TEST(MemoryPortTest, PurgesByReadingAndAtOnce) {
    MemoryPortPair pair;
    const auto data = Pattern(20);
    pair.A().Write(data.data(), 3);
    EXPECT_EQ(pair.B().Purge(0, 10), 0);
    pair.A().Write(data.data(), 20);
    EXPECT_EQ(pair.B().Purge(0, 10), LINK_FAILED);
    QueueStatus record;
    EXPECT_EQ(pair.B().GetQueueStatus(record, kQueueAll).receiveCount, 10u);
    EXPECT_EQ(pair.B().GetByte(), data[10]);
    EXPECT_EQ(pair.B().Purge(0, 0), 0);
    EXPECT_EQ(pair.B().GetQueueStatus(record, kQueueAll).receiveCount, 0u);
}

TEST(MemoryPortTest, ClosedEndTakesNothing) {
    MemoryPortPair pair;
    EXPECT_EQ(pair.B().Close(), 0);
    EXPECT_EQ(pair.B().Signal(kSignalDtr, -1), 0);
    EXPECT_EQ(pair.A().PutByte('z'), 0); // lost on the way
    EXPECT_EQ(pair.B().GetByte(), LINK_NO_DATA);
    EXPECT_EQ(pair.B().PutByte('y'), LINK_NO_PORT);
}

TEST(MemoryPortTest, DumpGivesSixLines) {
    MemoryPortPair pair;
    std::vector<std::string> lines;
    pair.A().Dump([&lines](const char* line) { lines.emplace_back(line); });
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].rfind("Port type: memory  BaudRate: 19200 ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[5], "RX sz/ct:  4096/0      TX sz/ct:  2048/0      BLOCK SENT:0  "
                        "BLOCK RECEIVED:0");
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
        // No losses when the reader lags.
        link.GetLineControl()->SetFlowControl(kFlowRts, kFlowCts);
        std::size_t sent = 0;
        while (sent < data.size()) {
            const int chunk = static_cast<int>(std::min<std::size_t>(700, data.size() - sent));
            sent += static_cast<std::size_t>(link.WriteBlock(data.data() + sent, chunk));
            link.Idle();
        }
        while (link.OutputCount() > 0) {
            link.Idle();
        }
    });
    std::vector<std::uint8_t> got;
    {
        CommLink link(pair.B());
        while (got.size() < data.size()) {
            const int c = link.ReadByte(3000);
            if (c < 0) {
                break;
            }
            got.push_back(static_cast<std::uint8_t>(c));
        }
    }
    writer.join();
    EXPECT_EQ(got, data);
}

} // namespace
} // namespace tollan
