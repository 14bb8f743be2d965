// What only the Win32 file object does: drive-relative items ("C:*.txt"), files other programs
// hold open, names in the ANSI code page. The shared contract is checked in tests/unit/engine.
#include "engine/win32_file_access.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/received_name.h"
#include "support/scratch_folder.h"
#include "transfer/ansi_text.h"

namespace tollan {
namespace {

namespace fs = std::filesystem;

// Drive-relative items: with the temporary folder the current one of its drive, "X:*.txt"
// finds its files, recursion goes below "X:" and comes back up to it, and an item taken as
// written keeps its drive.
TEST(Win32FileAccess, DriveRelativeItemsSplitAtTheColon) {
    test::ScratchFolder folder;
    const fs::path& root = folder.Root();
    for (const char* name : {"a.txt", "b.txt", "c.dat", "sub\\d.txt"}) {
        fs::create_directories((root / name).parent_path());
        std::ofstream(root / name) << "x";
    }
    const fs::path previous = fs::current_path();
    fs::current_path(root);
    const std::string drive = root.root_name().string();
    std::string list = drive + "*.txt;" + drive + "c.dat";
    Win32FileAccess file;
    ASSERT_EQ(file.Init(list.data(), 1), 0);
    std::vector<std::string> names;
    while (names.size() < 10 && file.NextFile(true)) {
        names.emplace_back(file.GetName());
    }
    std::string other = "Z:new.bin";
    ASSERT_EQ(file.Init(other.data(), 0), 0);
    ASSERT_TRUE(file.NextFile(false));
    EXPECT_STREQ(file.GetName(), "Z:new.bin");
    fs::current_path(previous);
    std::sort(names.begin(), names.end()); // the order of a walk is the shared contract's
    EXPECT_EQ(names, (std::vector<std::string>{drive + "a.txt", drive + "b.txt", drive + "c.dat",
                                               drive + "sub\\d.txt"}));
}

// A log that another program holds open for appending can be read and sent.
TEST(Win32FileAccess, AFileHeldOpenForAppendingCanBeRead) {
    test::ScratchFolder folder;
    const std::string path = folder.Path("held.log");
    std::ofstream(path, std::ios::binary) << "line 1\n";
    HANDLE held = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Win32FileAccess file;
    EXPECT_EQ(file.Open(path.c_str(), "rb"), 0);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 7);
    file.Close();
    CloseHandle(held);
}

// Runs a Unix program in `folder` (Wine starts them) until `done` holds.
bool RunUnix(const fs::path& folder, const char* program, std::string command,
             const std::function<bool()>& done) {
    std::replace(command.begin(), command.end(), '\\', '/');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    const std::string where = folder.string();
    if (!CreateProcessA(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, where.c_str(),
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 500 && !done(); ++i) {
        Sleep(10);
    }
    return done();
}

bool Exists(const fs::path& path) {
    return GetFileAttributesA(path.string().c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Makes `link` (a name in `folder`) a symbolic link to `target` (relative to it). Wine's
// CreateSymbolicLink makes nothing; there the Unix side's ln makes it.
bool MakeLink(const fs::path& folder, const char* target, const char* link, bool directory) {
    const std::string path = (folder / link).string();
    const DWORD kind = directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    if (CreateSymbolicLinkA(path.c_str(), target, kind | 2) && Exists(path)) { // 2: unprivileged
        return true;
    }
    return RunUnix(folder, "Z:\\bin\\ln", std::string("ln -s ") + target + " " + link,
                   [&] { return Exists(path); });
}

// A link under a received name is replaced itself, and a folder that is a link (a reparse
// point) is never made or written through; a writer that would not replace refuses a link the
// system shows as one. A file this writer could not truncate (read-only) is not replaced either.
TEST(Win32FileAccess, LinksAreReplacedOrRefusedNeverWrittenThrough) {
    test::ScratchFolder folder;
    const fs::path& root = folder.Root();
    fs::create_directories(root / "outside");
    std::ofstream(root / "outside" / "victim") << "victim";
    if (!MakeLink(root, "outside\\victim", "link", false) ||
        !MakeLink(root, "outside", "folder", true)) {
        GTEST_SKIP() << "no links can be made here";
    }
    Win32FileAccess file;
    const std::string through = folder.Path("folder\\sub\\x");
    EXPECT_EQ(file.MakeFolders(through.c_str(), false), FILE_OPEN_FAILED);
    EXPECT_EQ(file.LastError(), ELOOP);
    EXPECT_FALSE(fs::exists(root / "outside" / "sub"));
    const std::string link = folder.Path("link");
    if ((GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        EXPECT_EQ(file.Open(link.c_str(), "ab"), FILE_OPEN_FAILED);
        EXPECT_EQ(file.LastError(), ELOOP);
    }
    ASSERT_EQ(file.Open(link.c_str(), "wb"), 0);
    EXPECT_EQ(file.Write("new", 3), 3);
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    std::ifstream victim(root / "outside" / "victim");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), "victim");

    const std::string kept = folder.Path("read-only");
    std::ofstream(kept) << "old";
    SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(file.Open(kept.c_str(), "wb"), FILE_OPEN_FAILED);
    EXPECT_EQ(file.LastError(), EACCES);
    SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(fs::file_size(kept), 3u);
    // The scratch folder's removal would go into the linked folder.
    const fs::path linked = root / "folder";
    EXPECT_TRUE(RemoveDirectoryA(linked.string().c_str()) ||
                RunUnix(root, "Z:\\bin\\rm", "rm folder", [&] { return !Exists(linked); }));
}

// Under the code page each row names (its test runs again under those): a walk takes names
// whole although the second byte of a character is a '\', and a folder whose name lies outside
// Latin-1 can be entered by its single-byte name.
TEST(Win32FileAccess, NamesInTheAnsiCodePage) {
    struct Case {
        UINT codePage;
        const char16_t* folder;
        const char16_t* file; // within the folder
    };
    const Case cases[] = {
        {1251, u"Отчеты", u"План.txt"},
        // 表 0x95 0x5C, 能 0x94 0x5C, ソ 0x83 0x5C
        {932, u"表示能", u"ソフト能.txt"},
    };
    for (const Case& c : cases) {
        if (c.codePage != GetACP()) {
            continue;
        }
        test::ScratchFolder scratch;
        const std::string folder = scratch.Root().string() + "\\" + NarrowText(c.folder);
        const std::string name = folder + "\\" + NarrowText(c.file);
        fs::create_directories(PathOfText(folder) / "sub");
        std::ofstream(PathOfText(name)) << "x";
        std::ofstream(PathOfText(folder) / "sub" / std::u16string(c.file)) << "x";
        std::string list = folder + "\\*.txt;" + name;
        Win32FileAccess file;
        ASSERT_EQ(file.Init(list.data(), 1), 0);
        std::vector<std::string> names;
        while (names.size() < 5 && file.NextFile(true)) {
            names.emplace_back(file.GetName());
        }
        const std::string below = folder + "\\sub\\" + NarrowText(c.file);
        EXPECT_EQ(names, (std::vector<std::string>{name, below, name, below}));
        // An offered name too, where a '\' follows a character that ends in that byte.
        const std::string offered = NarrowText(c.folder) + "\\" + NarrowText(c.file);
        char kept[FileAccess::kNameSize];
        EXPECT_EQ(ReceivedName(offered, NameRules::kWin32, kept, sizeof kept), NameVerdict::kTaken);
        EXPECT_EQ(kept, offered);
        const fs::path previous = fs::current_path();
        std::error_code error;
        fs::current_path(PathOfText(folder), error);
        EXPECT_FALSE(error) << error.message();
        EXPECT_TRUE(fs::exists(PathOfText(NarrowText(c.file))));
        fs::current_path(previous);
        return;
    }
    GTEST_SKIP() << "code page " << GetACP();
}

} // namespace
} // namespace tollan
