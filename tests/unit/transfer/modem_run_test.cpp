// Runs through modems: the driver's modem steps and the connect step's waits, against simulated
// Hayes modems. Two modems on one line carry whole transfers, dialled, answered and hung up; a
// modem on its own plays the failures a user meets (NO CARRIER, BUSY, silence, Cancel while
// dialling). The clock runs fast: every time below is in clock milliseconds or seconds (ten of
// which pass in a real one).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/tick_count.h"
#include "recording_view.h"
#include "support/modem_fixture.h"
#include "support/scratch_folder.h"
#include "support/simulated_modem.h"
#include "support/test_files.h"
#include "transfer/result_code.h"
#include "transfer/transfer_driver.h"

namespace tollan {
namespace {

using test::RunSide;

// What the standard installed modem is sent: its reset and init list, then its default
// configuration.
const std::string kInitBytes = "ATZ\rAT\rAT&FE0V1\r";
const std::string kSettingsBytes = "ATS7=60S30=10L2M1%C1\\N3&K3B1N0X4\r";

// One side of a run through a modem. A run that is over and waits for its view to be closed is
// closed at once, as the command does.
struct ModemSide : RunSide {
    ModemSide(SimulatedModem& modem, Protocol protocol, bool transmit, const std::string& files)
        : RunSide(protocol, transmit, files), modem(modem) {
        settings.useModem = true;
        settings.modemName = "Standard Modem";
        settings.modemKey = kStandardModemKey;
        settings.telephone = "5551234";
        settings.sendTimeout = 60;
        settings.recvTimeout = 60;
        view.onEnded = [this] {
            endedItself = driver->StopSignal().IsSignalled();
            driver->Stop();
        };
    }

    void Start() {
        RunSide::Start(
            [this](std::uint32_t rx, std::uint32_t tx) { return modem.OpenPort(rx, tx); }, source);
    }

    SimulatedModem& modem;
    std::shared_ptr<MemoryModemSource> source =
        std::make_shared<MemoryModemSource>(StandardModem());
    bool endedItself = false; // the run was over before its view was closed
};

class ModemRunTest : public ::testing::Test {
protected:
    test::ScratchFolder folder_{test::ScratchFolder::kEnter};
};

// Waits until `ms` clock milliseconds have passed since the run recorded `since`.
void WaitPast(const std::atomic<std::uint32_t>& since, std::uint32_t ms) {
    while (since == 0 || TickCount() - since <= ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// A call is dialled, answered by a host run, carried through with ZModem (whose runs set their
// own transmit queue; the driver's modem steps are the same for every protocol, and the engines
// have their own tests) and hung up; the host then waits for the next call until the user cancels.
// The caller, with no time limit, waits for the host to come up long after it dialled; the host's
// wait outlasts its limit, which starts again each time it runs out, and its modem's ring does not
// end it. The sender names its file by its full path.
TEST_F(ModemRunTest, AHostRunAnswersCallAfterCall) {
    std::filesystem::create_directory("in");
    const std::string source = (std::filesystem::current_path() / "out.bin").string();
    test::WriteFile(source, test::Pattern(20480, 9));

    SimulatedLine line;
    ModemSide caller(line.A(), Protocol::kZModem, true, source);
    caller.settings.sendTimeout = 0;
    std::atomic<std::uint32_t> dialled = 0;
    std::atomic<std::uint32_t> waitingAgain = 0;
    caller.view.onStatus = [&](const std::string& text) {
        if (text == "Waiting for answer...") {
            dialled = TickCount();
        }
    };
    ModemSide host(line.B(), Protocol::kZModem, false, "");
    host.settings.hostMode = true;
    host.settings.recvTimeout = 5;
    host.settings.defaultDir = (std::filesystem::current_path() / "in").string();
    int waits = 0;
    host.view.onStatus = [&](const std::string& text) {
        if (text == "Waiting to answer modem..." && ++waits == 2) {
            waitingAgain = TickCount();
        }
    };
    caller.Start();
    WaitPast(dialled, 20000);
    host.Start();
    EXPECT_EQ(caller.Finish(), 0);
    WaitPast(waitingAgain, 20000);
    host.driver->Stop();
    EXPECT_EQ(host.Finish(), kResultUserCancelled);
    EXPECT_EQ(test::ReadFile("in/out.bin"), test::ReadFile(source));
    EXPECT_TRUE(
        caller.view.Showed({"Waiting for answer...", "Modem Connected.", "Waiting for receiver...",
                            "Disconnecting..."})); // the steps before: the failed dials' test
    EXPECT_TRUE(
        host.view.Showed({"Waiting to answer modem...", "Modem Connected.", "Waiting for sender...",
                          "Disconnecting...", "1 / 1 File(s) received.", "Resetting modem...",
                          "Waiting to answer modem..."}));
    // No extra AT command is set: none is sent between the settings and the dial.
    const std::string dial = kInitBytes + kSettingsBytes + "ATDT5551234\r";
    const std::string answered = kInitBytes + kSettingsBytes + "ATS0=1\r";
    EXPECT_EQ(line.A().Received().substr(0, dial.size()), dial);
    EXPECT_EQ(line.B().Received().substr(0, answered.size()), answered);
    EXPECT_TRUE(line.A().HungUpAndClosed());
    EXPECT_TRUE(line.B().HungUpAndClosed());
}

// What a modem on its own does with the dial, and what the run makes of it: each failure ends
// with its code and "Failed to connect.", the modem is initialised again (which also ends a dial
// still under way), and the run leaves the port closed and the modem on-hook. Both refusals end the
// wait when they come; an ERROR for the dial leaves the wait to run out like silence. A CONNECT
// without carrier detect is the interoperability test's; a modem whose settings lack a part (result
// 21) is the component's modem test under Wine (modem_dial_and_missing_hangup).
TEST_F(ModemRunTest, EveryFailedDialEndsWithItsCodeAndTheModemHungUp) {
    struct Case {
        const char* name;
        SimulatedModemOptions options;
        std::int32_t sendTimeout;
        std::string cancelAt; // the user's Cancel once this shows
        std::int32_t result;
        bool showErrors = false; // the view stays open for the user to read why
    };
    using Options = SimulatedModemOptions;
    const Options noCarrier{.dialOutcome = DialOutcome::kNoCarrier, .dialDelayMs = 5000};
    const Options busy{.dialOutcome = DialOutcome::kBusy, .dialDelayMs = 10000};
    const Options silent{.dialOutcome = DialOutcome::kSilent, .dialDelayMs = 0};
    const Case cases[] = {
        {"NO CARRIER", noCarrier, 30, "", kResultConnectFailed},
        {"no result within the time", silent, 8, "", kResultConnectFailed},
        {"Cancel while dialling", silent, 60, "Waiting for answer...", kResultUserCancelled},
        // No time limit: the refusal alone ends the wait.
        {"BUSY, errors shown", busy, 0, "", kResultConnectFailed, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedModem modem(c.options);
        ModemSide side(modem, Protocol::kZModem, true, "none.bin");
        side.settings.sendTimeout = c.sendTimeout;
        side.settings.modemCmd = "M0";
        side.result.showErrors = c.showErrors;
        side.view.onStatus = [&](const std::string& text) {
            if (text == c.cancelAt) {
                side.driver->Stop();
            }
        };
        side.Start();
        EXPECT_EQ(side.Finish(), c.result);
        EXPECT_EQ(side.driver->HelpTopic(), c.result + 12);
        EXPECT_TRUE(
            side.view.Showed({"Initializing modem...", "Modem Initialized...", "Resetting modem...",
                              "Sending AT command...", "Dialing modem...", "Waiting for answer...",
                              "Failed to connect."}));
        EXPECT_EQ(side.view.statuses.back(), "Failed to connect.");
        // The engine never ran; the run ended itself unless the user was to read why (or
        // cancelled).
        EXPECT_TRUE(side.view.lines.empty());
        EXPECT_TRUE(side.view.endOfRuns.empty());
        EXPECT_EQ(side.endedItself, !c.showErrors);
        // The commands, then the modem initialised once more.
        const std::string dialled = kInitBytes + kSettingsBytes + "ATM0\rATDT5551234\r";
        const std::string received = modem.Received();
        EXPECT_EQ(received.substr(0, dialled.size()), dialled);
        EXPECT_NE(received.find("AT\r", dialled.size()), std::string::npos);
        EXPECT_TRUE(modem.HungUpAndClosed());
    }
}

} // namespace
} // namespace tollan
