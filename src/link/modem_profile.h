// A Hayes-command modem: its command strings, read from the modem's settings (the registry key
// of an installed modem, or the command's own table), and the exchange of AT commands and
// response lines with it over the link. The transfer run creates it, sets the response time-out,
// initialises it, then sends the settings, dials or answers and, after the transfer, hangs up.
//
// Commands are sent "wrapped" (prefix + text + terminator, normally "AT" + text + CR) or as they
// stand; a command, wrapped or not, is at most kModemCommandLimit characters. In the strings of
// the modem's settings, "<cr>" stands for a carriage return (not in "UserInit", the timer
// templates, the appended settings values, "Tone" and "Pulse").
//
// Every wait calls Poll(), whose negative answer ends it at once: the run overrides it to stop
// when the user cancels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tollan {

class CommLink;
class ModemSource;
class ModemKey;

// Longest command written in one piece, and the sizes (with the NUL) of the strings read.
inline constexpr std::size_t kModemCommandLimit = 43;
inline constexpr std::size_t kModemStringSize = 39;  // prefix, terminator, dial prefix and suffix
inline constexpr std::size_t kModemCommandSize = 41; // reset, settings, user-init

// The modem's flow choice: the values of the run's flow control.
inline constexpr int kModemFlowNone = 0;
inline constexpr int kModemFlowXonXoff = 1;
inline constexpr int kModemFlowRtsCts = 2;

class ModemProfile {
public:
    // A list of commands sent one after the other ("Init", "Hangup").
    using CommandList = std::vector<std::string>;

    ModemProfile() = default;
    virtual ~ModemProfile() = default;

    ModemProfile(const ModemProfile&) = delete;
    ModemProfile& operator=(const ModemProfile&) = delete;

    // 0 to go on; a negative code ends every wait of the object at once.
    [[nodiscard]] virtual int Poll() { return 0; }

    // How long SendCommand() waits for "OK", in milliseconds of silence.
    void SetResponseTimeout(int ms) { responseTimeout_ = ms; }

    // Reads the modem's strings from `source` (key `keyPath`, default configuration of `name`),
    // sends its reset and init commands (their answers are not judged), reads the settings, the
    // user-init command and the hang-up list, waits a quarter second and discards what arrived.
    // 0, LINK_FAILED when the key, its "Init" or "Hangup" list or its "Settings" subkey is
    // missing, or the abort code of a wait. May be called again: every string is read afresh.
    [[nodiscard]] int Initialize(CommLink* link, const ModemSource& source, const std::string& name,
                                 const std::string& keyPath);

    // The settings command, then the user-init command when there is one; the last result.
    [[nodiscard]] int SendSettings();
    // Writes the command and waits for a line that is exactly "OK" (other lines, such as the
    // echo, are skipped): 0; MODEM_NO_RESPONSE when none came within the response time-out or
    // the wait was aborted; LINK_BAD_PARAMETER when the command is too long (nothing is
    // written); a link code when writing failed.
    [[nodiscard]] int SendCommand(const std::string& text, bool wrap);
    // The first command even when empty, then each following one up to the first empty one,
    // while the answers are "OK". The last result.
    [[nodiscard]] int SendCommandList(const CommandList& list);
    // One response line into `buffer` (at most size - 1 characters, NUL-terminated; carriage
    // return ends it, line feeds are skipped). The milliseconds left of `timeoutMs` (at least 1)
    // when a line ended, 0 when the time ran out, or Poll()'s negative code. Only pauses in which
    // nothing arrived count against the time.
    [[nodiscard]] int ReadLine(char* buffer, int size, int timeoutMs);
    // Waits `ms` keeping the port serviced: 0, or the negative code of Poll() or the link.
    [[nodiscard]] int Delay(int ms);
    // Dial prefix + number + dial suffix, wrapped: SendCommand()'s result.
    [[nodiscard]] int Dial(const std::string& number);
    // Makes the modem answer on the first ring ("S0=1"): SendCommand()'s result.
    [[nodiscard]] int Answer();
    // The escape "+++" between two seconds of silence, the hang-up list, then a look at carrier
    // detect: 0 when the carrier is gone, LINK_FAILED when it is still there, or the first
    // failing step's result.
    [[nodiscard]] int HangUp();

    // 0 none, 1 XON/XOFF, 2 RTS/CTS (kModemFlow...): what the modem's preferred options ask for.
    int FlowChoice() const { return flowChoice_; }
    int ResponseTimeout() const { return responseTimeout_; }
    const std::string& Prefix() const { return prefix_; }
    const std::string& Terminator() const { return terminator_; }
    const std::string& SettingsCommand() const { return settingsCommand_; }
    const std::string& UserInit() const { return userInit_; }
    const std::string& DialPrefix() const { return dialPrefix_; }
    const std::string& DialSuffix() const { return dialSuffix_; }
    const CommandList& HangUpList() const { return hangUpList_; }

private:
    // Builds the settings command and the flow choice from the modem's default configuration
    // and the "Settings" key, and adds the dialling method to the dial prefix.
    void BuildSettings(const ModemSource& source, const std::string& name,
                       const std::string& keyPath, const ModemKey& settings);
    [[nodiscard]] int WriteCommand(const std::string& text, bool wrap);

    int flowChoice_ = kModemFlowNone;
    int responseTimeout_ = 0;
    CommLink* link_ = nullptr;
    std::string prefix_ = "AT";
    std::string terminator_ = "\r";
    std::string settingsCommand_;
    std::string userInit_;
    std::string dialPrefix_ = "D";
    std::string dialSuffix_;
    CommandList hangUpList_;
};

} // namespace tollan
