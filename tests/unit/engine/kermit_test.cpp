// Kermit packets on real bytes (as C-Kermit and G-Kermit put them on the line), the prefixing of
// data, the Send-Init agreement, and a Kermit sender against a Kermit receiver over the memory
// line.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "engine/engine_codes.h"
#include "engine/kermit_engine.h"
#include "engine_test_support.h"

namespace tollan::test {
namespace {

using namespace tollan::kermit;

Bytes B(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// Feeds `bytes` to a reader; the result of the last byte.
PacketReader::Result FeedAll(PacketReader& reader, const Bytes& bytes) {
    PacketReader::Result r = PacketReader::Result::kMore;
    for (std::uint8_t b : bytes) {
        r = reader.Feed(b);
    }
    return r;
}

// Packets from peers' logs, with each block check: built the same, read back the same, refused
// with a flipped bit.
TEST(KermitPacket, PeersPacketsWithEachCheck) {
    struct Case {
        std::string_view wire; // without the end of line
        int check;
        int seq;
        char type;
        std::string_view data;
    };
    const Case cases[] = {
        {"\x01"
         "9 Y~/ @-#Y3~^>J)0___F\"U1@E",
         1, 0, 'Y', "~/ @-#Y3~^>J)0___F\"U1@"},
        {"\x01"
         "-!Fsmall.bin04",
         2, 1, 'F', "small.bin"},
        {"\x01"
         "$\"Y\"?",
         2, 2, 'Y', ""},
        {"\x01"
         "%GY/ZL",
         3, 39, 'Y', ""},
        {"\x01"
         "6#D~*A#A#B###&#~&A&#?1N",
         2, 3, 'D', "~*A#A#B###&#~&A&#?"},
    };
    std::uint8_t area[kLongest + 16];
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wire);
        const Bytes data = B(c.data);
        std::uint8_t out[256];
        const std::size_t n = BuildPacket(out, c.seq, static_cast<std::uint8_t>(c.type),
                                          data.data(), data.size(), Framing{c.check});
        EXPECT_EQ(Bytes(out, out + n), B(std::string(c.wire) + "\r"));
        PacketReader reader(area, sizeof area);
        reader.SetCheck(c.check);
        ASSERT_EQ(FeedAll(reader, B(c.wire)), PacketReader::Result::kPacket);
        EXPECT_EQ(reader.Seq(), c.seq);
        EXPECT_EQ(reader.Type(), c.type);
        EXPECT_EQ(Bytes(reader.Data(), reader.Data() + reader.Length()), data);
        EXPECT_EQ(FeedAll(reader, Flipped(B(c.wire), -2, 0x04)), PacketReader::Result::kBad);
    }
}

// A long packet with its header check; a mark inside a packet starts a new one; a Send-Init is
// read with check 1 and an error packet with any check; parity bits are taken off.
TEST(KermitPacket, LongPacketsRestartsAndExceptions) {
    std::uint8_t area[kLongest + 16];
    PacketReader reader(area, sizeof area);
    reader.SetCheck(3);
    Bytes big(5000); // as encoded: printable
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<std::uint8_t>(' ' + i % 95);
    }
    std::uint8_t out[kLongest + 64];
    std::size_t n = BuildPacket(out, 63, 'D', big.data(), big.size(), Framing{3});
    EXPECT_EQ(out[1], ' ');                  // the length field says "long"
    Bytes cut = B("\x01+!Fhal");             // a packet cut short by the next
    cut.insert(cut.end(), out, out + n - 1); // without the end of line
    ASSERT_EQ(FeedAll(reader, cut), PacketReader::Result::kPacket);
    EXPECT_EQ(Bytes(reader.Data(), reader.Data() + reader.Length()), big);
    EXPECT_EQ(FeedAll(reader, Flipped(Bytes(out, out + n - 1), 100, 0x01)),
              PacketReader::Result::kBad);

    EXPECT_EQ(FeedAll(reader, B("\x01"
                                "0 S~' @-#Y3~*!~~*")),
              PacketReader::Result::kPacket);
    n = BuildPacket(out, 5, 'E', reinterpret_cast<const std::uint8_t*>("stop"), 4, Framing{2});
    EXPECT_EQ(FeedAll(reader, Bytes(out, out + n - 1)), PacketReader::Result::kPacket);
    EXPECT_EQ(reader.Type(), 'E');
    Bytes parity = B("\x01"
                     "%GY/ZL");
    for (std::uint8_t& b : parity) {
        b |= 0x80;
    }
    EXPECT_NE(FeedAll(reader, parity), PacketReader::Result::kPacket);
    reader.SetStripParity(true);
    EXPECT_EQ(FeedAll(reader, parity), PacketReader::Result::kPacket);
}

// Each prefix on its own and together, and controls that travel bare, on real bytes; every byte
// value in runs round trips.
TEST(KermitPacket, PrefixingAndRepeatCounts) {
    struct Case {
        Prefixing p;
        Bytes raw;
        std::string_view wire;
    };
    const Prefixing plain{'#', 0, 0};
    const Prefixing eighth{'#', '&', 0};
    const Prefixing all{'#', '&', '~'};
    const Prefixing bare{'#', 0, 0, true};
    const Case cases[] = {
        {plain,
         B("\x01"
           "A#&~\x7f"),
         "#AA##&~#?"},
        {plain, {0xC1, 0x81, 0xA3, 0xFF}, "\xc1#\xc1#\xa3#\xbf"},
        {eighth, {0xC1, 0x81, '&', 0xA6, 0xFF}, "&A&#A#&&#&&#?"},
        {all, B("AAAAAAAAAA\x01\x02#&~\xc1\xff"), "~*A#A#B###&#~&A&#?"},
        {all, B("AAA~~~~"), "AAA~$#~"},
        {bare, {0x02, 0x03, 0x82, 0x8D, 0x7F, 0x98, 0x18, 0xFF}, "\x02#C\x82#\xcd\x7f\x98#X#\xbf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wire);
        std::uint8_t out[256];
        std::size_t written = 0;
        EXPECT_EQ(EncodeData(c.p, c.raw.data(), c.raw.size(), out, sizeof out, written),
                  c.raw.size());
        EXPECT_EQ(Bytes(out, out + written), B(c.wire));
        // A unit is never split: one byte short of the whole takes less.
        EXPECT_LT(EncodeData(c.p, c.raw.data(), c.raw.size(), out, written - 1, written),
                  c.raw.size());
    }
    Bytes every;
    for (int v = 0; v < 256; ++v) {
        every.insert(every.end(), static_cast<std::size_t>(v % 7 + 1),
                     static_cast<std::uint8_t>(v));
    }
    every.insert(every.end(), 300, 0);
    for (const Prefixing& p : {plain, eighth, all, Prefixing{'#', '&', '~', true}}) {
        std::uint8_t wire[8192];
        std::size_t written = 0;
        ASSERT_EQ(EncodeData(p, every.data(), every.size(), wire, sizeof wire, written),
                  every.size());
        std::uint8_t back[8192];
        std::size_t position = 0;
        const long n = DecodeData(p, wire, written, position, back, sizeof back);
        EXPECT_EQ(Bytes(back, back + n), every);
        for (std::size_t i = 0; i < written && p.qbin != 0; ++i) {
            EXPECT_LT(wire[i], 0x80); // 7 bits on the line
        }
        position = 0;
        EXPECT_EQ(DecodeData(p, B("AB#").data(), 3, position, back, sizeof back), -1);
    }
}

// Both sides arrive at the same session from their own fields and the other's.
TEST(KermitPacket, SendInitAgreement) {
    const Bytes ckermit = B("~/ @-#Y3~^>J)0___F\"U1@");
    const InitParams peer = ReadInit(ckermit.data(), ckermit.size());
    EXPECT_EQ(peer.maxl, 94);
    EXPECT_EQ(peer.time, 15);
    EXPECT_EQ(peer.eol, 13);
    EXPECT_EQ(peer.chkt, 3);
    EXPECT_EQ(peer.capas & (kCapLong | kCapAttributes), kCapLong | kCapAttributes);
    EXPECT_EQ(peer.maxlx, 3999);
    const InitParams empty = ReadInit(nullptr, 0);
    EXPECT_EQ(empty.maxl, 80);
    EXPECT_EQ(empty.chkt, 1);

    struct Case {
        std::uint8_t senderQbin, receiverQbin;
        int senderCheck;
        std::uint8_t receiverRept;
        std::uint8_t qbin, rept;
        int check;
    };
    const Case cases[] = {
        {'Y', 'Y', 3, '~', 0, '~', 3}, {'&', 'Y', 2, '~', '&', '~', 2},
        {'Y', '&', 1, ' ', '&', 0, 1}, {'&', 'N', 3, '~', 0, '~', 3},
        {'Y', 'N', 3, ' ', 0, 0, 3},
    };
    for (const Case& c : cases) {
        InitParams sender;
        sender.qbin = c.senderQbin;
        sender.chkt = c.senderCheck;
        sender.rept = '~';
        sender.capas = kCapLong | kCapWindows | kCapAttributes;
        sender.maxlx = 2000;
        sender.window = 8;
        InitParams receiver;
        receiver.qbin = c.receiverQbin;
        receiver.rept = c.receiverRept;
        receiver.capas = kCapLong | kCapWindows; // no attributes, as U-Boot's loadb
        receiver.maxlx = 9024;
        receiver.window = kMaxWindow;
        const InitParams answer = AnswerInit(receiver, sender);
        const Session s = Agree(sender, answer);
        const Session r = Agree(answer, sender);
        EXPECT_EQ(s.out.qbin, c.qbin);
        EXPECT_EQ(r.in.qbin, c.qbin);
        EXPECT_EQ(s.out.rept, c.rept);
        EXPECT_EQ(r.in.rept, c.rept);
        EXPECT_EQ(s.framing.check, c.check);
        EXPECT_EQ(r.framing.check, c.check);
        EXPECT_EQ(s.capas, kCapLong | kCapWindows);
        EXPECT_EQ(s.window, 8);
        EXPECT_EQ(r.window, 8);
        EXPECT_FALSE(s.out.bareControls); // every control prefixed for it
        EXPECT_TRUE(r.out.bareControls);
        EXPECT_EQ(s.sendLength, 2000);
        EXPECT_EQ(r.sendLength, 2000);
    }
}

struct KPair : EnginePair<KermitEngine> {
    using EnginePair::EnginePair;
};

// A batch with an empty file, every byte value and a large file arrives intact with its times,
// with each check, 7-bit and long packets, sliding windows, also on a line that corrupts bytes
// (with a window: packets lost inside it, the ones after them kept, the lost ones asked for).
TEST(KermitTransfer, BatchArrivesIntactOnEveryTerm) {
    struct Case {
        int check;
        bool sevenBit;
        int length;
        std::uint32_t errorInterval;
        int window;
    };
    Bytes everyByte(5000);
    for (std::size_t i = 0; i < everyByte.size(); ++i) {
        everyByte[i] = static_cast<std::uint8_t>(i < 4000 ? i : 0x8D);
    }
    for (const Case& c :
         {Case{1, true, 94, 0, 1}, Case{2, false, 9024, 0, 31}, Case{3, false, 3000, 0, 4},
          Case{3, true, 1000, 5000, 1}, Case{3, false, 500, 3000, 8}}) {
        SCOPED_TRACE(c.check * 100 + c.sevenBit);
        KPair p(MemoryPortOptions{c.errorInterval, 3});
        for (KermitEngine* e : {&p.sender, &p.receiver}) {
            e->SetBlockCheck(c.check);
            e->SetSevenBit(c.sevenBit);
            e->SetPacketLength(c.length);
            e->SetWindow(c.window);
        }
        WriteFile(p.from.Path("empty"), {});
        WriteFile(p.from.Path("every byte"), everyByte);
        WriteFile(p.from.Path("large.bin"), Pattern(70000));
        FileTime(p.from.Path("large.bin"), 0x40000000);
        p.Run(p.from.Path("empty") + ";" + p.from.Path("every byte") + ";" +
              p.from.Path("large.bin"));
        EXPECT_EQ(p.sent, 0);
        EXPECT_EQ(p.received, 0);
        EXPECT_EQ(p.rx.status.fileCount_, 3);
        EXPECT_EQ(p.rx.status.checkType_, c.check == 3 ? kCheckCrc16 : c.check);
        EXPECT_EQ(p.receiver.Agreed().window, c.window);
        EXPECT_EQ(ReadFile("empty"), Bytes{});
        EXPECT_EQ(ReadFile("every byte"), everyByte);
        EXPECT_EQ(ReadFile("large.bin"), Pattern(70000));
        EXPECT_EQ(FileTime("large.bin"), 0x40000000);
        EXPECT_EQ(c.errorInterval != 0, p.rx.status.errorCount_ + p.tx.status.errorCount_ > 0);
    }
}

// A file the receiver has is skipped (the data packet's answer says X) and kept as it was; the
// batch goes on. A cancel on either side reaches the other as an error packet.
TEST(KermitTransfer, SkippedFileAndCancelBothWays) {
    KPair p;
    p.receiver.SetSkipDeclined(true);
    WriteFile(p.from.Path("a"), Pattern(3000));
    WriteFile(p.from.Path("b"), Pattern(4000, 2));
    WriteFile("a", Text("mine"));
    p.Run(p.from.Path("a") + ";" + p.from.Path("b"));
    EXPECT_EQ(p.sent, 0);
    EXPECT_EQ(p.received, 0);
    EXPECT_EQ(ReadFile("a"), Text("mine"));
    EXPECT_EQ(ReadFile("b"), Pattern(4000, 2));
    EXPECT_EQ(p.tx.status.fileCount_, 1);

    for (bool cancelSender : {true, false}) {
        KPair q;
        WriteFile(q.from.Path("c"), Pattern(200000));
        (cancelSender ? q.tx : q.rx).status.AbortWith(TE_USER_CANCEL);
        q.Run(q.from.Path("c"));
        EXPECT_EQ(cancelSender ? q.sent : q.received, TE_USER_CANCEL);
        EXPECT_EQ(cancelSender ? q.received : q.sent, TE_REMOTE_CANCEL);
    }
}

} // namespace
} // namespace tollan::test
