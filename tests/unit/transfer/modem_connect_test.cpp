// The connect step on its own, against a simulated modem, on the fast clock: what ends the wait
// for the modem's result and what does not.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "link/comm_link.h"
#include "link/line_control.h"
#include "link/memory_modem_source.h"
#include "link/modem_profile.h"
#include "link/tick_count.h"
#include "support/simulated_modem.h"
#include "transfer/modem_connect.h"
#include "transfer/result_code.h"

namespace tollan {
namespace {

constexpr const char* kKey = "Modem";

std::shared_ptr<MemoryModemSource> PlainModem() {
    auto source = std::make_shared<MemoryModemSource>();
    source->SetValue(kKey, "Reset", "ATZ<cr>");
    source->SetValue(std::string(kKey) + "\\Init", "1", "AT&F<cr>");
    source->SetValue(std::string(kKey) + "\\Hangup", "1", "ATH<cr>");
    source->AddKey(std::string(kKey) + "\\Settings");
    return source;
}

// A profile whose every poll may act: call the modem, or cancel.
class WatchedProfile : public ModemProfile {
public:
    int Poll() override { return onPoll ? onPoll() : 0; }
    std::function<int()> onPoll;
};

// The modem, its port and link, an initialised profile, and what the step showed.
struct Bench {
    explicit Bench(const SimulatedModemOptions& options = {}) : modem(options) {
        port = modem.OpenPort(4096, 2048);
        link = std::make_unique<CommLink>(*port);
        line = std::make_unique<LineControl>(*link);
        profile.SetResponseTimeout(2000);
        EXPECT_EQ(profile.Initialize(link.get(), *PlainModem(), "Modem", kKey), 0);
    }
    std::int32_t Connect() {
        since = TickCount();
        std::int32_t result = ConnectModem(
            profile, *line, settings, [this](const char* text) { statuses.emplace_back(text); });
        took = TickCount() - since;
        return result;
    }

    SimulatedModem modem;
    std::shared_ptr<CommPort> port;
    std::unique_ptr<CommLink> link;
    std::unique_ptr<LineControl> line;
    WatchedProfile profile;
    ConnectSettings settings;
    std::vector<std::string> statuses;
    std::uint32_t since = 0;
    std::uint32_t took = 0;
};

TEST(ModemConnectTest, ARefusalEndsTheWaitWhenItComes) {
    Bench bench({.dialOutcome = DialOutcome::kBusy, .dialDelayMs = 10000});
    bench.settings.telephone = "5551234";
    bench.settings.timeLimit = 30;
    EXPECT_EQ(bench.Connect(), kResultConnectFailed);
    EXPECT_GE(bench.took, 10000u);
    EXPECT_LT(bench.took, 30000u);
    EXPECT_EQ(bench.statuses, (std::vector<std::string>{"Resetting modem...", "Dialing modem...",
                                                        "Waiting for answer..."}));
    EXPECT_EQ(bench.modem.Commands().back(), "ATD5551234");
}

TEST(ModemConnectTest, ConnectCountsWhenCarrierDetectAgreesOrTheLineHasNoSuchWire) {
    for (bool carrierDetect : {true, false}) {
        for (bool carrierWire : {true, false}) {
            SCOPED_TRACE(std::to_string(carrierDetect) + std::to_string(carrierWire));
            Bench bench({.dialDelayMs = 5000, .carrierDetectOnConnect = carrierDetect});
            bench.settings.carrierWire = carrierWire;
            const bool connects = carrierDetect || !carrierWire;
            EXPECT_EQ(bench.Connect(), connects ? kResultOk : kResultConnectFailed);
            EXPECT_EQ(bench.statuses.back(),
                      connects ? "Modem Connected." : "Waiting for answer...");
        }
    }
}

TEST(ModemConnectTest, AnsweringWithoutLimitWaitsForACallOrCancel) {
    // Rings before the answer do not end the wait; nor does the time, with no limit, however
    // long the call takes to come.
    {
        Bench bench;
        bench.settings.transmitting = false;
        bench.settings.timeLimit = 0;
        bool called = false;
        bench.profile.onPoll = [&] {
            if (!called && TickCount() - bench.since > 20000) {
                called = true;
                bench.modem.CallFromFarEnd();
            }
            return 0;
        };
        EXPECT_EQ(bench.Connect(), kResultOk);
        EXPECT_GT(bench.took, 20000u);
    }
    // A host run waits the same way with a limit, starting it again each time it runs out.
    for (std::int32_t limit : {0, 5}) {
        Bench bench;
        bench.settings.transmitting = false;
        bench.settings.timeLimit = limit;
        bench.settings.waitForever = limit != 0;
        bench.profile.onPoll = [&] { return TickCount() - bench.since > 20000 ? -901 : 0; };
        EXPECT_EQ(bench.Connect(), kResultUserCancelled);
        EXPECT_GT(bench.took, 20000u);
    }
    // Outside a host run the limit ends it.
    Bench bench;
    bench.settings.transmitting = false;
    bench.settings.timeLimit = 5;
    EXPECT_EQ(bench.Connect(), kResultConnectFailed);
    EXPECT_GE(bench.took, 5000u);
}

} // namespace
} // namespace tollan
