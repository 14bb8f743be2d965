// ZModem framing: what the engine puts on the line for headers and subpackets, and how it reads
// hand-made byte streams (escapes, bad CRCs, garbage before headers, CAN runs, silence).
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <numeric>
#include <string>

#include "engine/block_check.h"
#include "engine/engine_codes.h"
#include "engine/zmodem_engine.h"
#include "engine_test_support.h"
#include "link/link_codes.h"
#include "link/tick_count.h"

namespace tollan::test {
namespace {

constexpr std::uint8_t kXon = 0x11;
constexpr auto kReturn = ZModemEngine::OnBadHeader::kReturnCode;
constexpr auto kSearchOn = ZModemEngine::OnBadHeader::kSearchOn;
const Bytes kZrinit{ZPAD, ZPAD, ZDLE, 'B', '0', '1'}; // a hex ZRINIT begins so

// The engine with the peer's capabilities and the last header format settable, as a batch would
// leave them.
class Framer : public ZModemEngine {
public:
    Framer(CommLink* link, TransferStatus* status) : ZModemEngine(link, status) {
        EXPECT_EQ(Prepare(), 1); // the buffers
    }
    using ZModemEngine::SetHeaderFormat;
    using ZModemEngine::SetPeerFlags;
    using ZModemEngine::WatchBackChannel;
};

// The byte strings one after the other.
Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// `body` escaped, a subpacket's frame end (ZDLE `end`; -1 after a header's body), then the CRC of
// both, escaped: CRC-16 high byte first, CRC-32 low byte first. The escape set: CR, DLE, XON, XOFF
// and ZDLE, and the first four with the top bit set.
Bytes Subpacket(Bytes body, int end, bool crc32) {
    constexpr std::uint8_t kEscaped[] = {0x0D, 0x10, 0x11, 0x13, 0x18, 0x8D, 0x90, 0x91, 0x93};
    const std::size_t length = body.size();
    if (end >= 0) {
        body.push_back(static_cast<std::uint8_t>(end));
    }
    const std::uint32_t crc = crc32 ? ~Crc32Check().Compute(body.data(), body.size(), 0xFFFFFFFF)
                                    : Crc16Check().Compute(body.data(), body.size(), 0);
    for (int i = 0; i < (crc32 ? 4 : 2); ++i) {
        body.push_back(static_cast<std::uint8_t>(crc >> (crc32 ? 8 * i : 8 - 8 * i)));
    }
    Bytes out;
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (i == length && end >= 0) {
            out.insert(out.end(), {ZDLE, body[i]});
        } else if (std::ranges::find(kEscaped, body[i]) != std::end(kEscaped)) {
            out.insert(out.end(), {ZDLE, static_cast<std::uint8_t>(body[i] ^ 0x40)});
        } else {
            out.push_back(body[i]);
        }
    }
    return out;
}

// A hex header as the published protocol writes it, with CR LF (and no XON).
Bytes HexHeader(int type, const Bytes& data) {
    Bytes body = Join({{static_cast<std::uint8_t>(type)}, data});
    const std::uint32_t crc = Crc16Check().Compute(body.data(), body.size(), 0);
    body.insert(body.end(), {static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)});
    std::string text{ZPAD, ZPAD, ZDLE, 'B'};
    for (const std::uint8_t b : body) {
        text += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
    }
    return Text(text + "\r\n");
}

Bytes BinHeader(int type, const Bytes& data, bool crc32) {
    return Join({{ZPAD, ZDLE, static_cast<std::uint8_t>(crc32 ? 'C' : 'A')},
                 Subpacket(Join({{static_cast<std::uint8_t>(type)}, data}), -1, crc32)});
}

// The four header bytes of a position.
Bytes At(std::uint32_t v) {
    return Bytes{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                 static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

// An engine on one end of a memory line, a byte-level peer on the other.
class ZModemFraming : public ::testing::Test, public PeerLine {
protected:
    Framer engine{side.link.get(), &side.status};

    // What the engine sent, once it has gone quiet.
    Bytes Sent() { return peer.ReadUntilSilent(100); }
};

// Each header format and subpacket end, written by the engine and compared with the hand-made
// encoding, then that encoding read back by the engine. Hex headers are followed by XON except
// after ZACK and ZFIN, subpackets that want a reply (ZCRCW) too.
TEST_F(ZModemFraming, HeadersAndSubpacketsRoundTrip) {
    struct Case {
        const char* name;
        int format; // 'B' hex, 'A' binary with CRC-16, 'C' binary with CRC-32
        bool subpacket;
        int type; // header type, or the subpacket's frame end
        bool xon;
    };
    const Case cases[] = {
        {"hex ZRINIT", 'B', false, ZRINIT, true},   {"hex ZACK", 'B', false, ZACK, false},
        {"hex ZFIN", 'B', false, ZFIN, false},      {"CRC-16 ZDATA", 'A', false, ZDATA, false},
        {"CRC-32 ZFILE", 'C', false, ZFILE, false}, {"CRC-16 ZCRCG", 'A', true, ZCRCG, false},
        {"CRC-32 ZCRCW", 'C', true, ZCRCW, true},   {"CRC-32 ZCRCE", 'C', true, ZCRCE, false},
        {"CRC-16 ZCRCQ", 'A', true, ZCRCQ, false},
    };
    Bytes every(256); // every byte value once
    std::iota(every.begin(), every.end(), 0);
    const Bytes position{0x0D, 0x11, 0x93, 0x18}; // every byte of it needs escaping
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool crc32 = c.format == 'C';
        engine.SetPeerFlags(crc32 ? CANFC32 : 0);
        Bytes expected;
        if (c.subpacket) {
            std::copy(every.begin(), every.end(), engine.DataBuffer());
            EXPECT_GE(engine.SendData(256, c.type), 0);
            expected = Subpacket(every, static_cast<std::uint8_t>(c.type), crc32);
        } else if (c.format == 'B') {
            EXPECT_GE(engine.SendHexHeader(c.type, position.data()), 0);
            expected = HexHeader(c.type, position);
        } else {
            EXPECT_GE(engine.SendBinHeader(c.type, position.data()), 0);
            expected = BinHeader(c.type, position, crc32);
        }
        if (c.xon) {
            expected.push_back(kXon);
        }
        EXPECT_EQ(Sent(), expected);

        peer.Send(expected);
        if (c.subpacket) {
            engine.SetHeaderFormat(c.format);
            EXPECT_EQ(engine.ReadData(), c.type);
            ASSERT_EQ(side.status.blockLength_, 256);
            EXPECT_EQ(Bytes(engine.DataBuffer(), engine.DataBuffer() + 256), every);
        } else {
            EXPECT_EQ(engine.ReadHeader(kReturn), c.type);
            EXPECT_EQ(engine.HeaderFormat(), c.format);
            EXPECT_EQ(engine.HeaderValue(), 0x1893110Du);
        }
        EXPECT_EQ(engine.Link()->PurgeInput(0), 0);
    }
    EXPECT_EQ(side.status.errorCount_, 0);
}

// Damaged and unusual input: each read gives the error (or, where tolerated, the frame); a
// bad header counts one error, and nothing is stored as the run's result.
TEST_F(ZModemFraming, ReadsReportDamage) {
    struct Case {
        const char* name;
        Bytes stream;
        int format; // 0: a header read; else a subpacket read after a header of this format
        int expected;
    };
    // Pads, the top bit set on every character after them, XOFF/XON in between.
    Bytes parity{ZPAD, ZPAD};
    const Bytes ack = HexHeader(ZACK, {9, 0, 0, 0});
    for (std::size_t i = 0; i < ack.size(); ++i) {
        if (i > 0 && i < ack.size() - 2) {
            parity.insert(parity.end(), {0x13, 0x11});
        }
        parity.push_back(ack[i] == ZDLE ? ZDLE : static_cast<std::uint8_t>(ack[i] | 0x80));
    }
    // ZDLE 'l' and ZDLE 'm' stand for 0x7F and 0xFF.
    Bytes special{ZDLE, 'l', ZDLE, 'm', 'q'};
    const Bytes plain = Subpacket({0x7F, 0xFF, 'q'}, ZCRCE, false);
    special.insert(special.end(), plain.begin() + 3, plain.end());
    // Bare flow-control bytes are no data (senders always escape them), not even after a ZDLE.
    Bytes flow = Subpacket(Bytes(8192, 'z'), ZCRCG, true);
    flow.insert(flow.begin() + 1, {0x11, 0x93});
    flow.insert(flow.end() - 5, 0x91);
    const Bytes znak = HexHeader(ZNAK, At(0));
    const Case cases[] = {
        {"hex CRC", Flipped(HexHeader(ZACK, {1, 0, 0, 0}), 7, 0x03), 0, TE_BAD_CRC16},
        {"binary CRC-32", Flipped(BinHeader(ZDATA, {1, 0, 0, 0}, true), -1, 0x01), 0, TE_BAD_CRC32},
        {"unknown format", Bytes{ZPAD, ZPAD, ZDLE, 'D', '0', '0', '0', '0'}, 0, TE_BAD_HEADER},
        {"parity, pads and flow bytes", parity, 0, ZACK},
        {"escaped 0x7F and 0xFF", special, 'A', ZCRCE},
        {"subpacket CRC-16", Flipped(Subpacket({1, 2, 3}, ZCRCG, false), 1, 0x20), 'A',
         TE_BAD_CRC16},
        {"8 KiB and bare XON/XOFF", flow, 'C', ZCRCG},
        {"8,193 data bytes", Subpacket(Bytes(8193, 'z'), ZCRCG, true), 'C', LINK_WRITE_SHORT},
        {"2,000 bytes of garbage", Join({Bytes(2000, 'x'), znak}), 0, ZNAK},
        // The pad counts too: the search gives up once, before the header.
        {"2,047 bytes and a lone pad", Join({Bytes(2047, 'x'), {ZPAD, 'y'}, znak}), 0,
         TE_BAD_HEADER},
        {"silence", {}, 0, TE_BAD_HEADER},
        {"silence in a subpacket", {'a', 'b', 'c'}, 'C', LINK_NO_DATA},
    };
    // Room on the line for a whole 8 KiB subpacket sent before the engine reads.
    line.B().SetQueues(0, 0, 20000);
    line.A().SetQueues(20000, 0, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int errors = side.status.errorCount_;
        peer.Send(c.stream);
        if (c.format != 0) {
            engine.SetHeaderFormat(c.format);
            EXPECT_EQ(engine.ReadData(), c.expected);
        } else {
            EXPECT_EQ(engine.ReadHeader(kReturn), c.expected);
            EXPECT_EQ(side.status.errorCount_ - errors, c.expected < 0 ? 1 : 0);
        }
        EXPECT_EQ(side.status.code_, 0);
        EXPECT_EQ(engine.Link()->PurgeInput(0), 0);
    }
}

// After asking for a resend, the receiver passes over what the sender had already put on the
// line (data without headers, a damaged header, its ZEOF) instead of asking again,
// and takes a frame that starts behind it from where it stands: its ZACK names the sender's own
// position, and only the bytes it lacked are written.
TEST_F(ZModemFraming, ReceiverPassesOverStaleDataAfterAResend) {
    const Bytes file = Pattern(3072, 5);
    const auto data = [&](std::uint32_t from, std::uint32_t length, std::uint8_t end) {
        return Subpacket(Bytes(file.begin() + from, file.begin() + from + length), end, true);
    };
    const auto zdata = [](std::uint32_t from) { return BinHeader(ZDATA, At(from), true); };
    ScratchFolder folder;
    std::string target = folder.Path("got");
    int result = 1;
    Bytes afterStale;
    RunBoth([&] { result = engine.Receive(target.data()); },
            [&] {
                ASSERT_TRUE(Contains(peer.ReadUntilSilent(kQueued), kZrinit));
                const Bytes offer = Join({Text("got"), Bytes{0}, Text("3072 0 0")});
                peer.Send(Join({BinHeader(ZFILE, At(0), true), Subpacket(offer, ZCRCW, true)}));
                ASSERT_TRUE(Contains(peer.ReadUntilSilent(kQueued), HexHeader(ZRPOS, At(0))));

                // The second subpacket is damaged: a resend from 1024 is asked for.
                peer.Send(Join(
                    {zdata(0), data(0, 1024, ZCRCG), Flipped(data(1024, 1024, ZCRCG), 10, 0x04)}));
                ASSERT_TRUE(Contains(peer.ReadUntilSilent(kQueued), HexHeader(ZRPOS, At(1024))));

                // What was already on its way, then the answer to an earlier request.
                peer.Send(Join({Bytes(5000, 'x'), Flipped(zdata(2048), 5, 0x01),
                                BinHeader(ZEOF, At(3072), true), zdata(0), data(0, 512, ZCRCW)}));
                afterStale = peer.ReadUntilSilent(kQueued);

                peer.Send(Join({zdata(512), data(512, 1024, ZCRCG), data(1536, 1024, ZCRCG),
                                data(2560, 512, ZCRCE), BinHeader(ZEOF, At(3072), true)}));
                ASSERT_TRUE(Contains(peer.ReadUntilSilent(kQueued), kZrinit));
                peer.Send(HexHeader(ZFIN, At(0)));
                ASSERT_TRUE(Contains(peer.ReadUntilSilent(kQueued), HexHeader(ZFIN, At(0))));
                peer.Send(Text("OO"));
            });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(target), file);
    EXPECT_EQ(afterStale, HexHeader(ZACK, At(512))); // and no second ZRPOS
    EXPECT_EQ(side.status.errorCount_, 1);
}

// After a loss the sender waits for each window's answer. An answer whose start the noise made
// unrecognisable is given up on soon: the next frame, from where the window ended, follows well
// before a header search would have run out of patience.
TEST_F(ZModemFraming, SenderGivesUpSoonOnAnUnrecognisableAnswer) {
    ScratchFolder folder;
    std::string path = folder.Path("f");
    WriteFile(path, Pattern(8192, 9));
    const Bytes nextFrame = BinHeader(ZDATA, At(3072), true);
    int result = 0;
    std::uint32_t waited = 0;
    Bytes next;
    RunBoth([&] { result = engine.Send(path.data()); },
            [&] {
                ASSERT_TRUE(Contains(peer.ReadUntilSilent(kQueued), HexHeader(ZRQINIT, At(0))));
                peer.Send(HexHeader(ZRINIT, {0, 0, 0, CANFDX | CANOVIO | CANFC32}));
                ASSERT_TRUE(Contains(peer.ReadUntilSilent(kQueued), Bytes{ZPAD, ZDLE, 'C', ZFILE}));
                peer.Send(HexHeader(ZRPOS, At(0)));
                peer.ReadN(1500);
                peer.Send(HexHeader(ZRPOS, At(1024))); // a loss: windows from here on
                ASSERT_TRUE(Contains(peer.ReadUntilSilent(kQueued), Bytes{ZDLE, ZCRCQ}));
                Bytes answer = HexHeader(ZACK, At(3072));
                answer[0] = answer[1] = 'x';
                const std::uint32_t start = TickCount();
                peer.Send(answer);
                next = peer.ReadN(nextFrame.size(), kPeerWait);
                waited = TickCount() - start;
                peer.Send(CancelSequence());
            });
    EXPECT_EQ(next, nextFrame);
    EXPECT_LT(waited, 3000u);
    EXPECT_EQ(result, TE_REMOTE_CANCEL);
}

// Four CANs are noise; five cancel, before a header or inside data, and get no answer.
TEST_F(ZModemFraming, FiveCansCancelWithoutAnswer) {
    peer.Send(Join({{ZDLE, ZDLE, ZDLE, ZDLE, 'x'}, HexHeader(ZRINIT, {0, 0, 0, 0x23})}));
    EXPECT_EQ(engine.ReadHeader(kReturn), ZRINIT);

    peer.Send(Bytes(5, ZDLE));
    EXPECT_EQ(engine.ReadHeader(kSearchOn), TE_REMOTE_CANCEL);
    EXPECT_EQ(side.status.code_, TE_REMOTE_CANCEL);
    side.status.code_ = 0;
    engine.SetHeaderFormat('A');
    peer.Send(Bytes{'a', 'b', ZDLE, ZDLE, ZDLE, ZDLE, ZDLE});
    EXPECT_EQ(engine.ReadData(), TE_REMOTE_CANCEL);
    // A sender's watch of the back channel takes the first CAN of a page's abort (five CANs,
    // five backspaces); the header search counts it with the other four.
    side.status.code_ = 0;
    peer.Send(Bytes{ZDLE, ZDLE, ZDLE, ZDLE, ZDLE, 8, 8, 8, 8, 8});
    EXPECT_TRUE(engine.WatchBackChannel());
    EXPECT_EQ(engine.ReadHeader(kSearchOn), TE_REMOTE_CANCEL);
    EXPECT_TRUE(Sent().empty());
}

} // namespace
} // namespace tollan::test
