// Names, sizes and times a sender offers: the table of hostile names with what each becomes under
// POSIX and Win32 rules (kinds from the command guide's table), and the same names offered for
// real to the YModem receiver of this platform, which must write every accepted file inside its
// folder, nothing anywhere else, and go on with the batch after each declined one (the receivers
// share that step; the ZModem receiver's skipping is also met by the lrzsz interop tests).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/engine_codes.h"
#include "engine/received_name.h"
#include "engine/xmodem_engine.h"
#include "engine_test_support.h"

namespace tollan::test {
namespace {

namespace fs = std::filesystem;

// What a name becomes: the path written with '/' (for Win32 the test swaps in '\'), or a
// declined verdict.
struct Becomes {
    NameVerdict verdict;
    const char* path = "";
};

struct HostileName {
    const char* kind;
    std::string offered;
    Becomes posix;
    std::optional<Becomes> win32 = {}; // none: as under POSIX
};

const std::string kLongName(300, 'a');

const std::vector<HostileName>& HostileNames() {
    using V = NameVerdict;
    static const std::vector<HostileName> names = {
        {"plain name", "report.txt", {V::kTaken, "report.txt"}},
        {"folders, '/'", "logs/2024/jan.txt", {V::kTaken, "logs/2024/jan.txt"}},
        {"folders, '\\'", "logs\\jan.txt", {V::kTaken, "logs/jan.txt"}},
        {"absolute, '/'", "/etc/passwd", {V::kRootRemoved, "etc/passwd"}},
        {"drive letter", "C:\\boot.ini", {V::kRootRemoved, "boot.ini"}},
        {"drive-relative", "d:notes.txt", {V::kRootRemoved, "notes.txt"}},
        {"UNC, '\\'", "\\\\server\\share\\dir\\f.txt", {V::kRootRemoved, "dir/f.txt"}},
        {"long-path prefix", "\\\\?\\C:\\x\\y.txt", {V::kRootRemoved, "x/y.txt"}},
        {"long UNC prefix", "\\\\?\\UNC\\srv\\sh\\z.txt", {V::kRootRemoved, "z.txt"}},
        {"'..' at the start", "../escape.txt", {V::kClimbsOut}},
        {"'..' at the end", "dir\\..", {V::kClimbsOut}},
        {"'..' after a root", "/../escape.txt", {V::kClimbsOut}},
        {"'.' and empty steps", "a/./b//c.txt", {V::kTaken, "a/b/c.txt"}},
        {"dots in a name", "..hidden...txt", {V::kTaken, "..hidden...txt"}},
        {"DEL", "del\x7f", {V::kControlCharacter}},
        {"unit separator", "a\x1f", {V::kControlCharacter}},
        {"300 characters", kLongName, {V::kTooLong}},
        {"empty", "", {V::kEmpty}},
        {"a root alone", "/", {V::kEmpty}},
        {"a drive alone", "C:\\", {V::kEmpty}},
        {"device name", "CON", {V::kTaken, "CON"}, Becomes{V::kNotAName}},
        {"device with extension", "nul.txt", {V::kTaken, "nul.txt"}, Becomes{V::kNotAName}},
        {"device in a folder", "dir/com1.log", {V::kTaken, "dir/com1.log"}, Becomes{V::kNotAName}},
        {"colon inside", "notes:v2.txt", {V::kTaken, "notes:v2.txt"}, Becomes{V::kNotAName}},
        {"trailing dot", "name.", {V::kTaken, "name."}, Becomes{V::kNotAName}},
        {"trailing space", "name ", {V::kTaken, "name "}, Becomes{V::kNotAName}},
    };
    return names;
}

Becomes Expected(const HostileName& name, NameRules rules) {
    return rules == NameRules::kWin32 ? name.win32.value_or(name.posix) : name.posix;
}

TEST(ReceivedName, HostileNamesUnderBothRules) {
    for (const NameRules rules : {NameRules::kPosix, NameRules::kWin32}) {
        const char separator = rules == NameRules::kWin32 ? '\\' : '/';
        for (const HostileName& name : HostileNames()) {
            SCOPED_TRACE(std::string(name.kind) + (rules == NameRules::kWin32 ? " (Win32)" : ""));
            char out[FileAccess::kNameSize];
            const NameVerdict verdict = ReceivedName(name.offered, rules, out, sizeof out);
            const Becomes expected = Expected(name, rules);
            std::string path = expected.path;
            std::ranges::replace(path, '/', separator);
            EXPECT_EQ(verdict, expected.verdict);
            EXPECT_EQ(std::string(out), path);
        }
    }
    // A name that fits every step but not the buffer (here with its terminator) is declined,
    // never cut; a step of 255 characters is the longest taken.
    char small[8];
    EXPECT_EQ(ReceivedName("abc/defg", NameRules::kPosix, small, sizeof small),
              NameVerdict::kTooLong);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(ReceivedName("abc/def", NameRules::kPosix, small, sizeof small), NameVerdict::kTaken);
    char longest[FileAccess::kNameSize];
    EXPECT_EQ(ReceivedName(std::string(255, 'b'), NameRules::kWin32, longest, sizeof longest),
              NameVerdict::kTaken);
}

TEST(ReceivedName, OffersWithSizesAndTimesThatDoNotFit) {
    struct Row {
        std::string bytes;
        const char* name;
        bool hasSize;
        std::int32_t size;
        bool tooLarge;
        bool hasTime;
        std::int32_t time;
    };
    const std::string nul(1, '\0');
    const Row rows[] = {
        {"a.bin" + nul + "300 14000000000", "a.bin", true, 300, false, true, 014000000000},
        {"a.bin" + nul + "2147483647 17777777777", "a.bin", true, 0x7FFFFFFF, false, true,
         0x7FFFFFFF},
        {"big" + nul + "4294967296 777", "big", false, 0, true, true, 0777},
        {"big" + nul + "99999999999999999999999 1", "big", false, 0, true, true, 1},
        {"t" + nul + "5 20000000000", "t", true, 5, false, false, 0},
        {"t" + nul + "5 0", "t", true, 5, false, false, 0},
        {"t" + nul + "-5 100", "t", false, 0, false, false, 0},
        {"t" + nul + "5x 100", "t", true, 5, false, false, 0},
        {"t" + nul + "5 9", "t", true, 5, false, false, 0},
        {"no-terminator", "no-terminator", false, 0, false, false, 0},
        {"t" + nul, "t", false, 0, false, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const OfferedFile offer = ParseOffer(row.bytes.data(), row.bytes.size());
        EXPECT_EQ(offer.name, row.name);
        EXPECT_EQ(offer.hasSize, row.hasSize);
        EXPECT_EQ(offer.size, row.size);
        EXPECT_EQ(offer.sizeTooLarge, row.tooLarge);
        EXPECT_EQ(offer.hasTime, row.hasTime);
        EXPECT_EQ(offer.time, row.time);
    }
    // After the time, the mode: only its permission bits are taken.
    const std::pair<std::string, std::uint32_t> modes[] = {
        {"x" + nul + "5 1 100755", 0755}, {"x" + nul + "5 1 107777 0 3", 0777},
        {"x" + nul + "5 1 0", 0},         {"x" + nul + "5 1", 0},
        {"x" + nul + "5 1 9", 0},         {"x" + nul + "5 1x 644", 0},
    };
    for (const auto& [bytes, permissions] : modes) {
        EXPECT_EQ(ParseOffer(bytes.data(), bytes.size()).permissions, permissions) << bytes;
    }
}

// Every regular file under `root`, as paths relative to it.
std::set<std::string> FilesUnder(const fs::path& root) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files.insert(fs::relative(entry.path(), root).generic_string());
        }
    }
    return files;
}

// A YModem receiver on a memory line and a raw peer that plays a sender to it.
struct YModemBatch : PeerLine {
    YModemBatch() {
        receiver.SetProtocol(Protocol::kYModem);
        receiver.SetMaxErrors(5);
    }

    // Sends each file as its block 0 (`header`: name, NUL, size and more) and one data block,
    // then the empty block 0 that ends the batch; the receiver's result.
    int Run(const std::vector<std::pair<Bytes, Bytes>>& files) {
        int received = 1;
        RunBoth([&] { received = receiver.Receive(nullptr); },
                [&] {
                    for (const auto& [header, content] : files) {
                        ASSERT_EQ(peer.Read(kPeerWait), 'C');
                        peer.Send(XModemBlock(0, header));
                        ASSERT_EQ(peer.Read(kPeerWait), 0x06);
                        ASSERT_EQ(peer.Read(kPeerWait), 'C');
                        peer.Send(XModemBlock(1, content));
                        ASSERT_EQ(peer.Read(kPeerWait), 0x06);
                        peer.Send(0x04);
                        ASSERT_EQ(peer.Read(kPeerWait), 0x06);
                    }
                    ASSERT_EQ(peer.Read(kPeerWait), 'C');
                    peer.Send(XModemBlock(0, {}));
                    ASSERT_EQ(peer.Read(kPeerWait), 0x06);
                });
        return received;
    }

    XModemEngine receiver{side.link.get(), &side.status};
};

// Every hostile name offered to this platform's YModem receiver, plus the absolute name of a file
// in a second folder, which must stay empty, and one that climbs out of it (an empty name is how
// YModem ends a batch): each accepted file lands inside the receiving folder, nothing anywhere
// else, and the batch goes on after each declined one. Each file holds its own offered name, so
// that a file in the wrong place shows which offer put it there.
TEST(ReceivedName, YModemReceiverKeepsEveryFileInsideItsFolder) {
    ScratchFolder outside;
    ScratchFolder into(ScratchFolder::kEnter);
    // What is offered, and where it arrives (with '/'; empty: declined).
    std::vector<std::pair<std::string, std::string>> offers;
    for (const HostileName& name : HostileNames()) {
        const Becomes expected = Expected(name, HostNameRules());
        if (!name.offered.empty()) {
            offers.emplace_back(name.offered, NameAccepted(expected.verdict) ? expected.path : "");
        }
    }
    const fs::path absolute = outside.Root() / "abs.txt";
    offers.emplace_back(absolute.string(), absolute.relative_path().generic_string());
    offers.emplace_back((outside.Root() / ".." / "up.txt").string(), "");
    std::vector<std::pair<Bytes, Bytes>> files;
    std::set<std::string> arrived;
    for (const auto& [offered, arrives] : offers) {
        files.emplace_back(Text(offered + std::string(1, '\0') + std::to_string(offered.size())),
                           Text(offered));
        if (!arrives.empty()) {
            arrived.insert(arrives);
        }
    }
    YModemBatch batch;
    EXPECT_EQ(batch.Run(files), TE_OK);
    for (const auto& [offered, arrives] : offers) {
        EXPECT_TRUE(arrives.empty() || ReadFile(arrives) == Text(offered)) << offered;
    }
    EXPECT_EQ(FilesUnder(into.Root()), arrived);
    EXPECT_TRUE(FilesUnder(outside.Root()).empty());
    EXPECT_FALSE(fs::exists(outside.Root().parent_path() / "up.txt"));
    EXPECT_FALSE(fs::exists(into.Root().parent_path() / "escape.txt"));
    EXPECT_EQ(std::ranges::count(batch.side.status.Codes(), TE_FILE_SKIPPED),
              static_cast<std::ptrdiff_t>(offers.size() - arrived.size()));
}

// The user's explicit choice of offered paths as they are: a file goes where the sender says,
// folders made on the way, cut at the announced size. A size that 32-bit positions cannot reach
// gets the file declined (its data dropped).
TEST(ReceivedName, AsOfferedPathsAndSizesThatDoNotFit) {
    ScratchFolder outside;
    ScratchFolder into(ScratchFolder::kEnter);
    const std::string target = (outside.Root() / "made" / "there.txt").string();
    const std::string nul(1, '\0');
    YModemBatch batch;
    batch.receiver.SetOfferedPaths(OfferedPaths::kAsOffered);
    EXPECT_EQ(batch.Run({{Text(target + nul + "2"), Text("ok")},
                         {Text("big.bin" + nul + "4294967296 14000000000"), Text("abcdef")}}),
              TE_OK);
    EXPECT_EQ(ReadFile(target), Text("ok"));
    EXPECT_TRUE(FilesUnder(into.Root()).empty());
    EXPECT_EQ(std::ranges::count(batch.side.status.Codes(), TE_FILE_SKIPPED), 1);
}

} // namespace
} // namespace tollan::test
