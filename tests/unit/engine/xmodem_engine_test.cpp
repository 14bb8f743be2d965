#include "engine/xmodem_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "engine_test_support.h"
#include "link/tick_count.h"

namespace tollan::test {
namespace {

constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kCan = 0x18;

// Block `number` of `data`, as a sender puts it on the line.
Bytes Frame(std::uint8_t number, const Bytes& data, bool crc) {
    return XModemBlock(number,
                       Bytes(data.begin() + (number - 1) * 128, data.begin() + number * 128), crc);
}

// XModem, XModem-1K and YModem between two engines, with bits flipped in both directions for
// some: the data of two frames and one of the receiver's replies. XModem
// sends 128-byte blocks with the CRC or (once the receiver has fallen back after four unanswered
// 'C's) the checksum; 33,000 bytes take 258 blocks, so the block number wraps from 255 to 0. The
// others send 1024-byte blocks while more than 896 bytes are left, 128-byte ones for the tail.
// XModem pads with 0x00, XModem-1K with 0x1A; a YModem batch announces each file in block 0, so
// the receiver cuts the padding and sets the time, and an empty file arrives empty.
TEST(XModemEngine, FilesArriveOverEveryVariant) {
    struct Case {
        Protocol protocol;
        std::vector<std::size_t> sizes;
        bool corrupt;
        bool checksum;
        std::size_t wire; // bytes the sender sends on an undamaged line (0: not checked)
    };
    // Frames of 1029 bytes (STX, 1024), of 133 (SOH, 128, block 0), EOTs.
    constexpr std::size_t kBatchWire = (133 + 1) + (2 * 133 + 1) * 2 + (133 + 1029 + 1) +
                                       (133 + 1029 + 133 + 1) + (133 + 39 * 1029 + 133 + 1) + 133;
    const Case cases[] = {
        {Protocol::kXModem, {1}, false, false, 133 + 1},
        {Protocol::kXModem, {33000}, true, false, 0},
        {Protocol::kXModem, {1000}, true, true, 0},
        {Protocol::kXModem1K, {897}, false, false, 1029 + 1},
        {Protocol::kXModem1K, {5000}, true, false, 0},
        {Protocol::kXModem1K, {896}, false, false, 7 * 133 + 1},
        {Protocol::kYModem, {0, 1, 128, 1024, 1025, 40000}, false, false, kBatchWire},
        {Protocol::kYModem, {3000, 70}, true, false, 0},
    };
    constexpr std::int32_t kTime = 0x40000000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sizes.back());
        EnginePair<XModemEngine> p;
        for (XModemEngine* engine : {&p.sender, &p.receiver}) {
            engine->SetProtocol(c.protocol);
            engine->SetMaxErrors(0);
        }
        std::string list;
        std::vector<Bytes> files;
        for (std::size_t i = 0; i < c.sizes.size(); ++i) {
            files.push_back(Pattern(c.sizes[i], static_cast<unsigned>(i + 3)));
            const std::string path = p.from.Path("f" + std::to_string(i) + ".bin");
            WriteFile(path, files.back());
            FileTime(path, kTime + static_cast<std::int32_t>(i) * 3600);
            list += (list.empty() ? "" : ";") + path;
        }
        if (c.corrupt) {
            p.tx.memory.CorruptSent(1500, 0x01);
            p.tx.memory.CorruptSent(3, 0x10);
            p.rx.memory.CorruptSent(2, 0x02);
        }
        const bool batch = c.protocol == Protocol::kYModem;
        const std::string target = "got.bin";
        p.Run(list, batch ? "" : target, [&] {
            const std::uint32_t start = TickCount();
            while (c.checksum && p.rx.status.SeenCheckType() != kCheckSum8 &&
                   TickCount() - start < 60000) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        EXPECT_EQ(p.sent, TE_OK);
        EXPECT_EQ(p.received, TE_OK);
        EXPECT_EQ(p.rx.status.fileCount_, static_cast<int>(files.size()));
        EXPECT_EQ(p.rx.status.checkType_, c.checksum ? kCheckSum8 : kCheckCrc16);
        EXPECT_EQ(p.rx.status.LastCode(), batch ? 0 : TE_DONE);
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::string name = batch ? "f" + std::to_string(i) + ".bin" : target;
            Bytes expected = files[i];
            if (!batch) {
                expected.resize((expected.size() + 127) / 128 * 128,
                                c.protocol == Protocol::kXModem ? 0x00 : 0x1A);
            }
            EXPECT_EQ(ReadFile(name), expected) << name;
            EXPECT_TRUE(!batch || FileTime(name) == kTime + static_cast<std::int64_t>(i) * 3600);
        }
        // A batch counts errors per file; its receiver answers only with control bytes, and a NAK
        // there is a data block it refused.
        const Bytes replies = p.rx.memory.Sent();
        EXPECT_EQ(batch ? std::count(replies.begin(), replies.end(), kNak) > 0
                        : p.rx.status.errorCount_ > 0,
                  c.corrupt);
        EXPECT_TRUE(c.wire == 0 || p.tx.memory.Sent().size() == c.wire);
    }
}

// The receiver against hand-made frames. It asks with 'C' four times, then falls back to NAK
// (the checksum blocks that follow are taken); an EOT before any block is acknowledged and the
// receiver asks again; a repeated block is acknowledged, written once and counted as an error. With
// a limit of three, a CRC-16 block is taken, then three damaged ones in a row end the run with the
// cancel.
TEST(XModemEngine, ReceiverFallbackRepeatsAndErrorLimit) {
    for (const int limit : {0, 3}) {
        PeerLine l;
        RawPeer& peer = l.peer;
        XModemEngine receiver(l.side.link.get(), &l.side.status);
        receiver.SetMaxErrors(limit);
        ScratchFolder dir;
        std::string target = dir.Path("t.bin");
        const Bytes data = Pattern(256);
        int received = 1;
        Bytes tail;
        RunBoth([&] { received = receiver.Receive(target.data()); },
                [&] {
                    if (limit != 0) {
                        EXPECT_EQ(peer.Read(kPeerWait), 'C');
                        peer.Send(Frame(1, data, true));
                        EXPECT_EQ(peer.Read(kPeerWait), kAck);
                        const Bytes bad = Flipped(Frame(2, data, true), 60, 0x04);
                        for (int i = 0; i < 3; ++i) {
                            peer.Send(bad);
                            EXPECT_EQ(peer.Read(kPeerWait), kNak);
                        }
                        tail = peer.ReadUntilSilent(kSilence);
                        return;
                    }
                    EXPECT_EQ(peer.ReadN(5, kPeerWait), (Bytes{'C', 'C', 'C', 'C', kNak}));
                    peer.Send(kEot);
                    EXPECT_EQ(peer.ReadN(2, kPeerWait), (Bytes{kAck, kNak}));
                    for (const int block : {1, 1, 2}) {
                        peer.Send(Frame(static_cast<std::uint8_t>(block), data, false));
                        EXPECT_EQ(peer.Read(kPeerWait), kAck);
                    }
                    peer.Send(kEot);
                    EXPECT_EQ(peer.Read(kPeerWait), kAck);
                });
        if (limit == 0) {
            EXPECT_EQ(received, TE_OK);
            EXPECT_EQ(ReadFile(target), data);
            EXPECT_EQ(l.side.status.errorCount_, 1);
        } else {
            EXPECT_EQ(received, TE_TOO_MANY_ERRORS);
            Bytes expected = CancelSequence();
            expected.push_back(kCan);
            EXPECT_EQ(tail, expected);
        }
    }
}

} // namespace
} // namespace tollan::test
