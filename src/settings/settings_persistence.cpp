#include "settings/settings_persistence.h"

#include <type_traits>

namespace tollan {

namespace {

// Numbers are read into 4 bytes whatever type the value has; texts into 1024 bytes.
constexpr uint32_t kNumberSize = 4;
constexpr uint32_t kTextSize = 1024;

class Loader {
public:
    explicit Loader(SettingsStore& store) : store_(store) {}

    bool Number(const char* name, uint32_t& value) {
        uint32_t data = 0;
        if (store_.Read(name, &data, kNumberSize) < 0) {
            ok_ = false;
            return false;
        }
        value = data;
        return true;
    }

    void Long(const char* name, int32_t& field) {
        uint32_t value = 0;
        if (Number(name, value)) {
            field = static_cast<int32_t>(value);
        }
    }

    void Short(const char* name, int16_t& field) {
        uint32_t value = 0;
        if (Number(name, value)) {
            field = static_cast<int16_t>(value & 0xFFFF);
        }
    }

    // A kind of value, taken as saved (the interface brings written values into range, not
    // saved ones).
    template <typename E>
    requires std::is_enum_v<E>
    void Short(const char* name, E& field) {
        int16_t value = NumberOf(field);
        Short(name, value);
        field = static_cast<E>(value);
    }

    // An empty value (no data at all) counts as unreadable.
    bool Text(const char* name, std::string_view& text) {
        int32_t length = store_.Read(name, buffer_, kTextSize);
        if (length <= 0) {
            ok_ = false;
            return false;
        }
        text = std::string_view(buffer_, static_cast<std::size_t>(length));
        if (std::size_t end = text.find('\0'); end != std::string_view::npos) {
            text = text.substr(0, end);
        }
        return true;
    }

    template <std::size_t N>
    void Text(const char* name, FixedText<N>& field) {
        std::string_view text;
        if (Text(name, text)) {
            field.Assign(text);
        }
    }

    bool ok() const { return ok_; }

private:
    SettingsStore& store_;
    char buffer_[kTextSize] = {};
    bool ok_ = true;
};

uint32_t ZeroExtended(int16_t value) {
    return static_cast<uint16_t>(value);
}

template <typename E>
requires std::is_enum_v<E> uint32_t ZeroExtended(E value) {
    return ZeroExtended(NumberOf(value));
}

} // namespace

int16_t LoadSettings(SettingsBlock& block, const DeviceLists& lists, SettingsStore& store) {
    Loader load(store);
    load.Long("AppendToLog", block.AppendToLog);
    load.Long("BaudRate", block.BaudRate);
    load.Short("CrashRecovery", block.CrashRecovery);
    load.Text("DefaultDir", block.DefaultDir);
    load.Short("FlowControl", block.FlowControl);
    load.Text("LogFilename", block.LogFilename);
    load.Long("LogToFile", block.LogToFile);
    load.Long("LogToScreen", block.LogToScreen);
    load.Short("MaxErrors", block.MaxErrors);
    load.Text("ModemCmd", block.ModemCmd);
    if (std::string_view name; load.Text("ModemName", name)) {
        block.ModemName = lists.FindModem(name);
    }
    load.Short("Overwrite", block.Overwrite);
    load.Short("PathSwitch", block.PathSwitch);
    if (uint32_t number = 0; load.Number("Port", number)) {
        block.SetPort(static_cast<int16_t>(number), lists);
    }
    load.Short("Protocol", block.Protocol);
    load.Long("RecvTimeout", block.RecvTimeout);
    load.Long("SendTimeout", block.SendTimeout);
    load.Text("Telephone", block.Telephone);
    if (lists.modems.empty()) {
        block.UseModem = 0;
    } else {
        load.Long("UseModem", block.UseModem);
    }
    load.Short("WindowSize", block.WindowSize);
    return load.ok() ? 0 : -1;
}

void SaveSettings(const SettingsBlock& block, const DeviceLists& lists, SettingsStore& store) {
    store.WriteNumber("AppendToLog", static_cast<uint32_t>(block.AppendToLog));
    store.WriteNumber("BaudRate", static_cast<uint32_t>(block.BaudRate));
    store.WriteNumber("CrashRecovery", ZeroExtended(block.CrashRecovery));
    store.WriteText("DefaultDir", block.DefaultDir.view());
    store.WriteNumber("FlowControl", ZeroExtended(block.FlowControl));
    store.WriteText("LogFilename", block.LogFilename.view());
    store.WriteNumber("LogToFile", static_cast<uint32_t>(block.LogToFile));
    store.WriteNumber("LogToScreen", static_cast<uint32_t>(block.LogToScreen));
    store.WriteNumber("MaxErrors", ZeroExtended(block.MaxErrors));
    store.WriteText("ModemCmd", block.ModemCmd.view());
    store.WriteText("ModemName", block.ModemDisplayName(lists));
    store.WriteNumber("Overwrite", ZeroExtended(block.Overwrite));
    store.WriteNumber("PathSwitch", ZeroExtended(block.PathSwitch));
    int32_t port = lists.ports.empty() ? 0 : block.PortNumber(lists);
    store.WriteNumber("Port", static_cast<uint32_t>(port));
    store.WriteNumber("Protocol", ZeroExtended(block.Protocol));
    store.WriteNumber("RecvTimeout", static_cast<uint32_t>(block.RecvTimeout));
    store.WriteNumber("SendTimeout", static_cast<uint32_t>(block.SendTimeout));
    store.WriteText("Telephone", block.Telephone.view());
    store.WriteNumber("UseModem", static_cast<uint32_t>(block.UseModem));
    store.WriteNumber("WindowSize", ZeroExtended(block.WindowSize));
}

} // namespace tollan
