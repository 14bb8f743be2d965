// The modem of the tollan command: a Hayes modem on the line, described by the command's options
// instead of an installed modem's settings. It is reset with "AT", initialised with the init
// commands (factory settings, carrier detect following the carrier, DTR drop hanging up), set to
// the run's flow control, dials with the dial prefix ("DT": tone) and hangs up with "ATH0".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/setting_values.h"
#include "link/modem_source.h"

namespace tollan {

struct CommandModem {
    bool used = false;             // --dial or --answer
    std::vector<std::string> init; // --modem-init, each sent as a line of its own
    std::string dialPrefix = "DT"; // --dial-prefix
    std::string hangUp = "ATH0";   // --hangup
    bool carrierWire = true;       // --no-carrier-detect clears it
};

// The name and settings key under which the source below holds the modem.
inline constexpr const char* kCommandModemName = "modem";
inline constexpr const char* kCommandModemKey = "modem";

// The init commands when none are given.
inline const std::vector<std::string> kDefaultModemInit = {"AT&F&C1&D2"};

// The modem's settings for the profile: commands as given (each ends in a carriage return), and a
// default configuration that asks for `flow`.
std::shared_ptr<const ModemSource> CommandModemSource(const CommandModem& modem, FlowControl flow);

} // namespace tollan
