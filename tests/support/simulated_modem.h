// A Hayes-command modem in memory, for tests of everything that talks to a modem. The modem keeps
// its state across runs like a device on the desk; a program under test reaches it through a
// port that OpenPort() hands out (the terminal's end of the cable) and drops when its run ends.
//
// Command mode: characters are echoed, line feeds are ignored, and a carriage return ends a
// line; from its "AT" on, the line is a command line and answers one result in words
// ("\r\nOK\r\n"), a line without "AT" answers nothing. A line holds several commands of one
// character and a number each: H and Z hang up, S0=n (not zero: answer at the first ring) and D
// act; every other command is taken as a setting that changes nothing here.
//
// Calls: "D" dials. A modem on its own refuses the dial as scripted, or stays silent, after the
// dial delay; two modems of a SimulatedLine call each other (BUSY while the other is in a call or
// ringing): the called one rings ("RING" every two
// seconds), answers at a ring once S0 is set while its terminal holds DTR, and after a second's
// handshake both report "CONNECT 33600" and raise carrier detect. A character from the terminal
// while dialling or in the handshake ends the attempt with "NO CARRIER" (the character is dropped).
//
// Data mode: bytes cross to the other modem's terminal unchanged and wait in the sender's
// transmit queue while the other side's receive queue is full or that modem is in command mode;
// a modem on its own swallows them. The escape is a second of silence, "+++" with less than a
// second between the characters, and a second of silence: then "OK" in command mode
// with the carrier kept ("H" hangs up). A hang-up of either side (H, Z, the terminal closing or
// dropping its port) ends the call on both: the other terminal gets "NO CARRIER".
//
// Every time is measured on TickCount(), so a test program with a fast clock runs the modem fast
// too. The modem has no thread: it catches up whenever one of its ports or its inspection
// functions is called. The port is one end of an in-memory pair whose other end the modem reads
// and writes. The two modems of a line share one lock, so two programs on two threads
// may use them at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/comm_port.h"

namespace tollan {

// What a modem on its own answers to a dial.
enum class DialOutcome {
    kBusy,      // "BUSY"
    kNoCarrier, // "NO CARRIER"
    kSilent,    // nothing at all, until the terminal types or closes its port
};

struct SimulatedModemOptions {
    DialOutcome dialOutcome = DialOutcome::kBusy;
    // From the dial to the scripted outcome (a modem on its own) or to the other modem's first
    // ring (a line), in milliseconds.
    std::uint32_t dialDelayMs = 2000;
};

struct ModemExchange;

class SimulatedModem {
public:
    // A copy is another handle on the same modem.
    explicit SimulatedModem(const SimulatedModemOptions& options = {});

    // A fresh port to the modem, open, with DTR and RTS raised. Dropping or closing the port
    // drops DTR: the modem hangs up and returns to command mode.
    // Fits a transfer run's port factory:
    //     [&modem](std::uint32_t rx, std::uint32_t tx) { return modem.OpenPort(rx, tx); }
    std::shared_ptr<CommPort> OpenPort(std::uint32_t receiveSize, std::uint32_t transmitSize);

    // Every byte the terminal sent while the modem was not in data mode, in order.
    std::string Received() const;
    // On-hook (whatever the terminal's carrier detect showed) with no port open: how every run
    // leaves its modem.
    bool HungUpAndClosed() const;

private:
    friend class SimulatedLine;
    SimulatedModem(std::shared_ptr<ModemExchange> exchange, int index);

    std::shared_ptr<ModemExchange> exchange_;
    int index_;
};

// Two modems on one telephone line: any number dialled on one rings the other.
class SimulatedLine {
public:
    SimulatedLine();

    SimulatedModem& A() { return *a_; }
    SimulatedModem& B() { return *b_; }

private:
    std::unique_ptr<SimulatedModem> a_;
    std::unique_ptr<SimulatedModem> b_;
};

} // namespace tollan
