#include "device_lists.h"
#include "settings_block.h"

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
    int number = 0;
    for (const auto& name : modems) {
        ModemEntry modem;
        modem.name.Assign(name);
        modem.key.Assign("SYSTEM\\CurrentControlSet\\Control\\Class\\modem\\" + name);
        modem.port = number++;
        lists.modems.push_back(modem);
    }
    return lists;
}

TEST(FixedText, CutsToItsCapacityAndAtAZeroByte) {
    FixedText<5> text("abcdefgh");
    EXPECT_EQ(text.view(), "abcde");
    text.Assign(std::string_view("ab\0cd", 5));
    EXPECT_EQ(text.view(), "ab");
    text.Assign("");
    EXPECT_TRUE(text.empty());
}

TEST(SettingsReset, GivesEveryDefaultAndKeepsTheCounters) {
    SettingsBlock block;
    block.Attempted = 4;
    block.Transferred = 3;
    block.BaudRate = 115200;
    block.HostMode = 1;
    block.MaxTitle.Assign("title");
    block.ModemName = 2;
    block.Port = 5;
    block.UseModem = 1;
    block.SetFileList(u"a.txt;b.txt");
    block.Reset("C:\\Program Files\\tollan\\", 1);

    EXPECT_EQ(block.AppendToLog, 0);
    EXPECT_EQ(block.Attempted, 4);
    EXPECT_EQ(block.BaudRate, 19200);
    EXPECT_EQ(block.CrashRecovery, 1);
    EXPECT_EQ(block.DefaultDir.view(), "C:\\Program Files\\tollan");
    EXPECT_TRUE(block.FileList.empty());
    EXPECT_EQ(block.FlowControl, 0);
    EXPECT_EQ(block.HelpFile.view(), "C:\\Program Files\\tollan\\tollan.hlp");
    EXPECT_EQ(block.HostMode, 0);
    EXPECT_EQ(block.LogFilename.view(), "C:\\Program Files\\tollan\\tollan.log");
    EXPECT_EQ(block.LogToFile, 0);
    EXPECT_EQ(block.LogToScreen, 0);
    EXPECT_EQ(block.MaxErrors, 0);
    EXPECT_TRUE(block.MaxTitle.empty());
    EXPECT_TRUE(block.MinTitle.empty());
    EXPECT_TRUE(block.ModemCmd.empty());
    EXPECT_EQ(block.ModemName, 0);
    EXPECT_EQ(block.Overwrite, 7);
    EXPECT_EQ(block.PathSwitch, 0);
    EXPECT_EQ(block.Port, 0);
    EXPECT_EQ(block.Protocol, 0);
    EXPECT_EQ(block.RecvTimeout, 60);
    EXPECT_EQ(block.RunMinimized, 0);
    EXPECT_EQ(block.SendTimeout, 60);
    EXPECT_TRUE(block.Telephone.empty());
    EXPECT_EQ(block.Transfer, 1);
    EXPECT_EQ(block.Transferred, 3);
    EXPECT_EQ(block.UseModem, 0);
    EXPECT_EQ(block.Verbose, 0);
    EXPECT_EQ(block.WindowSize, 0);
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
        EXPECT_EQ(block.Protocol, c.protocol) << "type " << c.type;
        EXPECT_EQ(block.FlowControl, c.flow) << "type " << c.type;
        EXPECT_EQ(block.WindowSize, c.window) << "type " << c.type;
    }
}

TEST(SettingsReset, LongModuleDirectoriesAreCutToTheFields) {
    std::string directory = "C:\\" + std::string(300, 'd') + "\\";
    SettingsBlock block;
    block.Reset(directory, 1);
    EXPECT_EQ(block.DefaultDir.size(), 260u);
    EXPECT_EQ(block.HelpFile.size(), 261u);
    EXPECT_EQ(block.LogFilename.size(), 260u);
    block.Reset("", 1);
    EXPECT_TRUE(block.DefaultDir.empty());
    EXPECT_EQ(block.HelpFile.view(), "tollan.hlp");
}

TEST(SettingsWrites, BaudRateSnapsDownToASupportedRate) {
    std::vector<std::pair<int32_t, int32_t>> cases = {
        {INT32_MIN, 9600}, {-5, 9600},       {0, 9600},          {2400, 9600},
        {19199, 9600},     {19200, 19200},   {38399, 19200},     {38400, 38400},
        {57599, 38400},    {57600, 57600},   {100000, 57600},    {115199, 57600},
        {115200, 115200},  {200000, 115200}, {INT32_MAX, 115200}};
    SettingsBlock block;
    for (auto [written, read] : cases) {
        block.SetBaudRate(written);
        EXPECT_EQ(block.BaudRate, read) << written;
    }
}

TEST(SettingsWrites, WindowSizeSnapsDownToAWindow) {
    std::vector<std::pair<int16_t, int16_t>> cases = {
        {INT16_MIN, 0}, {-1, 0},      {1023, 0},    {1024, 1024}, {1500, 1024},     {2047, 1024},
        {2048, 2048},   {3000, 2048}, {4095, 2048}, {4096, 4096}, {INT16_MAX, 4096}};
    SettingsBlock block;
    for (auto [written, read] : cases) {
        block.SetWindowSize(written);
        EXPECT_EQ(block.WindowSize, read) << written;
    }
}

TEST(SettingsWrites, ChoicesAreClampedToTheirRanges) {
    SettingsBlock block;
    struct Case {
        void (SettingsBlock::*set)(int16_t);
        int16_t SettingsBlock::*field;
        int16_t low, high;
    };
    for (Case c : {Case{&SettingsBlock::SetCrashRecovery, &SettingsBlock::CrashRecovery, 1, 3},
                   Case{&SettingsBlock::SetFlowControl, &SettingsBlock::FlowControl, 0, 2},
                   Case{&SettingsBlock::SetPathSwitch, &SettingsBlock::PathSwitch, 0, 2},
                   Case{&SettingsBlock::SetProtocol, &SettingsBlock::Protocol, 0, 2},
                   Case{&SettingsBlock::SetMaxErrors, &SettingsBlock::MaxErrors, 0, 50},
                   Case{&SettingsBlock::SetOverwrite, &SettingsBlock::Overwrite, 1, 7}}) {
        for (int value : {INT16_MIN, -1, 0, 1, 2, 3, 7, 9, 50, 99, INT16_MAX}) {
            (block.*c.set)(static_cast<int16_t>(value));
            int expected = value < c.low ? c.low : (value > c.high ? c.high : value);
            EXPECT_EQ(block.*c.field, expected) << "range " << c.low << ".." << c.high;
        }
    }
}

TEST(SettingsWrites, PortIsLookedUpByItsExactNumber) {
    DeviceLists lists = Lists({"COM3", "COM1", "COM10", "COM07", "COM1"}, {});
    SettingsBlock block;
    EXPECT_EQ(block.PortNumber(lists), 3);
    block.SetPort(1, lists);
    EXPECT_EQ(block.Port, 1);
    EXPECT_EQ(block.PortNumber(lists), 1);
    block.SetPort(10, lists);
    EXPECT_EQ(block.Port, 2);
    block.SetPort(7, lists); // "COM07" is not 7
    EXPECT_EQ(block.Port, 0);
    EXPECT_EQ(block.PortNumber(lists), 3);
    block.SetPort(-1, lists);
    EXPECT_EQ(block.Port, 0);
}

TEST(SettingsReads, PortWithoutPortsIsOne) {
    DeviceLists none;
    SettingsBlock block;
    block.SetPort(4, none);
    EXPECT_EQ(block.Port, 0);
    EXPECT_EQ(block.PortNumber(none), 1);
}

TEST(DeviceLists, PortNumberIsReadAfterTheFirstThreeCharacters) {
    EXPECT_EQ(PortNumberOf("COM12"), 12);
    EXPECT_EQ(PortNumberOf("LPT2x"), 2);
    EXPECT_EQ(PortNumberOf("COM"), 0);
    EXPECT_EQ(PortNumberOf("CO"), 0);
    EXPECT_EQ(PortNumberOf("COMx"), 0);
    EXPECT_EQ(PortNumberOf("COM 4"), 4);
    EXPECT_EQ(PortNumberOf("COM99999999999"), INT32_MAX);
}

TEST(SettingsWrites, ModemNameSelectsTheFirstModemWithThatPrefix) {
    DeviceLists lists = Lists({"COM1"}, {"Standard 56000 bps", "Sportster 28800", "Standard 9600"});
    SettingsBlock block;
    EXPECT_EQ(block.ModemDisplayName(lists), "Standard 56000 bps");
    block.SetModemName("Sport", lists);
    EXPECT_EQ(block.ModemName, 1);
    EXPECT_EQ(block.ModemDisplayName(lists), "Sportster 28800");
    block.SetModemName("Standard 9", lists);
    EXPECT_EQ(block.ModemName, 2);
    block.SetModemName("Standard", lists); // the first match wins
    EXPECT_EQ(block.ModemName, 0);
    block.SetModemName("Sportster 28800", lists);
    EXPECT_EQ(block.ModemName, 1);
    block.SetModemName("sportster", lists); // case matters
    EXPECT_EQ(block.ModemName, 0);
    block.SetModemName("Sportster 28800 plus", lists);
    EXPECT_EQ(block.ModemName, 0);
    block.SetModemName("Sport", lists);
    block.SetModemName("", lists);
    EXPECT_EQ(block.ModemName, 0);
}

TEST(SettingsReads, ModemNameWithoutModemsIsEmpty) {
    DeviceLists none;
    SettingsBlock block;
    block.SetModemName("Any", none);
    EXPECT_EQ(block.ModemName, 0);
    EXPECT_EQ(block.ModemDisplayName(none), "");
}

TEST(SettingsWrites, UseModemNeedsAModem) {
    SettingsBlock block;
    block.SetUseModem(1, Lists({"COM1"}, {}));
    EXPECT_EQ(block.UseModem, 0);
    block.SetUseModem(-7, Lists({}, {"Modem"}));
    EXPECT_EQ(block.UseModem, -7);
    block.SetUseModem(0, Lists({}, {"Modem"}));
    EXPECT_EQ(block.UseModem, 0);
}

TEST(SettingsWrites, FileListIsCopiedOrEmptied) {
    SettingsBlock block;
    std::u16string list = u"C:\\a.txt;C:\\\u00e9t\u00e9.txt";
    block.SetFileList(list);
    EXPECT_EQ(block.FileList, list);
    block.SetFileList(u"");
    EXPECT_TRUE(block.FileList.empty());
}

class Telephone : public ::testing::Test {
protected:
    std::map<std::string, std::string> listing_ = {
        {"0.Phone", "555-0100"}, {"3.Phone", "555-0103"}, {"7.Phone", std::string(60, '7')}};
    std::vector<std::string> asked_;
    TelephoneLookup lookup_ = [this](const std::string& name, std::string& number) {
        asked_.push_back(name);
        auto it = listing_.find(name);
        if (it == listing_.end()) {
            return false;
        }
        number = it->second;
        return true;
    };
};

TEST_F(Telephone, PlainTextIsStoredCutToFortyCharacters) {
    SettingsBlock block;
    block.SetTelephone("ATDT 555 0199", lookup_);
    EXPECT_EQ(block.Telephone.view(), "ATDT 555 0199");
    block.SetTelephone(std::string(50, '9'), lookup_);
    EXPECT_EQ(block.Telephone.view(), std::string(40, '9'));
    block.SetTelephone("", lookup_);
    EXPECT_TRUE(block.Telephone.empty());
    EXPECT_TRUE(asked_.empty());
}

TEST_F(Telephone, HashNamesAnEntryOfTheListing) {
    SettingsBlock block;
    block.SetTelephone("#x", lookup_); // no entry named before: entry 0
    EXPECT_EQ(block.Telephone.view(), "555-0100");
    block.SetTelephone("#3", lookup_);
    EXPECT_EQ(block.Telephone.view(), "555-0103");
    block.SetTelephone("plain", lookup_);
    block.SetTelephone("#", lookup_); // reuses entry 3
    EXPECT_EQ(block.Telephone.view(), "555-0103");
    block.SetTelephone("#7", lookup_);
    EXPECT_EQ(block.Telephone.view(), std::string(40, '7'));
    block.SetTelephone("#5", lookup_); // no such entry
    EXPECT_TRUE(block.Telephone.empty());
    block.SetTelephone("#a", lookup_); // still entry 5
    EXPECT_TRUE(block.Telephone.empty());
    EXPECT_EQ(asked_, (std::vector<std::string>{"0.Phone", "3.Phone", "3.Phone", "7.Phone",
                                                "5.Phone", "5.Phone"}));
}

TEST_F(Telephone, ResetKeepsTheRememberedEntry) {
    SettingsBlock block;
    block.SetTelephone("#3", lookup_);
    block.Reset("C:\\", 1);
    EXPECT_TRUE(block.Telephone.empty());
    block.SetTelephone("#-", lookup_);
    EXPECT_EQ(block.Telephone.view(), "555-0103");
}

} // namespace
} // namespace tollan
