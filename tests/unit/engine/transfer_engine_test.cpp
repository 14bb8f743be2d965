#include "transfer_engine.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>
#include <thread>

#include "fast_clock.h"

namespace tollan::test {
namespace {

// The base with its shared routines opened up, on a small buffer.
class ProbeEngine : public TransferEngine {
public:
    ProbeEngine(CommLink* link, TransferStatus* status, std::int32_t protocol = kProtocolXModem,
                bool withBuffer = true)
        : TransferEngine(link, status) {
        if (withBuffer) {
            buffer_ = new std::uint8_t[16]();
        }
        status_->protocolId_ = protocol;
    }
    int Send(char*) override { return 0; }
    int Receive(char*) override { return 0; }

    using TransferEngine::AbortCheck;
    using TransferEngine::DrainLine;
    using TransferEngine::FinishFile;
    using TransferEngine::ReportFinal;
    using TransferEngine::SendBlock;
    using TransferEngine::SendByte;

    // Opens `name` for writing as a receiver would.
    bool OpenForReceiving(const char* name) {
        status_->direction_ = 0;
        if (!Prepare() || file_->Open(name, "wb") != 0) {
            return false;
        }
        fileOpen_ = 1;
        return true;
    }
    bool FileOpen() const { return fileOpen_ != 0; }
    bool OwnsFileAccess() const { return ownsFileAccess_ != 0; }
    void SetCodeForTest(int code) { SetCode(code); }
};

void RunAll(const std::vector<std::function<void()>>& cases) {
    std::vector<std::thread> threads;
    for (const auto& c : cases) {
        threads.emplace_back(c);
    }
    for (auto& t : threads) {
        t.join();
    }
}

TEST(TransferEngine, StripPathKeepsTheLastNameComponent) {
    EXPECT_STREQ(TransferEngine::StripPath("C:\\dir\\sub\\name.txt"), "name.txt");
    EXPECT_STREQ(TransferEngine::StripPath("C:name.txt"), "name.txt");
    EXPECT_STREQ(TransferEngine::StripPath("name.txt"), "name.txt");
    EXPECT_STREQ(TransferEngine::StripPath("a:b\\c"), "c");
    EXPECT_STREQ(TransferEngine::StripPath("a\\b:c"), "b:c");
    EXPECT_STREQ(TransferEngine::StripPath("dir\\"), "");
    EXPECT_STREQ(TransferEngine::StripPath("unix/style/name"), "unix/style/name");
}

TEST(TransferStatus, ResetClearsTheRunButKeepsTheProtocol) {
    TransferStatus s;
    EXPECT_STREQ(s.CheckName(), "Not Determined");
    s.protocolId_ = kProtocolAckNak;
    s.checkType_ = kCheckCrc32;
    s.fileName_ = "x";
    s.fileTime_ = 5;
    s.position_ = 10;
    s.code_ = -901;
    s.errorCount_ = 3;
    s.consecutiveErrors_ = 2;
    s.fileCount_ = 4;
    s.fileSize_ = 99;
    s.blockCount_ = 7;
    s.Reset(1);
    EXPECT_EQ(s.direction_, 1);
    EXPECT_EQ(s.protocolId_, kProtocolAckNak);
    EXPECT_STREQ(s.CheckName(), "32 bit CRC");
    EXPECT_STREQ(s.fileName_, "");
    EXPECT_EQ(s.fileTime_, -1);
    EXPECT_EQ(s.position_ + s.code_ + s.errorCount_ + s.consecutiveErrors_ + s.fileCount_ +
                  s.fileSize_ + s.blockCount_,
              0);
    const char* names[] = {"Not Determined", "1 Byte Checksum", "2 Byte Checksum", "16 bit CRC",
                           "32 bit CRC"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(s.checkNames_[i], names[i]);
    }
}

TEST(TransferEngine, FileObjectIsCreatedUnlessOneIsAttached) {
    MemoryPortPair line;
    EngineSide side(line.A());
    {
        ProbeEngine engine(side.link.get(), nullptr);
        ASSERT_NE(engine.Status(), nullptr); // a record of its own
        EXPECT_EQ(engine.Status()->CheckAbort(), 0);
        EXPECT_EQ(engine.SetFileAccess(nullptr), 0);
        EXPECT_TRUE(engine.OwnsFileAccess());
        EXPECT_EQ(engine.Prepare(), 1);
        EXPECT_NE(engine.File(), nullptr);
    }
    {
        std::unique_ptr<FileAccess> own(CreateFileAccess());
        ProbeEngine engine(side.link.get(), &side.status);
        EXPECT_EQ(engine.SetFileAccess(own.get()), 1);
        EXPECT_FALSE(engine.OwnsFileAccess());
        EXPECT_EQ(engine.Prepare(), 1);
        EXPECT_EQ(engine.File(), own.get());
    } // the engine leaves the attached object alone
    EXPECT_EQ(side.status.code_, 0);
}

// How a failed run ends, per protocol: what the other side receives, and the file.
TEST(TransferEngine, FailedRunsCancelTheOtherSideByProtocol) {
    struct Case {
        const char* name;
        std::int32_t protocol;
        bool withBuffer;
        int code;
        Bytes expected;
    };
    const Bytes xmodemCancel = CancelSequence();
    const std::vector<Case> cases = {
        {"XModem", kProtocolXModem, true, TE_TOO_MANY_ERRORS, xmodemCancel},
        {"ZModem", kProtocolZModem, true, TE_TOO_MANY_ERRORS, xmodemCancel},
        {"ZModem after the other side's cancel", kProtocolZModem, true, TE_REMOTE_CANCEL, {}},
        {"ZModem without a buffer", kProtocolZModem, false, TE_TOO_MANY_ERRORS, {}},
        {"ACK/NAK", kProtocolAckNak, true, TE_TOO_MANY_ERRORS, Bytes{0x0D, 0x07, 0x07}},
    };
    std::vector<std::function<void()>> runs;
    for (const Case& c : cases) {
        runs.emplace_back([&c] {
            SCOPED_TRACE(c.name);
            MemoryPortPair line;
            EngineSide side(line.A());
            CommLink peerLink(line.B());
            ProbeEngine engine(side.link.get(), &side.status, c.protocol, c.withBuffer);
            engine.SetCodeForTest(c.code);
            engine.FinishFile();
            EXPECT_EQ(RawPeer(peerLink).ReadUntilSilent(kQueued), c.expected);
        });
    }
    RunAll(runs);
}

// A cancel seen by the abort check is stored, closes the received file (which keeps its bytes
// and gets the announced time) and cancels the other side; later checks stop at once.
TEST(TransferEngine, AbortCheckStoresTheCancelAndFinishesTheFile) {
    MemoryPortPair line;
    EngineSide side(line.A());
    CommLink peerLink(line.B());
    TempDir dir;
    const std::string name = dir.Path("partial.bin");
    ProbeEngine engine(side.link.get(), &side.status);
    ASSERT_TRUE(engine.OpenForReceiving(name.c_str()));
    const Bytes data = Pattern(100);
    ASSERT_EQ(engine.File()->Write(data.data(), 100), 100);
    side.status.fileTime_ = 1600000000; // 2020-09-13 12:26:40 UTC
    EXPECT_EQ(engine.AbortCheck(), 0);
    side.status.AbortWith(TE_USER_CANCEL);
    EXPECT_EQ(engine.AbortCheck(), 1);
    EXPECT_EQ(side.status.code_, TE_USER_CANCEL);
    EXPECT_FALSE(engine.FileOpen());
    EXPECT_EQ(ReadFile(name), data);
    struct stat info {};
    ASSERT_EQ(::stat(name.c_str(), &info), 0);
    EXPECT_EQ(static_cast<long long>(info.st_mtime), 1600000000LL);
    EXPECT_EQ(RawPeer(peerLink).ReadUntilSilent(kQueued), CancelSequence());
    side.status.AbortWith(0);
    EXPECT_EQ(engine.AbortCheck(), 1); // the code is negative: stop at once
    EXPECT_EQ(side.status.Codes(), (std::vector<int>{0, 0, TE_USER_CANCEL}));
}

TEST(TransferEngine, CarrierDropEndsTheRunOnlyWhenWatched) {
    MemoryPortPair line;
    EngineSide side(line.A());
    ProbeEngine engine(side.link.get(), &side.status);
    side.memory.SetModemLine(kSignalCarrier, false);
    EXPECT_EQ(engine.AbortCheck(), 0);
    EXPECT_EQ(engine.SetCarrierWatch(1), 1);
    EXPECT_EQ(engine.AbortCheck(), 1);
    EXPECT_EQ(side.status.code_, TE_CARRIER_LOST);
}

// The other side holds our output (CTS off). A block goes out as far as the queue takes it and
// the rest byte by byte once the line is free again; while nothing moves, only the abort check
// ends the waits of SendBlock and SendByte.
TEST(TransferEngine, HeldOutputWaitsForTheLineOrTheAbortCheck) {
    MemoryPortOptions options;
    options.transmitSize = 1000;
    std::vector<std::function<void()>> runs;
    runs.emplace_back([&] {
        SCOPED_TRACE("block goes out late");
        MemoryPortPair line(options);
        EngineSide side(line.A());
        CommLink peerLink(line.B());
        line.A().SetFlowControl(kFlowNone, kFlowCts);
        side.memory.SetModemLine(kSignalCts, false);
        ProbeEngine engine(side.link.get(), &side.status);
        const Bytes data = Pattern(3000);
        int result = -1;
        Bytes received;
        RunBoth([&] { result = engine.SendBlock(data.data(), 3000); },
                [&] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    side.memory.SetModemLine(kSignalCts, true);
                    received = RawPeer(peerLink).ReadN(3000, kPeerWait);
                });
        EXPECT_EQ(result, 0); // the rest went out byte by byte
        EXPECT_EQ(received, data);
    });
    runs.emplace_back([&] {
        SCOPED_TRACE("block never goes out");
        MemoryPortPair line(options);
        EngineSide side(line.A());
        line.A().SetFlowControl(kFlowNone, kFlowCts);
        side.memory.SetModemLine(kSignalCts, false);
        side.status.SetTimeLimit(2000);
        ProbeEngine engine(side.link.get(), &side.status);
        const Bytes data = Pattern(3000);
        EXPECT_EQ(engine.SendBlock(data.data(), 3000), TE_TIMEOUT);
        EXPECT_EQ(engine.SendByte(0x55), TE_TIMEOUT);
    });
    runs.emplace_back([&] {
        SCOPED_TRACE("byte never goes out");
        MemoryPortPair line(options);
        EngineSide side(line.A());
        line.A().SetFlowControl(kFlowNone, kFlowCts);
        side.memory.SetModemLine(kSignalCts, false);
        const Bytes fill = Pattern(1000);
        ASSERT_EQ(side.link->WriteBlock(fill.data(), 1000), 1000);
        side.status.SetTimeLimit(2000);
        ProbeEngine engine(side.link.get(), &side.status);
        EXPECT_EQ(engine.SendByte(0x55), TE_TIMEOUT);
    });
    RunAll(runs);
}

TEST(TransferEngine, PrepareWithoutBufferFails) {
    MemoryPortPair line;
    EngineSide side(line.A());
    CommLink peerLink(line.B());
    ProbeEngine engine(side.link.get(), &side.status, kProtocolZModem, false);
    EXPECT_EQ(engine.Prepare(), 0);
    EXPECT_EQ(side.status.code_, TE_NO_BUFFER);
    EXPECT_TRUE(RawPeer(peerLink).ReadUntilSilent(kQueued).empty());
}

TEST(TransferEngineDeathTest, BaseSendAndReceiveEndTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    MemoryPortPair line;
    EngineSide side(line.A());
    ProbeEngine engine(side.link.get(), &side.status);
    char list[] = "x";
    EXPECT_EXIT(engine.TransferEngine::Send(list), ::testing::ExitedWithCode(1),
                "Pure Virtual function called @TRANSFER,434\nUnable to continue execution");
    EXPECT_EXIT(engine.TransferEngine::Receive(list), ::testing::ExitedWithCode(1),
                "Pure Virtual function called @TRANSFER,436");
}

} // namespace
} // namespace tollan::test
