// ZModem sender against ZModem receiver over the in-memory null-modem line, on two threads, with
// real files: batches, windows, noise, the error limit, the file-management options, crash
// recovery and cancels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "engine_codes.h"
#include "engine_test_support.h"
#include "file_access.h"
#include "zmodem_engine.h"

namespace tollan::test {
namespace {

constexpr std::int32_t kOldTime = 0x40000000; // 2004-01-10 13:37:04
constexpr std::int32_t kNewTime = 0x50000000; // 2012-07-13 11:01:20

void SetFileTime(const std::string& path, std::int32_t time) {
    std::unique_ptr<FileAccess> file(CreateFileAccess());
    ASSERT_EQ(file->Open(path.c_str(), "a"), 0);
    file->SetUnixTime(time);
    file->ApplyFileTime();
    file->Close();
}

std::int64_t FileTime(const std::string& path) {
    std::unique_ptr<FileAccess> file(CreateFileAccess());
    if (file->Open(path.c_str(), "r") != 0) {
        return -1;
    }
    file->FetchFileTime();
    const std::int64_t time = file->GetUnixTime();
    file->Close();
    return time;
}

// How often `needle` occurs in `haystack`.
int Count(const Bytes& haystack, const Bytes& needle) {
    int n = 0;
    for (auto it = haystack.begin();;) {
        it = std::search(it, haystack.end(), needle.begin(), needle.end());
        if (it == haystack.end()) {
            return n;
        }
        ++n;
        ++it;
    }
}

// The start of a hex header of `type` as the receiver sends it.
Bytes HexHeaderStart(int type) {
    char text[3];
    std::snprintf(text, sizeof text, "%02x", type);
    return Bytes{ZPAD,
                 ZPAD,
                 ZDLE,
                 'B',
                 static_cast<std::uint8_t>(text[0]),
                 static_cast<std::uint8_t>(text[1])};
}

Bytes WithTrailerlessHex(int type, const Bytes& data) {
    Bytes out = HexHeaderStart(type);
    for (const std::uint8_t b : data) {
        char text[3];
        std::snprintf(text, sizeof text, "%02x", b);
        out.push_back(static_cast<std::uint8_t>(text[0]));
        out.push_back(static_cast<std::uint8_t>(text[1]));
    }
    return out;
}

// A sender and a receiver engine over one memory line, with a folder for each side.
struct ZPair {
    explicit ZPair(const MemoryPortOptions& options = {}) : line(options) {
        tx.status.SetTimeLimit(60000);
        rx.status.SetTimeLimit(60000);
    }

    MemoryPortPair line;
    Side tx{line.A()};
    Side rx{line.B()};
    ZModemEngine sender{tx.link.get(), &tx.status};
    ZModemEngine receiver{rx.link.get(), &rx.status};
    TempDir from;
    TempDir to;
    int sent = 1;
    int received = 1;

    // Sends `sendList`; the receiver takes the names of `receiveList` (none: the offered names).
    void Run(std::string sendList, std::string receiveList = "") {
        RunBoth([&] { sent = sender.Send(sendList.data()); },
                [&] {
                    received = receiver.Receive(receiveList.empty() ? nullptr : receiveList.data());
                });
    }

    // A list that pairs each source file with its target path (path mode 2).
    std::string Pairs(std::initializer_list<std::string> names) {
        sender.SetPathSwitch(2);
        std::string list;
        for (const std::string& name : names) {
            if (!list.empty()) {
                list += ';';
            }
            list += from.Path(name) + ';' + to.Path(name);
        }
        return list;
    }
};

// Frame ends on the sender's side of the line: ZDLE followed by 'h' to 'k' occurs nowhere else,
// since every ZDLE in data, headers and CRCs is itself escaped to ZDLE 'X'.
int FrameEnds(const Bytes& sent, int end) {
    return Count(sent, Bytes{ZDLE, static_cast<std::uint8_t>(end)});
}

struct WindowCase {
    const char* name;
    int senderWindow;   // the sender's WindowSize
    int receiverWindow; // the buffer size the receiver announces
    unsigned window;    // what the sender then uses
};

class ZModemWindows : public ::testing::TestWithParam<WindowCase> {};

TEST_P(ZModemWindows, BatchArrivesIntactWithTimes) {
    const WindowCase& c = GetParam();
    ZPair p;
    p.sender.SetWindowSize(c.senderWindow);
    p.receiver.SetWindowSize(c.receiverWindow);
    Bytes everyByte;
    for (int k = 0; k < 40; ++k) {
        for (int i = 0; i < 256; ++i) {
            everyByte.push_back(static_cast<std::uint8_t>(i));
        }
    }
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"empty", {}},
        {"every byte", everyByte}, // 10,240 bytes: a whole number of subpackets
        {"large.bin", Pattern((1 << 20) + 333)},
        {"name with spaces.txt", Text(std::string(3000, 'z') + "\r\n")},
    };
    std::int32_t time = kOldTime;
    for (const auto& [name, data] : files) {
        WriteFile(p.from.Path(name), data);
        SetFileTime(p.from.Path(name), time);
        time += 3600;
    }
    p.Run(p.Pairs({"empty", "every byte", "large.bin", "name with spaces.txt"}));
    EXPECT_EQ(p.sent, 0);
    EXPECT_EQ(p.received, 0);
    EXPECT_EQ(p.tx.status.fileCount_, 4);
    EXPECT_EQ(p.rx.status.fileCount_, 4);
    time = kOldTime;
    for (const auto& [name, data] : files) {
        EXPECT_EQ(ReadFile(p.to.Path(name)), data) << name;
        EXPECT_EQ(FileTime(p.to.Path(name)), time) << name;
        time += 3600;
    }
    EXPECT_EQ(p.sender.Window(), c.window);
    EXPECT_EQ(p.tx.status.checkType_, kCheckCrc32);
    EXPECT_EQ(p.rx.status.errorCount_, 0);
    // Each window is acknowledged; a stream is not.
    const int acks = Count(p.rx.tap.Sent(), HexHeaderStart(ZACK));
    if (c.window == 0) {
        EXPECT_EQ(acks, 0);
    } else {
        EXPECT_GE(acks, static_cast<int>((1 << 20) / c.window));
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, ZModemWindows,
                         ::testing::Values(WindowCase{"Streaming", 0, 0, 0},
                                           WindowCase{"Window1024", 1024, 4096, 1024},
                                           WindowCase{"Window2048", 2048, 4096, 2048},
                                           WindowCase{"Window4096", 4096, 4096, 4096},
                                           WindowCase{"ReceiverBuffer2048", 4096, 2048, 2048},
                                           WindowCase{"StreamingToBuffer1024", 0, 1024, 1024}),
                         [](const ::testing::TestParamInfo<WindowCase>& info) {
                             return info.param.name;
                         });

TEST(ZModemTransfer, WindowsAndStreamsEndTheirSubpacketsAsAgreed) {
    {
        // A 2,048-byte receiver buffer: one ZDATA frame, each window of it a ZCRCG and a ZCRCQ
        // subpacket, acknowledged before the next; the last subpacket ends with ZCRCW. (The
        // offer's information subpacket ends with ZCRCW too.)
        ZPair p;
        p.receiver.SetWindowSize(2048);
        WriteFile(p.from.Path("f"), Pattern(8192));
        p.Run(p.Pairs({"f"}));
        ASSERT_EQ(p.sent, 0);
        const Bytes sent = p.tx.tap.Sent();
        EXPECT_EQ(FrameEnds(sent, ZCRCG), 4);
        EXPECT_EQ(FrameEnds(sent, ZCRCQ), 3);
        EXPECT_EQ(FrameEnds(sent, ZCRCW), 2);
        EXPECT_EQ(FrameEnds(sent, ZCRCE), 0);
        EXPECT_EQ(Count(sent, Bytes{ZPAD, ZDLE, 'C', ZDATA}), 1);
        EXPECT_EQ(Count(p.rx.tap.Sent(), HexHeaderStart(ZACK)), 4);
        EXPECT_EQ(p.rx.status.errorCount_, 0);
    }
    {
        // Streaming: one frame of ZCRCG subpackets closed by a short ZCRCE one.
        ZPair p;
        p.sender.SetWindowSize(0);
        p.receiver.SetWindowSize(0);
        WriteFile(p.from.Path("f"), Pattern(5000));
        p.Run(p.Pairs({"f"}));
        ASSERT_EQ(p.sent, 0);
        const Bytes sent = p.tx.tap.Sent();
        EXPECT_EQ(FrameEnds(sent, ZCRCG), 4);
        EXPECT_EQ(FrameEnds(sent, ZCRCE), 1);
        EXPECT_EQ(FrameEnds(sent, ZCRCQ), 0);
        EXPECT_EQ(FrameEnds(sent, ZCRCW), 1);
        EXPECT_EQ(Count(p.rx.tap.Sent(), HexHeaderStart(ZACK)), 0);
    }
}

TEST(ZModemTransfer, OfferCarriesNameSizeOctalTimeAndOptions) {
    ZPair p;
    p.sender.SetOverwrite(ZMNEW);
    p.sender.SetCrashRecovery(1);
    WriteFile(p.from.Path("A"), Pattern(1234));
    SetFileTime(p.from.Path("A"), 0x40000000);
    std::string list = p.from.Path("A");
    p.Run(list, p.to.Path("B"));
    ASSERT_EQ(p.sent, 0);
    const Bytes sent = p.tx.tap.Sent();
    // Path mode 0: the name goes without its directories.
    EXPECT_TRUE(Contains(sent, Text(std::string("A") + '\0' + "1234 10000000000 0")));
    // ZFILE with ZF0 0x41 (no resume asked), ZF1 ZMNEW: ZP0..ZP3 = 00 00 05 41.
    const Bytes zfile{ZPAD, ZDLE, 'C', ZFILE, 0x00, 0x00, ZMNEW, 0x41};
    EXPECT_TRUE(Contains(sent, zfile));
    EXPECT_EQ(ReadFile(p.to.Path("B")), Pattern(1234));
}

TEST(ZModemTransfer, ReceiverNamesComeFromItsListThenFromTheOffers) {
    ZPair p;
    WriteFile(p.from.Path("one"), Pattern(100, 1));
    WriteFile(p.from.Path("two"), Pattern(200, 2));
    p.sender.SetPathSwitch(1); // the full path goes out; the receiver's list overrides it
    p.Run(p.from.Path("one") + ";" + p.from.Path("two"),
          p.to.Path("first") + ";" + p.to.Path("second"));
    EXPECT_EQ(p.received, 0);
    EXPECT_EQ(ReadFile(p.to.Path("first")), Pattern(100, 1));
    EXPECT_EQ(ReadFile(p.to.Path("second")), Pattern(200, 2));
}

// --- Noise and the error limit -----------------------------------------------------------------

TEST(ZModemTransfer, CorruptedDataIsResentAndArrivesIntact) {
    for (const int window : {0, 1024}) {
        ZPair p;
        p.sender.SetWindowSize(window);
        p.receiver.SetWindowSize(window == 0 ? 0 : 4096);
        p.sender.SetMaxErrors(50);
        p.receiver.SetMaxErrors(50);
        const Bytes data = Pattern(300000, 5);
        WriteFile(p.from.Path("noisy"), data);
        // One flipped bit every 37,000 bytes of what the sender writes, past the handshake.
        for (std::uint64_t at = 5000; at < 300000; at += 37000) {
            p.tx.tap.CorruptSent(at, 0x10);
        }
        p.Run(p.Pairs({"noisy"}));
        EXPECT_EQ(p.sent, 0) << window;
        EXPECT_EQ(p.received, 0) << window;
        EXPECT_EQ(ReadFile(p.to.Path("noisy")), data) << window;
        EXPECT_GE(p.rx.status.errorCount_, 5) << window;
        EXPECT_GE(Count(p.rx.tap.Sent(), HexHeaderStart(ZRPOS)), 6) << window;
    }
}

TEST(ZModemTransfer, RandomBitErrorsBothWaysStillDeliverTheBatch) {
    MemoryPortOptions options;
    options.errorInterval = 20000;
    options.seed = 11;
    ZPair p(options);
    p.sender.SetMaxErrors(30);
    p.receiver.SetMaxErrors(30);
    const Bytes a = Pattern(200000, 3);
    const Bytes b = Pattern(70000, 4);
    WriteFile(p.from.Path("a"), a);
    WriteFile(p.from.Path("b"), b);
    p.Run(p.Pairs({"a", "b"}));
    EXPECT_EQ(p.sent, 0);
    EXPECT_EQ(p.received, 0);
    EXPECT_EQ(ReadFile(p.to.Path("a")), a);
    EXPECT_EQ(ReadFile(p.to.Path("b")), b);
    EXPECT_GT(p.line.A().CorruptedCount(), 0u);
}

TEST(ZModemTransfer, ALowErrorLimitOnANoisyLineEndsTheRun) {
    MemoryPortOptions options;
    options.errorInterval = 300;
    options.seed = 3;
    ZPair p(options);
    p.sender.SetMaxErrors(2);
    p.receiver.SetMaxErrors(2);
    WriteFile(p.from.Path("x"), Pattern(100000));
    p.Run(p.Pairs({"x"}));
    const std::vector<int> limits = {TE_TOO_MANY_ERRORS, TE_HANDSHAKE_ERRORS};
    const bool senderHitLimit = std::find(limits.begin(), limits.end(), p.sent) != limits.end();
    const bool receiverHitLimit =
        std::find(limits.begin(), limits.end(), p.received) != limits.end();
    EXPECT_TRUE(senderHitLimit || receiverHitLimit) << p.sent << " " << p.received;
    EXPECT_NE(p.sent, 0);
    EXPECT_NE(p.received, 0);
}

// --- File management ---------------------------------------------------------------------------

struct ManagementCase {
    const char* name;
    int option;
    std::size_t oldSize;
    std::int32_t oldTime;
    std::size_t newSize;
    std::int32_t newTime;
    bool sameContent;    // the old file is the new one (for the CRC comparison)
    const char* outcome; // "replaced", "appended", "skipped", "exists"
};

// Keeps the test names that ctest lists short and the same from build to build.
void PrintTo(const ManagementCase& c, std::ostream* os) {
    *os << c.name;
}

class ZModemManagement : public ::testing::TestWithParam<ManagementCase> {};

TEST_P(ZModemManagement, ExistingFileIsTreatedByTheOption) {
    const ManagementCase& c = GetParam();
    ZPair p;
    p.receiver.SetOverwrite(c.option);
    p.receiver.SetCrashRecovery(1);
    const Bytes fresh = Pattern(c.newSize, 21);
    const Bytes old = c.sameContent ? fresh : Pattern(c.oldSize, 22);
    WriteFile(p.from.Path("f"), fresh);
    SetFileTime(p.from.Path("f"), c.newTime);
    WriteFile(p.to.Path("f"), old);
    SetFileTime(p.to.Path("f"), c.oldTime);
    WriteFile(p.from.Path("g"), Pattern(10, 23)); // a second file that is always new

    p.Run(p.Pairs({"f", "g"}));
    const std::string outcome = c.outcome;
    EXPECT_EQ(p.received, 0);
    EXPECT_EQ(p.sent, 0);
    EXPECT_EQ(ReadFile(p.to.Path("g")), Pattern(10, 23)); // the batch goes on
    const std::vector<int> codes = p.rx.status.NonZeroCodes();
    if (outcome == "replaced") {
        EXPECT_EQ(ReadFile(p.to.Path("f")), fresh);
        EXPECT_EQ(FileTime(p.to.Path("f")), c.newTime);
        EXPECT_EQ(p.rx.status.fileCount_, 2);
    } else if (outcome == "appended") {
        Bytes both = old;
        both.insert(both.end(), fresh.begin(), fresh.end());
        EXPECT_EQ(ReadFile(p.to.Path("f")), both);
    } else {
        EXPECT_EQ(ReadFile(p.to.Path("f")), old);
        EXPECT_EQ(FileTime(p.to.Path("f")), c.oldTime);
        EXPECT_EQ(p.rx.status.fileCount_, 1);
        EXPECT_EQ(p.tx.status.fileCount_, 1);
        const int declined = outcome == "exists" ? TE_FILE_EXISTS : TE_FILE_SKIPPED;
        EXPECT_NE(std::find(codes.begin(), codes.end(), declined), codes.end());
        EXPECT_NE(std::find(p.tx.status.NonZeroCodes().begin(), p.tx.status.NonZeroCodes().end(),
                            TE_FILE_SKIPPED),
                  p.tx.status.NonZeroCodes().end());
    }
}

constexpr std::int32_t kT1 = kOldTime;
constexpr std::int32_t kT2 = kNewTime;

INSTANTIATE_TEST_SUITE_P(
    Options, ZModemManagement,
    ::testing::Values(
        ManagementCase{"NewerLongerNewerButShorter", ZMNEWL, 500, kT1, 300, kT2, false, "replaced"},
        ManagementCase{"NewerLongerLongerButOlder", ZMNEWL, 300, kT2, 500, kT1, false, "replaced"},
        ManagementCase{"NewerLongerNeither", ZMNEWL, 500, kT2, 300, kT1, false, "skipped"},
        ManagementCase{"CrcSame", ZMCRC, 4000, kT1, 4000, kT2, true, "skipped"},
        ManagementCase{"CrcDifferent", ZMCRC, 4000, kT1, 4000, kT1, false, "replaced"},
        ManagementCase{"Append", ZMAPND, 700, kT1, 900, kT2, false, "appended"},
        ManagementCase{"Clobber", ZMCLOB, 900, kT2, 100, kT1, false, "replaced"},
        ManagementCase{"NewNewer", ZMNEW, 900, kT1, 100, kT2, false, "replaced"},
        ManagementCase{"NewOlder", ZMNEW, 100, kT2, 900, kT1, false, "skipped"},
        ManagementCase{"DiffSame", ZMDIFF, 600, kT1, 600, kT1, true, "skipped"},
        ManagementCase{"DiffTime", ZMDIFF, 600, kT1, 600, kT2, true, "replaced"},
        ManagementCase{"Protect", ZMPROT, 600, kT1, 900, kT2, false, "exists"}),
    [](const ::testing::TestParamInfo<ManagementCase>& info) { return info.param.name; });

TEST(ZModemTransfer, FollowingTheSenderTakesItsManagementOption) {
    ZPair p;
    p.receiver.SetOverwrite(ZMPROT);
    p.receiver.SetCrashRecovery(2);
    p.sender.SetOverwrite(ZMCLOB);
    p.sender.SetCrashRecovery(1);
    WriteFile(p.from.Path("f"), Pattern(3000, 1));
    WriteFile(p.to.Path("f"), Pattern(5000, 2));
    p.Run(p.Pairs({"f"}));
    EXPECT_EQ(p.received, 0);
    EXPECT_EQ(ReadFile(p.to.Path("f")), Pattern(3000, 1));
    EXPECT_EQ(p.receiver.Management(), ZMCLOB);
}

// --- Crash recovery ----------------------------------------------------------------------------

TEST(ZModemTransfer, ResumeContinuesFromTheBytesKept) {
    ZPair p;
    p.receiver.SetOverwrite(ZMCLOB);
    const Bytes data = Pattern(5000, 9);
    WriteFile(p.from.Path("f"), data);
    WriteFile(p.to.Path("f"), Bytes(data.begin(), data.begin() + 1000));
    p.Run(p.Pairs({"f"}));
    EXPECT_EQ(p.received, 0);
    EXPECT_EQ(ReadFile(p.to.Path("f")), data);
    // The first ZRPOS asks for position 1,000 (0x03E8).
    EXPECT_TRUE(Contains(p.rx.tap.Sent(), WithTrailerlessHex(ZRPOS, {0xE8, 0x03, 0, 0})));
    EXPECT_FALSE(Contains(p.rx.tap.Sent(), WithTrailerlessHex(ZRPOS, {0, 0, 0, 0})));
}

TEST(ZModemTransfer, ALongerExistingFileIsNotResumed) {
    ZPair p;
    p.receiver.SetOverwrite(ZMCLOB);
    WriteFile(p.from.Path("f"), Pattern(3000, 1));
    WriteFile(p.to.Path("f"), Pattern(6000, 2));
    p.Run(p.Pairs({"f"}));
    EXPECT_EQ(p.received, 0);
    EXPECT_EQ(ReadFile(p.to.Path("f")), Pattern(3000, 1));
}

TEST(ZModemTransfer, CutLineThenResumeGivesTheWholeFile) {
    const Bytes data = Pattern(200000, 13);
    // Resuming because the receiver always does, or because it follows a sender that asks.
    for (const int recovery : {3, 2}) {
        TempDir to;
        const std::string target = to.Path("f");
        {
            ZPair p;
            p.sender.SetWindowSize(0);
            p.receiver.SetWindowSize(0);
            WriteFile(p.from.Path("f"), data);
            SetFileTime(p.from.Path("f"), kNewTime);
            // The sender's user gives up half way.
            p.tx.status.AbortAtPosition(100000, TE_USER_CANCEL);
            p.sender.SetPathSwitch(2);
            p.Run(p.from.Path("f") + ";" + target);
            EXPECT_EQ(p.sent, TE_USER_CANCEL);
            EXPECT_EQ(p.received, TE_REMOTE_CANCEL);
            // The receiver keeps what arrived, with the announced time.
            const Bytes part = ReadFile(target);
            ASSERT_GT(part.size(), 0u);
            ASSERT_LT(part.size(), data.size());
            EXPECT_EQ(part,
                      Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(part.size())));
            EXPECT_EQ(FileTime(target), kNewTime);
        }
        ZPair p;
        WriteFile(p.from.Path("f"), data);
        p.receiver.SetOverwrite(ZMCLOB);
        p.receiver.SetCrashRecovery(recovery);
        p.sender.SetCrashRecovery(3);
        p.sender.SetOverwrite(ZMCLOB);
        const std::size_t before = ReadFile(target).size();
        p.sender.SetPathSwitch(2);
        p.Run(p.from.Path("f") + ";" + target);
        EXPECT_EQ(p.sent, 0) << recovery;
        EXPECT_EQ(p.received, 0) << recovery;
        EXPECT_EQ(ReadFile(target), data) << recovery;
        // Only the rest went over the line (escaping adds about 4%).
        EXPECT_LT(p.tx.tap.Sent().size(), (data.size() - before) * 11 / 10) << recovery;
    }
}

// --- Cancels -----------------------------------------------------------------------------------

TEST(ZModemTransfer, ReceiverCancelEndsTheSender) {
    ZPair p;
    WriteFile(p.from.Path("f"), Pattern(300000));
    p.rx.status.AbortAtPosition(50000, TE_USER_CANCEL);
    p.Run(p.Pairs({"f"}));
    EXPECT_EQ(p.received, TE_USER_CANCEL);
    EXPECT_EQ(p.sent, TE_REMOTE_CANCEL);
    EXPECT_TRUE(Contains(p.rx.tap.Sent(), CancelSequence()));
    // The sender got cancelled and sends nothing back.
    EXPECT_FALSE(Contains(p.tx.tap.Sent(), Bytes(10, ZDLE)));
}

TEST(ZModemTransfer, EmptyListSendsNothing) {
    ZPair p;
    p.Run(p.from.Path("missing*"));
    EXPECT_EQ(p.sent, TE_NO_FILES_SENT);
}

} // namespace
} // namespace tollan::test
