// The transfer log file on its own: recreated or appended, each run under its own header.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "support/scratch_folder.h"
#include "transfer/transfer_log.h"

namespace tollan {
namespace {

namespace fs = std::filesystem;

TEST(TransferLog, AppendedRunsEachUnderAHeaderOrOneRunAfresh) {
    test::ScratchFolder folder;
    const fs::path path = folder.Root() / "tollan.log";
    const auto run = [&path](bool append, const char* name) {
        TransferLog log;
        ASSERT_TRUE(log.Open(path.string().c_str(), append));
        log.WriteLine(name, "OK", TimeStamp{"01/02/03", "04:05:06"}, 4096);
    };
    const auto lines = [&path] {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    };
    const std::string header = "FILENAME" + std::string(32, ' ') + " STATUS" +
                               std::string(24, ' ') + " DATE       TIME       SIZE";
    run(true, "first");
    run(true, "second");
    // Name in 40 columns, status in 30, date and time in 10 each, then the size.
    const std::vector<std::string> appended = {
        header,
        "first" + std::string(35, ' ') + " OK" + std::string(28, ' ') +
            " 01/02/03   04:05:06   4096",
        header,
        "second" + std::string(34, ' ') + " OK" + std::string(28, ' ') +
            " 01/02/03   04:05:06   4096"};
    EXPECT_EQ(lines(), appended);
    run(false, "second");
    EXPECT_EQ(lines(), std::vector<std::string>(appended.begin() + 2, appended.end()));
    std::error_code ignored;
    fs::remove(path, ignored);
}

} // namespace
} // namespace tollan
