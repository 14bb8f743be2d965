// The transfer log file on its own: recreated or appended, each run with its own header.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "transfer_log.h"

namespace tollan {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class TransferLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = fs::temp_directory_path() /
                ("tollan-log-" + std::to_string(std::random_device{}()) + ".log");
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove(path_, ignored);
    }
    void OneRun(bool append, const char* name) {
        TransferLog log;
        ASSERT_TRUE(log.Open(path_.string().c_str(), append));
        TimeStamp stamp{"01/02/03", "04:05:06"};
        log.WriteLine(name, "OK", stamp, 4096);
    }

    fs::path path_;
};

TEST_F(TransferLogTest, LineFormat) {
    OneRun(false, "a.txt");
    auto lines = Lines(path_);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "a.txt" + std::string(35, ' ') + " OK" + std::string(28, ' ') +
                            " 01/02/03   04:05:06   4096");
}

TEST_F(TransferLogTest, AppendingKeepsEarlierRunsEachUnderItsHeader) {
    OneRun(true, "first");
    OneRun(true, "second");
    auto lines = Lines(path_);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(0, 8), "FILENAME");
    EXPECT_EQ(lines[1].substr(0, 5), "first");
    EXPECT_EQ(lines[2].substr(0, 8), "FILENAME");
    EXPECT_EQ(lines[3].substr(0, 6), "second");
}

TEST_F(TransferLogTest, WithoutAppendEachRunStartsAfresh) {
    OneRun(false, "first");
    OneRun(false, "second");
    auto lines = Lines(path_);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(0, 6), "second");
}

} // namespace
} // namespace tollan
