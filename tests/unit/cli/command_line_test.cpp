// The tollan command's arguments: each option reaches its settings-block field through the
// block's own rules, and the checks before the run refuse what the component refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "command_line.h"
#include "settings_block.h"

namespace tollan {
namespace {

namespace fs = std::filesystem;

// Parses `words` (after the program name); false on a usage error.
bool Parse(const std::vector<const char*>& words, CommandLine& command) {
    std::vector<char*> argv{const_cast<char*>("tollan")};
    for (const char* word : words) {
        argv.push_back(const_cast<char*>(word));
    }
    std::string error;
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), command, error);
}

TEST(CommandLine, DefaultsAreZModemAt115200) {
    CommandLine command;
    ASSERT_TRUE(Parse({"receive", "-l", "/dev/ttyS0"}, command));
    const SettingsBlock& block = *command.block;
    EXPECT_EQ(block.Protocol, kProtocolZModem);
    EXPECT_EQ(block.BaudRate, 115200);
    EXPECT_EQ(block.FlowControl, kFlowControlNone);
    EXPECT_EQ(block.WindowSize, 0);
    EXPECT_EQ(block.CrashRecovery, 1);
    EXPECT_EQ(block.Overwrite, 7);
    EXPECT_EQ(block.PathSwitch, kPathStrip);
    EXPECT_EQ(block.RecvTimeout, 60);
    EXPECT_EQ(block.Transfer, 0);
    EXPECT_EQ(block.LogToFile, 0);
    EXPECT_EQ(command.line, "/dev/ttyS0");
    EXPECT_FALSE(command.run.transmit);
}

TEST(CommandLine, NumbersAreBroughtIntoRangeAsTheBlockDoes) {
    CommandLine command;
    ASSERT_TRUE(Parse(
        {"send", "-l", "COM3", "--baud", "100000", "--window", "3000", "--max-errors", "99", "f"},
        command));
    EXPECT_EQ(command.block->BaudRate, 57600);
    EXPECT_EQ(command.block->WindowSize, 2048);
    EXPECT_EQ(command.block->MaxErrors, 50);
    // Beyond the field's width the value is held at its limit, not wrapped.
    ASSERT_TRUE(Parse(
        {"send", "-l", "x", "-b", "99999999999", "--window", "-70000", "--max-errors=-5", "f"},
        command));
    EXPECT_EQ(command.block->BaudRate, 115200);
    EXPECT_EQ(command.block->WindowSize, 0);
    EXPECT_EQ(command.block->MaxErrors, 0);
}

TEST(CommandLine, NamedChoicesSetTheirValues) {
    CommandLine command;
    ASSERT_TRUE(Parse({"send", "--line=x", "-packnak", "--flow", "rtscts", "--recover", "follow",
                       "--overwrite", "differ", "--paths", "send", "--timeout", "0", "f"},
                      command));
    const SettingsBlock& block = *command.block;
    EXPECT_EQ(block.Protocol, kProtocolAckNak);
    EXPECT_EQ(block.FlowControl, kFlowControlRtsCts);
    EXPECT_EQ(block.CrashRecovery, 2);
    EXPECT_EQ(block.Overwrite, 6);
    EXPECT_EQ(block.PathSwitch, kPathSend);
    EXPECT_EQ(block.SendTimeout, 0);
    EXPECT_EQ(block.RecvTimeout, 0);
    EXPECT_EQ(command.line, "x");
}

TEST(CommandLine, OperandsBecomeTheFileList) {
    CommandLine command;
    ASSERT_TRUE(
        Parse({"send", "-l", "x", "--paths", "pairs", "a.txt", "b.txt", "--", "-dash.txt", "d.txt"},
              command));
    EXPECT_EQ(command.run.fileList, "a.txt;b.txt;-dash.txt;d.txt");
    EXPECT_TRUE(command.pairs);
    EXPECT_EQ(command.block->FileList, u"a.txt;b.txt;-dash.txt;d.txt");
}

TEST(CommandLine, LogAndFolderBecomeAbsolute) {
    CommandLine command;
    ASSERT_TRUE(
        Parse({"receive", "-l", "x", "--log", "t.log", "--append-log", "--dir", "in"}, command));
    EXPECT_EQ(command.block->LogToFile, 1);
    EXPECT_EQ(command.block->AppendToLog, 1);
    EXPECT_TRUE(fs::path(command.run.logFilename).is_absolute());
    EXPECT_EQ(fs::path(command.run.logFilename).filename(), "t.log");
    EXPECT_TRUE(fs::path(command.run.defaultDir).is_absolute());
}

TEST(CommandLine, UsageErrors) {
    for (const auto& words : std::vector<std::vector<const char*>>{
             {},
             {"send", "f"},                                    // no line
             {"copy", "-l", "x", "f"},                         // no such mode
             {"send", "-l", "x", "--bogus", "f"},              // no such option
             {"send", "-l", "x", "--flow", "both", "f"},       // no such choice
             {"send", "-l", "x", "-b", "fast", "f"},           // not a number
             {"send", "-l", "x", "--timeout", "-1", "f"},      // negative time-out
             {"send", "-l"},                                   // value missing
             {"send", "-l", "x", "--host=1", "f"},             // a flag with a value
             {"send", "-l", "x", "a;b"},                       // ";" separates list items
             {"send", "-l", "x", "--append-log", "f"},         // appending to no log
             {"receive", "-l", "x", "-p", "xmodem", "a", "b"}, // one file only
         }) {
        CommandLine command;
        EXPECT_FALSE(Parse(words, command)) << words.size() << " words";
    }
}

TEST(CommandLine, CombinationsTheComponentRefuses) {
    CommandLine command;
    ASSERT_TRUE(Parse({"send", "-l", "x", "-p", "xmodem", "--flow", "xonxoff", "--host"}, command));
    EXPECT_EQ(CheckCombination(command), 1); // before the host-mode check and the file check
    ASSERT_TRUE(Parse({"receive", "-l", "x", "-p", "acknak", "--host", "f"}, command));
    EXPECT_EQ(CheckCombination(command), 2);
    ASSERT_TRUE(Parse({"receive", "-l", "x", "-p", "xmodem"}, command));
    EXPECT_EQ(CheckCombination(command), 3);
    ASSERT_TRUE(Parse({"send", "-l", "x"}, command));
    EXPECT_EQ(CheckCombination(command), 3);
    ASSERT_TRUE(Parse({"send", "-l", "x", "--paths", "pairs", "a", "b", "c"}, command));
    EXPECT_EQ(CheckCombination(command), 4);
    // A ZModem receive needs no name: the sender's are kept.
    ASSERT_TRUE(Parse({"receive", "-l", "x"}, command));
    EXPECT_EQ(CheckCombination(command), 0);
    ASSERT_TRUE(Parse({"receive", "-l", "x", "--flow", "xonxoff", "--host"}, command));
    EXPECT_EQ(CheckCombination(command), 0);
}

class MissingFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = fs::current_path();
        dir_ = fs::temp_directory_path() / ("tollan-cli-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        fs::current_path(dir_);
        std::ofstream("here.txt") << "x";
        std::ofstream("other.txt") << "y";
    }
    void TearDown() override {
        fs::current_path(saved_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    fs::path saved_;
    fs::path dir_;
};

TEST_F(MissingFileTest, NamesTheFirstOperandThatMatchesNothing) {
    CommandLine command;
    ASSERT_TRUE(Parse({"send", "-l", "x", "here.txt", "gone.txt", "lost.txt"}, command));
    EXPECT_EQ(FirstMissingFile(command), "gone.txt");
    ASSERT_TRUE(Parse({"send", "-l", "x", "here.txt", "*.txt"}, command));
    EXPECT_EQ(FirstMissingFile(command), "");
    ASSERT_TRUE(Parse({"send", "-l", "x", "*.bin"}, command));
    EXPECT_EQ(FirstMissingFile(command), "*.bin");
}

TEST_F(MissingFileTest, ReceiverNamesAreNotLookedFor) {
    CommandLine command;
    ASSERT_TRUE(Parse({"send", "-l", "x", "--paths", "pairs", "here.txt", "there.txt", "other.txt",
                       "elsewhere.txt"},
                      command));
    EXPECT_EQ(FirstMissingFile(command), "");
    ASSERT_TRUE(Parse({"receive", "-l", "x", "-p", "xmodem", "new.txt"}, command));
    EXPECT_EQ(FirstMissingFile(command), "");
}

} // namespace
} // namespace tollan
