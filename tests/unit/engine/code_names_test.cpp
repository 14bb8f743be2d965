#include "engine/code_names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <tuple>

namespace tollan {
namespace {

// Every code has one name and every name one code, and each name's prefix fits the range its
// layer owns: a code added in the wrong range, or given twice, shows here.
TEST(CodeNames, EachCodeAndNameOnceInTheRangeOfItsLayer) {
    // Each prefix with the lowest and the highest code of its range.
    const std::tuple<std::string_view, int, int> ranges[] = {
        {"TE_", -949, 0},      {"FILE_", -955, -950},  {"OUT_OF_MEMORY", -956, -956},
        {"LINK_", -842, -801}, {"MODEM_", -899, -843},
    };
    std::set<int> codes;
    std::set<std::string> names;
    for (const CodeName& entry : AllCodeNames()) {
        EXPECT_TRUE(codes.insert(entry.code).second) << entry.name << " repeats " << entry.code;
        EXPECT_TRUE(names.insert(entry.name).second) << entry.name << " appears twice";
        const std::string_view name = entry.name;
        bool placed = false;
        for (const auto& [prefix, low, high] : ranges) {
            if (name.starts_with(prefix)) {
                placed = entry.code >= low && entry.code <= high;
                break;
            }
        }
        EXPECT_TRUE(placed) << entry.name << " = " << entry.code;
    }
    EXPECT_EQ(NameOfCode(-909), "TE_TIMEOUT");
    EXPECT_EQ(NameOfCode(-1234), "-1234");
}

} // namespace
} // namespace tollan
