#include "settings/settings_persistence.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace tollan {
namespace {

// An in-memory settings key: raw value data by name, and the names in the order written.
class MemoryStore : public SettingsStore {
public:
    int32_t Read(const char* name, void* data, uint32_t size) override {
        auto it = values.find(name);
        if (it == values.end() || it->second.size() > size) {
            return -1;
        }
        std::memcpy(data, it->second.data(), it->second.size());
        return static_cast<int32_t>(it->second.size());
    }
    void WriteNumber(const char* name, uint32_t value) override {
        order.push_back(name);
        values[name] = std::string(reinterpret_cast<const char*>(&value), 4);
    }
    void WriteText(const char* name, std::string_view text) override {
        order.push_back(name);
        values[name] = std::string(text) + '\0';
    }
    uint32_t Number(const std::string& name) const {
        uint32_t value = 0;
        std::memcpy(&value, values.at(name).data(), 4);
        return value;
    }

    std::map<std::string, std::string> values;
    std::vector<std::string> order;
};

std::string Dword(uint32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

DeviceLists Devices(bool withModems) {
    DeviceLists lists;
    for (const char* port : {"COM3", "COM1", "COM4"}) {
        lists.ports.emplace_back(port);
    }
    for (const char* name : {"Standard 56000 bps", "Sportster 28800"}) {
        if (withModems) {
            lists.modems.emplace_back().name.Assign(name);
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
    block.LogToScreen = 5;
    block.SetMaxErrors(12);
    block.ModemCmd.Assign("ATM0");
    block.SetModemName("Sport", lists);
    block.SetOverwrite(3);
    block.SetPort(4, lists);
    block.SetProtocol(1);
    block.SendTimeout = 90;
    block.Telephone.Assign("555-0142");
    block.SetUseModem(1, lists);
    block.SetWindowSize(2048);
    return block;
}

// What a block saves, to compare two blocks by every saved field.
std::map<std::string, std::string> Saved(const SettingsBlock& block, const DeviceLists& lists) {
    MemoryStore store;
    SaveSettings(block, lists, store);
    return store.values;
}

TEST(SettingsPersistence, SaveWritesEveryValue) {
    DeviceLists lists = Devices(true);
    MemoryStore store;
    SettingsBlock block = Changed(lists);
    block.WindowSize =
        static_cast<WindowSize>(INT16_MIN); // as a hand-edited value may have loaded it
    SaveSettings(block, lists, store);
    EXPECT_EQ(store.order,
              (std::vector<std::string>{
                  "AppendToLog", "BaudRate",    "CrashRecovery", "DefaultDir", "FlowControl",
                  "LogFilename", "LogToFile",   "LogToScreen",   "MaxErrors",  "ModemCmd",
                  "ModemName",   "Overwrite",   "PathSwitch",    "Port",       "Protocol",
                  "RecvTimeout", "SendTimeout", "Telephone",     "UseModem",   "WindowSize"}));
    EXPECT_EQ(store.Number("AppendToLog"), 0xFFFFFFFFu);
    EXPECT_EQ(store.Number("WindowSize"), 0x8000u); // short fields are zero-extended
    EXPECT_EQ(store.Number("Port"), 4u);            // saved by number, not position
    EXPECT_EQ(store.values["ModemName"], std::string("Sportster 28800\0", 16));

    DeviceLists none;
    block.Reset("C:\\", 1);
    SaveSettings(block, none, store);
    EXPECT_EQ(store.Number("Port"), 0u);
    EXPECT_EQ(store.values["ModemName"], std::string(1, '\0'));
}

TEST(SettingsPersistence, LoadGivesBackWhatWasSavedAndNothingElse) {
    DeviceLists lists = Devices(true);
    MemoryStore store;
    SettingsBlock saved = Changed(lists);
    SaveSettings(saved, lists, store);

    SettingsBlock loaded;
    loaded.Reset("C:\\elsewhere\\", 2);
    loaded.MaxTitle.Assign("kept");
    loaded.SetFileList(u"kept.txt");
    ASSERT_EQ(LoadSettings(loaded, lists, store), 0);
    EXPECT_EQ(Saved(loaded, lists), Saved(saved, lists));
    EXPECT_EQ(loaded.MaxTitle.view(), "kept");
    EXPECT_EQ(loaded.FileList, u"kept.txt");
    EXPECT_EQ(loaded.HelpFile.view(), "C:\\elsewhere\\tollan.hlp");

    MemoryStore empty;
    EXPECT_EQ(LoadSettings(loaded, lists, empty), -1);
    EXPECT_EQ(Saved(loaded, lists), Saved(saved, lists));
}

TEST(SettingsPersistence, UnreadableValuesFailTheLoadButTheRestIsTaken) {
    DeviceLists lists = Devices(true);
    const std::string missing = "missing";
    for (auto [name, data] : std::vector<std::pair<std::string, std::string>>{
             {"MaxErrors", missing},
             {"BaudRate", std::string(8, '\x01')},
             {"Telephone", std::string(1025, '5')}, // larger than the read buffer
             {"ModemCmd", ""}}) {
        MemoryStore store;
        SaveSettings(Changed(lists), lists, store);
        store.values[name] = data;
        if (data == missing) {
            store.values.erase(name);
        }
        SettingsBlock block;
        block.Reset("C:\\", 1);
        EXPECT_EQ(LoadSettings(block, lists, store), -1) << name;
        EXPECT_EQ(NumberOf(block.WindowSize), 2048) << name;
        EXPECT_EQ(block.BaudRate, name == "BaudRate" ? 19200 : 57600) << name;
    }
}

TEST(SettingsPersistence, HandEditedValuesAreTakenAsStoredAndCut) {
    DeviceLists lists = Devices(true);
    MemoryStore store;
    SaveSettings(Changed(lists), lists, store);
    store.values["BaudRate"] = Dword(2400);
    store.values["Protocol"] = Dword(9);
    store.values["CrashRecovery"] = Dword(0x00070002);      // only the low 16 bits count
    store.values["MaxErrors"] = std::string("\x05\x00", 2); // short data is fine
    store.values["DefaultDir"] = std::string(1024, 'd');    // fits the buffer exactly
    store.values["Telephone"] = std::string(50, '1') + '\0';
    store.values["ModemCmd"] = "ATZ"; // no terminator stored
    store.values["ModemName"] = std::string("Gone 14400\0", 11);
    store.values["Port"] = Dword(9);

    SettingsBlock block = Changed(lists);
    EXPECT_EQ(LoadSettings(block, lists, store), 0);
    EXPECT_EQ(block.BaudRate, 2400);
    EXPECT_EQ(NumberOf(block.Protocol), 9);
    EXPECT_EQ(NumberOf(block.CrashRecovery), 2);
    EXPECT_EQ(block.MaxErrors, 5);
    EXPECT_EQ(block.DefaultDir.view(), std::string(260, 'd'));
    EXPECT_EQ(block.Telephone.view(), std::string(40, '1'));
    EXPECT_EQ(block.ModemCmd.view(), "ATZ");
    EXPECT_EQ(block.ModemName, 0); // a vanished modem falls back to the first entry
    EXPECT_EQ(block.PortNumber(lists), 9) << "a vanished port is kept, not another one used";
    block.SetProtocol(NumberOf(block.Protocol));
    EXPECT_EQ(NumberOf(block.Protocol), 2);

    block.UseModem = 1; // without modems UseModem is not read and becomes zero
    EXPECT_EQ(LoadSettings(block, Devices(false), store), 0);
    EXPECT_EQ(block.UseModem, 0);
    store.values.erase("UseModem");
    EXPECT_EQ(LoadSettings(block, Devices(false), store), 0);
}

} // namespace
} // namespace tollan
