// What only the Win32 file object does: drive-relative items ("C:*.txt"). The shared contract,
// unshared opens included, is checked in tests/unit/engine.
#include "engine/win32_file_access.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/scratch_folder.h"

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
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names.back(), drive + "c.dat");
    std::sort(names.begin(), names.end() - 1);
    EXPECT_EQ(names, (std::vector<std::string>{drive + "a.txt", drive + "b.txt",
                                               drive + "sub\\d.txt", drive + "c.dat"}));
}

} // namespace
} // namespace tollan
