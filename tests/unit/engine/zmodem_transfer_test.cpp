// ZModem sender against ZModem receiver over the in-memory null-modem line, on two threads, with
// real files: batches, windows, noise, the error limit, the file-management options and resuming
// from the part kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <numeric>
#include <string>
#include <tuple>

#include "engine/engine_codes.h"
#include "engine/zmodem_engine.h"
#include "engine_test_support.h"
#include "file_access_platform.h"

namespace tollan::test {
namespace {

constexpr std::int32_t kOldTime = 0x40000000; // 2004-01-10 13:37:04
constexpr std::int32_t kNewTime = 0x50000000; // 2012-07-13 11:01:20

// How often `needle` occurs in `haystack`.
int Count(const Bytes& haystack, const Bytes& needle) {
    int n = 0;
    for (auto it = haystack.begin();; ++it, ++n) {
        it = std::search(it, haystack.end(), needle.begin(), needle.end());
        if (it == haystack.end()) {
            return n;
        }
    }
}

struct ZPair : EnginePair<ZModemEngine> {
    using EnginePair::EnginePair;
    using EnginePair::Run;
    // Sends the files `names` of `from`; the receiver's list gives them the same names in `to`.
    void Run(std::initializer_list<std::string> names) {
        std::string sendList;
        std::string receiveList;
        for (const std::string& name : names) {
            sendList += (sendList.empty() ? "" : ";") + from.Path(name);
            receiveList += (receiveList.empty() ? "" : ";") + to.Path(name);
        }
        Run(sendList, receiveList);
    }
};

// A batch with an empty file, every byte value, a file of over 1 MiB and a name with spaces
// arrives intact with its times, streamed or in windows: the sender's window, or the receiver's
// smaller buffer. Each window is acknowledged and its subpackets end with ZCRCQ; a stream is not
// acknowledged.
TEST(ZModemTransfer, BatchArrivesIntactWithTimesInEveryWindow) {
    struct Case {
        int senderWindow;   // the sender's WindowSize
        int receiverWindow; // the buffer size the receiver announces
        unsigned window;    // what the sender then uses
    };
    Bytes everyByte(10240); // a whole number of subpackets
    std::iota(everyByte.begin(), everyByte.end(), 0);
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"empty", {}},
        {"every byte", everyByte},
        {"large.bin", Pattern((1 << 20) + 333)},
        {"name with spaces.txt", Text(std::string(3000, 'z') + "\r\n")},
    };
    for (const Case& c :
         {Case{0, 0, 0}, Case{1024, 4096, 1024}, Case{4096, 2048, 2048}, Case{0, 1024, 1024}}) {
        SCOPED_TRACE(c.window);
        ZPair p;
        p.sender.SetWindowSize(static_cast<WindowSize>(c.senderWindow));
        p.receiver.SetWindowSize(static_cast<WindowSize>(c.receiverWindow));
        std::int32_t time = kOldTime;
        for (const auto& [name, data] : files) {
            WriteFile(p.from.Path(name), data);
            FileTime(p.from.Path(name), time += 3600);
        }
        p.Run({"empty", "every byte", "large.bin", "name with spaces.txt"});
        EXPECT_EQ(p.sent, 0);
        EXPECT_EQ(p.received, 0);
        EXPECT_EQ(p.rx.status.fileCount_, 4);
        time = kOldTime;
        for (const auto& [name, data] : files) {
            EXPECT_EQ(ReadFile(p.to.Path(name)), data) << name;
            EXPECT_EQ(FileTime(p.to.Path(name)), time += 3600) << name;
        }
        EXPECT_EQ(p.sender.Window(), c.window);
        EXPECT_EQ(p.tx.status.checkType_, kCheckCrc32);
        EXPECT_EQ(p.rx.status.errorCount_, 0);
        const int acks = Count(p.rx.memory.Sent(), Bytes{ZPAD, ZPAD, ZDLE, 'B', '0', '3'}); // ZACK
        const int windowEnds = Count(p.tx.memory.Sent(), Bytes{ZDLE, ZCRCQ});
        const int windows = c.window == 0 ? 0 : static_cast<int>((1 << 20) / c.window);
        EXPECT_GE(acks, windows);
        EXPECT_GE(windowEnds, windows - 4);
        EXPECT_TRUE(c.window != 0 || acks + windowEnds == 0);
    }
}

// Bit errors both ways, about one in 20,000 bytes: the batch still arrives intact. The error
// limits leave room for the time-outs of a loaded machine, where a side that gets no processor
// for a few real milliseconds misses a wait of the fast clock. One in 300 with a limit of two
// ends the run at the limit, and neither side reports success.
TEST(ZModemTransfer, RandomBitErrorsBothWaysStillDeliverTheBatch) {
    for (const auto& [interval, seed, limit] : {std::tuple{20000u, 11u, 200}, {300u, 3u, 2}}) {
        ZPair p(MemoryPortOptions{interval, seed}); // one byte in about `interval` corrupted
        p.sender.SetMaxErrors(limit);
        p.receiver.SetMaxErrors(limit);
        WriteFile(p.from.Path("a"), Pattern(200000, 3));
        WriteFile(p.from.Path("b"), Pattern(70000, 4));
        p.Run({"a", "b"});
        if (limit == 2) {
            const auto isLimit = [](int r) {
                return r == TE_TOO_MANY_ERRORS || r == TE_HANDSHAKE_ERRORS;
            };
            EXPECT_TRUE(isLimit(p.sent) || isLimit(p.received)) << p.sent << " " << p.received;
            EXPECT_NE(p.sent, 0);
            EXPECT_NE(p.received, 0);
            continue;
        }
        EXPECT_EQ(p.sent, 0);
        EXPECT_EQ(p.received, 0);
        EXPECT_EQ(ReadFile(p.to.Path("a")), Pattern(200000, 3));
        EXPECT_EQ(ReadFile(p.to.Path("b")), Pattern(70000, 4));
        EXPECT_GT(p.line.A().CorruptedCount(), 0u);
        EXPECT_GT(p.rx.status.errorCount_, 0);
    }
}

// --- File management and crash recovery ---------------------------------------------------------

enum Old { kOther, kSame, kPrefix }; // the file already there: other data, the same, a first part
enum Outcome { kReplaced, kAppended, kResumed, kSkipped, kExists };

struct ManagementCase {
    const char* name;
    int option;       // the receiver's
    int recovery;     // the receiver's crash recovery
    int senderOption; // 0: none set
    std::size_t oldSize;
    std::int32_t oldTime;
    std::size_t newSize;
    std::int32_t newTime;
    Old old;
    Outcome outcome;
};

// Keeps the test names that ctest lists short and the same from build to build.
void PrintTo(const ManagementCase& c, std::ostream* os) {
    *os << c.name;
}

class ZModemManagement : public ::testing::TestWithParam<ManagementCase> {};

TEST_P(ZModemManagement, ExistingFileIsTreatedByTheOption) {
    const ManagementCase& c = GetParam();
    ZPair p;
    p.receiver.SetOverwrite(static_cast<Overwrite>(c.option));
    p.receiver.SetCrashRecovery(static_cast<CrashRecovery>(c.recovery));
    if (c.senderOption != 0) {
        p.sender.SetOverwrite(static_cast<Overwrite>(c.senderOption));
        p.sender.SetCrashRecovery(CrashRecovery::kAlways);
    }
    const Bytes fresh = Pattern(c.newSize, 21);
    const Bytes old =
        c.old == kOther ? Pattern(c.oldSize, 22) : Bytes(fresh.begin(), fresh.begin() + c.oldSize);
    WriteFile(p.from.Path("f"), fresh);
    FileTime(p.from.Path("f"), c.newTime);
    WriteFile(p.to.Path("f"), old);
    FileTime(p.to.Path("f"), c.oldTime);
    WriteFile(p.from.Path("g"), Pattern(10, 23)); // a second file that is always new

    p.Run({"f", "g"});
    EXPECT_EQ(p.received, 0);
    EXPECT_EQ(p.sent, 0);
    EXPECT_EQ(ReadFile(p.to.Path("g")), Pattern(10, 23)); // the batch goes on
    Bytes both = old;
    both.insert(both.end(), fresh.begin(), fresh.end());
    const bool taken = c.outcome == kReplaced || c.outcome == kResumed;
    EXPECT_EQ(ReadFile(p.to.Path("f")), c.outcome == kAppended ? both : taken ? fresh : old);
    if (taken) {
        EXPECT_EQ(FileTime(p.to.Path("f")), c.newTime);
        EXPECT_EQ(p.rx.status.fileCount_, 2);
        // A resumed file comes from the end of what was kept.
        EXPECT_EQ(p.tx.memory.Sent().size() < c.newSize, c.outcome == kResumed);
    } else if (c.outcome != kAppended) {
        EXPECT_EQ(FileTime(p.to.Path("f")), c.oldTime);
        EXPECT_EQ(p.rx.status.fileCount_, 1);
        EXPECT_EQ(p.tx.status.fileCount_, 1);
        const int declined = c.outcome == kExists ? TE_FILE_EXISTS : TE_FILE_SKIPPED;
        EXPECT_GT(std::ranges::count(p.rx.status.Codes(), declined), 0);
        EXPECT_GT(std::ranges::count(p.tx.status.Codes(), TE_FILE_SKIPPED), 0);
    }
}

const ManagementCase kManagementCases[] = {
    {"NewerLongerNewerButShorter", ZMNEWL, 1, 0, 500, kOldTime, 300, kNewTime, kOther, kReplaced},
    {"NewerLongerLongerButOlder", ZMNEWL, 1, 0, 300, kNewTime, 500, kOldTime, kOther, kReplaced},
    {"NewerLongerNeither", ZMNEWL, 1, 0, 500, kNewTime, 300, kOldTime, kOther, kSkipped},
    {"CrcSame", ZMCRC, 1, 0, 4000, kOldTime, 4000, kNewTime, kSame, kSkipped},
    {"CrcDifferent", ZMCRC, 1, 0, 4000, kOldTime, 4000, kOldTime, kOther, kReplaced},
    {"Append", ZMAPND, 1, 0, 700, kOldTime, 900, kNewTime, kOther, kAppended},
    {"Clobber", ZMCLOB, 1, 0, 900, kNewTime, 100, kOldTime, kOther, kReplaced},
    {"NewNewer", ZMNEW, 1, 0, 900, kOldTime, 100, kNewTime, kOther, kReplaced},
    {"NewSameTime", ZMNEW, 1, 0, 100, kOldTime, 900, kOldTime, kOther, kSkipped},
    {"DiffSame", ZMDIFF, 1, 0, 600, kOldTime, 600, kOldTime, kSame, kSkipped},
    {"DiffTime", ZMDIFF, 1, 0, 600, kOldTime, 600, kNewTime, kSame, kReplaced},
    {"Protect", ZMPROT, 1, 0, 600, kOldTime, 900, kNewTime, kOther, kExists},
    // Crash recovery: always (3), or when the sender asks (2), taking its option too.
    {"Resume", ZMCLOB, 3, 0, 1000, kOldTime, 5000, kNewTime, kPrefix, kResumed},
    // A file that had all arrived before the line was cut: nothing more is sent.
    {"ResumeWhole", ZMCLOB, 3, 0, 5000, kOldTime, 5000, kNewTime, kSame, kResumed},
    {"LongerIsNotResumed", ZMCLOB, 3, 0, 6000, kOldTime, 3000, kNewTime, kOther, kReplaced},
    {"FollowTheSender", ZMPROT, 2, ZMCLOB, 1000, kOldTime, 5000, kNewTime, kPrefix, kResumed},
};

// The platform's file object on which, once `limit` bytes are written, the run fails: the line
// is pulled (carrier lost), the user cancels, or the disk is full.
enum Ending { kLinePulled, kCancelled, kDiskFull };
struct FailingFiles : PlatformFileAccess {
    std::function<bool()> atLimit; // true: this write fails as on a full disk
    std::int32_t written = 0;
    std::int32_t Write(const void* buffer, std::int32_t count) override {
        written += count;
        if (written > 20000 && atLimit()) {
            lastError_ = ENOSPC;
            return 0;
        }
        return PlatformFileAccess::Write(buffer, count);
    }
};

// Under every option that replaces, a receive that fails part-way leaves the old file byte for
// byte, with its time, and what arrived in its partial file; crash recovery goes on from that.
TEST(ZModemTransfer, AFailedReplacementKeepsTheOldFile) {
    const Bytes fresh = Pattern(60000, 31);
    const Bytes old = Pattern(900, 32);
    for (const int option : {ZMNEWL, ZMCRC, ZMCLOB, ZMNEW, ZMDIFF}) {
        for (const Ending ending : {kLinePulled, kCancelled, kDiskFull}) {
            SCOPED_TRACE(testing::Message() << "option " << option << ", ending " << ending);
            ZPair p;
            FailingFiles files;
            files.atLimit = [&] {
                if (ending == kLinePulled) {
                    p.rx.memory.SetModemLine(kSignalCarrier, false);
                } else if (ending == kCancelled) {
                    p.rx.status.AbortWith(TE_USER_CANCEL);
                }
                return ending == kDiskFull;
            };
            p.receiver.SetFileAccess(&files);
            p.receiver.SetCarrierWatch(1);
            p.receiver.SetCrashRecovery(CrashRecovery::kNever);
            p.receiver.SetOverwrite(static_cast<Overwrite>(option));
            WriteFile(p.from.Path("f"), fresh);
            FileTime(p.from.Path("f"), kNewTime);
            WriteFile(p.to.Path("f"), old);
            FileTime(p.to.Path("f"), kOldTime);
            p.Run({"f"});
            const int codes[] = {TE_CARRIER_LOST, TE_USER_CANCEL, TE_WRITE_FAILED};
            EXPECT_EQ(p.received, codes[ending]);
            EXPECT_EQ(ReadFile(p.to.Path("f")), old);
            EXPECT_EQ(FileTime(p.to.Path("f")), kOldTime);
            const std::string partial = p.to.Path("f") + kPartialSuffix;
            EXPECT_EQ(p.rx.status.partialName_, partial);
            const Bytes kept = ReadFile(partial);
            EXPECT_TRUE(!kept.empty() && kept.size() < fresh.size() &&
                        std::equal(kept.begin(), kept.end(), fresh.begin()));
            if (option == ZMCLOB && ending == kDiskFull) {
                ZPair again;
                again.receiver.SetCrashRecovery(CrashRecovery::kAlways);
                again.receiver.SetOverwrite(static_cast<Overwrite>(ZMCLOB));
                WriteFile(again.from.Path("f"), fresh);
                again.Run(again.from.Path("f"), p.to.Path("f"));
                EXPECT_EQ(again.received, 0);
                EXPECT_EQ(ReadFile(p.to.Path("f")), fresh);
                EXPECT_LT(again.tx.memory.Sent().size(), fresh.size()) << "not resumed";
                EXPECT_FALSE(ReadFile(partial).size() > 0);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Options, ZModemManagement, ::testing::ValuesIn(kManagementCases),
                         [](const ::testing::TestParamInfo<ManagementCase>& info) {
                             return info.param.name;
                         });

} // namespace
} // namespace tollan::test
