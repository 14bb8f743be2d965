// What only the Win32 file object does: drive-relative items ("C:*.txt"). The shared contract,
// unshared opens included, is checked in tests/unit/engine.
#include "win32_file_access.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace tollan {
namespace {

namespace fs = std::filesystem;

class Win32FileAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("tollan-win32-files-" + std::to_string(std::random_device{}()));
        fs::create_directories(root_);
    }

    void TearDown() override {
        if (!previousDir_.empty()) {
            fs::current_path(previousDir_);
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    void MakeFile(const std::string& relative) {
        const fs::path p = (root_ / relative).make_preferred();
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << "x";
    }

    // Makes the temporary directory the current one of its drive; returns "X:" for that drive.
    std::string EnterRootOnItsDrive() {
        previousDir_ = fs::current_path();
        fs::current_path(root_);
        return root_.root_name().string();
    }

    std::vector<std::string> Walk(FileAccess& file, std::string list, int recurse) {
        list_.assign(list.begin(), list.end());
        list_.push_back('\0');
        EXPECT_EQ(file.Init(list_.data(), recurse), 0);
        std::vector<std::string> names;
        while (file.NextFile(true) && names.size() < 100) {
            names.emplace_back(file.GetName());
        }
        return names;
    }

    fs::path root_;
    fs::path previousDir_;
    std::vector<char> list_;
};

TEST_F(Win32FileAccessTest, DriveRelativeItemsSplitAtTheColon) {
    MakeFile("a.txt");
    MakeFile("b.txt");
    MakeFile("c.dat");
    MakeFile("sub\\d.txt");
    const std::string drive = EnterRootOnItsDrive();
    ASSERT_EQ(drive.size(), 2u);
    Win32FileAccess file;

    auto names = Walk(file, drive + "*.txt", 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{drive + "a.txt", drive + "b.txt"}));

    // Recursing below "X:" and coming back up to it.
    names = Walk(file, drive + "*.txt;" + drive + "c.dat", 1);
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names.back(), drive + "c.dat");
    std::sort(names.begin(), names.end() - 1);
    EXPECT_EQ(names[2], drive + "sub\\d.txt");

    list_.assign({'Z', ':', 'n', 'e', 'w', '.', 'b', 'i', 'n', '\0'});
    ASSERT_EQ(file.Init(list_.data(), 0), 0);
    ASSERT_TRUE(file.NextFile(false));
    EXPECT_STREQ(file.GetName(), "Z:new.bin");
}

} // namespace
} // namespace tollan
