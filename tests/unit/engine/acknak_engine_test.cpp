#include "engine/acknak_engine.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <tuple>

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
    line.push_back(static_cast<std::uint8_t>(std::accumulate(line.begin(), line.end(), 0)));
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

// The receiver starts first; the sender once the receiver's first NAK is on the line, so that the
// sender's first line is not mistaken for an answer to a stale NAK.
struct Pair : EnginePair<AckNakEngine> {
    std::string source = from.Path("source.txt");
    std::string target = to.Path("target.txt");

    void Run() {
        EnginePair::Run(source, target, [&] {
            const std::uint32_t start = TickCount();
            while (tx.link->InputCount() == 0 && TickCount() - start < kPeerWait) {
                static_cast<void>(tx.link->Idle());
            }
        });
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
    p.tx.memory.CorruptSent(15 + 3, 0x01);      // a character of line 2
    p.tx.memory.CorruptSent(5 * 15 + 14, 0x20); // the checksum of line 4 (after one resend)
    p.Run();
    EXPECT_EQ(p.sent, TE_OK);
    EXPECT_EQ(p.received, TE_OK);
    EXPECT_EQ(ReadFile(p.target), Text(text));
    EXPECT_EQ(p.rx.status.LastCode(), TE_DONE);
    EXPECT_EQ(p.tx.status.errorCount_, 2);
    EXPECT_EQ(p.rx.status.errorCount_, 2);
}

// The receiver's limit (two) counts bad lines in a row; the sender's (three) counts every refusal
// of the file (garbage counts as one). Either way the other side gets the cancel. A BEL from the
// receiver is its cancel.
TEST(AckNakEngine, ErrorLimitsEndTheRun) {
    // Whether the engine sends, the peer's answer to each line a sender sends, and the result.
    const std::tuple<bool, Bytes, int> cases[] = {
        {false, {}, TE_TOO_MANY_ERRORS},
        {true, {kNak, kAck, kNak, '?'}, TE_TOO_MANY_ERRORS},
        {true, {kNak, kBel}, TE_REMOTE_CANCEL},
    };
    ScratchFolder dir;
    const std::string source = dir.Path("source.txt");
    WriteFile(source, Text("one\r\ntwo\r\n"));
    for (const auto& [send, replies, expectedResult] : cases) {
        SCOPED_TRACE(testing::Message() << expectedResult << (send ? " sender" : " receiver"));
        PeerLine l;
        AckNakEngine engine(l.side.link.get(), &l.side.status);
        engine.SetMaxErrors(send ? 3 : 2);
        std::string path = send ? source : dir.Path("target.txt");
        int result = 1;
        Bytes seen;
        RunBoth([&] { result = send ? engine.Send(path.data()) : engine.Receive(path.data()); },
                [&] {
                    const Bytes bad = Flipped(Line("abc"), -1, 0x01);
                    for (int i = 0; !send && i < 2; ++i) {
                        EXPECT_EQ(l.peer.Read(kPeerWait), kNak);
                        l.peer.Send(bad);
                    }
                    const char* line = "one";
                    for (const std::uint8_t reply : replies) {
                        EXPECT_EQ(l.peer.ReadN(5, kPeerWait), Line(line));
                        l.peer.Send(reply);
                        line = reply == kAck ? "two" : line;
                    }
                    seen = l.peer.ReadUntilSilent(kSilence);
                });
        EXPECT_EQ(result, expectedResult);
        Bytes expected = Cancel();
        if (!send) {
            expected.insert(expected.begin(), kNak);
        }
        EXPECT_EQ(seen, expected);
    }
}

TEST(AckNakEngine, OverwritePolicies) {
    // The receiver's policy, its result and the file it leaves.
    const std::tuple<Overwrite, int, std::string> cases[] = {
        {Overwrite::kAppend, TE_OK, "old\r\nnew\r\n"},
        {Overwrite::kAlways, TE_OK, "new\r\n"},
        {Overwrite::kNever, TE_FILE_EXISTS, "old\r\n"}};
    for (const auto& [policy, code, result] : cases) {
        SCOPED_TRACE(NumberOf(policy));
        Pair p;
        WriteFile(p.source, Text("new\r\n"));
        WriteFile(p.target, Text("old\r\n"));
        p.receiver.SetOverwrite(policy);
        if (code == TE_OK) {
            p.Run();
            EXPECT_EQ(p.sent, TE_OK);
        } else {
            p.received = p.receiver.Receive(p.target.data());
            // Once when the file is refused, once on the way out.
            EXPECT_EQ(RawPeer(*p.tx.link).ReadUntilSilent(kQueued), Cancel(2));
        }
        EXPECT_EQ(p.received, code);
        EXPECT_EQ(ReadFile(p.target), Text(result));
    }
}

} // namespace
} // namespace tollan::test
