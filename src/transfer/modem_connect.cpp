#include "transfer/modem_connect.h"

#include <cstring>
#include <limits>

#include "link/line_control.h"
#include "link/modem_profile.h"
#include "transfer/result_code.h"

namespace tollan {

namespace {

constexpr int kResultLineSize = 81;

bool Holds(const char* line, const char* text) {
    return std::strstr(line, text) != nullptr;
}

} // namespace

std::int32_t ConnectModem(ModemProfile& modem, LineControl& line, const ConnectSettings& settings,
                          const std::function<void(const char*)>& showStatus) {
    bool waitForever = settings.waitForever;
    bool connected = false;

    // What the modem answers below, or its silence, decides the connection; the results of
    // the commands themselves are not judged.
    showStatus("Resetting modem...");
    static_cast<void>(modem.SendSettings());
    if (!settings.modemCmd.empty()) {
        showStatus("Sending AT command...");
        static_cast<void>(modem.SendCommand(settings.modemCmd, true));
    }
    if (settings.transmitting) {
        showStatus("Dialing modem...");
        static_cast<void>(modem.Dial(settings.telephone));
        showStatus("Waiting for answer...");
    } else {
        showStatus("Waiting to answer modem...");
        static_cast<void>(modem.Answer());
    }

    const std::int64_t seconds = settings.timeLimit;
    int limit = std::numeric_limits<std::int32_t>::max();
    if (seconds == 0) {
        waitForever = true;
    } else if (seconds > 0 && seconds * 1000 < limit) {
        limit = static_cast<int>(seconds * 1000);
    }

    char text[kResultLineSize];
    int remaining = limit;
    for (;;) {
        remaining = modem.ReadLine(text, sizeof text, remaining);
        if (remaining < 0) {
            return kResultUserCancelled;
        }
        if (Holds(text, "NO CARRIER") || Holds(text, "BUSY")) {
            break;
        }
        if (Holds(text, "CONNECT")) {
            connected = true;
            break;
        }
        if (remaining > 0) {
            continue;
        }
        if (!waitForever) {
            break;
        }
        remaining = limit;
    }

    line.Refresh();
    if (connected && (!settings.carrierWire || line.Carrier() != 0)) {
        showStatus("Modem Connected.");
        return kResultOk;
    }
    return kResultConnectFailed;
}

} // namespace tollan
