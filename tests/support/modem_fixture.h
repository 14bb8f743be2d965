// What the modem tests share: the strings of an installed modem, laid out as its driver key holds
// them (values of the key and of its "Init", "Hangup" and "Settings" subkeys), its default
// configuration, that modem in an in-memory source, and a profile on one end of an in-memory pair
// whose other end the test plays as the modem: answers queued in advance, the profile's bytes read
// back.
#pragma once

#include <string>

#include "link/comm_link.h"
#include "link/memory_modem_source.h"
#include "link/modem_profile.h"
#include "link/modem_source.h"
#include "support/memory_port.h"

namespace tollan {

// One value of the driver key: `subkey` empty for the key itself.
struct ModemValue {
    const char* subkey;
    const char* name;
    const char* text;
};

inline constexpr ModemValue kStandardModemValues[] = {
    {"", "Reset", "ATZ<cr>"},
    {"Init", "1", "AT<cr>"},
    {"Init", "2", "AT&FE0V1<cr>"},
    {"Hangup", "1", "ATH<cr>"},
    {"Settings", "Prefix", "AT"},
    {"Settings", "Terminator", "<cr>"},
    {"Settings", "DialPrefix", "D"},
    {"Settings", "CallSetupFailTimer", "S7=<"},
    {"Settings", "InactivityTimeout", "S30=<"},
    {"Settings", "SpeakerVolume_Low", "L0"},
    {"Settings", "SpeakerVolume_Med", "L2"},
    {"Settings", "SpeakerVolume_High", "L3"},
    {"Settings", "SpeakerMode_Off", "M0"},
    {"Settings", "SpeakerMode_Dial", "M1"},
    {"Settings", "SpeakerMode_Setup", "M3"},
    {"Settings", "Compression_On", "%C1"},
    {"Settings", "Compression_Off", "%C0"},
    {"Settings", "ErrorControl_On", "\\N3"},
    {"Settings", "ErrorControl_Off", "\\N0"},
    {"Settings", "ErrorControl_Forced", "\\N4"},
    {"Settings", "ErrorControl_Cellular", "\\N5"},
    {"Settings", "ErrorControl_Cellular_Forced", "\\N6"},
    {"Settings", "FlowControl_Hard", "&K3"},
    {"Settings", "FlowControl_Soft", "&K4"},
    {"Settings", "FlowControl_Off", "&K0"},
    {"Settings", "Modulation_CCITT_V23", "B2"},
    {"Settings", "Modulation_Bell", "B1"},
    {"Settings", "SpeedNegotiation_On", "N1"},
    {"Settings", "SpeedNegotiation_Off", "N0"},
    {"Settings", "Blind_On", "X3"},
    {"Settings", "Blind_Off", "X4"},
    {"Settings", "Tone", "T"},
    {"Settings", "Pulse", "P"},
};

// A 60 s call set-up timer, 10 s inactivity, medium volume, speaker while dialling; compression,
// error control, hardware flow, tone dialling.
inline ModemDefaults StandardModemDefaults() {
    ModemDefaults defaults;
    defaults.callSetupFailTimer = 60;
    defaults.inactivityTimeout = 10;
    defaults.speakerVolume = 1;
    defaults.speakerMode = 1;
    defaults.preferredOptions =
        kModemCompression | kModemErrorControl | kModemHardwareFlow | kModemToneDial;
    return defaults;
}

inline constexpr const char* kStandardModemKey = "Modem\\0000"; // the driver key's path

inline MemoryModemSource StandardModem() {
    MemoryModemSource source;
    for (const ModemValue& value : kStandardModemValues) {
        const std::string subkey = value.subkey;
        source.SetValue(subkey.empty() ? kStandardModemKey
                                       : std::string(kStandardModemKey) + "\\" + subkey,
                        value.name, value.text);
    }
    source.SetDefaults(StandardModemDefaults());
    return source;
}

// A profile on one end of a pair; the test plays the modem on the other.
struct ScriptedModem {
    MemoryPortPair pair;
    CommLink link{pair.A()};
    ModemProfile profile;
    std::string key = kStandardModemKey;
    std::string name = "Standard Modem";

    ScriptedModem() { profile.SetResponseTimeout(300); }

    // Answers queued for the profile to read.
    void Answer(const std::string& text) {
        pair.B().Write(text.data(), static_cast<int>(text.size()));
    }
    // Everything the profile wrote since the last look.
    std::string Written() {
        std::string text;
        char buffer[256];
        for (int n; (n = pair.B().Read(buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }
    // Initialises the profile from `source` with `answers` "OK" lines waiting.
    int Initialize(const ModemSource& source, int answers) {
        for (int i = 0; i < answers; ++i) {
            Answer("\r\nOK\r\n");
        }
        return profile.Initialize(&link, source, name, key);
    }
};

} // namespace tollan
