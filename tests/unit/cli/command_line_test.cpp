// The tollan command's arguments: each option reaches its settings-block field through the
// block's own rules, and the checks before the run refuse what the component refuses. Then the
// progress line fitted to the terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/command_line.h"
#include "cli/terminal_view.h"
#include "settings/settings_block.h"
#include "support/scratch_folder.h"

namespace tollan {
namespace {

namespace fs = std::filesystem;

// Parses `words` (after the program name); false on a usage error.
bool Parse(std::vector<const char*> words, CommandLine& command) {
    words.insert(words.begin(), "tollan");
    std::string error;
    return ParseCommandLine(static_cast<int>(words.size()), const_cast<char**>(words.data()),
                            command, error);
}

TEST(CommandLine, Options) {
    CommandLine command;
    // Inline values in both forms; numbers brought into range as the block does, and beyond a
    // field's width held at its limit, not wrapped.
    ASSERT_TRUE(Parse(
        {"send",        "--line=x", "-packnak", "--flow",       "rtscts",    "--recover", "follow",
         "--overwrite", "differ",   "--paths",  "send",         "--timeout", "0",         "--baud",
         "100000",      "--window", "3000",     "--max-errors", "99",        "f"},
        command));
    const SettingsBlock& block = *command.block;
    // A relative line is found from the working directory (COM names stay names on Windows).
    EXPECT_EQ(command.line, fs::path("a\\b").has_parent_path() ? "x" : fs::absolute("x").string());
    EXPECT_EQ(block.Protocol, Protocol::kAckNak);
    EXPECT_EQ(block.FlowControl, FlowControl::kRtsCts);
    EXPECT_EQ(NumberOf(block.CrashRecovery), 2);
    EXPECT_EQ(NumberOf(block.Overwrite), 6);
    EXPECT_EQ(block.PathSwitch, PathSwitch::kSendPath);
    EXPECT_EQ(block.SendTimeout, 0);
    EXPECT_EQ(block.RecvTimeout, 0);
    EXPECT_EQ(block.BaudRate, 57600);
    EXPECT_EQ(NumberOf(block.WindowSize), 2048);
    EXPECT_EQ(block.MaxErrors, 50);
    // Out of range values are held at their limits; cut to their fields' width instead, they
    // would read as 300, 4096 and 5, all in range.
    ASSERT_TRUE(Parse(
        {"send", "-l", "x", "-b", "4294967596", "--window", "-61440", "--max-errors=-65531", "f"},
        command));
    EXPECT_EQ(block.BaudRate, 115200);
    EXPECT_EQ(NumberOf(block.WindowSize), 0);
    EXPECT_EQ(block.MaxErrors, 0);

    // Dialling, the extra command and carrier detect are the modem interoperability test's.
    ASSERT_TRUE(Parse(
        {"send", "-l", "x", "--dial", "5", "--modem-init", "ATZ", "--modem-init", "AT&C1", "f"},
        command));
    EXPECT_EQ(command.modem.init, (std::vector<std::string>{"ATZ", "AT&C1"}));
    ASSERT_TRUE(
        Parse({"receive", "-l", "x", "--answer", "--host", "--offered-paths=as-offered"}, command));
    EXPECT_TRUE(command.run.useModem);
    EXPECT_TRUE(command.run.HostRun());
    EXPECT_EQ(command.run.offeredPaths, OfferedPaths::kAsOffered);

    ASSERT_TRUE(
        Parse({"send", "-l", "x", "--paths", "pairs", "a.txt", "b.txt", "--", "-dash.txt", "d.txt"},
              command));
    EXPECT_EQ(command.block->FileList, u"a.txt;b.txt;-dash.txt;d.txt");
    EXPECT_TRUE(command.pairs);
    ASSERT_TRUE(
        Parse({"receive", "-l", "x", "--log", "t.log", "--append-log", "--dir", "in"}, command));
    EXPECT_EQ(command.block->AppendToLog, 1);
    EXPECT_EQ(fs::path(command.run.logFilename), fs::absolute("t.log"));
    EXPECT_EQ(fs::path(command.run.defaultDir), fs::absolute("in"));
    EXPECT_EQ(command.run.offeredPaths, OfferedPaths::kInsideFolder);
    ASSERT_TRUE(Parse({"-h"}, command)); // no mode needed
    EXPECT_TRUE(command.help);
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
             {"send", "-l", "x", "--block-check", "4", "f"},   // Kermit has checks 1 to 3
             {"send", "-l", "x", "--packet-length", "9025", "f"},
             {"receive", "-l", "x", "--dial", "555"}, // a receiver answers
             {"send", "-l", "x", "--answer", "f"},    // a sender dials
             {"send", "-l", "x", "--dial", "5", "--hangup",
              "ATH0..............................................", "f"},
         }) {
        CommandLine command;
        EXPECT_FALSE(Parse(words, command)) << words.size() << " words";
    }
}

TEST(CommandLine, CombinationsTheComponentRefuses) {
    const std::pair<std::vector<const char*>, int> cases[] = {
        // The component's rules (its own test has them all) reach the command's options;
        // XModem's relatives follow XModem's rules; YModem carries names like ZModem.
        {{"send", "-l", "x", "--paths", "pairs", "a", "b", "c"}, 4},
        {{"send", "-l", "x", "-p", "xmodem-1k", "--flow", "xonxoff", "f"}, 1},
        {{"receive", "-l", "x", "-p", "ymodem", "--host"}, 2},
        {{"receive", "-l", "x", "-p", "xmodem-1k"}, 3},
        {{"receive", "-l", "x", "-p", "ymodem"}, 0},
        {{"receive", "-l", "x", "-p", "ymodem", "a", "b", "c"}, 0},
        {{"receive", "-l", "x", "-p", "kermit"}, 0},
    };
    for (const auto& [words, refused] : cases) {
        CommandLine command;
        ASSERT_TRUE(Parse(words, command));
        EXPECT_EQ(CheckCombination(command), refused) << words.size() << " words";
    }
}

// What the settings block cannot hold reaches the run: the protocols only the command has (the
// block keeps XModem), speeds the serial interface offers beyond BaudRate's (others snap as
// BaudRate does).
TEST(CommandLine, ProtocolsAndSpeedsOfTheCommandAlone) {
    struct Case {
        std::vector<const char*> words;
        Protocol protocol;
        std::int32_t speed;
    };
    const Case cases[] = {
        {{"receive", "-l", "x", "-p", "ymodem"}, Protocol::kYModem, 115200},
        {{"send", "-l", "x", "-p", "xmodem-1k", "-b", "921600", "f"}, Protocol::kXModem1K, 921600},
        {{"send", "-l", "x", "-p", "ZModem", "-b", "12345", "f"}, Protocol::kZModem, 9600},
        {{"send", "-l", "x", "-p", "kermit", "--block-check", "1", "f"}, Protocol::kKermit, 115200},
    };
    for (const Case& c : cases) {
        CommandLine command;
        ASSERT_TRUE(Parse(c.words, command)) << c.words[3];
        EXPECT_EQ(command.run.protocol, c.protocol);
        EXPECT_EQ(command.run.baudRate, c.speed);
        EXPECT_LE(NumberOf(command.block->Protocol), NumberOf(Protocol::kAckNak));
        EXPECT_LE(command.block->BaudRate, 115200);
        // A speed that snapped is named with the one that runs.
        EXPECT_EQ(command.notice.find(std::to_string(c.speed)) != std::string::npos,
                  c.speed == 9600);
    }
}

// Operands are checked before the line opens. A name that exists is that file, pattern characters
// and all; a folder or (on POSIX) a pattern is refused with a reason (the interoperability test
// has more); a file is too large beyond 32-bit positions. A receiver's operands are not looked at.
TEST(CommandLine, SendersOperandsAreCheckedBeforeTheLineOpens) {
    test::ScratchFolder folder(test::ScratchFolder::kEnter);
    std::ofstream("small.bin") << "x";
    std::ofstream("a[1].txt") << "x";
    std::ofstream("edge.bin").close();
    std::ofstream("huge.bin").close();
    fs::resize_file("edge.bin", 0x7FFFFFFF);
    fs::resize_file("huge.bin", 0x100000000ull);
    fs::create_directory("dir");
    const bool patterns = fs::path("a\\b").has_parent_path(); // Windows
    struct Case {
        std::vector<const char*> words;
        std::string (*check)(const CommandLine&);
        std::string found;
    };
    const Case cases[] = {
        {{"send", "-l", "x", "small.bin", "edge.bin"}, FirstTooLargeFile, ""},
        {{"send", "-l", "x", "small.bin", "*.bin"}, FirstTooLargeFile, "huge.bin"},
        {{"receive", "-l", "x", "-p", "xmodem", "huge.bin"}, FirstTooLargeFile, ""},
        {{"send", "-l", "x", "a[1].txt", "dir"},
         RefusedFile,
         "dir: " + std::generic_category().message(EISDIR)},
        {{"send", "-l", "x", "small.bin", "*.txt"},
         RefusedFile,
         patterns ? "" : "*.txt: " + std::generic_category().message(ENOENT)},
        // With receiver names every second operand is a name for the other side.
        {{"send", "-l", "x", "--paths", "pairs", "small.bin", "there", "small.bin", "b"},
         RefusedFile,
         ""},
        {{"receive", "-l", "x", "-p", "xmodem", "new.txt"}, RefusedFile, ""},
    };
    for (const Case& c : cases) {
        CommandLine command;
        ASSERT_TRUE(Parse(c.words, command));
        EXPECT_EQ(c.check(command), c.found) << c.words.back();
    }
}

// Figures go in their order as the width shrinks, a long name is shortened first, and no width
// makes the line reach the last column.
TEST(ProgressLine, FitsEveryWidth) {
    const ProgressFigures batch{"firmware-image-for-the-board-v2.3.1-release.bin",
                                "Sending file...",
                                3774873,
                                8388608,
                                3,
                                200,
                                1258291.2,
                                3.7,
                                2};
    const ProgressFigures unsized{"a.bin", "Receiving file...", 5000, -1, 1, 0, 1000, -1, 0};
    const ProgressFigures waiting{"", "Waiting for the receiver...", 0, -1, 0, 0, -1, -1, 0};
    const ProgressFigures wide{"ünïcödé-nämé-thät-is-löng.txt", "", 10, 100, 1, 1, -1, -1, 0};
    const struct {
        const ProgressFigures& figures;
        int columns;
        const char* line;
    } cases[] = {
        {batch, 200,
         "firmware-image-for-the-board-v2.3.1-release.bin  file 3 of 200  44%  "
         "[############................]  3.6 MiB of 8.0 MiB  1.2 MiB/s  0:04 left  2 errors  "
         "Sending file..."},
        {batch, 80,
         "firmwar...ase.bin  file 3 of 200  44%  3.6 MiB of 8.0 MiB  1.2 MiB/s  0:04 left"},
        {batch, 0,
         "firmwar...ase.bin  file 3 of 200  44%  3.6 MiB of 8.0 MiB  1.2 MiB/s  0:04 left"},
        {batch, 40, "firmware-i...elease.bin  44%  0:04 left"},
        {batch, 12, "f...in  44%"},
        {unsized, 80, "a.bin  file 1  4.9 KiB  1000 B/s  Receiving file..."},
        {unsized, 24, "a.bin  4.9 KiB"},
        {waiting, 12, "Waiting for"},
        {wide, 20, "ünïcö...ng.txt  10%"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProgressLine(c.figures, c.columns), c.line) << c.columns;
    }
    for (int columns = 2; columns <= 200; ++columns) {
        for (const auto& figures : {batch, unsized, waiting, wide}) {
            const std::string line = ProgressLine(figures, columns);
            int characters = 0;
            for (const char c : line) {
                characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
            }
            ASSERT_LT(characters, columns) << line;
        }
    }
}

} // namespace
} // namespace tollan
