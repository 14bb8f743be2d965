#include "xmodem_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "block_check.h"
#include "fast_clock.h"
#include "tick_count.h"

namespace tollan::test {
namespace {

constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kCan = 0x18;

// The file as the receiver stores it: whole blocks, the last one padded with 0x00.
Bytes Padded(Bytes data) {
    data.resize((data.size() + 127) / 128 * 128, 0x00);
    return data;
}

// An XModem frame as a sender puts it on the line.
Bytes Frame(std::uint8_t number, const Bytes& data, bool crc) {
    Bytes block = data;
    block.resize(128, 0x00);
    Bytes frame(3 + block.size());
    frame[0] = kSoh;
    frame[1] = number;
    frame[2] = static_cast<std::uint8_t>(255 - number);
    std::copy(block.begin(), block.end(), frame.begin() + 3);
    if (crc) {
        Crc16Check check;
        const std::uint32_t v = check.Compute(block.data(), block.size(), 0);
        frame.push_back(static_cast<std::uint8_t>(v >> 8));
        frame.push_back(static_cast<std::uint8_t>(v));
    } else {
        BlockCheck check;
        frame.push_back(static_cast<std::uint8_t>(check.Compute(block.data(), block.size(), 0)));
    }
    return frame;
}

Bytes Slice(const Bytes& data, std::size_t from, std::size_t n) {
    from = std::min(from, data.size());
    n = std::min(n, data.size() - from);
    return Bytes(data.begin() + static_cast<std::ptrdiff_t>(from),
                 data.begin() + static_cast<std::ptrdiff_t>(from + n));
}

// Sends the start character until the sender answers (it discards what came before it was
// ready), then reads the rest of its first frame: `n` bytes in all.
Bytes AskForFrame(RawPeer& peer, std::uint8_t start, std::size_t n) {
    for (int round = 0; round < 50; ++round) {
        peer.Send(start);
        const int first = peer.Read(2000);
        if (first >= 0) {
            Bytes frame{static_cast<std::uint8_t>(first)};
            const Bytes rest = peer.ReadN(n - 1, kPeerWait);
            frame.insert(frame.end(), rest.begin(), rest.end());
            return frame;
        }
    }
    return {};
}

// A sender and a receiver engine over one memory line, and a file to move.
struct Pair {
    explicit Pair(const MemoryPortOptions& options = {}) : line(options) {}

    MemoryPortPair line;
    EngineSide tx{line.A()};
    EngineSide rx{line.B()};
    XModemEngine sender{tx.link.get(), &tx.status};
    XModemEngine receiver{rx.link.get(), &rx.status};
    TempDir dir;
    std::string source = dir.Path("source.bin");
    std::string target = dir.Path("target.bin");
    int sent = 1;
    int received = 1;

    void Run() {
        sender.SetMaxErrors(0);
        receiver.SetMaxErrors(0);
        RunBoth([&] { sent = sender.Send(source.data()); },
                [&] { received = receiver.Receive(target.data()); });
    }
};

struct RoundTripCase {
    std::size_t size;
    bool checksum;
    bool corrupt;
};

class XModemRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

// With `corrupt`, bits flip in both directions: a frame's data, a frame's block number
// complement and two of the receiver's replies. The file still arrives intact.
TEST_P(XModemRoundTrip, FileArrivesInWholeBlocks) {
    const RoundTripCase c = GetParam();
    Pair p;
    const Bytes data = Pattern(c.size, static_cast<unsigned>(c.size));
    WriteFile(p.source, data);
    if (c.corrupt) {
        const std::uint64_t frame = c.checksum ? 132 : 133;
        p.tx.tap.CorruptSent(2 * frame + 40, 0x01);
        p.tx.tap.CorruptSent(5 * frame + 2, 0x10);
        p.rx.tap.CorruptSent(6, 0x02);
        p.rx.tap.CorruptSent(9, 0x40);
    }
    p.sender.SetMaxErrors(0);
    p.receiver.SetMaxErrors(0);
    std::thread rx([&] { p.received = p.receiver.Receive(p.target.data()); });
    if (c.checksum) {
        // The receiver falls back to the checksum after four unanswered 'C's.
        const std::uint32_t start = TickCount();
        while (p.rx.status.SeenCheckType() != kCheckSum8 && TickCount() - start < 60000) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    p.sent = p.sender.Send(p.source.data());
    rx.join();

    EXPECT_EQ(p.sent, TE_OK);
    EXPECT_EQ(p.received, TE_OK);
    EXPECT_EQ(ReadFile(p.target), Padded(data));
    const int mode = c.checksum ? kCheckSum8 : kCheckCrc16;
    EXPECT_EQ(p.tx.status.checkType_, mode);
    EXPECT_EQ(p.rx.status.checkType_, mode);
    EXPECT_EQ(p.tx.status.position_, static_cast<std::int32_t>(c.size));
    EXPECT_EQ(p.tx.status.LastCode(), TE_DONE);
    EXPECT_EQ(p.rx.status.LastCode(), TE_DONE);
    EXPECT_EQ(p.rx.status.errorCount_ > 0, c.corrupt);
}

// 33,000 bytes take 258 blocks: the block number wraps from 255 to 0. In checksum mode the
// receiver first has to give up on CRC-16, which takes a while: one case.
INSTANTIATE_TEST_SUITE_P(Sizes, XModemRoundTrip,
                         ::testing::Values(RoundTripCase{1, false, false},
                                           RoundTripCase{128, false, false},
                                           RoundTripCase{33000, false, true},
                                           RoundTripCase{1000, true, true}));

// What a receiver sees of our sender: the frame layout in both check modes, the 0x00 padding
// of the last block, EOT.
TEST(XModemEngine, SenderFramesOnTheLine) {
    for (const bool crc : {true, false}) {
        SCOPED_TRACE(crc ? "CRC-16" : "checksum");
        MemoryPortPair line;
        EngineSide tx(line.A());
        CommLink peerLink(line.B());
        RawPeer peer(peerLink);
        XModemEngine sender(tx.link.get(), &tx.status);
        sender.SetMaxErrors(0);
        TempDir dir;
        std::string source = dir.Path("f.bin");
        const Bytes data = Pattern(130);
        WriteFile(source, data);
        int sent = 1;
        RunBoth([&] { sent = sender.Send(source.data()); },
                [&] {
                    const std::size_t n = crc ? 133 : 132;
                    EXPECT_EQ(AskForFrame(peer, crc ? 'C' : kNak, n),
                              Frame(1, Slice(data, 0, 128), crc));
                    peer.Send(kAck);
                    EXPECT_EQ(peer.ReadN(n, kPeerWait), Frame(2, Slice(data, 128, 2), crc));
                    peer.Send(kAck);
                    EXPECT_EQ(peer.Read(kPeerWait), kEot);
                    peer.Send(kAck);
                });
        EXPECT_EQ(sent, TE_OK);
        EXPECT_EQ(tx.status.checkType_, crc ? kCheckCrc16 : kCheckSum8);
        EXPECT_EQ(sender.LastControl(), kAck);
    }
}

// The receiver asks with 'C' four times, then falls back to NAK (the checksum); an EOT before
// any block is acknowledged and the receiver asks again; a repeated block is acknowledged,
// written once and counted as an error.
TEST(XModemEngine, ReceiverFallsBackToChecksumAndAcknowledgesRepeats) {
    MemoryPortPair line;
    EngineSide rx(line.A());
    CommLink peerLink(line.B());
    RawPeer peer(peerLink);
    XModemEngine receiver(rx.link.get(), &rx.status);
    receiver.SetMaxErrors(0);
    TempDir dir;
    std::string target = dir.Path("t.bin");
    const Bytes data = Pattern(256);
    int received = 1;
    RunBoth([&] { received = receiver.Receive(target.data()); },
            [&] {
                EXPECT_EQ(peer.ReadN(5, kPeerWait), (Bytes{'C', 'C', 'C', 'C', kNak}));
                peer.Send(kEot);
                EXPECT_EQ(peer.Read(kPeerWait), kAck);
                EXPECT_EQ(peer.Read(kPeerWait), kNak);
                peer.Send(Frame(1, Slice(data, 0, 128), false));
                EXPECT_EQ(peer.Read(kPeerWait), kAck);
                peer.Send(Frame(1, Slice(data, 0, 128), false));
                EXPECT_EQ(peer.Read(kPeerWait), kAck);
                peer.Send(Frame(2, Slice(data, 128, 128), false));
                EXPECT_EQ(peer.Read(kPeerWait), kAck);
                peer.Send(kEot);
                EXPECT_EQ(peer.Read(kPeerWait), kAck);
            });
    EXPECT_EQ(received, TE_OK);
    EXPECT_EQ(ReadFile(target), data);
    EXPECT_EQ(rx.status.checkType_, kCheckSum8);
    EXPECT_EQ(rx.status.errorCount_, 1);
    EXPECT_EQ(rx.status.fileTime_, -1);
}

// The receiver's limit counts consecutive errors; then the other side gets the cancel.
TEST(XModemEngine, ErrorLimitEndsTheRun) {
    MemoryPortPair line;
    EngineSide rx(line.A());
    CommLink peerLink(line.B());
    RawPeer peer(peerLink);
    XModemEngine receiver(rx.link.get(), &rx.status);
    receiver.SetMaxErrors(3);
    TempDir dir;
    std::string target = dir.Path("t.bin");
    Bytes bad = Frame(1, Pattern(128), true);
    bad[60] ^= 0x04;
    int received = 1;
    Bytes tail;
    RunBoth([&] { received = receiver.Receive(target.data()); },
            [&] {
                EXPECT_EQ(peer.Read(kPeerWait), 'C');
                for (int i = 0; i < 3; ++i) {
                    peer.Send(bad);
                    EXPECT_EQ(peer.Read(kPeerWait), 'C');
                }
                tail = peer.ReadUntilSilent(kSilence);
            });
    EXPECT_EQ(received, TE_TOO_MANY_ERRORS);
    EXPECT_EQ(rx.status.consecutiveErrors_, 3);
    Bytes expected = CancelSequence();
    expected.push_back(kCan);
    EXPECT_EQ(tail, expected);
}

// The receiver's user cancels mid-file: it keeps what arrived, the sender sees the cancel
// sequence and ends with TE_REMOTE_CANCEL.
TEST(XModemEngine, ReceiverCancelKeepsTheBytesReceived) {
    Pair p;
    const Bytes data = Pattern(64 * 128);
    WriteFile(p.source, data);
    p.rx.status.AbortAtPosition(2048, TE_USER_CANCEL);
    p.Run();
    EXPECT_EQ(p.received, TE_USER_CANCEL);
    EXPECT_EQ(p.sent, TE_REMOTE_CANCEL);
    const Bytes kept = ReadFile(p.target);
    EXPECT_EQ(kept.size(), static_cast<std::size_t>(p.rx.status.position_));
    EXPECT_GE(kept.size(), 2048u);
    EXPECT_EQ(kept, Slice(data, 0, kept.size()));
    const Bytes sent = p.rx.tap.Sent();
    Bytes ending = CancelSequence();
    ending.push_back(kCan);
    ASSERT_GE(sent.size(), ending.size());
    EXPECT_EQ(Bytes(sent.end() - static_cast<std::ptrdiff_t>(ending.size()), sent.end()), ending);
    EXPECT_EQ(p.rx.status.LastCode(), TE_USER_CANCEL);
    EXPECT_EQ(p.tx.status.LastCode(), TE_REMOTE_CANCEL);
}

// Nobody answers: only the status record's time-out ends the waits. The receiver keeps asking
// ('C' first); the sender waits for the start character without failing on silence. Both end
// with the cancel sequence (once from the abort check, once on the way out) and one CAN.
TEST(XModemEngine, SilentPeerEndsThroughTheStatusTimeout) {
    MemoryPortPair receiverLine;
    MemoryPortPair senderLine;
    EngineSide rx(receiverLine.A());
    EngineSide tx(senderLine.A());
    XModemEngine receiver(rx.link.get(), &rx.status);
    XModemEngine sender(tx.link.get(), &tx.status);
    receiver.SetMaxErrors(0);
    sender.SetMaxErrors(0);
    rx.status.SetTimeLimit(3000);
    tx.status.SetTimeLimit(12000); // longer than the sender's ten one-second tries
    TempDir dir;
    std::string target = dir.Path("t.bin");
    std::string source = dir.Path("s.bin");
    WriteFile(source, Pattern(200));
    int received = 1;
    int sent = 1;
    RunBoth([&] { received = receiver.Receive(target.data()); },
            [&] { sent = sender.Send(source.data()); });
    EXPECT_EQ(received, TE_TIMEOUT);
    EXPECT_EQ(sent, TE_TIMEOUT);

    Bytes ending = CancelSequence();
    const Bytes once = ending;
    ending.insert(ending.end(), once.begin(), once.end());
    ending.push_back(kCan);
    CommLink receiverPeer(receiverLine.B());
    const Bytes asked = RawPeer(receiverPeer).ReadUntilSilent(kQueued);
    ASSERT_GT(asked.size(), ending.size());
    EXPECT_EQ(asked[0], 'C');
    EXPECT_EQ(Bytes(asked.end() - static_cast<std::ptrdiff_t>(ending.size()), asked.end()), ending);
    CommLink senderPeer(senderLine.B());
    EXPECT_EQ(RawPeer(senderPeer).ReadUntilSilent(kQueued), ending);
    EXPECT_EQ(rx.status.LastCode(), TE_TIMEOUT);
    EXPECT_EQ(tx.status.LastCode(), TE_TIMEOUT);
}

} // namespace
} // namespace tollan::test
