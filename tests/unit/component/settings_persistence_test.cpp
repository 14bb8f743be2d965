#include "settings_persistence.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace tollan {
namespace {

// An in-memory settings key that keeps the data and the order in which values were written.
class MemoryStore : public SettingsStore {
public:
    struct Value {
        bool text = false;
        std::string data;
    };

    int32_t Read(const char* name, void* data, uint32_t size) override {
        auto it = values.find(name);
        if (it == values.end() || it->second.data.size() > size) {
            return -1;
        }
        std::memcpy(data, it->second.data.data(), it->second.data.size());
        return static_cast<int32_t>(it->second.data.size());
    }
    void WriteNumber(const char* name, uint32_t value) override {
        order.push_back(name);
        values[name] = Value{false, std::string(reinterpret_cast<const char*>(&value), 4)};
    }
    void WriteText(const char* name, std::string_view text) override {
        order.push_back(name);
        values[name] = Value{true, std::string(text) + '\0'};
    }

    uint32_t Number(const std::string& name) const {
        uint32_t value = 0;
        std::memcpy(&value, values.at(name).data.data(), 4);
        return value;
    }
    void PutNumber(const std::string& name, uint32_t value) {
        values[name] = Value{false, std::string(reinterpret_cast<const char*>(&value), 4)};
    }
    void PutText(const std::string& name, const std::string& data) {
        values[name] = Value{true, data};
    }

    std::map<std::string, Value> values;
    std::vector<std::string> order;
};

DeviceLists Devices(bool withModems) {
    DeviceLists lists;
    for (const char* port : {"COM3", "COM1", "COM4"}) {
        lists.ports.emplace_back(port);
    }
    if (withModems) {
        for (const char* name : {"Standard 56000 bps", "Sportster 28800"}) {
            ModemEntry modem;
            modem.name.Assign(name);
            lists.modems.push_back(modem);
        }
    }
    return lists;
}

SettingsBlock Changed(const DeviceLists& lists) {
    SettingsBlock block;
    block.Reset("C:\\tollan\\", 1);
    block.AppendToLog = -1;
    block.SetBaudRate(57600);
    block.SetCrashRecovery(3);
    block.DefaultDir.Assign("D:\\incoming");
    block.SetFlowControl(2);
    block.LogFilename.Assign("D:\\logs\\run.log");
    block.LogToFile = 1;
    block.LogToScreen = 5;
    block.SetMaxErrors(12);
    block.ModemCmd.Assign("ATM0");
    block.SetModemName("Sport", lists);
    block.SetOverwrite(3);
    block.SetPathSwitch(1);
    block.SetPort(4, lists);
    block.SetProtocol(1);
    block.RecvTimeout = 0;
    block.SendTimeout = 90;
    block.Telephone.Assign("555-0142");
    block.SetUseModem(1, lists);
    block.SetWindowSize(2048);
    return block;
}

void ExpectSavedFieldsEqual(const SettingsBlock& a, const SettingsBlock& b) {
    EXPECT_EQ(a.AppendToLog, b.AppendToLog);
    EXPECT_EQ(a.BaudRate, b.BaudRate);
    EXPECT_EQ(a.CrashRecovery, b.CrashRecovery);
    EXPECT_EQ(a.DefaultDir.view(), b.DefaultDir.view());
    EXPECT_EQ(a.FlowControl, b.FlowControl);
    EXPECT_EQ(a.LogFilename.view(), b.LogFilename.view());
    EXPECT_EQ(a.LogToFile, b.LogToFile);
    EXPECT_EQ(a.LogToScreen, b.LogToScreen);
    EXPECT_EQ(a.MaxErrors, b.MaxErrors);
    EXPECT_EQ(a.ModemCmd.view(), b.ModemCmd.view());
    EXPECT_EQ(a.ModemName, b.ModemName);
    EXPECT_EQ(a.Overwrite, b.Overwrite);
    EXPECT_EQ(a.PathSwitch, b.PathSwitch);
    EXPECT_EQ(a.Port, b.Port);
    EXPECT_EQ(a.Protocol, b.Protocol);
    EXPECT_EQ(a.RecvTimeout, b.RecvTimeout);
    EXPECT_EQ(a.SendTimeout, b.SendTimeout);
    EXPECT_EQ(a.Telephone.view(), b.Telephone.view());
    EXPECT_EQ(a.UseModem, b.UseModem);
    EXPECT_EQ(a.WindowSize, b.WindowSize);
}

TEST(SettingsPersistence, SaveWritesEveryValueInOrder) {
    DeviceLists lists = Devices(true);
    MemoryStore store;
    SaveSettings(Changed(lists), lists, store);
    EXPECT_EQ(store.order,
              (std::vector<std::string>{
                  "AppendToLog", "BaudRate",    "CrashRecovery", "DefaultDir", "FlowControl",
                  "LogFilename", "LogToFile",   "LogToScreen",   "MaxErrors",  "ModemCmd",
                  "ModemName",   "Overwrite",   "PathSwitch",    "Port",       "Protocol",
                  "RecvTimeout", "SendTimeout", "Telephone",     "UseModem",   "WindowSize"}));
    EXPECT_EQ(store.Number("AppendToLog"), 0xFFFFFFFFu);
    EXPECT_EQ(store.Number("Port"), 4u); // saved by number, not position
    EXPECT_EQ(store.values["ModemName"].data, std::string("Sportster 28800\0", 16));
    EXPECT_EQ(store.values["DefaultDir"].data, std::string("D:\\incoming\0", 12));
    EXPECT_TRUE(store.values["Telephone"].text);
    EXPECT_FALSE(store.values["WindowSize"].text);
}

TEST(SettingsPersistence, ShortFieldsAreSavedZeroExtended) {
    DeviceLists lists = Devices(false);
    MemoryStore store;
    SettingsBlock block = Changed(lists);
    block.Protocol = -1; // as a hand-edited value may have loaded it
    block.WindowSize = INT16_MIN;
    SaveSettings(block, lists, store);
    EXPECT_EQ(store.Number("Protocol"), 0xFFFFu);
    EXPECT_EQ(store.Number("WindowSize"), 0x8000u);
}

TEST(SettingsPersistence, WithoutDevicesPortIsZeroAndModemNameEmpty) {
    DeviceLists none;
    MemoryStore store;
    SettingsBlock block;
    block.Reset("C:\\", 1);
    SaveSettings(block, none, store);
    EXPECT_EQ(store.Number("Port"), 0u);
    EXPECT_EQ(store.values["ModemName"].data, std::string(1, '\0'));
}

TEST(SettingsPersistence, LoadGivesBackWhatWasSaved) {
    DeviceLists lists = Devices(true);
    MemoryStore store;
    SettingsBlock saved = Changed(lists);
    SaveSettings(saved, lists, store);

    SettingsBlock loaded;
    loaded.Reset("C:\\elsewhere\\", 2);
    loaded.MaxTitle.Assign("kept");
    loaded.HostMode = 1;
    loaded.SetFileList(u"kept.txt");
    ASSERT_EQ(LoadSettings(loaded, lists, store), 0);
    ExpectSavedFieldsEqual(loaded, saved);
    // Not saved, so not loaded.
    EXPECT_EQ(loaded.MaxTitle.view(), "kept");
    EXPECT_EQ(loaded.HostMode, 1);
    EXPECT_EQ(loaded.FileList, u"kept.txt");
    EXPECT_EQ(loaded.HelpFile.view(), "C:\\elsewhere\\tollan.hlp");
}

TEST(SettingsPersistence, LoadFromAnEmptyKeyChangesNothing) {
    DeviceLists lists = Devices(true);
    MemoryStore store;
    SettingsBlock before = Changed(lists);
    SettingsBlock block = before;
    EXPECT_EQ(LoadSettings(block, lists, store), -1);
    ExpectSavedFieldsEqual(block, before);
}

TEST(SettingsPersistence, AMissingValueFailsTheLoadButTheRestIsTaken) {
    DeviceLists lists = Devices(true);
    MemoryStore store;
    SaveSettings(Changed(lists), lists, store);
    store.values.erase("MaxErrors");
    SettingsBlock block;
    block.Reset("C:\\", 1);
    EXPECT_EQ(LoadSettings(block, lists, store), -1);
    EXPECT_EQ(block.MaxErrors, 0);
    EXPECT_EQ(block.WindowSize, 2048);
    EXPECT_EQ(block.BaudRate, 57600);
}

TEST(SettingsPersistence, NumbersAreTakenAsStored) {
    DeviceLists lists = Devices(true);
    MemoryStore store;
    SaveSettings(Changed(lists), lists, store);
    store.PutNumber("BaudRate", 2400);
    store.PutNumber("Protocol", 9);
    store.PutNumber("CrashRecovery", 0x00070002); // only the low 16 bits count
    store.PutNumber("WindowSize", 0xFFFF);
    store.values["MaxErrors"].data = std::string("\x05\x00", 2); // short data is fine

    SettingsBlock block;
    block.Reset("C:\\", 1);
    EXPECT_EQ(LoadSettings(block, lists, store), 0);
    EXPECT_EQ(block.BaudRate, 2400);
    EXPECT_EQ(block.Protocol, 9);
    EXPECT_EQ(block.CrashRecovery, 2);
    EXPECT_EQ(block.WindowSize, -1);
    EXPECT_EQ(block.MaxErrors, 5);
    block.SetProtocol(block.Protocol);
    EXPECT_EQ(block.Protocol, 2);
}

TEST(SettingsPersistence, OversizedAndEmptyValuesAreUnreadable) {
    DeviceLists lists = Devices(true);
    struct Case {
        const char* name;
        std::string data;
    };
    for (const Case& c : {Case{"BaudRate", std::string(8, '\x01')},
                          Case{"Telephone", std::string(1025, '5')}, Case{"ModemCmd", ""}}) {
        MemoryStore store;
        SaveSettings(Changed(lists), lists, store);
        store.values[c.name].data = c.data;
        SettingsBlock block;
        block.Reset("C:\\", 1);
        block.ModemCmd.Assign("before");
        EXPECT_EQ(LoadSettings(block, lists, store), -1) << c.name;
        EXPECT_EQ(block.BaudRate, c.name == std::string("BaudRate") ? 19200 : 57600);
    }
}

TEST(SettingsPersistence, LoadedTextsAreCutToTheirFields) {
    DeviceLists lists = Devices(true);
    MemoryStore store;
    SaveSettings(Changed(lists), lists, store);
    store.PutText("DefaultDir", std::string(1024, 'd')); // fits the buffer exactly
    store.PutText("Telephone", std::string(50, '1') + '\0');
    store.PutText("ModemCmd", "ATZ"); // no terminator stored
    SettingsBlock block;
    EXPECT_EQ(LoadSettings(block, lists, store), 0);
    EXPECT_EQ(block.DefaultDir.view(), std::string(260, 'd'));
    EXPECT_EQ(block.Telephone.view(), std::string(40, '1'));
    EXPECT_EQ(block.ModemCmd.view(), "ATZ");
}

TEST(SettingsPersistence, VanishedDevicesFallBackToTheFirstEntry) {
    DeviceLists lists = Devices(true);
    MemoryStore store;
    SaveSettings(Changed(lists), lists, store);
    store.PutText("ModemName", std::string("Gone 14400\0", 11));
    store.PutNumber("Port", 9);
    SettingsBlock block = Changed(lists);
    EXPECT_EQ(LoadSettings(block, lists, store), 0);
    EXPECT_EQ(block.ModemName, 0);
    EXPECT_EQ(block.Port, 0);
}

TEST(SettingsPersistence, WithoutModemsUseModemIsNotReadAndBecomesZero) {
    MemoryStore store;
    SaveSettings(Changed(Devices(true)), Devices(true), store);
    ASSERT_EQ(store.Number("UseModem"), 1u);
    SettingsBlock block;
    block.UseModem = 1;
    EXPECT_EQ(LoadSettings(block, Devices(false), store), 0);
    EXPECT_EQ(block.UseModem, 0);
    store.values.erase("UseModem");
    EXPECT_EQ(LoadSettings(block, Devices(false), store), 0);
}

} // namespace
} // namespace tollan
