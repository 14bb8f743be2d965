// The simulated modem as a program sees it through its port: the command dialogue byte by byte,
// the scripted dial outcomes, and two modems on a line calling each other, carrying data,
// escaping to command mode and hanging up. The program runs on the fast clock; every duration here
// is in clock milliseconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/comm_link.h"
#include "link/line_control.h"
#include "link/memory_modem_source.h"
#include "link/modem_profile.h"
#include "link/tick_count.h"
#include "support/simulated_modem.h"

namespace tollan {
namespace {

constexpr int kWait = 60000; // for what must come
constexpr int kGuard = 1100; // a little over the default guard time

// A program's end of the cable: the port from the modem and a link over it.
class Terminal {
public:
    explicit Terminal(SimulatedModem& modem, std::uint32_t receiveSize = 4096,
                      std::uint32_t transmitSize = 2048)
        : port_(modem.OpenPort(receiveSize, transmitSize)), link_(*port_) {}

    CommPort& Port() { return *port_; }
    CommLink& Link() { return link_; }

    // Writes all of `text`, waiting while the transmit queue is full.
    void Type(const std::string& text) {
        std::size_t done = 0;
        const std::uint32_t deadline = TickCount() + kWait;
        while (done < text.size() && !TickReached(TickCount(), deadline)) {
            done += static_cast<std::size_t>(
                port_->Write(text.data() + done, static_cast<int>(text.size() - done)));
            if (done < text.size()) {
                port_->TakeStatus();
                port_->Idle();
            }
        }
        EXPECT_EQ(done, text.size());
    }
    // The next `count` bytes (fewer when the wait runs out).
    std::string ReadCount(std::size_t count) {
        std::string text;
        while (text.size() < count) {
            const int c = link_.ReadByte(kWait);
            if (c < 0) {
                break;
            }
            text += static_cast<char>(c);
        }
        return text;
    }
    // What arrives until the text read ends with `ending` (or the wait runs out).
    std::string ReadUntil(const std::string& ending, int timeoutMs = kWait) {
        std::string text;
        const std::uint32_t deadline = TickCount() + static_cast<std::uint32_t>(timeoutMs);
        while (text.size() < ending.size() ||
               text.compare(text.size() - ending.size(), ending.size(), ending) != 0) {
            const int c = link_.ReadByte(static_cast<int>(deadline - TickCount()));
            if (c < 0) {
                break;
            }
            text += static_cast<char>(c);
        }
        return text;
    }
    // Everything that arrives within `ms`.
    std::string ReadFor(int ms) {
        std::string text;
        const std::uint32_t deadline = TickCount() + static_cast<std::uint32_t>(ms);
        while (!TickReached(TickCount(), deadline)) {
            const int c = link_.ReadByte(static_cast<int>(deadline - TickCount()));
            if (c >= 0) {
                text += static_cast<char>(c);
            }
        }
        return text;
    }
    // Types a command line and reads through its result.
    std::string Command(const std::string& line, const std::string& result = "\r\nOK\r\n") {
        Type(line);
        return ReadUntil(result);
    }
    void Pause(int ms) { link_.Delay(ms); }
    int Carrier() { return port_->Signal(kSignalCarrier, -1); }
    // The escape with its guard times; true when the modem answered OK.
    bool Escape() {
        Pause(kGuard);
        Type("+++");
        return ReadUntil("\r\nOK\r\n") == "\r\nOK\r\n";
    }

private:
    std::shared_ptr<CommPort> port_;
    CommLink link_;
};

// Polls `condition` while keeping the modem busy; false when it did not hold within the wait.
bool WaitFor(Terminal& terminal, const std::function<bool()>& condition, int timeoutMs = kWait) {
    const std::uint32_t deadline = TickCount() + static_cast<std::uint32_t>(timeoutMs);
    while (!condition()) {
        if (TickReached(TickCount(), deadline)) {
            return false;
        }
        terminal.Port().Idle();
    }
    return true;
}

std::string Pattern(std::size_t size, int seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + static_cast<std::size_t>(seed)) & 0xFF);
    }
    return bytes;
}

// --- command mode ---

struct Exchange {
    std::string typed;
    std::string answer; // everything the terminal gets back: echo and result
};

struct DialogueCase {
    const char* name;
    std::vector<Exchange> steps;
};

TEST(SimulatedModemTest, CommandDialogues) {
    const DialogueCase cases[] = {
        {"plain", {{"AT\r", "AT\r\r\nOK\r\n"}, {"at\r", "at\r\r\nOK\r\n"}}},
        {"line feed ignored, garbage before AT", {{"xyAT\n\r", "xyAT\n\r\r\nOK\r\n"}}},
        {"several commands", {{"ATE1V1&C1&D2S0=0\r", "ATE1V1&C1&D2S0=0\r\r\nOK\r\n"}}},
        {"the rest of an init",
         {{"ATQ0X4M1L2&K3\\N3%C1B0N1&S0\r", "ATQ0X4M1L2&K3\\N3%C1B0N1&S0\r\r\nOK\r\n"},
          {"AT Z\r", "AT Z\r\r\nOK\r\n"},
          {"AT&F&W\r", "AT&F&W\r\r\nOK\r\n"},
          {"ATH0\r", "ATH0\r\r\nOK\r\n"}}},
        {"echo off", {{"ATE0\r", "ATE0\r\r\nOK\r\n"}, {"AT\r", "\r\nOK\r\n"}}},
        {"unknown letter and bad value",
         {{"ATJ\r", "ATJ\r\r\nERROR\r\n"}, {"ATE2\r", "ATE2\r\r\nERROR\r\n"}}},
        {"register set and query",
         {{"ATS7=60S7?\r", "ATS7=60S7?\r\r\n060\r\n\r\nOK\r\n"},
          {"ATS256=1\r", "ATS256=1\r\r\nERROR\r\n"},
          {"ATS12=300\r", "ATS12=300\r\r\nERROR\r\n"}}},
        {"digit results and quiet",
         {{"ATV0\r", "ATV0\r0\r"}, {"ATJ\r", "ATJ\r4\r"}, {"ATV1Q1\r", "ATV1Q1\r"}}},
        {"empty line and +++ give only their echo", {{"\r", "\r"}, {"+++", "+++"}}},
        {"back space", {{"ATJ\bE1\r", "ATJ\bE1\r\r\nOK\r\n"}}},
        {"online without a call", {{"ATO\r", "ATO\r\r\nERROR\r\n"}}},
    };
    for (const DialogueCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedModem modem;
        Terminal terminal(modem);
        std::string typed;
        for (const Exchange& step : c.steps) {
            terminal.Type(step.typed);
            typed += step.typed;
            EXPECT_EQ(terminal.ReadUntil(step.answer), step.answer);
        }
        EXPECT_EQ(terminal.ReadFor(300), ""); // nothing more
        EXPECT_EQ(modem.Received(), typed);
    }
}

TEST(SimulatedModemTest, RecordsLinesRefusesConfiguredCommandsAndCanBeMute) {
    SimulatedModemOptions options;
    options.errorCommands = {"&k3", "X4"};
    SimulatedModem modem(options);
    Terminal terminal(modem);
    EXPECT_EQ(terminal.Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(terminal.Command("AT&K3\r", "\r\nERROR\r\n"), "\r\nERROR\r\n");
    EXPECT_EQ(terminal.Command("ATM1X4L2\r", "\r\nERROR\r\n"), "\r\nERROR\r\n");
    EXPECT_EQ(terminal.Command("ATX3&K0\r"), "\r\nOK\r\n");
    EXPECT_EQ(modem.Commands(), (std::vector<std::string>{"ATE0", "AT&K3", "ATM1X4L2", "ATX3&K0"}));

    options.mute = true;
    modem.SetOptions(options);
    terminal.Type("AT\rATDT123\r");
    EXPECT_EQ(terminal.ReadFor(3000), "");
    EXPECT_FALSE(modem.OffHook());
    EXPECT_EQ(modem.Commands().back(), "ATDT123");
}

// --- one modem: the scripted dial outcomes ---

TEST(SimulatedModemTest, DialAnswersTheScriptedOutcomeAfterItsDelay) {
    struct Case {
        DialOutcome outcome;
        bool carrierDetect;
        const char* result;
        bool connected;
    };
    const Case cases[] = {
        {DialOutcome::kConnect, true, "\r\nCONNECT 33600\r\n", true},
        {DialOutcome::kConnect, false, "\r\nCONNECT 33600\r\n", true},
        {DialOutcome::kBusy, true, "\r\nBUSY\r\n", false},
        {DialOutcome::kNoCarrier, true, "\r\nNO CARRIER\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        SimulatedModemOptions options;
        options.dialOutcome = c.outcome;
        options.carrierDetectOnConnect = c.carrierDetect;
        options.dialDelayMs = 6000;
        SimulatedModem modem(options);
        Terminal terminal(modem);
        EXPECT_EQ(terminal.Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
        terminal.Type("ATDT555,1234\r");
        EXPECT_EQ(terminal.ReadFor(1000), ""); // not before the delay
        EXPECT_TRUE(modem.OffHook());
        EXPECT_EQ(terminal.ReadUntil(c.result), c.result);
        EXPECT_EQ(modem.Carrier(), c.connected);
        EXPECT_EQ(modem.Online(), c.connected);
        EXPECT_EQ(modem.OffHook(), c.connected);
        EXPECT_EQ(terminal.Carrier(), c.connected && c.carrierDetect ? 1 : 0);
        EXPECT_EQ(modem.HangUps(), c.connected ? 0 : 1);
    }
}

TEST(SimulatedModemTest, SilentDialWaitsUntilAKeyAborts) {
    SimulatedModemOptions options;
    options.dialOutcome = DialOutcome::kSilent;
    SimulatedModem modem(options);
    Terminal terminal(modem);
    EXPECT_EQ(terminal.Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
    terminal.Type("ATD1\r");
    EXPECT_EQ(terminal.ReadFor(5000), "");
    terminal.Type("x");
    EXPECT_EQ(terminal.ReadUntil("\r\nNO CARRIER\r\n"), "\r\nNO CARRIER\r\n");
    EXPECT_FALSE(modem.OffHook());
    EXPECT_EQ(terminal.Command("AT\r"), "\r\nOK\r\n"); // the key was dropped, not typed
    EXPECT_EQ(modem.Received(), "ATE0\rATD1\rxAT\r");
}

TEST(SimulatedModemTest, FarEndOfALoneModemCallsSendsAndHangsUp) {
    SimulatedModem modem;
    Terminal terminal(modem);
    EXPECT_EQ(terminal.Command("ATE0S0=2\r"), "ATE0S0=2\r\r\nOK\r\n");
    modem.CallFromFarEnd();
    EXPECT_EQ(terminal.ReadUntil("\r\nCONNECT 33600\r\n"),
              "\r\nRING\r\n\r\nRING\r\n\r\nCONNECT 33600\r\n");
    modem.SendFromFarEnd("hello");
    EXPECT_EQ(terminal.ReadUntil("hello"), "hello");
    terminal.Type("world");
    EXPECT_TRUE(WaitFor(terminal, [&] { return modem.FarEndReceived() == "world"; }));
    modem.HangUpFarEnd();
    EXPECT_EQ(terminal.ReadUntil("\r\nNO CARRIER\r\n"), "\r\nNO CARRIER\r\n");
    EXPECT_FALSE(modem.Carrier());
    EXPECT_EQ(terminal.Carrier(), 0);
    EXPECT_EQ(modem.Received(), "ATE0S0=2\r"); // data is not command input
}

// --- the port: DTR, dropping it, a second port ---

TEST(SimulatedModemTest, DtrDropOrDroppedPortHangsUpAndTheModemKeepsItsSettings) {
    SimulatedModem modem;
    {
        Terminal terminal(modem);
        EXPECT_EQ(terminal.Command("ATE0D1\r", "\r\nCONNECT 33600\r\n"),
                  "ATE0D1\r\r\nCONNECT 33600\r\n");
        EXPECT_EQ(terminal.Carrier(), 1);
        EXPECT_EQ(terminal.Port().Signal(kSignalDsr, -1), 1);
        EXPECT_EQ(terminal.Port().Signal(kSignalCts, -1), 1);
        terminal.Port().Signal(kSignalDtr, 0);
        EXPECT_FALSE(modem.Carrier());
        EXPECT_FALSE(modem.OffHook());
        EXPECT_EQ(terminal.Carrier(), 0);
        terminal.Port().Signal(kSignalDtr, 1);
        EXPECT_EQ(terminal.Command("ATD1\r", "\r\nCONNECT 33600\r\n"), "\r\nCONNECT 33600\r\n");

        auto second = modem.OpenPort(4096, 2048);
        EXPECT_EQ(second->Status(), LINK_PORT_IN_USE);
        EXPECT_TRUE(modem.Carrier()); // the refused port changed nothing
    }
    EXPECT_FALSE(modem.PortOpen());
    EXPECT_FALSE(modem.Carrier());
    EXPECT_EQ(modem.HangUps(), 2);
    EXPECT_EQ(modem.DtrDrops(), 2);

    Terminal again(modem);
    EXPECT_EQ(again.Command("AT\r"), "\r\nOK\r\n"); // E0 kept across runs
    EXPECT_EQ(again.Carrier(), 0);
}

TEST(SimulatedModemTest, DtrModes) {
    SimulatedModem modem;
    Terminal terminal(modem);
    EXPECT_EQ(terminal.Command("ATE0&D1D1\r", "\r\nCONNECT 33600\r\n"),
              "ATE0&D1D1\r\r\nCONNECT 33600\r\n");
    terminal.Port().Signal(kSignalDtr, 0);
    EXPECT_EQ(terminal.ReadUntil("\r\nOK\r\n"), "\r\nOK\r\n"); // command mode, call kept
    EXPECT_TRUE(modem.Carrier());
    terminal.Port().Signal(kSignalDtr, 1);
    EXPECT_EQ(terminal.Command("AT&D0\r"), "\r\nOK\r\n");
    terminal.Port().Signal(kSignalDtr, 0);
    EXPECT_TRUE(modem.Carrier());
    terminal.Port().Signal(kSignalDtr, 1);
    EXPECT_EQ(terminal.Command("AT&D3S7=9\r"), "\r\nOK\r\n");
    terminal.Port().Signal(kSignalDtr, 0);
    EXPECT_FALSE(modem.Carrier());
    EXPECT_EQ(modem.Register(7), 50); // &D3 also resets
}

// --- two modems on a line ---

TEST(SimulatedLineTest, CallAutoAnswerDataEscapeAndHangUp) {
    SimulatedLine line;
    Terminal a(line.A());
    Terminal b(line.B());
    EXPECT_EQ(a.Command("ATE0V1&C1&D2S0=0\r"), "ATE0V1&C1&D2S0=0\r\r\nOK\r\n");
    EXPECT_EQ(b.Command("ATE0S0=2\r"), "ATE0S0=2\r\r\nOK\r\n");

    a.Type("ATDT1234\r");
    EXPECT_EQ(b.ReadUntil("\r\nRING\r\n"), "\r\nRING\r\n");
    EXPECT_TRUE(line.B().Ringing());
    EXPECT_EQ(b.ReadUntil("\r\nCONNECT 33600\r\n"), "\r\nRING\r\n\r\nCONNECT 33600\r\n");
    EXPECT_EQ(a.ReadUntil("\r\nCONNECT 33600\r\n"), "\r\nCONNECT 33600\r\n");
    EXPECT_EQ(a.Carrier(), 1);
    EXPECT_EQ(b.Carrier(), 1);
    EXPECT_TRUE(line.A().Online());
    EXPECT_TRUE(line.B().Online());

    // Data both ways, "+++" and "AT" inside it included.
    const std::string there = "+++ATH\r" + Pattern(5000, 1) + "+++";
    const std::string back = Pattern(3000, 2);
    a.Type(there.substr(0, 2000));
    b.Type(back);
    EXPECT_EQ(a.ReadCount(back.size()), back);
    a.Type(there.substr(2000));
    EXPECT_EQ(b.ReadCount(there.size()), there);
    EXPECT_TRUE(line.A().Online());

    // The escape, back online, the escape again and a hang-up.
    ASSERT_TRUE(a.Escape());
    EXPECT_FALSE(line.A().Online());
    EXPECT_TRUE(line.A().Carrier());
    EXPECT_EQ(a.Command("ATO\r", "\r\nCONNECT 33600\r\n"), "\r\nCONNECT 33600\r\n");
    a.Type("again");
    EXPECT_EQ(b.ReadUntil("again"), "+++again"); // the escape's pluses went out as data
    ASSERT_TRUE(a.Escape());
    EXPECT_EQ(a.Command("ATH\r"), "\r\nOK\r\n");
    EXPECT_EQ(b.ReadUntil("\r\nNO CARRIER\r\n"), "+++\r\nNO CARRIER\r\n");
    EXPECT_EQ(a.Carrier(), 0);
    EXPECT_EQ(b.Carrier(), 0);
    EXPECT_FALSE(line.B().OffHook());
    EXPECT_EQ(b.Command("AT\r"), "\r\nOK\r\n"); // B is in command mode
    EXPECT_EQ(line.A().Received(), "ATE0V1&C1&D2S0=0\rATDT1234\rATO\rATH\r");
}

TEST(SimulatedLineTest, EscapeNeedsBothGuardTimes) {
    SimulatedLine line;
    Terminal a(line.A());
    Terminal b(line.B());
    EXPECT_EQ(b.Command("ATE0S0=1\r"), "ATE0S0=1\r\r\nOK\r\n");
    EXPECT_EQ(a.Command("ATE0D1\r", "\r\nCONNECT 33600\r\n"), "ATE0D1\r\r\nCONNECT 33600\r\n");
    EXPECT_EQ(b.ReadUntil("\r\nCONNECT 33600\r\n"), "\r\nRING\r\n\r\nCONNECT 33600\r\n");

    const char* const tries[] = {
        "x+++", // no silence before
        "+++x", // no silence after
        "++++", // a fourth plus
    };
    std::string sent;
    for (const char* text : tries) {
        SCOPED_TRACE(text);
        a.Pause(kGuard);
        a.Type(text);
        a.Pause(kGuard);
        sent += text;
        EXPECT_EQ(a.ReadFor(kGuard), "");
        EXPECT_TRUE(line.A().Online());
    }
    // Pluses spread wider than the guard time.
    a.Pause(kGuard);
    for (int i = 0; i < 3; ++i) {
        a.Type("+");
        a.Pause(kGuard);
        sent += "+";
    }
    EXPECT_TRUE(line.A().Online());
    EXPECT_EQ(b.ReadUntil(sent), sent);
    ASSERT_TRUE(a.Escape()); // and the real one still works
}

TEST(SimulatedLineTest, AnswerByCommandAndFailedCalls) {
    SimulatedModemOptions options;
    options.ringIntervalMs = 1000;
    SimulatedLine line(options, options);
    Terminal a(line.A());
    Terminal b(line.B());
    EXPECT_EQ(a.Command("ATE0S7=4\r"), "ATE0S7=4\r\r\nOK\r\n");
    EXPECT_EQ(b.Command("ATE0\r"), "ATE0\r\r\nOK\r\n");

    // Nobody answers: the caller gives up after S7, the ringing stops.
    a.Type("ATD1\r");
    EXPECT_EQ(a.ReadUntil("\r\nNO CARRIER\r\n"), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(b.ReadUntil("\r\nRING\r\n"), "\r\nRING\r\n");
    EXPECT_TRUE(WaitFor(b, [&] { return !line.B().Ringing(); }));
    EXPECT_FALSE(line.A().OffHook());
    b.ReadFor(500);

    // A key aborts the dial.
    a.Type("ATD1\r");
    EXPECT_TRUE(WaitFor(b, [&] { return line.B().Ringing(); }));
    a.Type(" ");
    EXPECT_EQ(a.ReadUntil("\r\nNO CARRIER\r\n"), "\r\nNO CARRIER\r\n");
    EXPECT_FALSE(line.B().Ringing());
    b.ReadFor(500);

    // Off-hook is busy.
    EXPECT_EQ(b.Command("ATH1\r"), "\r\nOK\r\n");
    EXPECT_EQ(a.Command("ATD1\r", "\r\nBUSY\r\n"), "\r\nBUSY\r\n");
    EXPECT_EQ(b.Command("ATH0\r"), "\r\nOK\r\n");

    // Answered by hand.
    a.Type("ATD1\r");
    EXPECT_EQ(b.ReadUntil("\r\nRING\r\n"), "\r\nRING\r\n");
    b.Command("ATA\r", "\r\nCONNECT 33600\r\n"); // a second RING may come before it
    EXPECT_TRUE(line.B().Carrier());
    EXPECT_EQ(a.ReadUntil("\r\nCONNECT 33600\r\n"), "\r\nCONNECT 33600\r\n");

    // The answering side drops its port: the caller loses the carrier.
    b.Port().Close();
    EXPECT_EQ(a.ReadUntil("\r\nNO CARRIER\r\n"), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(a.Carrier(), 0);
    EXPECT_FALSE(line.B().Carrier());
    EXPECT_EQ(line.B().HangUps(), 2);
}

TEST(SimulatedLineTest, AModemProfileInitialisesAndHangsUpThroughTheEscape) {
    MemoryModemSource source;
    const std::string key = "Modem\\0000";
    source.SetValue(key, "Reset", "ATZ<cr>");
    source.SetValue(key + "\\Init", "1", "ATE0V1&C1&D2<cr>");
    source.SetValue(key + "\\Init", "2", "ATS0=0<cr>");
    source.SetValue(key + "\\Hangup", "1", "ATH<cr>");
    source.AddKey(key + "\\Settings");

    SimulatedLine line;
    Terminal a(line.A());
    Terminal b(line.B());
    EXPECT_EQ(b.Command("ATE0S0=1\r"), "ATE0S0=1\r\r\nOK\r\n");
    ModemProfile profile;
    profile.SetResponseTimeout(5000);
    ASSERT_EQ(profile.Initialize(&a.Link(), source, "Simulated", key), 0);
    EXPECT_EQ(line.A().Commands(), (std::vector<std::string>{"ATZ", "ATE0V1&C1&D2", "ATS0=0"}));

    EXPECT_EQ(a.Command("ATD1\r", "\r\nCONNECT 33600\r\n"), "\r\nCONNECT 33600\r\n");
    EXPECT_EQ(b.ReadUntil("\r\nCONNECT 33600\r\n"), "\r\nRING\r\n\r\nCONNECT 33600\r\n");
    EXPECT_EQ(profile.HangUp(), 0);
    EXPECT_EQ(b.ReadUntil("\r\nNO CARRIER\r\n"), "+++\r\nNO CARRIER\r\n");
    EXPECT_FALSE(line.A().OffHook());
    EXPECT_EQ(line.A().Received(), "ATZ\rATE0V1&C1&D2\rATS0=0\rATD1\rATH\r");
}

TEST(SimulatedLineTest, TwoProgramsOnTwoThreadsExchangeEverythingThroughSmallQueues) {
    SimulatedModemOptions options;
    options.bytesPerSecond = 200000;
    SimulatedLine line(options, options);
    Terminal a(line.A(), 512, 256);
    Terminal b(line.B(), 512, 256);
    EXPECT_EQ(b.Command("ATS0=1\r"), "ATS0=1\r\r\nOK\r\n");
    EXPECT_EQ(a.Command("ATD1\r", "\r\nCONNECT 33600\r\n"), "ATD1\r\r\nCONNECT 33600\r\n");
    EXPECT_EQ(b.ReadUntil("\r\nCONNECT 33600\r\n"), "\r\nRING\r\n\r\nCONNECT 33600\r\n");

    const std::string fromA = Pattern(40000, 3);
    const std::string fromB = Pattern(30000, 4);
    auto exchange = [](Terminal& self, const std::string& out, std::size_t expected,
                       std::string& in) {
        std::size_t sent = 0;
        const std::uint32_t deadline = TickCount() + kWait;
        while ((sent < out.size() || in.size() < expected) && !TickReached(TickCount(), deadline)) {
            if (sent < out.size()) {
                const int chunk = static_cast<int>(std::min<std::size_t>(out.size() - sent, 300));
                sent += static_cast<std::size_t>(self.Port().Write(out.data() + sent, chunk));
                self.Port().TakeStatus();
            }
            char buffer[200];
            const int count = self.Port().Read(buffer, sizeof buffer);
            in.append(buffer, static_cast<std::size_t>(count));
            self.Port().Idle();
        }
    };
    std::string atB;
    std::string atA;
    std::thread other([&] { exchange(b, fromB, fromA.size(), atB); });
    exchange(a, fromA, fromB.size(), atA);
    other.join();
    EXPECT_TRUE(atA == fromB);
    EXPECT_TRUE(atB == fromA);
}

} // namespace
} // namespace tollan
