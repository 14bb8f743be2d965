#include "link/modem_profile.h"

#include <cstdio>

#include "link/comm_link.h"
#include "link/line_control.h"
#include "link/link_codes.h"
#include "link/modem_source.h"
#include "link/tick_count.h"

namespace tollan {

namespace {

constexpr int kReadPauseMs = 50;
constexpr int kSettleMs = 250;
constexpr int kGuardMs = 1000;
constexpr int kAfterHangUpMs = 100;
constexpr int kResponseLineSize = 256;

// Every "<cr>" (exactly so) becomes one carriage return.
std::string ExpandCr(const std::string& text) {
    std::string expanded;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 4, "<cr>") == 0) {
            expanded += '\r';
            i += 4;
        } else {
            expanded += text[i++];
        }
    }
    return expanded;
}

// A string value with "<cr>" expanded, or the default when the value is missing or too long.
std::string ReadString(const ModemKey& key, const char* name, const char* fallback,
                       std::size_t size) {
    std::string text;
    if (!key.ReadText(name, size, text)) {
        return fallback;
    }
    return ExpandCr(text);
}

// The values "1", "2", ... of a subkey, as many names as it has values; missing ones are
// skipped. False when the subkey is missing.
bool ReadCommandList(const ModemKey& key, const char* subkeyName, ModemProfile::CommandList& list) {
    list.clear();
    std::unique_ptr<ModemKey> subkey = key.OpenSubkey(subkeyName);
    if (subkey == nullptr) {
        return false;
    }
    std::uint32_t count = 0;
    std::uint32_t longest = 0;
    subkey->ValueInfo(count, longest);
    for (std::uint32_t i = 1; i <= count; ++i) {
        std::string text;
        if (subkey->ReadText(std::to_string(i).c_str(), longest, text)) {
            list.push_back(ExpandCr(text));
        }
    }
    return true;
}

// Appends value `name` at the end of `field`, within the field's size; a missing value (or one
// that does not fit) appends nothing.
void AppendValue(const ModemKey& key, const std::string& name, std::string& field,
                 std::size_t size) {
    std::string text;
    if (field.size() + 1 < size && key.ReadText(name.c_str(), size - field.size(), text)) {
        field += text;
    }
}

// Puts `number` in decimal at the first '<' of the text appended from `start` on, replacing the
// rest; a text without '<' stays as it is.
void InsertNumber(std::string& field, std::size_t start, std::uint32_t number, std::size_t size) {
    std::size_t mark = field.find('<', start);
    if (mark == std::string::npos) {
        return;
    }
    field.resize(mark);
    field += std::to_string(number);
    if (field.size() + 1 > size) {
        field.resize(size - 1);
    }
}

const char* const kVolumeSuffixes[] = {"_Low", "_Med", "_High"};
const char* const kSpeakerSuffixes[] = {"_Off", "_Dial", "_On", "_Setup"};

} // namespace

int ModemProfile::Initialize(CommLink* link, const ModemSource& source, const std::string& name,
                             const std::string& keyPath) {
    link_ = link;
    std::unique_ptr<ModemKey> key = source.OpenKey(keyPath);
    if (key == nullptr) {
        return LINK_FAILED;
    }
    int result = LINK_FAILED;
    CommandList init;
    std::unique_ptr<ModemKey> settings;
    // The answers to the reset and init commands are not judged: modems differ in them.
    (void)SendCommand(ReadString(*key, "Reset", "", kModemCommandSize), false);
    if (ReadCommandList(*key, "Init", init)) {
        (void)SendCommandList(init);
        settings = key->OpenSubkey("Settings");
    }
    if (settings != nullptr) {
        prefix_ = ReadString(*settings, "Prefix", "AT", kModemStringSize);
        terminator_ = ReadString(*settings, "Terminator", "\r", kModemStringSize);
        dialPrefix_ = ReadString(*settings, "DialPrefix", "D", kModemStringSize);
        dialSuffix_ = ReadString(*settings, "DialSuffix", "", kModemStringSize);
        BuildSettings(source, name, keyPath, *settings);

        key->ReadText("UserInit", kModemCommandSize, userInit_);
        result = ReadCommandList(*key, "Hangup", hangUpList_) ? 0 : LINK_FAILED;
    }
    if (result != 0) {
        return result;
    }
    if (int waited = Delay(kSettleMs); waited != 0) {
        return waited;
    }
    return link_->PurgeInput(0); // 0: what the modem said meanwhile is dropped at once
}

void ModemProfile::BuildSettings(const ModemSource& source, const std::string& name,
                                 const std::string& keyPath, const ModemKey& settings) {
    settingsCommand_.clear();
    flowChoice_ = kModemFlowNone;
    ModemDefaults defaults;
    if (!source.DefaultConfig(name, keyPath, defaults)) {
        // Without the modem's configuration the modem keeps its own: nothing is set.
        return;
    }
    std::string& command = settingsCommand_;
    const std::size_t size = kModemCommandSize;
    AppendValue(settings, "CallSetupFailTimer", command, size);
    InsertNumber(command, 0, defaults.callSetupFailTimer, size);
    std::size_t start = command.size();
    AppendValue(settings, "InactivityTimeout", command, size);
    InsertNumber(command, start, defaults.inactivityTimeout, size);

    const std::uint32_t options = defaults.preferredOptions;
    std::string volume = "SpeakerVolume";
    if (defaults.speakerVolume < 3) {
        volume += kVolumeSuffixes[defaults.speakerVolume];
    }
    std::string speaker = "SpeakerMode";
    if (defaults.speakerMode < 4) {
        speaker += kSpeakerSuffixes[defaults.speakerMode];
    }
    std::string errorControl = "ErrorControl";
    if ((options & kModemErrorControl) == 0) {
        errorControl += "_Off";
    } else {
        if ((options & kModemCellular) != 0) {
            errorControl += "_Cellular";
        } else if ((options & kModemForcedErrorControl) == 0) {
            errorControl += "_On";
        }
        if ((options & kModemForcedErrorControl) != 0) {
            errorControl += "_Forced";
        }
    }
    std::string flow = "FlowControl";
    if ((options & kModemHardwareFlow) != 0) {
        flow += "_Hard";
        flowChoice_ = kModemFlowRtsCts;
    } else if ((options & kModemSoftwareFlow) != 0) {
        flow += "_Soft";
        flowChoice_ = kModemFlowXonXoff;
    } else {
        flow += "_Off";
    }
    std::string modulation = "Modulation";
    if ((options & kModemCcittOverride) != 0) {
        modulation += "_CCITT";
        if ((options & kModemV23Override) != 0) {
            modulation += "_V23";
        }
    } else {
        modulation += "_Bell";
    }
    const std::string names[] = {
        volume,
        speaker,
        (options & kModemCompression) != 0 ? "Compression_On" : "Compression_Off",
        errorControl,
        flow,
        modulation,
        (options & kModemSpeedAdjust) != 0 ? "SpeedNegotiation_On" : "SpeedNegotiation_Off",
        (options & kModemBlindDial) != 0 ? "Blind_On" : "Blind_Off",
    };
    for (const std::string& value : names) {
        AppendValue(settings, value, command, size);
    }
    AppendValue(settings, (options & kModemToneDial) != 0 ? "Tone" : "Pulse", dialPrefix_,
                kModemStringSize);
}

int ModemProfile::WriteCommand(const std::string& text, bool wrap) {
    const std::string command = wrap ? prefix_ + text + terminator_ : text;
    if (command.size() > kModemCommandLimit) {
        return LINK_BAD_PARAMETER;
    }
    const int charDelay = link_->CharDelay();
    link_->SetCharDelay(0);
    int result = 0;
    for (char c : command) {
        result = link_->WriteByte(static_cast<std::uint8_t>(c));
        if (result != 0) {
            break;
        }
    }
    link_->SetCharDelay(charDelay);
    return result;
}

int ModemProfile::SendCommand(const std::string& text, bool wrap) {
    if (link_ == nullptr) {
        return LINK_FAILED;
    }
    if (int written = WriteCommand(text, wrap); written != 0) {
        return written;
    }
    char line[kResponseLineSize];
    int remaining = responseTimeout_;
    for (;;) {
        remaining = ReadLine(line, sizeof line, remaining);
        if (remaining <= 0) {
            return MODEM_NO_RESPONSE;
        }
        if (std::string_view(line) == "OK") {
            return 0;
        }
    }
}

int ModemProfile::SendCommandList(const CommandList& list) {
    int result = SendCommand(list.empty() ? std::string() : list.front(), false);
    for (std::size_t i = 1; result == 0 && i < list.size() && !list[i].empty(); ++i) {
        result = SendCommand(list[i], false);
    }
    return result;
}

int ModemProfile::ReadLine(char* buffer, int size, int timeoutMs) {
    int count = 0;
    int room = size - 1;
    int remaining = timeoutMs;
    int result = Poll();
    if (result < 0) {
        return result;
    }
    for (;;) {
        if (room <= 0) {
            break;
        }
        const int c = link_->ReadByte(0);
        if (c < 0) {
            result = Delay(kReadPauseMs);
            if (result < 0) {
                return result;
            }
            remaining -= kReadPauseMs;
            if (remaining <= 0) {
                remaining = 0;
                break;
            }
        } else if (c == '\r') {
            break;
        } else if (c != '\n') {
            buffer[count++] = static_cast<char>(c);
            --room;
        }
        result = Poll();
        if (result < 0) {
            return result;
        }
    }
    buffer[count] = '\0';
    return remaining;
}

int ModemProfile::Delay(int ms) {
    const std::uint32_t deadline = TickCount() + static_cast<std::uint32_t>(ms);
    int result = Poll();
    if (result < 0) {
        return result;
    }
    for (;;) {
        result = link_->Idle();
        if (result < 0) {
            return result;
        }
        if (TickReached(TickCount(), deadline)) {
            return 0;
        }
        result = Poll();
        if (result < 0) {
            return result;
        }
    }
}

int ModemProfile::SendSettings() {
    int result = SendCommand(settingsCommand_, true);
    if (result == 0 && !userInit_.empty()) {
        result = SendCommand(userInit_, true);
    }
    return result;
}

int ModemProfile::Dial(const std::string& number) {
    const std::string dial = dialPrefix_ + number + dialSuffix_;
    if (dial.size() > kModemCommandLimit) {
        return LINK_BAD_PARAMETER;
    }
    return SendCommand(dial, true);
}

int ModemProfile::Answer() {
    return SendCommand("S0=1", true);
}

int ModemProfile::HangUp() {
    if (link_ == nullptr) {
        return LINK_FAILED;
    }
    int result = Delay(kGuardMs);
    if (result == 0) {
        result = SendCommand("+++", false);
    }
    if (result == 0) {
        result = Delay(kGuardMs);
    }
    if (result == 0) {
        result = SendCommandList(hangUpList_);
    }
    if (result == 0) {
        result = Delay(kAfterHangUpMs);
    }
    if (result != 0) {
        return result;
    }
    LineControl line(*link_);
    return line.Carrier() != 0 ? LINK_FAILED : 0;
}

} // namespace tollan
