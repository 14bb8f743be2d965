#include "settings/device_lists.h"
#include "settings/settings_block.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tollan {
namespace {

DeviceLists Lists(std::vector<std::string> ports, std::vector<std::string> modems) {
    DeviceLists lists;
    for (const auto& port : ports) {
        lists.ports.emplace_back(port);
    }
    for (const auto& name : modems) {
        ModemEntry modem;
        modem.name.Assign(name);
        lists.modems.push_back(modem);
    }
    return lists;
}

TEST(SettingsReset, GivesTheDefaultsAndKeepsTheCounters) {
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

    std::string directory = "C:\\" + std::string(300, 'd') + "\\";
    block.Reset(directory, 1); // a long module directory is cut to the fields
    EXPECT_EQ(block.DefaultDir.size(), 260u);
    EXPECT_EQ(block.HelpFile.size(), 261u);
    EXPECT_EQ(block.LogFilename.size(), 260u);
}

TEST(SettingsReset, DefaultTypeSelectsTheProtocolDefaults) {
    struct Case {
        int16_t type, protocol, flow, window;
    };
    for (Case c : {Case{1, 0, 0, 0}, Case{2, 1, 2, 0}, Case{3, 1, 1, 1024}, Case{0, 0, 0, 0},
                   Case{7, 0, 0, 0}, Case{-2, 0, 0, 0}}) {
        SettingsBlock block;
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
    const std::pair<int32_t, int32_t> rates[] = {
        {INT32_MIN, 9600}, {0, 9600},        {19199, 9600},      {19200, 19200},
        {38399, 19200},    {38400, 38400},   {57599, 38400},     {57600, 57600},
        {115199, 57600},   {115200, 115200}, {INT32_MAX, 115200}};
    for (auto [written, read] : rates) {
        block.SetBaudRate(written);
        EXPECT_EQ(block.BaudRate, read) << written;
    }
    const std::pair<int16_t, int16_t> windows[] = {{INT16_MIN, 0}, {1023, 0},        {1024, 1024},
                                                   {2047, 1024},   {2048, 2048},     {4095, 2048},
                                                   {4096, 4096},   {INT16_MAX, 4096}};
    for (auto [written, read] : windows) {
        block.SetWindowSize(written);
        EXPECT_EQ(NumberOf(block.WindowSize), read) << written;
    }
}

TEST(SettingsWrites, ChoicesAreClampedToTheirRanges) {
    SettingsBlock block;
    struct Case {
        void (SettingsBlock::*set)(int16_t);
        int (*read)(const SettingsBlock&);
        int16_t low, high;
    };
    for (Case c :
         {Case{&SettingsBlock::SetCrashRecovery,
               [](const SettingsBlock& b) { return int{NumberOf(b.CrashRecovery)}; }, 1, 3},
          Case{&SettingsBlock::SetFlowControl,
               [](const SettingsBlock& b) { return int{NumberOf(b.FlowControl)}; }, 0, 2},
          Case{&SettingsBlock::SetPathSwitch,
               [](const SettingsBlock& b) { return int{NumberOf(b.PathSwitch)}; }, 0, 2},
          Case{&SettingsBlock::SetProtocol,
               [](const SettingsBlock& b) { return int{NumberOf(b.Protocol)}; }, 0, 2},
          Case{&SettingsBlock::SetMaxErrors,
               [](const SettingsBlock& b) { return int{b.MaxErrors}; }, 0, 50},
          Case{&SettingsBlock::SetOverwrite,
               [](const SettingsBlock& b) { return int{NumberOf(b.Overwrite)}; }, 1, 7}}) {
        for (int value : {INT16_MIN, -1, 0, 1, 2, 3, 7, 9, 50, 99, INT16_MAX}) {
            (block.*c.set)(static_cast<int16_t>(value));
            int expected = value < c.low ? c.low : (value > c.high ? c.high : value);
            EXPECT_EQ(c.read(block), expected) << "range " << c.low << ".." << c.high;
        }
    }
}

// A number no listed port has is kept: another device is never used in its place.
TEST(SettingsWrites, PortIsLookedUpByItsExactNumber) {
    EXPECT_EQ(PortNumberOf("COM12"), 12);
    EXPECT_EQ(PortNumberOf("COM"), 0);
    EXPECT_EQ(PortNumberOf("COM99999999999"), INT32_MAX);

    DeviceLists lists = Lists({"COM3", "COM1", "COM10", "COM07"}, {});
    SettingsBlock block;
    EXPECT_EQ(block.PortNumber(lists), 3);
    block.SetPort(10, lists);
    EXPECT_EQ(block.Port, 2);
    block.SetPort(7, lists); // "COM07" is not 7
    EXPECT_EQ(block.Port, kUnlistedPort);
    EXPECT_EQ(block.PortNumber(lists), 7);
    block.SetPort(4, DeviceLists{});
    EXPECT_EQ(block.PortNumber(DeviceLists{}), 4);
}

TEST(SettingsWrites, ModemNameSelectsTheFirstModemWithThatPrefix) {
    DeviceLists lists = Lists({"COM1"}, {"Standard 56000 bps", "Sportster 28800", "Standard 9600"});
    SettingsBlock block;
    struct Case {
        const char* prefix;
        uint16_t modem;
    };
    for (Case c :
         {Case{"Sport", 1}, Case{"Standard 9", 2}, Case{"Standard", 0}, Case{"Sportster 28800", 1},
          Case{"sportster", 0}, Case{"Sportster 28800 plus", 0}, Case{"", 0}}) {
        block.SetModemName(c.prefix, lists);
        EXPECT_EQ(block.ModemName, c.modem) << c.prefix;
    }
    block.SetModemName("Sport", lists);
    EXPECT_EQ(block.ModemDisplayName(lists), "Sportster 28800");
    EXPECT_EQ(block.ModemDisplayName(DeviceLists{}), "");
}

TEST(SettingsWrites, UseModemNeedsAModem) {
    SettingsBlock block;
    block.SetUseModem(1, Lists({"COM1"}, {}));
    EXPECT_EQ(block.UseModem, 0);
    block.SetUseModem(-7, Lists({}, {"Modem"}));
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
             {"plain", "plain"},
             {"#", "555-0103"}, // reuses entry 3
             {"#7", std::string(40, '7')},
             {"#5", ""},
             {"#a", ""}, // still entry 5
             {"#3", "555-0103"}}) {
        block.SetTelephone(text, lookup);
        EXPECT_EQ(block.Telephone.view(), stored) << text;
    }
    block.Reset("C:\\", 1); // keeps the remembered entry
    EXPECT_TRUE(block.Telephone.empty());
    block.SetTelephone("#-", lookup);
    EXPECT_EQ(block.Telephone.view(), "555-0103");
}

} // namespace
} // namespace tollan
