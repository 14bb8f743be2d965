// ZModem framing: what the engine puts on the line for headers and subpackets, and how it reads
// hand-made byte streams (escapes, bad CRCs, garbage before headers, CAN runs, silence).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "block_check.h"
#include "engine_codes.h"
#include "engine_test_support.h"
#include "link_codes.h"
#include "tick_count.h"
#include "zmodem_engine.h"

namespace tollan::test {
namespace {

// The engine with the peer's capabilities and the last header format settable, as a batch would
// leave them.
class Framer : public ZModemEngine {
public:
    using ZModemEngine::ZModemEngine;
    void SetPeerFlags(int flags) { peerFlags_ = flags; }
    void SetHeaderFormat(int format) { headerFormat_ = format; }
    using ZModemEngine::OpenBatch;
};

bool Escaped(std::uint8_t b) {
    switch (b) {
    case 0x0D:
    case 0x10:
    case 0x11:
    case 0x13:
    case 0x18:
    case 0x8D:
    case 0x90:
    case 0x91:
    case 0x93:
        return true;
    default:
        return false;
    }
}

void PutEscaped(Bytes& out, std::uint8_t b) {
    if (Escaped(b)) {
        out.push_back(ZDLE);
        out.push_back(b ^ 0x40);
    } else {
        out.push_back(b);
    }
}

std::uint16_t Crc16(const Bytes& data) {
    Crc16Check check;
    return static_cast<std::uint16_t>(check.Compute(data.data(), data.size(), 0));
}

std::uint32_t Crc32(const Bytes& data) {
    Crc32Check check;
    return ~check.Compute(data.data(), data.size(), 0xFFFFFFFFu);
}

// A hex header as the published protocol writes it, without trailer.
Bytes HexHeader(int type, const Bytes& data) {
    Bytes body{static_cast<std::uint8_t>(type)};
    body.insert(body.end(), data.begin(), data.end());
    const std::uint16_t crc = Crc16(body);
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    body.push_back(static_cast<std::uint8_t>(crc));
    std::string text = "**\x18"
                       "B";
    for (const std::uint8_t b : body) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", b);
        text += digits;
    }
    return Text(text);
}

Bytes WithTrailer(Bytes header) {
    header.push_back(0x0D);
    header.push_back(0x0A);
    return header;
}

Bytes BinHeader(int type, const Bytes& data, bool crc32) {
    Bytes body{static_cast<std::uint8_t>(type)};
    body.insert(body.end(), data.begin(), data.end());
    Bytes out{ZPAD, ZDLE, static_cast<std::uint8_t>(crc32 ? 'C' : 'A')};
    for (const std::uint8_t b : body) {
        PutEscaped(out, b);
    }
    if (crc32) {
        const std::uint32_t crc = Crc32(body);
        for (int i = 0; i < 4; ++i) {
            PutEscaped(out, static_cast<std::uint8_t>(crc >> (8 * i)));
        }
    } else {
        const std::uint16_t crc = Crc16(body);
        PutEscaped(out, static_cast<std::uint8_t>(crc >> 8));
        PutEscaped(out, static_cast<std::uint8_t>(crc));
    }
    return out;
}

Bytes Subpacket(const Bytes& data, std::uint8_t end, bool crc32) {
    Bytes out;
    for (const std::uint8_t b : data) {
        PutEscaped(out, b);
    }
    out.push_back(ZDLE);
    out.push_back(end);
    Bytes checked = data;
    checked.push_back(end);
    if (crc32) {
        const std::uint32_t crc = Crc32(checked);
        for (int i = 0; i < 4; ++i) {
            PutEscaped(out, static_cast<std::uint8_t>(crc >> (8 * i)));
        }
    } else {
        const std::uint16_t crc = Crc16(checked);
        PutEscaped(out, static_cast<std::uint8_t>(crc >> 8));
        PutEscaped(out, static_cast<std::uint8_t>(crc));
    }
    return out;
}

// An engine on one end of a memory line, a byte-level peer on the other.
class ZModemFraming : public ::testing::Test {
protected:
    MemoryPortPair line;
    Side peerSide{line.A(), false};
    Side engineSide{line.B()};
    RawPeer peer{*peerSide.link};
    Framer engine{engineSide.link.get(), &engineSide.status};

    // What the engine sent, once it has gone quiet.
    Bytes Sent() { return peer.ReadUntilSilent(100); }
    TransferStatus& Status() { return engineSide.status; }
};

// --- Writing ----------------------------------------------------------------------------------

TEST_F(ZModemFraming, HexHeadersCarryLowerCaseDigitsCrLfAndXonExceptAfterAckAndFin) {
    const std::uint8_t rinit[4] = {0x00, 0x10, 0x00, 0x27};
    engine.SendHexHeader(ZRINIT, rinit);
    const Bytes crcBody{0x01, 0x00, 0x10, 0x00, 0x27};
    char crcText[5];
    std::snprintf(crcText, sizeof crcText, "%04x", Crc16(crcBody));
    EXPECT_EQ(Sent(), Text(std::string("**\x18"
                                       "B0100100027") +
                           crcText + "\r\n\x11"));

    const std::uint8_t position[4] = {0xAB, 0xCD, 0x00, 0x00};
    engine.SendHexHeader(ZACK, position);
    EXPECT_EQ(Sent(), WithTrailer(HexHeader(ZACK, {0xAB, 0xCD, 0x00, 0x00})));
    engine.SendHexHeader(ZFIN, position);
    EXPECT_EQ(Sent(), WithTrailer(HexHeader(ZFIN, {0xAB, 0xCD, 0x00, 0x00})));
}

TEST_F(ZModemFraming, BinaryHeadersFollowThePeersCrcAndEscapeTheirBytes) {
    // Every byte of this position needs escaping.
    const std::uint8_t data[4] = {0x0D, 0x11, 0x93, 0x18};
    engine.SendBinHeader(ZDATA, data);
    EXPECT_EQ(Sent(), BinHeader(ZDATA, {0x0D, 0x11, 0x93, 0x18}, false));
    engine.SetPeerFlags(CANFC32);
    engine.SendBinHeader(ZDATA, data);
    EXPECT_EQ(Sent(), BinHeader(ZDATA, {0x0D, 0x11, 0x93, 0x18}, true));
}

TEST_F(ZModemFraming, SubpacketsEscapeTheNineValuesOnly) {
    const Bytes data{0x0D, 0x7F, 0x10, 0x11, 0x13, 0x18, 0x8D, 0x90, 0x91, 0x93, 0xFF, 'A'};
    std::copy(data.begin(), data.end(), engine.DataBuffer());
    engine.SendData(static_cast<int>(data.size()), ZCRCG);
    const Bytes sent = Sent();
    EXPECT_EQ(sent, Subpacket(data, ZCRCG, false));
    // 0x0D goes as ZDLE 0x4D, 0x7F and 0xFF unescaped.
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 3), (Bytes{ZDLE, 0x4D, 0x7F}));

    engine.SetPeerFlags(CANFC32);
    engine.SendData(static_cast<int>(data.size()), ZCRCW);
    Bytes expected = Subpacket(data, ZCRCW, true);
    expected.push_back(0x11); // XON after a subpacket that wants a reply
    EXPECT_EQ(Sent(), expected);
}

// --- Reading headers ---------------------------------------------------------------------------

TEST_F(ZModemFraming, ReadsEachHeaderFormat) {
    peer.Send(WithTrailer(HexHeader(ZRPOS, {1, 2, 3, 4})));
    EXPECT_EQ(engine.ReadHeader(1), ZRPOS);
    EXPECT_EQ(engine.HeaderFormat(), 'B');
    EXPECT_EQ(engine.HeaderValue(), 0x04030201u);

    peer.Send(BinHeader(ZDATA, {0x18, 0x0D, 0x91, 0x00}, false));
    EXPECT_EQ(engine.ReadHeader(1), ZDATA);
    EXPECT_EQ(engine.HeaderFormat(), 'A');
    EXPECT_EQ(engine.HeaderValue(), 0x00910D18u);

    peer.Send(BinHeader(ZFILE, {0, 0, 4, 3}, true));
    EXPECT_EQ(engine.ReadHeader(1), ZFILE);
    EXPECT_EQ(engine.HeaderFormat(), 'C');
    EXPECT_EQ(engine.HeaderData()[ZF0], ZCRESUM);
    EXPECT_EQ(engine.HeaderData()[ZF1], ZMCLOB);
    EXPECT_EQ(Status().errorCount_, 0);
}

TEST_F(ZModemFraming, HexHeadersToleratePaddingParityAndFlowControlBytes) {
    Bytes stream{ZPAD, ZPAD};
    for (const std::uint8_t b : HexHeader(ZACK, {9, 0, 0, 0})) {
        // Top bit set on every character after the leading pads, and XOFF/XON in between.
        if (stream.size() > 2) {
            stream.push_back(0x13);
            stream.push_back(0x11);
        }
        stream.push_back(b == ZDLE ? b : static_cast<std::uint8_t>(b | 0x80));
    }
    stream.push_back(0x8D);
    stream.push_back(0x8A);
    peer.Send(stream);
    EXPECT_EQ(engine.ReadHeader(1), ZACK);
    EXPECT_EQ(engine.HeaderValue(), 9u);
}

TEST_F(ZModemFraming, GarbageBeforeAHeaderIsSkippedUpToTheLimit) {
    // 2,047 bytes of garbage, then a lone pad that also counts, then the header.
    Bytes stream(2047, 'x');
    stream.push_back(ZPAD);
    stream.push_back('y');
    const Bytes header = WithTrailer(HexHeader(ZNAK, {0, 0, 0, 0}));
    for (const std::uint8_t b : header) {
        stream.push_back(b);
    }
    peer.Send(Bytes(2000, 'x'));
    peer.Send(header);
    EXPECT_EQ(engine.ReadHeader(1), ZNAK);
    EXPECT_EQ(Status().errorCount_, 0);

    // 2,048 bytes without a header: one error, and the header after them is still found.
    peer.Send(stream);
    EXPECT_EQ(engine.ReadHeader(1), TE_BAD_HEADER);
    EXPECT_EQ(Status().errorCount_, 1);
    EXPECT_EQ(engine.ReadHeader(1), ZNAK);
}

TEST_F(ZModemFraming, BadHeadersAreCountedAndReported) {
    // An upper-case hex digit.
    Bytes upper = WithTrailer(HexHeader(ZACK, {0xAB, 0, 0, 0}));
    const auto at = std::search(upper.begin(), upper.end(), std::begin("ab"), std::end("ab") - 1);
    ASSERT_NE(at, upper.end());
    at[0] = 'A';
    peer.Send(upper);
    EXPECT_EQ(engine.ReadHeader(1), TE_BAD_HEADER);

    Bytes hex = WithTrailer(HexHeader(ZACK, {1, 0, 0, 0}));
    hex[7] = '2'; // data byte 01 becomes 02
    peer.Send(hex);
    EXPECT_EQ(engine.ReadHeader(1), TE_BAD_CRC16);

    Bytes bin16 = BinHeader(ZDATA, {1, 0, 0, 0}, false);
    bin16[4] ^= 0x04;
    peer.Send(bin16);
    EXPECT_EQ(engine.ReadHeader(1), TE_BAD_CRC16);

    Bytes bin32 = BinHeader(ZDATA, {1, 0, 0, 0}, true);
    bin32.back() ^= 0x01;
    peer.Send(bin32);
    EXPECT_EQ(engine.ReadHeader(1), TE_BAD_CRC32);

    peer.Send(Text("**\x18"
                   "D0000"));
    EXPECT_EQ(engine.ReadHeader(1), TE_BAD_HEADER);

    EXPECT_EQ(Status().errorCount_, 5);
    EXPECT_EQ(Status().consecutiveErrors_, 5);
    EXPECT_EQ(Status().code_, 0);
}

TEST_F(ZModemFraming, SilenceEndsAHeaderReadWithoutAFormat) {
    const std::uint32_t start = TickCount();
    EXPECT_EQ(engine.ReadHeader(1), TE_BAD_HEADER);
    EXPECT_EQ(engine.HeaderFormat(), LINK_NO_DATA);
    // Ten one-second slices, shortened tenfold by the test link.
    EXPECT_GE(TickCount() - start, 900u);
}

TEST_F(ZModemFraming, ErrorLimitEndsARepeatingRead) {
    engine.SetMaxErrors(3);
    for (int i = 0; i < 4; ++i) {
        Bytes bad = WithTrailer(HexHeader(ZACK, {1, 0, 0, 0}));
        bad[6] = '9';
        peer.Send(bad);
    }
    EXPECT_EQ(engine.ReadHeader(0), TE_TOO_MANY_ERRORS);
    EXPECT_EQ(Status().code_, TE_TOO_MANY_ERRORS);
    EXPECT_EQ(Status().consecutiveErrors_, 4);
}

TEST_F(ZModemFraming, FourCansAreNoiseFiveCancelWithoutAnswer) {
    Bytes four(4, ZDLE);
    four.push_back('x');
    const Bytes header = WithTrailer(HexHeader(ZRINIT, {0, 0, 0, 0x23}));
    four.insert(four.end(), header.begin(), header.end());
    peer.Send(four);
    EXPECT_EQ(engine.ReadHeader(1), ZRINIT);

    peer.Send(Bytes(5, ZDLE));
    EXPECT_EQ(engine.ReadHeader(0), TE_REMOTE_CANCEL);
    EXPECT_EQ(Status().code_, TE_REMOTE_CANCEL);
    // The other side cancelled: it gets no cancel sequence back.
    EXPECT_TRUE(Sent().empty());
}

// --- Reading subpackets ------------------------------------------------------------------------

TEST_F(ZModemFraming, EveryByteValueRoundTripsWithBothCrcs) {
    // A second engine on the peer's end writes; this one reads.
    Framer writer(peerSide.link.get(), &peerSide.status);
    Bytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    for (const bool crc32 : {false, true}) {
        writer.SetPeerFlags(crc32 ? CANFC32 : 0);
        engine.SetHeaderFormat(crc32 ? 'C' : 'A');
        for (const int end : {ZCRCE, ZCRCG, ZCRCQ, ZCRCW}) {
            Bytes data;
            for (int k = 0; k < 4; ++k) {
                data.insert(data.end(), all.begin(), all.end());
            }
            std::copy(data.begin(), data.end(), writer.DataBuffer());
            writer.SendData(static_cast<int>(data.size()), end);
            EXPECT_EQ(engine.ReadData(), end);
            ASSERT_EQ(Status().blockLength_, 1024);
            EXPECT_EQ(Bytes(engine.DataBuffer(), engine.DataBuffer() + 1024), data);
            if (end == ZCRCW) {
                EXPECT_EQ(engineSide.link->ReadByte(100), 0x11); // the XON after it
            }
        }
        writer.SendData(0, ZCRCE);
        EXPECT_EQ(engine.ReadData(), ZCRCE);
        EXPECT_EQ(Status().blockLength_, 0);
    }
    // On the line: no byte of the escape set except ZDLE, and ZDLE never followed by one.
    const Bytes line = peerSide.tap.Sent();
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == ZDLE) {
            ASSERT_LT(i + 1, line.size());
            EXPECT_FALSE(Escaped(line[i + 1])) << i;
        } else if (line[i] != 0x11) {
            EXPECT_FALSE(Escaped(line[i])) << i;
        }
    }
}

TEST_F(ZModemFraming, SubpacketDecodingSpecialEscapesAndFaults) {
    engine.SetHeaderFormat('A');
    // ZDLE 'l' and ZDLE 'm' stand for 0x7F and 0xFF.
    Bytes special{ZDLE, 'l', ZDLE, 'm', 'q'};
    // The frame end and CRC of the same data written plainly.
    const Bytes good = Subpacket({0x7F, 0xFF, 'q'}, ZCRCE, false);
    special.insert(special.end(), good.begin() + 3, good.end());
    peer.Send(special);
    EXPECT_EQ(engine.ReadData(), ZCRCE);
    EXPECT_EQ(Bytes(engine.DataBuffer(), engine.DataBuffer() + 3), (Bytes{0x7F, 0xFF, 'q'}));

    Bytes bad16 = Subpacket({1, 2, 3}, ZCRCG, false);
    bad16[1] ^= 0x20;
    peer.Send(bad16);
    EXPECT_EQ(engine.ReadData(), TE_BAD_CRC16);

    engine.SetHeaderFormat('C');
    Bytes bad32 = Subpacket({1, 2, 3}, ZCRCG, true);
    bad32[0] ^= 0x01;
    peer.Send(bad32);
    EXPECT_EQ(engine.ReadData(), TE_BAD_CRC32);

    // 1,025 data bytes are one too many.
    peer.Send(Subpacket(Bytes(1025, 'z'), ZCRCG, true));
    EXPECT_EQ(engine.ReadData(), LINK_WRITE_SHORT);
    peer.ReadUntilSilent(50);
    engine.Link()->PurgeInput(0);
    EXPECT_EQ(Status().code_, 0);

    // Five ZDLE in a row inside data cancel.
    peer.Send(Bytes{'a', 'b', ZDLE, ZDLE, ZDLE, ZDLE, ZDLE});
    EXPECT_EQ(engine.ReadData(), TE_REMOTE_CANCEL);
    EXPECT_EQ(Status().code_, TE_REMOTE_CANCEL);
}

TEST_F(ZModemFraming, SilenceInsideASubpacketEndsIt) {
    engine.SetHeaderFormat('C');
    peer.Send(Bytes{'a', 'b', 'c'});
    EXPECT_EQ(engine.ReadData(), LINK_NO_DATA);
    EXPECT_EQ(Status().blockLength_, 3);
    EXPECT_EQ(Status().code_, 0);
}

// --- Handshakes --------------------------------------------------------------------------------

struct WindowAgreement {
    int windowSize;  // the sender's setting
    Bytes rinit;     // ZP0 ZP1 ZP2 ZP3 of the receiver's ZRINIT
    unsigned window; // what the sender then uses
};

TEST_F(ZModemFraming, OpeningABatchAgreesOnWindowAndCrc) {
    const WindowAgreement cases[] = {
        {4096, {0x00, 0x08, 0x00, CANFDX | CANOVIO | CANFC32}, 2048}, // the receiver's buffer
        {1024, {0x00, 0x08, 0x00, CANFDX | CANOVIO | CANFC32}, 1024}, // our smaller setting
        {0, {0x00, 0x40, 0x00, CANFDX | CANOVIO}, 16384},             // streaming, but buffered
        {0, {0x00, 0x00, 0x00, CANFDX | CANOVIO | CANFC32}, 0},       // a true stream
        {0, {0x00, 0x00, 0x00, CANFC32}, 4096},                       // half duplex
    };
    for (const WindowAgreement& c : cases) {
        Framer sender(engineSide.link.get(), &engineSide.status);
        sender.SetWindowSize(c.windowSize);
        // A challenge first: answered with ZACK and its own data, and counted as an error.
        peer.Send(WithTrailer(HexHeader(ZCHALLENGE, {1, 2, 3, 4})));
        peer.Send(WithTrailer(HexHeader(ZRINIT, c.rinit)));
        ASSERT_TRUE(sender.OpenBatch());
        EXPECT_EQ(sender.Window(), c.window);
        EXPECT_EQ(sender.PeerFlags(), c.rinit[3]);
        EXPECT_EQ(Status().checkType_, (c.rinit[3] & CANFC32) ? kCheckCrc32 : kCheckCrc16);
        Bytes expected = WithTrailer(HexHeader(ZRQINIT, {0, 0, 0, 0}));
        expected.push_back(0x11);
        const Bytes ack = WithTrailer(HexHeader(ZACK, {1, 2, 3, 4}));
        expected.insert(expected.end(), ack.begin(), ack.end());
        expected.insert(expected.end(), {'*', '*', ZDLE, 'B', '0', '0'}); // ZRQINIT again
        const Bytes sent = Sent();
        ASSERT_GE(sent.size(), expected.size());
        EXPECT_EQ(Bytes(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(expected.size())),
                  expected);
        EXPECT_EQ(Status().errorCount_, 1);
        Status().errorCount_ = 0;
        Status().consecutiveErrors_ = 0;
    }
}

TEST_F(ZModemFraming, ReceiverAnswersRqinitSinitAndFin) {
    int result = 1;
    std::thread receiver([&] { result = engine.Receive(nullptr); });
    // Its first ZRINIT: a 4,096-byte buffer and CANFDX, CANOVIO, CANBRK, CANFC32.
    Bytes rinit = WithTrailer(HexHeader(ZRINIT, {0x00, 0x10, 0x00, 0x27}));
    rinit.push_back(0x11);
    EXPECT_EQ(peer.ReadN(rinit.size()), rinit);
    // A sender that starts late: ZRQINIT is answered with another ZRINIT.
    peer.Send(Text("rz\r"));
    Bytes rqinit = WithTrailer(HexHeader(ZRQINIT, {0, 0, 0, 0}));
    rqinit.push_back(0x11);
    peer.Send(rqinit);
    EXPECT_EQ(peer.ReadN(rinit.size()), rinit);
    // ZSINIT with its attention string: ZNAK when the subpacket does not end the frame (an
    // error), ZACK when it does; either way the receiver reads on.
    const Bytes nak = WithTrailer(HexHeader(ZNAK, {0, 0, 0, 0}));
    const Bytes ack = WithTrailer(HexHeader(ZACK, {0, 0, 0, 0}));
    const Bytes fin = WithTrailer(HexHeader(ZFIN, {0, 0, 0, 0}));
    peer.Send(BinHeader(ZSINIT, {0, 0, 0, 0}, true));
    peer.Send(Subpacket(Text(std::string("\x03", 1) + '\0'), ZCRCG, true));
    Bytes nakXon = nak;
    nakXon.push_back(0x11);
    EXPECT_EQ(peer.ReadN(nakXon.size()), nakXon);
    peer.Send(BinHeader(ZSINIT, {0, 0, 0, 0}, true));
    peer.Send(Subpacket(Text(std::string("\x03", 1) + '\0'), ZCRCW, true));
    EXPECT_EQ(peer.ReadN(ack.size()), ack);
    // ZFIN ends the batch: ZFIN back, then the sender's "OO".
    peer.Send(fin);
    EXPECT_EQ(peer.ReadN(fin.size()), fin);
    peer.Send(Text("OO"));
    receiver.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Status().fileCount_, 0);
    EXPECT_EQ(engineSide.status.LastCode(), TE_DONE);
    EXPECT_EQ(Status().errorCount_, 1);
}

} // namespace
} // namespace tollan::test
