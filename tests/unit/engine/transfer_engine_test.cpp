#include "engine/transfer_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "engine_test_support.h"

namespace tollan::test {
namespace {

// The base with its shared routines opened up, on a small buffer.
class ProbeEngine : public TransferEngine {
public:
    ProbeEngine(CommLink* link, TransferStatus* status, std::int32_t protocol, bool withBuffer)
        : TransferEngine(link, status) {
        if (withBuffer) {
            buffer_ = std::make_unique<std::uint8_t[]>(16);
        }
        status_->protocolId_ = protocol;
    }
    // The protocol part records what the frame handed it.
    void ProtocolSend(char* list) override { handed = list != nullptr ? list : "<null>"; }
    void ProtocolReceive(char* names) override { handed = names != nullptr ? names : "<null>"; }
    using TransferEngine::AbortCheck;
    using TransferEngine::FinishFile;

    bool OpenForReceiving(const char* name) {
        status_->direction_ = Direction::kReceive;
        fileOpen_ = Prepare() && file_->Open(name, "wb") == 0;
        return fileOpen_;
    }
    bool FileOpen() const { return fileOpen_; }

    std::string handed = "<not run>";
};

TEST(TransferEngine, StripPathKeepsTheLastNameComponent) {
    EXPECT_STREQ(TransferEngine::StripPath("C:\\dir\\sub\\name.txt"), "name.txt");
    EXPECT_STREQ(TransferEngine::StripPath("C:name.txt"), "name.txt");
    EXPECT_STREQ(TransferEngine::StripPath("a\\b:c"), "b:c");
}

// A failed ZModem run cancels the other side, unless that side cancelled or the engine has no
// buffer (the XModem and ACK/NAK cancels are checked where their runs hit the error limit).
TEST(TransferEngine, FailedZModemRunsCancelTheOtherSide) {
    const std::tuple<bool, int, Bytes> cases[] = {
        {true, TE_TOO_MANY_ERRORS, CancelSequence()},
        {true, TE_REMOTE_CANCEL, {}},
        {false, TE_TOO_MANY_ERRORS, {}},
    };
    for (const auto& [withBuffer, code, expected] : cases) {
        SCOPED_TRACE(testing::Message() << code << (withBuffer ? "" : " without a buffer"));
        PeerLine l;
        ProbeEngine engine(l.side.link.get(), &l.side.status, kProtocolIdZModem, withBuffer);
        l.side.status.code_ = code;
        engine.FinishFile();
        EXPECT_EQ(l.peer.ReadUntilSilent(kQueued), expected);
    }
}

// A cancel seen by the abort check is stored, closes the received file (which keeps its bytes,
// but not the announced time: it is not the sender's whole file) and cancels the other side;
// later checks stop at once. A lost carrier counts only while it is watched.
TEST(TransferEngine, AbortCheckFinishesTheFileOnCancelAndCarrierLoss) {
    PeerLine l;
    Side& side = l.side;
    ScratchFolder dir;
    const std::string name = dir.Path("partial.bin");
    ProbeEngine engine(side.link.get(), &side.status, kProtocolIdXModem, true);
    ASSERT_TRUE(engine.OpenForReceiving(name.c_str()));
    ASSERT_EQ(engine.File()->Write(Pattern(100).data(), 100), 100);
    side.status.fileTime_ = 1600000000;
    side.memory.SetModemLine(kSignalCarrier, false);
    EXPECT_EQ(engine.AbortCheck(), 0);
    side.status.AbortWith(TE_USER_CANCEL);
    EXPECT_EQ(engine.AbortCheck(), 1);
    EXPECT_EQ(side.status.code_, TE_USER_CANCEL);
    EXPECT_FALSE(engine.FileOpen());
    EXPECT_EQ(ReadFile(name), Pattern(100));
    EXPECT_NE(FileTime(name), 1600000000);
    EXPECT_EQ(l.peer.ReadUntilSilent(kQueued), CancelSequence());
    side.status.AbortWith(0);
    EXPECT_EQ(engine.AbortCheck(), 1); // the code is negative: stop at once

    side.status.code_ = 0;
    EXPECT_EQ(engine.SetCarrierWatch(1), 1);
    EXPECT_EQ(engine.AbortCheck(), 1);
    EXPECT_EQ(side.status.code_, TE_CARRIER_LOST);
}

// Every run goes through one frame: a run is handed its list with pending input gone (a run that
// cannot start reports its code like any other failure: allocation_test).
TEST(TransferEngine, EveryRunGoesThroughTheFrame) {
    PeerLine l;
    Side& side = l.side;
    char list[] = "a.bin;b.bin";
    l.peer.Send(Text("stale"));
    ProbeEngine engine(side.link.get(), &side.status, kProtocolIdXModem, true);
    EXPECT_EQ(engine.Receive(list), 0);
    EXPECT_EQ(engine.handed, "a.bin;b.bin");
    EXPECT_EQ(side.link->InputCount(), 0);
}

} // namespace
} // namespace tollan::test
