#include "acknak_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "fast_clock.h"

namespace tollan::test {
namespace {

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kBel = 0x07;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kSub = 0x1A;

// A line as it travels: the characters, CR, and the sum of both modulo 256.
Bytes Line(const std::string& text) {
    Bytes line(text.begin(), text.end());
    line.push_back(kCr);
    std::uint8_t sum = 0;
    for (const std::uint8_t b : line) {
        sum = static_cast<std::uint8_t>(sum + b);
    }
    line.push_back(sum);
    return line;
}

Bytes Cancel() {
    return Bytes{kCr, kBel, kBel};
}

Bytes Twice(const Bytes& b) {
    Bytes out = b;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

struct Pair {
    MemoryPortPair line;
    EngineSide tx{line.A()};
    EngineSide rx{line.B()};
    AckNakEngine sender{tx.link.get(), &tx.status};
    AckNakEngine receiver{rx.link.get(), &rx.status};
    TempDir dir;
    std::string source = dir.Path("source.txt");
    std::string target = dir.Path("target.txt");
    int sent = 1;
    int received = 1;

    // The receiver starts first; the sender once the receiver's first NAK is on the line, so
    // that the sender's first line is not mistaken for an answer to a stale NAK.
    void Run() {
        std::thread rxThread([&] { received = receiver.Receive(target.data()); });
        EXPECT_TRUE(WaitForInput(*tx.link, kPeerWait));
        sent = sender.Send(source.data());
        rxThread.join();
    }
};

// Bit errors in a character and in a checksum: the lines are refused and sent again, and the
// file (more than one 4,096-byte read of it) arrives intact.
TEST(AckNakEngine, CorruptedLinesAreSentAgain) {
    Pair p;
    std::string text;
    for (int i = 0; i < 6; ++i) {
        text += "line number " + std::to_string(i) + "\r\n";
    }
    for (int i = 0; i < 120; ++i) {
        text +=
            std::string(static_cast<std::size_t>(i * 37 % 128), static_cast<char>('a' + i % 26));
        text += "\r\n";
    }
    WriteFile(p.source, Text(text));
    // Each line travels as 13 characters, CR and the checksum: 15 bytes.
    p.tx.tap.CorruptSent(15 + 3, 0x01);      // a character of line 2
    p.tx.tap.CorruptSent(5 * 15 + 14, 0x20); // the checksum of line 4 (after one resend)
    p.Run();
    EXPECT_EQ(p.sent, TE_OK);
    EXPECT_EQ(p.received, TE_OK);
    EXPECT_EQ(ReadFile(p.target), Text(text));
    EXPECT_EQ(p.tx.status.position_, static_cast<std::int32_t>(text.size()));
    EXPECT_EQ(p.rx.status.LastCode(), TE_DONE);
    EXPECT_EQ(p.tx.status.errorCount_, 2);
    EXPECT_EQ(p.rx.status.errorCount_, 2);
}

TEST(AckNakEngine, ErrorLimitsEndTheRun) {
    TempDir dir;
    std::vector<std::function<void()>> runs;
    runs.emplace_back([&] {
        SCOPED_TRACE("receiver, consecutive bad lines");
        MemoryPortPair l;
        EngineSide side(l.A());
        CommLink peerLink(l.B());
        std::string target = dir.Path("bad-in.txt");
        AckNakEngine engine(side.link.get(), &side.status);
        engine.SetMaxErrors(2);
        int received = 1;
        Bytes seen;
        RunBoth([&] { received = engine.Receive(target.data()); },
                [&] {
                    RawPeer peer(peerLink);
                    EXPECT_EQ(peer.Read(kPeerWait), kNak);
                    Bytes bad = Line("abc");
                    bad.back() ^= 0x01;
                    peer.Send(bad);
                    EXPECT_EQ(peer.Read(kPeerWait), kNak);
                    peer.Send(bad);
                    seen = peer.ReadUntilSilent(kSilence);
                });
        EXPECT_EQ(received, TE_TOO_MANY_ERRORS);
        Bytes expected{kNak};
        const Bytes cancel = Cancel();
        expected.insert(expected.end(), cancel.begin(), cancel.end());
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(side.status.consecutiveErrors_, 2);
    });
    runs.emplace_back([&] {
        SCOPED_TRACE("sender, refused lines");
        MemoryPortPair l;
        EngineSide side(l.A());
        CommLink peerLink(l.B());
        std::string source = dir.Path("refused.txt");
        WriteFile(source, Text("one\r\ntwo\r\n"));
        AckNakEngine engine(side.link.get(), &side.status);
        engine.SetMaxErrors(3);
        int sent = 1;
        Bytes seen;
        RunBoth([&] { sent = engine.Send(source.data()); },
                [&] {
                    RawPeer peer(peerLink);
                    EXPECT_EQ(peer.ReadN(5, kPeerWait), Line("one"));
                    peer.Send(kNak);
                    EXPECT_EQ(peer.ReadN(5, kPeerWait), Line("one"));
                    peer.Send(kAck);
                    EXPECT_EQ(peer.ReadN(5, kPeerWait), Line("two"));
                    peer.Send(kNak);
                    EXPECT_EQ(peer.ReadN(5, kPeerWait), Line("two"));
                    peer.Send(Bytes{'?'}); // garbage counts as a refusal too
                    seen = peer.ReadUntilSilent(kSilence);
                });
        EXPECT_EQ(sent, TE_TOO_MANY_ERRORS);
        EXPECT_EQ(side.status.errorCount_, 3); // all refusals of the file, not only in a row
        EXPECT_EQ(seen, Cancel());
    });
    RunAll(runs);
}

// The other side's BEL cancels a sender; a receiver whose user cancels keeps the lines so far
// and tells the other side with CR BEL BEL; a silent peer ends through the status time-out.
TEST(AckNakEngine, CancelsAndSilence) {
    TempDir dir;
    std::vector<std::function<void()>> runs;
    runs.emplace_back([&] {
        SCOPED_TRACE("BEL from the receiver");
        MemoryPortPair l;
        EngineSide side(l.A());
        CommLink peerLink(l.B());
        std::string source = dir.Path("bel.txt");
        WriteFile(source, Text("one\r\ntwo\r\n"));
        AckNakEngine engine(side.link.get(), &side.status);
        int sent = 1;
        RunBoth([&] { sent = engine.Send(source.data()); },
                [&] {
                    RawPeer peer(peerLink);
                    EXPECT_EQ(peer.ReadN(5, kPeerWait), Line("one"));
                    peer.Send(kBel);
                });
        EXPECT_EQ(sent, TE_REMOTE_CANCEL);
        EXPECT_EQ(side.status.LastCode(), TE_REMOTE_CANCEL);
    });
    runs.emplace_back([&] {
        SCOPED_TRACE("user cancels the receiver");
        MemoryPortPair l;
        EngineSide side(l.A());
        CommLink peerLink(l.B());
        std::string target = dir.Path("cancelled.txt");
        AckNakEngine engine(side.link.get(), &side.status);
        side.status.AbortAtPosition(10, TE_USER_CANCEL);
        int received = 1;
        Bytes seen;
        RunBoth([&] { received = engine.Receive(target.data()); },
                [&] {
                    RawPeer peer(peerLink);
                    EXPECT_EQ(peer.Read(kPeerWait), kNak);
                    peer.Send(Line("first line"));
                    EXPECT_EQ(peer.Read(kPeerWait), kAck);
                    peer.Send(Line("second"));
                    seen = peer.ReadUntilSilent(kSilence);
                });
        EXPECT_EQ(received, TE_USER_CANCEL);
        EXPECT_EQ(ReadFile(target), Text("first line\r\n"));
        EXPECT_EQ(seen, Twice(Cancel()));
    });
    runs.emplace_back([&] {
        SCOPED_TRACE("silent sender");
        MemoryPortPair l;
        EngineSide side(l.A());
        CommLink peerLink(l.B());
        std::string target = dir.Path("silent.txt");
        AckNakEngine engine(side.link.get(), &side.status);
        side.status.SetTimeLimit(3000);
        EXPECT_EQ(engine.Receive(target.data()), TE_TIMEOUT);
        const Bytes seen = RawPeer(peerLink).ReadUntilSilent(kQueued);
        // NAK after the first second of silence, then the cancel (twice: from the abort
        // check and on the way out).
        Bytes expected{kNak};
        const Bytes cancel = Twice(Cancel());
        expected.insert(expected.end(), cancel.begin(), cancel.end());
        EXPECT_EQ(seen, expected);
    });
    RunAll(runs);
}

TEST(AckNakEngine, OverwritePolicies) {
    TempDir dir;
    const std::string incoming = "new\r\n";
    struct Case {
        int policy;
        int code;
        std::string result;
    };
    const std::vector<Case> cases = {{kAckNakAppend, TE_OK, "old\r\nnew\r\n"},
                                     {kAckNakReplace, TE_OK, "new\r\n"},
                                     {kAckNakRefuse, TE_FILE_EXISTS, "old\r\n"},
                                     {0, TE_FILE_EXISTS, "old\r\n"}};
    std::vector<std::function<void()>> runs;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        runs.emplace_back([&, i] {
            const Case& c = cases[i];
            SCOPED_TRACE(c.policy);
            Pair p;
            WriteFile(p.source, Text(incoming));
            WriteFile(p.target, Text("old\r\n"));
            p.receiver.SetOverwrite(c.policy);
            if (c.code == TE_OK) {
                p.Run();
                EXPECT_EQ(p.sent, TE_OK);
            } else {
                p.received = p.receiver.Receive(p.target.data());
                // Once when the file is refused, once on the way out.
                EXPECT_EQ(RawPeer(*p.tx.link).ReadUntilSilent(kQueued), Twice(Cancel()));
            }
            EXPECT_EQ(p.received, c.code);
            EXPECT_EQ(ReadFile(p.target), Text(c.result));
        });
    }
    RunAll(runs);
}

} // namespace
} // namespace tollan::test
