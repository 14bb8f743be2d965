// What only the Win32 file object does: drive-relative items ("C:*.txt"), files other programs
// hold open, names in the ANSI code page. The shared contract is checked in tests/unit/engine.
#include "engine/win32_file_access.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
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
