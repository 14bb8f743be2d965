#include "engine/acknak_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "engine_test_support.h"
#include "link/tick_count.h"

namespace tollan::test {
namespace {

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kBel = 0x07;

// A line as it travels: the characters, CR, and the sum of both modulo 256.
Bytes Line(const std::string& text) {
    Bytes line = Text(text + "\r");
    std::uint8_t sum = 0;
    for (const std::uint8_t b : line) {
        sum = static_cast<std::uint8_t>(sum + b);
    }
    line.push_back(sum);
    return line;
}

// The cancel, `times` times over.
Bytes Cancel(int times = 1) {
    Bytes out;
    for (int i = 0; i < times; ++i) {
        out.insert(out.end(), {0x0D, kBel, kBel});
    }
    return out;
}

struct Pair {
    MemoryPortPair line;
    Side tx{line.A()};
    Side rx{line.B()};
    AckNakEngine sender{tx.link.get(), &tx.status};
    AckNakEngine receiver{rx.link.get(), &rx.status};
    ScratchFolder dir;
    std::string source = dir.Path("source.txt");
    std::string target = dir.Path("target.txt");
    int sent = 1;
    int received = 1;

    // The receiver starts first; the sender once the receiver's first NAK is on the line, so
    // that the sender's first line is not mistaken for an answer to a stale NAK.
    void Run() {
        std::thread receiving([&] { received = receiver.Receive(target.data()); });
        const std::uint32_t start = TickCount();
        while (tx.link->InputCount() == 0 && TickCount() - start < kPeerWait) {
            tx.link->Idle();
        }
        sent = sender.Send(source.data());
        receiving.join();
    }
};

// Bit errors in a character and in a checksum: the lines are refused and sent again, and the
// file (more than one 4,096-byte read of it) arrives intact.
TEST(AckNakEngine, CorruptedLinesAreSentAgain) {
    Pair p;
    std::string text;
    for (int i = 0; i < 126; ++i) {
        text += i < 6 ? "line number " + std::to_string(i)
                      : std::string(static_cast<std::size_t>(i * 37 % 128), 'a' + i % 26);
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
    EXPECT_EQ(p.rx.status.LastCode(), TE_DONE);
    EXPECT_EQ(p.tx.status.errorCount_, 2);
    EXPECT_EQ(p.rx.status.errorCount_, 2);
}

// The receiver's limit counts bad lines in a row; the sender's counts every refusal of the file
// (garbage counts as one). Either way the other side gets the cancel.
TEST(AckNakEngine, ErrorLimitsEndTheRun) {
    ScratchFolder dir;
    const std::string source = dir.Path("source.txt");
    WriteFile(source, Text("one\r\ntwo\r\n"));
    for (const bool send : {false, true}) {
        SCOPED_TRACE(send ? "sender" : "receiver");
        MemoryPortPair l;
        Side side(l.A());
        CommLink peerLink(l.B());
        RawPeer peer(peerLink);
        AckNakEngine engine(side.link.get(), &side.status);
        engine.SetMaxErrors(send ? 3 : 2);
        std::string path = send ? source : dir.Path("target.txt");
        int result = 1;
        Bytes seen;
        RunBoth([&] { result = send ? engine.Send(path.data()) : engine.Receive(path.data()); },
                [&] {
                    const char* lines[] = {"one", "one", "two", "two"};
                    const std::uint8_t replies[] = {kNak, kAck, kNak, '?'};
                    Bytes bad = Line("abc");
                    bad.back() ^= 0x01;
                    for (int i = 0; i < (send ? 4 : 2); ++i) {
                        if (send) {
                            EXPECT_EQ(peer.ReadN(5, kPeerWait), Line(lines[i]));
                            peer.Send(replies[i]);
                        } else {
                            EXPECT_EQ(peer.Read(kPeerWait), kNak);
                            peer.Send(bad);
                        }
                    }
                    seen = peer.ReadUntilSilent(kSilence);
                });
        EXPECT_EQ(result, TE_TOO_MANY_ERRORS);
        Bytes expected = Cancel();
        if (!send) {
            expected.insert(expected.begin(), kNak);
        }
        EXPECT_EQ(seen, expected);
    }
}

TEST(AckNakEngine, OverwritePolicies) {
    struct Case {
        Overwrite policy;
        int code;
        std::string result;
    };
    const std::vector<Case> cases = {{Overwrite::kAppend, TE_OK, "old\r\nnew\r\n"},
                                     {Overwrite::kAlways, TE_OK, "new\r\n"},
                                     {Overwrite::kNever, TE_FILE_EXISTS, "old\r\n"},
                                     {Overwrite::kNewer, TE_FILE_EXISTS, "old\r\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(NumberOf(c.policy));
        Pair p;
        WriteFile(p.source, Text("new\r\n"));
        WriteFile(p.target, Text("old\r\n"));
        p.receiver.SetOverwrite(c.policy);
        if (c.code == TE_OK) {
            p.Run();
            EXPECT_EQ(p.sent, TE_OK);
        } else {
            p.received = p.receiver.Receive(p.target.data());
            // Once when the file is refused, once on the way out.
            EXPECT_EQ(RawPeer(*p.tx.link).ReadUntilSilent(kQueued), Cancel(2));
        }
        EXPECT_EQ(p.received, c.code);
        EXPECT_EQ(ReadFile(p.target), Text(c.result));
    }
}

} // namespace
} // namespace tollan::test
