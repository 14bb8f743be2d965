// Whole runs of the driver over the in-memory null-modem pair: one driver sends, another
// receives, each on its own worker thread, with real files in a temporary folder. The sender
// starts first: it discards what is waiting before it listens for the receiver's first request.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "link/link_codes.h"
#include "recording_view.h"
#include "support/memory_port.h"
#include "support/scratch_folder.h"
#include "support/test_files.h"
#include "transfer/transfer_driver.h"
#include "transfer/transfer_log.h"

namespace tollan {
namespace {

namespace fs = std::filesystem;

using test::Pattern;
using test::ReadFile;
using test::ReadText;
using test::WriteFile;

// One side of a transfer over a port that the test keeps.
struct Side : test::RunSide {
    using RunSide::RunSide;
    void Start(CommPort& port) {
        RunSide::Start([&port](std::uint32_t, std::uint32_t) {
            return std::shared_ptr<CommPort>(std::shared_ptr<CommPort>(), &port);
        });
    }
};

// The tests run inside a fresh folder, so that file names stay short.
class TransferDriverTest : public ::testing::Test {
protected:
    test::ScratchFolder folder_{test::ScratchFolder::kEnter};
    const fs::path& dir_ = folder_.Root();
    MemoryPortPair pair_;
};

TEST_F(TransferDriverTest, XModemFileArrivesWithOneLinePerSideAndInTheLog) {
    const test::Bytes data = Pattern(1000, 1);
    WriteFile("source.bin", data);
    Side sender(Protocol::kXModem, true, "source.bin");
    sender.settings.logToFile = true;
    sender.settings.logFilename = (dir_ / "send.log").string();
    Side receiver(Protocol::kXModem, false, "target.bin");
    // A log that cannot be made is switched off with a message, and the run goes on.
    receiver.settings.logToFile = true;
    receiver.settings.logFilename = (dir_ / "no-such-folder" / "x.log").string();
    sender.Start(pair_.A());
    receiver.Start(pair_.B());
    EXPECT_EQ(sender.Finish(), 0);
    EXPECT_EQ(receiver.Finish(), 0);

    // Whole blocks arrive, padded with zeros.
    test::Bytes padded = data;
    padded.resize(1024); // whole blocks, the last one padded
    EXPECT_EQ(ReadFile("target.bin"), padded);
    EXPECT_EQ(sender.view.lines, std::vector<std::string>{"source.bin | OK | 1000"});
    EXPECT_EQ(sender.view.statuses.back(), "1 / 1 File(s) sent.");
    // A successful run ends by itself, without the end-of-run notification.
    EXPECT_TRUE(sender.view.endOfRuns.empty());
    // The header, then the file's line (its format is the log's own test).
    std::string log = ReadText((dir_ / "send.log").string());
    EXPECT_EQ(log.find("source.bin"), log.find('\n') + 1) << log;
    EXPECT_EQ(receiver.view.statuses.front(), "ERROR: Log file could not be created.");
    EXPECT_FALSE(receiver.driver->Settings().logToFile);
}

// A run that ends mid-file, by the user's cancel or because the line is lost (a USB adapter
// pulled out; the receiver waits without a time-out), keeps the bytes that arrived.
TEST_F(TransferDriverTest, RunsEndedMidFileKeepTheBytes) {
    struct Case {
        bool lineLost;
        std::int32_t receiverResult, senderResult;
        const char* line;
    };
    const Case cases[] = {
        {false, kResultUserCancelled, kResultRemoteCancelled, "User cancelled."},
        {true, kResultCommError, kResultCommError, "General communications error."},
    };
    WriteFile("big.bin", Pattern(20 * 128, 3));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        fs::remove("part.bin");
        MemoryPortPair pair;
        Side sender(Protocol::kXModem, true, "big.bin");
        Side receiver(Protocol::kXModem, false, "part.bin");
        receiver.settings.recvTimeout = 0;
        receiver.view.onProgress = [&](long done) {
            if (done == 0) {
                return;
            }
            if (!c.lineLost) {
                receiver.driver->Stop();
                return;
            }
            pair.A().SetIdleResult(LINK_LINE_LOST);
            pair.B().SetIdleResult(LINK_LINE_LOST);
        };
        sender.Start(pair.A());
        receiver.Start(pair.B());
        EXPECT_EQ(receiver.Finish(), c.receiverResult);
        EXPECT_EQ(sender.Finish(), c.senderResult);
        std::uintmax_t kept = fs::file_size("part.bin");
        EXPECT_GT(kept, 0u);
        EXPECT_LT(kept, 20u * 128);
        EXPECT_EQ(receiver.view.lines,
                  std::vector<std::string>{"part.bin | " + std::string(c.line) + " | " +
                                           std::to_string(kept)});
    }
}

// Sending runs that fail on their own: each ends with its result, its status and the line it
// leaves (a port that will not open leaves none; a file never found leaves one without a name).
TEST_F(TransferDriverTest, RunsThatFailAlone) {
    struct Case {
        int openStatus;
        std::int32_t result;
        const char* status;
    };
    const Case cases[] = {
        // A list that names nothing: the engine finds no file (the command looks first).
        {0, kResultUnknownError, "Unknown Error."},
        {LINK_NO_PORT, kResultPortOpenFailed, "Error opening the COM port (no such port)"},
        {LINK_PORT_IN_USE, kResultPortOpenFailed,
         "Error opening the COM port (in use by another program)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        MemoryPortOptions options;
        options.openStatus = c.openStatus;
        MemoryPortPair pair(options);
        Side side(Protocol::kXModem, true, "missing.bin");
        side.settings.sendTimeout = 1;
        side.Start(pair.A());
        EXPECT_EQ(side.Finish(), c.result);
        EXPECT_TRUE(side.view.Showed({c.status}));
        const std::vector<std::string> line = {" | " + std::string(c.status) + " | 0"};
        EXPECT_EQ(side.view.lines, c.openStatus == 0 ? line : std::vector<std::string>());
    }
}

// The log file on its own: recreated or appended, each run under its own header.
TEST_F(TransferDriverTest, LogRunsAreAppendedEachUnderAHeaderOrOneRunAfresh) {
    const fs::path path = dir_ / "tollan.log";
    const auto run = [&path](bool append, const char* name) {
        TransferLog log;
        ASSERT_TRUE(log.Open(path.string().c_str(), append));
        log.WriteLine(name, "OK", TimeStamp{"01/02/03", "04:05:06"}, 4096);
    };
    const auto text = [&path] {
        std::ifstream in(path); // text mode: one line end on every system
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    // Name in 40 columns, status in 30, date and time in 10 each, then the size.
    const std::string header = "FILENAME" + std::string(32, ' ') + " STATUS" +
                               std::string(24, ' ') + " DATE       TIME       SIZE\n";
    const auto row = [](std::string name) {
        name.resize(40, ' ');
        return name + " OK" + std::string(28, ' ') + " 01/02/03   04:05:06   4096\n";
    };
    run(true, "first");
    run(true, "second");
    EXPECT_EQ(text(), header + row("first") + header + row("second"));
    run(false, "second");
    EXPECT_EQ(text(), header + row("second"));
}

} // namespace
} // namespace tollan
