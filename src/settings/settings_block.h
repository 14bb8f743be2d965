// The settings block: the one record of every setting a host can make, shared by every
// Quill32 object of the process, the setup pages and the transfer run.
#pragma once

#include "engine/setting_values.h"
#include "settings/device_lists.h"
#include "settings/fixed_text.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tollan {

// The file names the module directory gives the help file and the transfer log.
inline constexpr std::string_view kHelpFileName = "tollan.hlp";
inline constexpr std::string_view kLogFileName = "tollan.log";

// Reads entry `valueName` ("3.Phone") of the telephone listing into `number`; false when the
// entry does not exist or cannot be read.
using TelephoneLookup = std::function<bool(const std::string& valueName, std::string& number)>;

// `Port` when the number written names no port in the list.
inline constexpr uint16_t kUnlistedPort = 0xFFFF;

// Field names are the property names of the automation interface. Texts are single-byte
// (ANSI) and cut to their buffers; booleans are 32-bit and any non-zero value means on. The
// fields of a kind of value hold the number the interface gave (brought into range) or the saved
// settings held (taken as they were).
// A block starts zeroed with an empty FileList; Reset gives it the defaults.
struct SettingsBlock {
    int32_t AppendToLog = 0;
    uint16_t Attempted = 0; // set only by a transfer
    int32_t BaudRate = 0;   // 9600, 19200, 38400, 57600 or 115200
    tollan::CrashRecovery CrashRecovery{};
    FixedText<260> DefaultDir;
    std::u16string FileList; // ";"-separated names, UTF-16 as the automation interface has it
    tollan::FlowControl FlowControl{};
    FixedText<261> HelpFile;
    int32_t HostMode = 0;
    FixedText<260> LogFilename;
    int32_t LogToFile = 0;
    int32_t LogToScreen = 0;
    int16_t MaxErrors = 0; // 0 to 50
    FixedText<128> MaxTitle;
    FixedText<128> MinTitle;
    FixedText<40> ModemCmd;
    uint16_t ModemName = 0; // position in the modem list
    tollan::Overwrite Overwrite{};
    tollan::PathSwitch PathSwitch{};
    uint16_t Port = 0;        // position in the port list, or kUnlistedPort
    int16_t UnlistedPort = 0; // with kUnlistedPort: the number asked for
    tollan::Protocol Protocol{};
    int32_t RecvTimeout = 0; // seconds, 0 = never
    int32_t RunMinimized = 0;
    int32_t SendTimeout = 0; // seconds, 0 = never
    FixedText<40> Telephone;
    int32_t Transfer = 0;     // on: transmit; off: receive
    uint16_t Transferred = 0; // set only by a transfer
    int32_t UseModem = 0;
    int32_t Verbose = 0;
    tollan::WindowSize WindowSize{};

    // Not a setting: the telephone listing entry of the last "#" write, which a later "#"
    // without a digit reuses. Reset keeps it.
    int telephoneEntry = 0;

    // Every field takes its default, FileList is emptied, and `DefaultType` picks the protocol
    // defaults: 2 ZModem with RTS/CTS, 3 ZModem with XON/XOFF and a 1024-byte window, anything
    // else XModem without flow control. `moduleDirectory` ends in a backslash; DefaultDir is it
    // without that backslash, HelpFile and LogFilename are files in it. The counters stay.
    void Reset(std::string_view moduleDirectory, int16_t defaultType);

    // Property writes: values are brought into range, never refused.
    void SetBaudRate(int32_t value);      // snaps down to a supported rate, at least 9600
    void SetCrashRecovery(int16_t value); // 1 to 3
    void SetFlowControl(int16_t value);   // 0 to 2
    void SetMaxErrors(int16_t value);     // 0 to 50
    void SetOverwrite(int16_t value);     // 1 to 7
    void SetPathSwitch(int16_t value);    // 0 to 2
    void SetProtocol(int16_t value);      // 0 to 2
    void SetWindowSize(int16_t value);    // snaps down to 0, 1024, 2048 or 4096

    // Selects the port whose number is `number`. A number no listed port has is kept as it is,
    // so that a run fails naming that port instead of using another device.
    void SetPort(int16_t number, const DeviceLists& lists);
    // Selects the first modem whose name begins with `prefix`; the first modem when none does.
    void SetModemName(std::string_view prefix, const DeviceLists& lists);
    // Ignored while the modem list is empty.
    void SetUseModem(int32_t value, const DeviceLists& lists);
    // An empty list leaves FileList empty.
    void SetFileList(std::u16string_view list);
    // A text beginning with "#" names a telephone listing entry: "#3" is entry 3, "#" followed
    // by anything but a digit the entry of the previous "#" write. Otherwise the text itself.
    void SetTelephone(std::string_view text, const TelephoneLookup& lookup);

    // Property reads with a rule of their own.
    // The number of the selected port (COM3 gives 3), or the unlisted number asked for; 1 when
    // the port list is empty.
    int16_t PortNumber(const DeviceLists& lists) const;
    // The display name of the selected modem; empty when the modem list is empty.
    std::string_view ModemDisplayName(const DeviceLists& lists) const;
};

// The block of this process.
SettingsBlock& ProcessSettings();

} // namespace tollan
