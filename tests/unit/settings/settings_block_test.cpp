#include "settings/device_lists.h"
#include "settings/settings_block.h"
#include "settings/settings_persistence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tollan {
namespace {

// Ports in no particular order ("COM07" is not port 7) and modems whose names share prefixes.
DeviceLists Devices(bool withModems = true) {
    DeviceLists lists;
    for (const char* port : {"COM3", "COM1", "COM10", "COM07", "COM4"}) {
        lists.ports.emplace_back(port);
    }
    for (const char* name : {"Standard 56000 bps", "Sportster 28800", "Standard 9600"}) {
        if (withModems) {
            lists.modems.emplace_back().name.Assign(name);
        }
    }
    return lists;
}

TEST(SettingsReset, GivesTheDefaultsOfItsTypeAndKeepsTheCounters) {
    SettingsBlock block;
    block.Attempted = 4;
    block.Transferred = 3;
    block.BaudRate = 115200;
    block.MaxTitle.Assign("title");
    block.ModemName = 2;
    block.Port = 5;
    block.UseModem = 1;
    block.SetFileList(u"a.txt;b.txt");
    block.Reset("C:\\Program Files\\tollan\\", 1);

    // The paths come from the module's directory; what was chosen before is gone.
    EXPECT_EQ(block.Attempted, 4);
    EXPECT_EQ(block.Transferred, 3);
    EXPECT_EQ(block.BaudRate, 19200);
    EXPECT_EQ(block.DefaultDir.view(), "C:\\Program Files\\tollan");
    EXPECT_EQ(block.HelpFile.view(), "C:\\Program Files\\tollan\\tollan.hlp");
    EXPECT_EQ(block.LogFilename.view(), "C:\\Program Files\\tollan\\tollan.log");
    EXPECT_TRUE(block.FileList.empty() && block.MaxTitle.empty());
    EXPECT_EQ(block.ModemName + block.Port + block.UseModem, 0);

    struct Case {
        int16_t type, protocol, flow, window;
    };
    for (Case c : {Case{1, 0, 0, 0}, Case{2, 1, 2, 0}, Case{3, 1, 1, 1024}, Case{7, 0, 0, 0}}) {
        block.SetWindowSize(4096);
        block.SetFlowControl(1);
        block.Reset("C:\\", c.type);
        EXPECT_EQ(NumberOf(block.Protocol), c.protocol) << "type " << c.type;
        EXPECT_EQ(NumberOf(block.FlowControl), c.flow) << "type " << c.type;
        EXPECT_EQ(NumberOf(block.WindowSize), c.window) << "type " << c.type;
    }
}

TEST(SettingsWrites, RatesAndWindowsSnapDown) {
    SettingsBlock block;
    const std::pair<int32_t, int32_t> rates[] = {{19199, 9600},   {19200, 19200},  {38399, 19200},
                                                 {38400, 38400},  {57599, 38400},  {57600, 57600},
                                                 {115199, 57600}, {115200, 115200}};
    for (auto [written, read] : rates) {
        block.SetBaudRate(written);
        EXPECT_EQ(block.BaudRate, read) << written;
    }
    const std::pair<int16_t, int16_t> windows[] = {{1023, 0},    {1024, 1024}, {2047, 1024},
                                                   {2048, 2048}, {4095, 2048}, {4096, 4096}};
    for (auto [written, read] : windows) {
        block.SetWindowSize(written);
        EXPECT_EQ(NumberOf(block.WindowSize), read) << written;
    }
}

TEST(SettingsWrites, ChoicesAreClampedToTheirRanges) {
    SettingsBlock block;
    for (int value : {INT16_MIN, -1, 0, 1, 2, 3, 7, 9, 50, 99, INT16_MAX}) {
        const auto written = static_cast<int16_t>(value);
        block.SetCrashRecovery(written);
        block.SetFlowControl(written);
        block.SetPathSwitch(written);
        block.SetProtocol(written);
        block.SetMaxErrors(written);
        block.SetOverwrite(written);
        EXPECT_EQ(NumberOf(block.CrashRecovery), std::clamp(value, 1, 3)) << value;
        EXPECT_EQ(NumberOf(block.FlowControl), std::clamp(value, 0, 2)) << value;
        EXPECT_EQ(NumberOf(block.PathSwitch), std::clamp(value, 0, 2)) << value;
        EXPECT_EQ(NumberOf(block.Protocol), std::clamp(value, 0, 2)) << value;
        EXPECT_EQ(block.MaxErrors, std::clamp(value, 0, 50)) << value;
        EXPECT_EQ(NumberOf(block.Overwrite), std::clamp(value, 1, 7)) << value;
    }
}

// A port is looked up by its exact number, and a number no listed port has is kept: another
// device is never used in its place. A modem is the first whose name has the prefix; UseModem is
// kept only when there are modems.
TEST(SettingsWrites, DevicesAreChosenFromTheLists) {
    EXPECT_EQ(PortNumberOf("COM"), 0);
    EXPECT_EQ(PortNumberOf("COM99999999999"), INT32_MAX);

    DeviceLists lists = Devices();
    SettingsBlock block;
    EXPECT_EQ(block.PortNumber(lists), 3);
    block.SetPort(10, lists);
    EXPECT_EQ(block.Port, 2);
    block.SetPort(7, lists); // "COM07" is not 7
    EXPECT_EQ(block.Port, kUnlistedPort);
    EXPECT_EQ(block.PortNumber(lists), 7);

    const std::pair<const char*, uint16_t> modems[] = {
        {"Sport", 1},     {"Standard 9", 2},           {"Standard", 0},
        {"sportster", 0}, {"Sportster 28800 plus", 0}, {"", 0}};
    for (auto [prefix, modem] : modems) {
        block.SetModemName(prefix, lists);
        EXPECT_EQ(block.ModemName, modem) << prefix;
    }
    block.SetUseModem(1, Devices(false));
    EXPECT_EQ(block.UseModem, 0);
    block.SetUseModem(-7, Devices());
    EXPECT_EQ(block.UseModem, -7);
}

TEST(SettingsWrites, TelephoneIsCutOrTakenFromTheListing) {
    std::map<std::string, std::string> listing = {
        {"0.Phone", "555-0100"}, {"3.Phone", "555-0103"}, {"7.Phone", std::string(60, '7')}};
    TelephoneLookup lookup = [&](const std::string& name, std::string& number) {
        auto it = listing.find(name);
        return it != listing.end() && (number = it->second, true);
    };
    SettingsBlock block;
    for (auto [text, stored] : std::vector<std::pair<std::string, std::string>>{
             {std::string(50, '9'), std::string(40, '9')},
             {"#x", "555-0100"}, // no entry named before: entry 0
             {"#3", "555-0103"},
             {"#", "555-0103"}, // reuses entry 3: a non-digit names no entry
             {"#5", ""},
             {"#7", std::string(40, '7')}}) {
        block.SetTelephone(text, lookup);
        EXPECT_EQ(block.Telephone.view(), stored) << text;
    }
    block.Reset("C:\\", 1); // keeps the remembered entry
    EXPECT_TRUE(block.Telephone.empty());
    block.SetTelephone("#-", lookup);
    EXPECT_EQ(block.Telephone.view(), std::string(40, '7'));
}

// A number as the settings key stores it: four bytes, in the machine's order.
std::string Dword(uint32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

// An in-memory settings key: raw value data by name.
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
    void WriteNumber(const char* name, uint32_t value) override { values[name] = Dword(value); }
    void WriteText(const char* name, std::string_view text) override {
        values[name] = std::string(text) + '\0';
    }

    std::map<std::string, std::string> values;
};

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
    block.SetPort(10, lists);
    block.SetProtocol(1);
    block.RecvTimeout = 75;
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

TEST(SettingsPersistence, SaveWritesEveryValueAndLoadGivesBackThoseAlone) {
    DeviceLists lists = Devices();
    MemoryStore store;
    SettingsBlock saved = Changed(lists);
    SaveSettings(saved, lists, store);
    EXPECT_EQ(store.values.size(), 20u);
    EXPECT_EQ(store.values["AppendToLog"], Dword(0xFFFFFFFFu));
    EXPECT_EQ(store.values["Port"], Dword(10)); // saved by number, not position
    EXPECT_EQ(store.values["ModemName"], std::string("Sportster 28800\0", 16));

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

    loaded.WindowSize = static_cast<WindowSize>(INT16_MIN); // as a hand-edited value loads
    SaveSettings(loaded, lists, store);
    EXPECT_EQ(store.values["WindowSize"], Dword(0x8000u)); // short fields are zero-extended
    loaded.Reset("C:\\", 1);
    SaveSettings(loaded, DeviceLists{}, store);
    EXPECT_EQ(store.values["Port"], Dword(0));
    EXPECT_EQ(store.values["ModemName"], std::string(1, '\0'));
}

TEST(SettingsPersistence, UnreadableValuesFailTheLoadButTheRestIsTaken) {
    DeviceLists lists = Devices();
    for (auto [name, data] : std::vector<std::pair<std::string, std::string>>{
             {"BaudRate", std::string(8, '\x01')},
             {"Telephone", std::string(1025, '5')}, // larger than the read buffer
             {"ModemCmd", ""}}) {
        MemoryStore store;
        SaveSettings(Changed(lists), lists, store);
        store.values[name] = data; // a missing value is the empty store's case
        SettingsBlock block;
        block.Reset("C:\\", 1);
        EXPECT_EQ(LoadSettings(block, lists, store), -1) << name;
        EXPECT_EQ(NumberOf(block.WindowSize), 2048) << name;
        EXPECT_EQ(block.BaudRate, name == "BaudRate" ? 19200 : 57600) << name;
    }
}

TEST(SettingsPersistence, HandEditedValuesAreTakenAsStoredAndCut) {
    DeviceLists lists = Devices();
    MemoryStore store;
    SaveSettings(Changed(lists), lists, store);
    store.values["BaudRate"] = Dword(2400);
    store.values["Protocol"] = Dword(9);
    store.values["CrashRecovery"] = Dword(0x00070002);      // only the low 16 bits count
    store.values["MaxErrors"] = std::string("\x05\x00", 2); // short data is fine
    store.values["DefaultDir"] = std::string(1024, 'd');    // fits the buffer exactly
    store.values["ModemCmd"] = "ATZ";                       // no terminator stored
    store.values["ModemName"] = std::string("Gone 14400\0", 11);
    store.values["Port"] = Dword(9);

    SettingsBlock block = Changed(lists);
    EXPECT_EQ(LoadSettings(block, lists, store), 0);
    EXPECT_EQ(block.BaudRate, 2400);
    EXPECT_EQ(NumberOf(block.Protocol), 9);
    EXPECT_EQ(NumberOf(block.CrashRecovery), 2);
    EXPECT_EQ(block.MaxErrors, 5);
    EXPECT_EQ(block.DefaultDir.view(), std::string(260, 'd'));
    EXPECT_EQ(block.ModemCmd.view(), "ATZ");
    EXPECT_EQ(block.ModemName, 0); // a vanished modem falls back to the first entry
    EXPECT_EQ(block.PortNumber(lists), 9) << "a vanished port is kept, not another one used";

    block.UseModem = 1; // without modems UseModem is not read and becomes zero
    EXPECT_EQ(LoadSettings(block, Devices(false), store), 0);
    EXPECT_EQ(block.UseModem, 0);
    store.values.erase("UseModem");
    EXPECT_EQ(LoadSettings(block, Devices(false), store), 0);
}

} // namespace
} // namespace tollan
