// Whole runs of the driver over the in-memory null-modem pair: one driver sends, another
// receives, each on its own worker thread, with real files in a temporary folder. The sender
// starts first: it discards what is waiting before it listens for the receiver's first request.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "link_codes.h"
#include "memory_port.h"
#include "recording_view.h"
#include "transfer_driver.h"

namespace tollan {
namespace {

namespace fs = std::filesystem;
using test::RecordedLine;
using test::RecordingView;

std::string Bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> TextLines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Hands the run a port that the test keeps.
PortFactory Borrow(CommPort& port) {
    return [&port](std::uint32_t, std::uint32_t) {
        return std::shared_ptr<CommPort>(std::shared_ptr<CommPort>(), &port);
    };
}

// One side of a transfer: its settings, its result record, its view and its driver.
struct Side {
    Side(RunProtocol protocol, bool transmit, const std::string& files) {
        settings.protocol = protocol;
        settings.transmit = transmit;
        settings.fileList = files;
    }

    RunSettings settings;
    RunResult result;
    RecordingView view;
    std::unique_ptr<TransferDriver> driver;

    void Start(CommPort& port) {
        driver = std::make_unique<TransferDriver>(settings, result, view, Borrow(port));
        driver->OpenLog();
        driver->Start();
    }
    std::int32_t Finish() {
        driver->Wait();
        return result.result;
    }
};

// The tests run inside a fresh folder, so that file names stay short.
class TransferDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = fs::current_path();
        dir_ =
            fs::temp_directory_path() / ("tollan-driver-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(saved_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path saved_;
    fs::path dir_;
};

TEST_F(TransferDriverTest, XModemFileArrivesWithOneLinePerSide) {
    const std::string data = Bytes(1000, 1);
    WriteAll("source.bin", data);
    MemoryPortPair pair;
    Side sender(RunProtocol::kXModem, true, "source.bin");
    Side receiver(RunProtocol::kXModem, false, "target.bin");
    sender.Start(pair.A());
    receiver.Start(pair.B());
    EXPECT_EQ(sender.Finish(), 0);
    EXPECT_EQ(receiver.Finish(), 0);

    // Whole blocks arrive, padded with zeros.
    std::string received = ReadAll("target.bin");
    ASSERT_EQ(received.size(), 1024u);
    EXPECT_EQ(received.substr(0, 1000), data);
    EXPECT_EQ(received.substr(1000), std::string(24, '\0'));

    auto sent = sender.view.Lines();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].name, "source.bin");
    EXPECT_EQ(sent[0].status, "OK");
    EXPECT_EQ(sent[0].bytes, 1000);
    auto got = receiver.view.Lines();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "target.bin");
    EXPECT_EQ(got[0].bytes, 1024);
    EXPECT_EQ(sender.view.Statuses().back(), "1 / 1 File(s) sent.");
    EXPECT_EQ(receiver.view.Statuses().back(), "1 / 1 File(s) received.");
    EXPECT_EQ(sender.driver->Transferred(), 1);
    // A successful run ends by itself, without the end-of-run notification.
    EXPECT_TRUE(sender.view.EndOfRuns().empty());
    EXPECT_EQ(sender.view.Finished(), 1);
}

TEST_F(TransferDriverTest, XModemThroughBitErrorsStillArrivesIntact) {
    const std::string data = Bytes(700, 2);
    WriteAll("source.bin", data);
    MemoryPortOptions options;
    options.errorInterval = 400;
    options.seed = 7;
    MemoryPortPair pair(options);
    Side sender(RunProtocol::kXModem, true, "source.bin");
    Side receiver(RunProtocol::kXModem, false, "target.bin");
    sender.Start(pair.A());
    receiver.Start(pair.B());
    EXPECT_EQ(sender.Finish(), 0);
    EXPECT_EQ(receiver.Finish(), 0);
    EXPECT_GT(pair.A().CorruptedCount() + pair.B().CorruptedCount(), 0u);
    EXPECT_EQ(ReadAll("target.bin").substr(0, 700), data);
}

TEST_F(TransferDriverTest, AckNakTextFileArrivesAsSent) {
    std::string text;
    for (int i = 0; i < 40; ++i) {
        text += "line " + std::to_string(i) + " of the file\r\n";
    }
    WriteAll("notes.txt", text);
    MemoryPortPair pair;
    Side sender(RunProtocol::kAckNak, true, "notes.txt");
    Side receiver(RunProtocol::kAckNak, false, "copy.txt");
    sender.Start(pair.A());
    receiver.Start(pair.B());
    EXPECT_EQ(sender.Finish(), 0);
    EXPECT_EQ(receiver.Finish(), 0);
    EXPECT_EQ(ReadAll("copy.txt"), text);
    ASSERT_EQ(receiver.view.Lines().size(), 1u);
    EXPECT_EQ(receiver.view.Lines()[0].status, "OK");
}

TEST_F(TransferDriverTest, ZModemBatchCountsFilesTheReceiverDidNotTake) {
    const std::string first = Bytes(5000, 6);
    WriteAll("a.bin", first);
    WriteAll("b.bin", Bytes(300, 7));
    WriteAll("c.bin", Bytes(700, 8));
    fs::create_directory("in");
    WriteAll("in/b.bin", "already here");
    fs::last_write_time("b.bin", fs::last_write_time("in/b.bin") - std::chrono::hours(48));
    MemoryPortPair pair;
    Side sender(RunProtocol::kZModem, true, "a.bin;b.bin;c.bin");
    // The receiver's names, one per offered file. It takes a file only when the sender's copy is
    // newer, so it skips b.bin, and a skipped file does not end the batch.
    Side receiver(RunProtocol::kZModem, false, "in/a.bin;in/b.bin;in/c.bin");
    receiver.settings.overwrite = 5;
    // No error was reported, yet the result is not 0: the run leaves its end to the user.
    bool senderStopped = true;
    sender.view.OnTransferEnded([&] {
        senderStopped = sender.driver->StopSignal().IsSignalled();
        sender.driver->Stop();
    });
    receiver.view.OnTransferEnded([&] { receiver.driver->Stop(); });
    sender.Start(pair.A());
    receiver.Start(pair.B());
    std::int32_t sent = sender.Finish();
    receiver.Finish();
    EXPECT_FALSE(senderStopped);

    EXPECT_EQ(ReadAll("in/a.bin"), first);
    EXPECT_EQ(ReadAll("in/b.bin"), "already here");
    EXPECT_EQ(ReadAll("in/c.bin"), ReadAll("c.bin"));
    // Three files announced, two confirmed: the difference goes into the high half.
    EXPECT_EQ(sent >> 16, 1);
    EXPECT_EQ(sender.driver->FilesSeen(), 3);
    EXPECT_EQ(sender.driver->Transferred(), 2);
    auto lines = sender.view.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].status, "OK");
    EXPECT_EQ(lines[1].status, "File skipped.");
    EXPECT_EQ(lines[2].status, "OK");
    EXPECT_EQ(sent & 0xFFFF, kResultOk);
}

TEST_F(TransferDriverTest, SilentPeerTimesOut) {
    MemoryPortPair pair;
    Side receiver(RunProtocol::kXModem, false, "never.bin");
    receiver.settings.recvTimeout = 1;
    receiver.settings.sendTimeout = 0; // the receiving run's limit is the one that counts
    receiver.Start(pair.B());
    EXPECT_EQ(receiver.Finish(), kResultTimeout);
    auto lines = receiver.view.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].name, "never.bin");
    EXPECT_EQ(lines[0].status, "Timeout.");
    EXPECT_EQ(receiver.driver->HelpTopic(), 17);
}

TEST_F(TransferDriverTest, CancelMidFileKeepsTheBytesAndCancelsThePeer) {
    WriteAll("big.bin", Bytes(20 * 128, 3));
    MemoryPortPair pair;
    Side sender(RunProtocol::kXModem, true, "big.bin");
    Side receiver(RunProtocol::kXModem, false, "part.bin");
    // The user cancels as soon as the first bytes have arrived.
    receiver.view.OnProgress([&receiver](long done) {
        if (done > 0) {
            receiver.driver->Stop();
        }
    });
    sender.Start(pair.A());
    receiver.Start(pair.B());
    EXPECT_EQ(receiver.Finish(), kResultUserCancelled);
    EXPECT_EQ(sender.Finish(), kResultRemoteCancelled);

    std::uintmax_t kept = fs::file_size("part.bin");
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, 20u * 128);
    auto lines = receiver.view.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].status, "User cancelled.");
    ASSERT_EQ(sender.view.Lines().size(), 1u);
    EXPECT_EQ(sender.view.Lines()[0].status, "Cancelled by remote.");
}

TEST_F(TransferDriverTest, ExistingTargetIsRefusedBeforeAnyBlock) {
    WriteAll("source.bin", Bytes(300, 4));
    WriteAll("target.bin", "keep me");
    MemoryPortPair pair;
    Side sender(RunProtocol::kXModem, true, "source.bin");
    Side receiver(RunProtocol::kXModem, false, "target.bin");
    sender.Start(pair.A());
    receiver.Start(pair.B());
    EXPECT_EQ(receiver.Finish(), kResultFileExists);
    EXPECT_EQ(sender.Finish(), kResultRemoteCancelled);
    EXPECT_EQ(ReadAll("target.bin"), "keep me");
    ASSERT_EQ(receiver.view.Lines().size(), 1u);
    EXPECT_EQ(receiver.view.Lines()[0].status, "File already exists.");
    EXPECT_EQ(receiver.view.Lines()[0].bytes, 0);
}

TEST_F(TransferDriverTest, PortThatDoesNotOpenEndsWith18AndNoFileLine) {
    MemoryPortOptions options;
    options.openStatus = LINK_NO_PORT;
    MemoryPortPair pair(options);
    Side sender(RunProtocol::kXModem, true, "whatever.bin");
    sender.Start(pair.A());
    EXPECT_EQ(sender.Finish(), kResultPortOpenFailed);
    EXPECT_TRUE(sender.view.Lines().empty());
    EXPECT_EQ(sender.view.Statuses().back(), "Error opening the COM port");
    EXPECT_EQ(sender.driver->HelpTopic(), 30);
}

TEST_F(TransferDriverTest, FailedRunWithShowErrorsWaitsForTheUser) {
    MemoryPortOptions options;
    options.openStatus = LINK_NO_PORT;
    MemoryPortPair pair(options);
    Side sender(RunProtocol::kXModem, true, "whatever.bin");
    sender.result.showErrors = 1;
    sender.Start(pair.A());
    // The view is asked to stay open; the run ends only when the user closes it.
    while (sender.view.EndOfRuns().empty()) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(sender.view.EndOfRuns().front());
    EXPECT_FALSE(sender.driver->StopSignal().IsSignalled());
    EXPECT_EQ(sender.view.Finished(), 0);
    sender.driver->Stop();
    EXPECT_EQ(sender.Finish(), kResultPortOpenFailed);
    EXPECT_EQ(sender.view.Finished(), 1);
}

TEST_F(TransferDriverTest, LogFileHasAHeaderAndTheFileLine) {
    WriteAll("source.bin", Bytes(200, 5));
    MemoryPortPair pair;
    Side sender(RunProtocol::kXModem, true, "source.bin");
    sender.settings.logToFile = true;
    sender.settings.logFilename = (dir_ / "send.log").string();
    Side receiver(RunProtocol::kXModem, false, "target.bin");
    sender.Start(pair.A());
    receiver.Start(pair.B());
    ASSERT_EQ(sender.Finish(), 0);
    ASSERT_EQ(receiver.Finish(), 0);

    auto lines = TextLines(dir_ / "send.log");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "FILENAME" + std::string(32, ' ') + " STATUS" + std::string(24, ' ') +
                            " DATE       TIME       SIZE");
    // Name in 40 columns, status in 30, date and time in at least 10 each, then the size.
    std::smatch match;
    ASSERT_TRUE(
        std::regex_match(lines[1], match, std::regex("(.{40}) (.{30}) (.{10,}) (.{10,}) ([0-9]+)")))
        << lines[1];
    EXPECT_EQ(match[1].str(), "source.bin" + std::string(30, ' '));
    EXPECT_EQ(match[2].str(), "OK" + std::string(28, ' '));
    EXPECT_EQ(match[5].str(), "200");
}

TEST_F(TransferDriverTest, LogThatCannotBeMadeSwitchesLoggingOff) {
    RunResult result;
    RecordingView view;
    RunSettings settings;
    settings.logToFile = true;
    settings.logFilename = (dir_ / "no-such-folder" / "x.log").string();
    TransferDriver driver(settings, result, view, nullptr);
    EXPECT_FALSE(driver.OpenLog());
    EXPECT_EQ(view.Statuses().back(), "ERROR: Log file could not be created.");
    EXPECT_FALSE(driver.Settings().logToFile);
}

} // namespace
} // namespace tollan
