// The connect step of a run through a modem, once per pass: reset and settings, the optional
// extra AT command, then dialling the number (transmitting) or setting the modem to answer
// (receiving), and the wait for the modem's result line. A line holding "NO CARRIER" or "BUSY"
// refuses; one holding "CONNECT" connects when carrier detect agrees; any other line (an echo, a
// ring report) is passed over while time is left. A host run waits without limit, re-arming the
// limit each time it runs out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tollan {

class LineControl;
class ModemProfile;

struct ConnectSettings {
    bool transmitting = true;
    std::string telephone;
    std::string modemCmd;        // sent with its "OK" awaited when not empty
    std::int32_t timeLimit = 60; // seconds; 0 waits without limit
    bool waitForever = false;    // a host run
    // A line without a carrier wire (three-wire cable, pseudo-terminal) cannot confirm the
    // connection: the "CONNECT" line alone decides. The component always asks the wire.
    bool carrierWire = true;
};

// Status texts go to `showStatus`. 0 when connected; kResultUserCancelled when a wait was
// aborted (the modem's Poll()); kResultConnectFailed when no connection came about.
[[nodiscard]] std::int32_t ConnectModem(ModemProfile& modem, LineControl& line,
                                        const ConnectSettings& settings,
                                        const std::function<void(const char*)>& showStatus);

} // namespace tollan
