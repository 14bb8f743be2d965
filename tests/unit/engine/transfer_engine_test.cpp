#include "transfer_engine.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <thread>

#include "fast_clock.h"

namespace tollan::test {
namespace {

// The base with its shared routines opened up, on a small buffer.
class ProbeEngine : public TransferEngine {
public:
    ProbeEngine(CommLink* link, TransferStatus* status, std::int32_t protocol = kProtocolIdXModem,
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
    using TransferEngine::FinishFile;
    using TransferEngine::SendBlock;

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
    void SetCodeForTest(int code) { SetCode(code); }
};

TEST(TransferEngine, StripPathKeepsTheLastNameComponent) {
    EXPECT_STREQ(TransferEngine::StripPath("C:\\dir\\sub\\name.txt"), "name.txt");
    EXPECT_STREQ(TransferEngine::StripPath("C:name.txt"), "name.txt");
    EXPECT_STREQ(TransferEngine::StripPath("name.txt"), "name.txt");
    EXPECT_STREQ(TransferEngine::StripPath("a:b\\c"), "c");
    EXPECT_STREQ(TransferEngine::StripPath("a\\b:c"), "b:c");
    EXPECT_STREQ(TransferEngine::StripPath("dir\\"), "");
    EXPECT_STREQ(TransferEngine::StripPath("unix/style/name"), "unix/style/name");
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
        {"XModem", kProtocolIdXModem, true, TE_TOO_MANY_ERRORS, xmodemCancel},
        {"ZModem", kProtocolIdZModem, true, TE_TOO_MANY_ERRORS, xmodemCancel},
        {"ZModem after the other side's cancel", kProtocolIdZModem, true, TE_REMOTE_CANCEL, {}},
        {"ZModem without a buffer", kProtocolIdZModem, false, TE_TOO_MANY_ERRORS, {}},
        {"ACK/NAK", kProtocolIdAckNak, true, TE_TOO_MANY_ERRORS, Bytes{0x0D, 0x07, 0x07}},
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

// The other side holds our output (CTS off): a block goes out as far as the queue takes it and
// the rest byte by byte once the line is free again.
TEST(TransferEngine, HeldOutputGoesOutOnceTheLineIsFree) {
    MemoryPortOptions options;
    options.transmitSize = 1000;
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
    EXPECT_EQ(result, 0);
    EXPECT_EQ(received, data);
}

} // namespace
} // namespace tollan::test
