#include "settings/settings_block.h"

#include <new>
#include <string>
#include <type_traits>

namespace tollan {

namespace {

int16_t Clamp(int16_t value, int16_t low, int16_t high) {
    return value < low ? low : (value > high ? high : value);
}

template <typename E>
requires std::is_enum_v<E> E Clamp(int16_t value, E low, E high) {
    return static_cast<E>(Clamp(value, NumberOf(low), NumberOf(high)));
}

} // namespace

void SettingsBlock::Reset(std::string_view moduleDirectory, int16_t defaultType) {
    AppendToLog = 0;
    BaudRate = 19200;
    CrashRecovery = CrashRecovery::kNever;
    FileList.clear();
    FileList.shrink_to_fit();
    HostMode = 0;
    LogToFile = 0;
    LogToScreen = 0;
    MaxErrors = 0;
    MaxTitle.Clear();
    MinTitle.Clear();
    ModemCmd.Clear();
    ModemName = 0;
    Overwrite = Overwrite::kNever;
    PathSwitch = PathSwitch::kStripPath;
    Port = 0;
    UnlistedPort = 0;
    RecvTimeout = 60;
    RunMinimized = 0;
    SendTimeout = 60;
    Telephone.Clear();
    Transfer = 1;
    UseModem = 0;
    Verbose = 0;

    std::string_view directory = moduleDirectory;
    if (directory.ends_with('\\')) {
        directory.remove_suffix(1);
    }
    DefaultDir.Assign(directory);
    std::string path(moduleDirectory);
    HelpFile.Assign(path + std::string(kHelpFileName));
    LogFilename.Assign(path + std::string(kLogFileName));

    switch (defaultType) {
    case 2:
        Protocol = Protocol::kZModem;
        FlowControl = FlowControl::kRtsCts;
        WindowSize = WindowSize::kStreaming;
        break;
    case 3:
        Protocol = Protocol::kZModem;
        FlowControl = FlowControl::kXonXoff;
        WindowSize = WindowSize::k1024;
        break;
    default:
        Protocol = Protocol::kXModem;
        FlowControl = FlowControl::kNone;
        WindowSize = WindowSize::kStreaming;
        break;
    }
}

void SettingsBlock::SetBaudRate(int32_t value) {
    if (value < 19200) {
        BaudRate = 9600;
    } else if (value < 38400) {
        BaudRate = 19200;
    } else if (value < 57600) {
        BaudRate = 38400;
    } else if (value < 115200) {
        BaudRate = 57600;
    } else {
        BaudRate = 115200;
    }
}

void SettingsBlock::SetCrashRecovery(int16_t value) {
    CrashRecovery = Clamp(value, CrashRecovery::kNever, CrashRecovery::kAlways);
}
void SettingsBlock::SetFlowControl(int16_t value) {
    FlowControl = Clamp(value, FlowControl::kNone, FlowControl::kRtsCts);
}
void SettingsBlock::SetMaxErrors(int16_t value) {
    MaxErrors = Clamp(value, 0, 50);
}
void SettingsBlock::SetOverwrite(int16_t value) {
    Overwrite = Clamp(value, Overwrite::kNewerOrLonger, Overwrite::kNever);
}
void SettingsBlock::SetPathSwitch(int16_t value) {
    PathSwitch = Clamp(value, PathSwitch::kStripPath, PathSwitch::kReceiverNames);
}
void SettingsBlock::SetProtocol(int16_t value) {
    Protocol = Clamp(value, Protocol::kXModem, Protocol::kAckNak);
}

void SettingsBlock::SetWindowSize(int16_t value) {
    if (value < 1024) {
        WindowSize = WindowSize::kStreaming;
    } else if (value < 2048) {
        WindowSize = WindowSize::k1024;
    } else if (value < 4096) {
        WindowSize = WindowSize::k2048;
    } else {
        WindowSize = WindowSize::k4096;
    }
}

void SettingsBlock::SetPort(int16_t number, const DeviceLists& lists) {
    Port = lists.FindPort(number);
    const PortName* found = lists.PortAt(Port);
    if (found == nullptr || PortNumberOf(found->view()) != number) {
        Port = kUnlistedPort;
        UnlistedPort = number;
    }
}

void SettingsBlock::SetModemName(std::string_view prefix, const DeviceLists& lists) {
    ModemName = lists.FindModem(prefix);
}

void SettingsBlock::SetUseModem(int32_t value, const DeviceLists& lists) {
    if (!lists.modems.empty()) {
        UseModem = value;
    }
}

void SettingsBlock::SetFileList(std::u16string_view list) {
    FileList.clear();
    FileList.shrink_to_fit();
    try {
        FileList.assign(list);
    } catch (const std::bad_alloc&) {
        // No memory for the copy: the list stays empty.
    }
}

void SettingsBlock::SetTelephone(std::string_view text, const TelephoneLookup& lookup) {
    Telephone.Clear();
    if (text.empty() || text[0] != '#') {
        Telephone.Assign(text);
        return;
    }
    if (text.size() > 1 && text[1] >= '0' && text[1] <= '9') {
        telephoneEntry = text[1] - '0';
    }
    if (!lookup) {
        return;
    }
    std::string number;
    if (lookup(std::to_string(telephoneEntry) + ".Phone", number)) {
        Telephone.Assign(number);
    }
}

int16_t SettingsBlock::PortNumber(const DeviceLists& lists) const {
    if (Port == kUnlistedPort) {
        return UnlistedPort;
    }
    const PortName* port = lists.PortAt(Port);
    if (port == nullptr) {
        port = lists.PortAt(0);
    }
    if (port == nullptr) {
        return 1;
    }
    return static_cast<int16_t>(PortNumberOf(port->view()));
}

std::string_view SettingsBlock::ModemDisplayName(const DeviceLists& lists) const {
    const ModemEntry* modem = lists.ModemAt(ModemName);
    if (modem == nullptr) {
        modem = lists.ModemAt(0);
    }
    return modem != nullptr ? modem->name.view() : std::string_view();
}

SettingsBlock& ProcessSettings() {
    static SettingsBlock block;
    return block;
}

} // namespace tollan
