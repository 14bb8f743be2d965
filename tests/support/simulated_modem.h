// A Hayes-command modem in memory, for tests of everything that talks to a modem. The modem keeps
// its state across runs like a device on the desk; a program under test reaches it through a
// port that OpenPort() hands out (the terminal's end of the cable) and drops when its run ends.
//
// Command mode: characters are echoed (E1), a line starts with "AT" (any case) and ends with a
// carriage return, line feeds are ignored, and each line answers one result in verbose form
// ("\r\nOK\r\n", "\r\nERROR\r\n", ...; V0 gives the digit codes, Q1 none). A line holds several
// commands: the basic letters with their numbers (E, V, Q, H, X, M, L, B, N, W, Y, Z, P, T, O, A,
// D), S registers (Sn=v, Sn?), &C, &D, &F, &K, &S, &W, &Y, \N and %C. Other letters answer
// ERROR, as do the options' extra error commands; an empty line answers nothing.
//
// Calls: "D" dials. A modem on its own answers the dial with the scripted outcome after the dial
// delay; two modems of a SimulatedLine call each other: the called one rings ("RING" and the ring
// indicator every ring interval), answers after S0 rings (S0 > 0) or on "A", and after the
// handshake both report "CONNECT 33600" and raise carrier detect. A caller that has no carrier
// within S7 seconds reports "NO CARRIER". A character from the terminal while dialling or
// answering ends the attempt with "NO CARRIER" (the character is dropped).
//
// Data mode: bytes cross to the other modem's terminal unchanged, at the options' pace, and wait
// in the sender's transmit queue while the other side's receive queue is full or that modem is in
// command mode. The escape is a guard time (S12, in fiftieths of a second) of silence, "+++"
// (S2) with less than a guard time between the characters, and a guard time of silence: then
// "OK" in command mode with the carrier kept ("O" goes back online, "H" hangs up). A hang-up of
// either side (H, Z, the terminal dropping DTR or its port) ends the call on both: the other
// modem's terminal gets "NO CARRIER".
//
// Every time is measured on TickCount(), so a test program with a fast clock runs the modem fast
// too. The modem has no thread: it catches up whenever one of its ports or its inspection
// functions is called. The two modems of a line share one lock, so two programs on two threads
// may use them at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/comm_port.h"

namespace tollan {

// What a modem on its own answers to a dial.
enum class DialOutcome {
    kConnect,   // "CONNECT 33600" and a carrier to a far end that swallows the data
    kBusy,      // "BUSY"
    kNoCarrier, // "NO CARRIER"
    kSilent,    // nothing at all, until the terminal types or drops DTR
};

struct SimulatedModemOptions {
    DialOutcome dialOutcome = DialOutcome::kConnect;
    // From the dial to the scripted outcome (a modem on its own) or to the other modem's first
    // ring (a line), in milliseconds.
    std::uint32_t dialDelayMs = 2000;
    std::uint32_t ringIntervalMs = 2000;
    // From the answer to "CONNECT" on both modems.
    std::uint32_t handshakeMs = 1000;
    // Bytes per second this modem carries from its terminal to the far end; 0: at once.
    std::uint32_t bytesPerSecond = 0;
    // False: the connect is reported but carrier detect stays off at the terminal (&C1).
    bool carrierDetectOnConnect = true;
    // True: the modem takes the commands in (they are recorded) and neither echoes nor answers.
    bool mute = false;
    // Commands answered with ERROR, as they stand after "AT" (for example "&K3"): a command line
    // that has one of them at the start of one of its commands fails there.
    std::vector<std::string> errorCommands;
};

struct ModemExchange;

class SimulatedModem {
public:
    explicit SimulatedModem(const SimulatedModemOptions& options = {});
    ~SimulatedModem();

    SimulatedModem(const SimulatedModem&) = delete;
    SimulatedModem& operator=(const SimulatedModem&) = delete;

    // A fresh port to the modem, open, with DTR and RTS raised. While another port of the modem
    // is open, the new one has failed to open (status LINK_PORT_IN_USE). Dropping or closing the
    // port drops DTR: with &D2 (the default) the modem hangs up and returns to command mode.
    // Fits a transfer run's port factory:
    //     [&modem](std::uint32_t rx, std::uint32_t tx) { return modem.OpenPort(rx, tx); }
    std::shared_ptr<CommPort> OpenPort(std::uint32_t receiveSize, std::uint32_t transmitSize);

    // Changes the options; the modem's state and registers stay.
    void SetOptions(const SimulatedModemOptions& options);

    // The far end of a modem that is not on a line: a caller that rings until answered, its
    // hang-up, the bytes it sends while connected, and what it received.
    void CallFromFarEnd();
    void HangUpFarEnd();
    void SendFromFarEnd(const std::string& bytes);
    std::string FarEndReceived() const;

    // Every byte the terminal sent while the modem was not in data mode, in order.
    std::string Received() const;
    // Each command line received ("AT..." without the carriage return).
    std::vector<std::string> Commands() const;
    // A carrier with the far end (whatever the terminal's carrier detect shows).
    bool Carrier() const;
    bool OffHook() const;
    // In data mode.
    bool Online() const;
    bool Ringing() const;
    bool PortOpen() const;
    // Times the modem went back on-hook (any cause: H, Z, DTR, the far end, a failed call).
    int HangUps() const;
    // Times the terminal dropped DTR (clearing it, or closing its port).
    int DtrDrops() const;
    // The value of S register `number` (0 to 255).
    int Register(int number) const;

private:
    friend class SimulatedLine;
    SimulatedModem(std::shared_ptr<ModemExchange> exchange, int index);

    std::shared_ptr<ModemExchange> exchange_;
    int index_;
};

// Two modems on one telephone line: any number dialled on one rings the other.
class SimulatedLine {
public:
    explicit SimulatedLine(const SimulatedModemOptions& a = {},
                           const SimulatedModemOptions& b = {});
    ~SimulatedLine();

    SimulatedLine(const SimulatedLine&) = delete;
    SimulatedLine& operator=(const SimulatedLine&) = delete;

    SimulatedModem& A() { return *a_; }
    SimulatedModem& B() { return *b_; }

private:
    std::unique_ptr<SimulatedModem> a_;
    std::unique_ptr<SimulatedModem> b_;
};

} // namespace tollan
