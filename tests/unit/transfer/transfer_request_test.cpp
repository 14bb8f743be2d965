// The checks made before a run, as one table of settings and file lists.
#include <gtest/gtest.h>

#include <string>

#include "transfer/result_code.h"
#include "transfer/transfer_request.h"

namespace tollan {
namespace {

constexpr Protocol X = Protocol::kXModem;
constexpr Protocol Z = Protocol::kZModem;
constexpr Protocol A = Protocol::kAckNak;
constexpr Direction Send = Direction::kTransmit;
constexpr Direction Receive = Direction::kReceive;
constexpr FlowControl None = FlowControl::kNone;
constexpr FlowControl XonXoff = FlowControl::kXonXoff;
constexpr PathSwitch Strip = PathSwitch::kStripPath;
constexpr PathSwitch Pairs = PathSwitch::kReceiverNames;

struct Row {
    const char* what;
    TransferRequest request;
    const char16_t* list; // null: the list is not counted (refused before)
    std::int32_t code;
    std::uint16_t attempted;
};

// The order of the checks: combination, empty list, count.
std::int32_t Check(const TransferRequest& request, const char16_t* list, std::uint16_t& attempted) {
    attempted = 0;
    if (std::int32_t code = CheckCombination(request); code != 0) {
        return code;
    }
    std::u16string names = list != nullptr ? list : u"";
    if (names.empty()) {
        return RunsWithoutNames(request) ? 0 : kResultNoFileName;
    }
    return CountAttempted(request, CountNames(names), attempted);
}

TEST(TransferRequest, ChecksAndCountsInOrder) {
    constexpr std::int32_t kXonXoff = kResultXonXoffNeedsZModem, kHost = kResultHostNeedsZModem,
                           kNoName = kResultNoFileName, kNoPair = kResultNoReceiverName;
    const Row rows[] = {
        {"X XON/XOFF host", {X, Receive, true, XonXoff, Strip}, u"a", kXonXoff, 0},
        {"A XON/XOFF", {A, Send, false, XonXoff, Strip}, u"a", kXonXoff, 0},
        {"X host", {X, Receive, true, None, Strip}, u"a", kHost, 0},
        {"Z takes both", {Z, Receive, true, XonXoff, Strip}, u"", 0, 0},
        {"Z receive, no names", {Z, Receive, false, None, Strip}, u"", 0, 0},
        {"Z send, no names", {Z, Send, false, None, Strip}, u"", kNoName, 0},
        {"X receive, no names", {X, Receive, false, None, Strip}, nullptr, kNoName, 0},
        {"Z a;b;", {Z, Send, false, None, Strip}, u"a;b;", 0, 3},
        {"X a;b;", {X, Send, false, None, Strip}, u"a;b;", 0, 1},
        {"Z ;", {Z, Send, false, None, Strip}, u";", 0, 2},
        {"Z pairs, three", {Z, Send, false, None, Pairs}, u"a;b;c", kNoPair, 0},
        {"Z pairs, four", {Z, Send, false, None, Pairs}, u"a;A;b;B", 0, 2},
        {"X ignores pairs", {X, Send, false, None, Pairs}, u"a;b;c", 0, 1},
    };
    for (const Row& row : rows) {
        std::uint16_t attempted = 0;
        EXPECT_EQ(Check(row.request, row.list, attempted), row.code) << row.what;
        EXPECT_EQ(attempted, row.attempted) << row.what;
    }
}

} // namespace
} // namespace tollan
