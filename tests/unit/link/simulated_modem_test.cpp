// The simulated modem where the modem tests lean on it: its answers byte by byte, the scripted
// dial outcomes, hanging up, and two modems on a line carrying data, holding a sender back while
// the other side is full, and escaping only with both guard times. The clock runs fast; every
// duration here is in clock milliseconds.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "link/comm_link.h"
#include "link/tick_count.h"
#include "support/simulated_modem.h"
#include "support/test_files.h"

namespace tollan {
namespace {

constexpr int kWait = 60000; // for what must come
constexpr int kGuard = 1100; // a little over the guard time
const std::string kOk = "\r\nOK\r\n";
const std::string kConnect = "\r\nCONNECT 33600\r\n";
const std::string kNoCarrier = "\r\nNO CARRIER\r\n";

// A program's end of the cable: the port from the modem and a link over it.
class Terminal {
public:
    explicit Terminal(SimulatedModem& modem, std::uint32_t receiveSize = 4096,
                      std::uint32_t transmitSize = 2048)
        : port_(modem.OpenPort(receiveSize, transmitSize)), link_(*port_) {}

    CommPort& Port() { return *port_; }
    void Type(const std::string& text) {
        EXPECT_EQ(port_->Write(text.data(), static_cast<int>(text.size())), std::ssize(text));
    }
    // What arrives until the text read ends with `ending`, or within `ms` when that is empty.
    std::string ReadUntil(const std::string& ending, int ms = kWait) {
        std::string text;
        const std::uint32_t end = TickCount() + static_cast<std::uint32_t>(ms);
        while ((ending.empty() || !text.ends_with(ending)) && !TickReached(TickCount(), end)) {
            const int c = link_.ReadByte(static_cast<int>(end - TickCount()));
            text += c >= 0 ? std::string(1, static_cast<char>(c)) : "";
        }
        return text;
    }
    std::string Command(const std::string& line, const std::string& result = kOk) {
        Type(line);
        return ReadUntil(result);
    }
    int Carrier() { return port_->Signal(kSignalCarrier, -1); }
    // The escape with its guard times; true when the modem answered OK.
    bool Escape() {
        EXPECT_EQ(ReadUntil("", kGuard), "");
        return Command("+++") == kOk;
    }

private:
    std::shared_ptr<CommPort> port_;
    CommLink link_;
};

TEST(SimulatedModemTest, CommandDialogue) {
    const std::string error = "\r\nERROR\r\n";
    SimulatedModem modem;
    Terminal terminal(modem);
    // Any case, noise before "AT" and line feeds; no answer without "AT"; a line of settings; an
    // unknown letter, "O" without a call and a register beyond 255 fail.
    const std::pair<std::string, std::string> steps[] = {
        {"AT\r", kOk},        {"xyaT\n\r", kOk},
        {"+\r", ""},          {"AT&F&C1&D2 S7=60&K0M0L1\r", kOk},
        {"ATJ\r", error},     {"ATO\r", error},
        {"ATS300=1\r", error}};
    std::string typed;
    for (const auto& [line, result] : steps) {
        terminal.Type(line);
        typed += line;
        EXPECT_EQ(terminal.ReadUntil(line + result, 300), line + result);
    }
    EXPECT_EQ(terminal.ReadUntil("", 300), ""); // nothing more
    EXPECT_EQ(modem.Received(), typed);
    EXPECT_FALSE(modem.OffHook());
    EXPECT_EQ(modem.OpenPort(4096, 2048)->Status(), LINK_PORT_IN_USE); // one port at a time
}

TEST(SimulatedModemTest, DialAnswersTheScriptedOutcomeAfterItsDelay) {
    const std::tuple<DialOutcome, bool, std::string> cases[] = {
        // carrier detect on connect
        {DialOutcome::kConnect, true, kConnect},    {DialOutcome::kConnect, false, kConnect},
        {DialOutcome::kBusy, true, "\r\nBUSY\r\n"}, {DialOutcome::kNoCarrier, true, kNoCarrier},
        {DialOutcome::kSilent, true, ""},
    };
    for (const auto& [outcome, carrierDetect, result] : cases) {
        SCOPED_TRACE(result);
        SimulatedModemOptions options;
        options.dialOutcome = outcome;
        options.carrierDetectOnConnect = carrierDetect;
        options.dialDelayMs = 6000;
        SimulatedModem modem(options);
        Terminal terminal(modem);
        terminal.Type("ATE0DT555,1234\r");
        EXPECT_EQ(terminal.ReadUntil("", 5000), "ATE0DT555,1234\r"); // not before the delay
        EXPECT_TRUE(modem.OffHook());
        EXPECT_EQ(terminal.ReadUntil(result, 3000), result);
        const bool connected = outcome == DialOutcome::kConnect;
        EXPECT_EQ(modem.OffHook(), connected || result.empty());
        EXPECT_EQ(terminal.Carrier(), connected && carrierDetect ? 1 : 0);
        if (result.empty()) { // a key ends the dial and is dropped
            EXPECT_EQ(terminal.Command("xAT\r"), kNoCarrier + kOk);
        }
        terminal.Port().Signal(kSignalDtr, 0); // dropping DTR hangs up
        EXPECT_FALSE(modem.OffHook());
        EXPECT_EQ(terminal.Carrier(), 0);
    }
}

// Sends `data` from its byte `sent` on, reading at the other side as it goes; what arrived.
std::string Send(Terminal& from, Terminal& to, const std::string& data, std::size_t sent = 0) {
    std::string got;
    for (const std::uint32_t end = TickCount() + kWait;
         got.size() < data.size() && !TickReached(TickCount(), end); from.Port().TakeStatus()) {
        sent += static_cast<std::size_t>(
            from.Port().Write(data.data() + sent, static_cast<int>(data.size() - sent)));
        char buffer[300];
        got.append(buffer, static_cast<std::size_t>(to.Port().Read(buffer, sizeof buffer)));
    }
    return got;
}

TEST(SimulatedLineTest, CallDataEscapeAndHangUp) {
    SimulatedLine line;
    Terminal a(line.A(), 4096, 256);
    Terminal b(line.B(), 512, 2048);
    EXPECT_EQ(b.Command("ATE0S0=1\r"), "ATE0S0=1\r" + kOk);
    EXPECT_EQ(a.Command("ATE0D1\r", kConnect), "ATE0D1\r" + kConnect);
    EXPECT_EQ(b.ReadUntil(kConnect), "\r\nRING\r\n" + kConnect);
    EXPECT_EQ(a.Carrier() + b.Carrier(), 2);
    const test::Bytes pattern = test::Pattern(5000);
    const std::string there = "+++ATH\r" + std::string(pattern.begin(), pattern.end()) + "+++";

    // A is held once B's receive queue and its own transmit queue are full, and loses nothing.
    std::size_t sent = 0;
    for (int n; (n = a.Port().Write(there.data() + sent, 1000)) > 0;) {
        sent += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(sent, 512u + 256u);
    EXPECT_TRUE(Send(a, b, there, sent) == there);
    EXPECT_TRUE(Send(b, a, there.substr(7)) == there.substr(7));

    // No escape without silence before and after, or with pluses spread wider than the guard.
    std::string pluses;
    for (const char* text : {"x+++", "+++x", "++++", "+", "+", "+"}) {
        EXPECT_EQ(a.ReadUntil("", kGuard), "") << pluses;
        a.Type(text);
        pluses += text;
    }
    // The escape keeps the call; back online, the escape again and a hang-up.
    ASSERT_TRUE(a.Escape());
    EXPECT_EQ(a.Command("ATO\r", kConnect), kConnect);
    ASSERT_TRUE(a.Escape());
    EXPECT_EQ(a.Command("ATH\r"), kOk);
    pluses += "++++++"; // the escapes' too
    EXPECT_EQ(b.ReadUntil(kNoCarrier), pluses + kNoCarrier);
    EXPECT_FALSE(b.Carrier() != 0 || line.B().OffHook());
    EXPECT_EQ(line.A().Received(), "ATE0D1\rATO\rATH\r");
    EXPECT_TRUE(line.B().PortOpen());
    b.Port().Close();
    EXPECT_FALSE(line.B().PortOpen());
}

} // namespace
} // namespace tollan
