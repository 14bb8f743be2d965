// Port and modem enumeration over registry layouts built under a private key that stands in
// for the local machine's root, so that both Windows families can be tried on one system.
#include "setup/device_enumeration.h"

#include <gtest/gtest.h>

#include "support/win32_sheet_driver.h"

#include <string>
#include <vector>

namespace tollan {
namespace {

const std::string kNtClass =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\000";
const std::string kNtModems = "SYSTEM\\CurrentControlSet\\Services\\Modem\\Enum";
const std::string kWin95Modems = "System\\CurrentControlSet\\Services\\Class\\Modem\\000";

class DeviceEnumeration : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = "Software\\TollanTest" + std::to_string(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &root_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(root_);
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    }

    void Set(const std::string& path, const char* name, const std::string& value) {
        testing::SetRegistryText(root_, path, name, value);
    }

    // A modem in the Windows NT layout: its instance under the device root, its driver key.
    void NtModem(int index, const std::string& name, const char* port, const char* value) {
        std::string instance = "MODEM\\TEST\\000" + std::to_string(index);
        Set(kNtModems, std::to_string(index).c_str(), instance);
        Set("SYSTEM\\CurrentControlSet\\Enum\\" + instance, "FriendlyName", name);
        Set("SYSTEM\\CurrentControlSet\\Enum\\" + instance, "Driver",
            "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\000" + std::to_string(index));
        Set(kNtClass + std::to_string(index), value, port);
    }

    DeviceLists Enumerate(bool ntFamily) {
        DeviceLists lists;
        lists.ports.emplace_back("stale");
        EnumerateDevices(lists, root_, ntFamily);
        return lists;
    }

    // What was found: the ports' names, then each modem as "name @port number".
    static std::vector<std::string> Devices(const DeviceLists& lists) {
        std::vector<std::string> found;
        for (const PortName& port : lists.ports) {
            found.emplace_back(port.view());
        }
        for (const ModemEntry& modem : lists.modems) {
            found.push_back(std::string(modem.name.view()) + " @" + std::to_string(modem.port));
        }
        return found;
    }

    std::string path_;
    HKEY root_ = nullptr;
};

// An unreadable entry is passed over; a plug-and-play modem's port is in its instance's
// "Device Parameters", as Windows writes it. Ports come in registry order, passing over a name
// too long to be one.
TEST_F(DeviceEnumeration, NtFamilyModemsWithoutPortInformationAreLeftOut) {
    const DWORD count = 6;
    testing::SetRegistryValue(root_, kNtModems, "Count", REG_DWORD, &count, sizeof count);
    NtModem(0, "Courier V.Everything", "COM1", "AttachedTo");
    NtModem(1, "Courier Fax", "", "Model");
    NtModem(2, "Courier 28800", "test\\courier2", "MatchingDeviceId");
    Set("ENUM\\test\\courier2\\0000", "PORTNAME", "COM4");
    Set(kNtModems, "3", "MODEM\\MISSING\\0000");
    NtModem(4, "After", "COM2", "AttachedTo");
    NtModem(5, "USB Modem", "", "Model");
    Set("SYSTEM\\CurrentControlSet\\Enum\\MODEM\\TEST\\0005\\Device Parameters", "PortName",
        "COM12");
    const std::string serial = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
    Set(serial, "A", "COM3");
    Set(serial, "B", "COM1");
    Set(serial, "C", "COM1234567890"); // longer than a port name may be
    Set(serial, "D", "COM2");

    DeviceLists lists = Enumerate(true);
    EXPECT_TRUE(lists.ntFamily);
    EXPECT_EQ(Devices(lists),
              (std::vector<std::string>{"COM3", "COM1", "COM2", "Courier V.Everything @0",
                                        "Courier 28800 @3", "After @1", "USB Modem @11"}));
    EXPECT_EQ(lists.modems.at(0).key.view(), kNtClass + "0");
    EXPECT_TRUE(Enumerate(false).modems.empty()); // the other family's layout
}

TEST_F(DeviceEnumeration, Win95FamilyModemsAreTheSubkeysOfTheModemClass) {
    Set(kWin95Modems + "0", "Model", "Sportster 14400");
    Set(kWin95Modems + "0", "AttachedTo", "COM2");
    Set(kWin95Modems + "1", "Model", "No Port Voice");
    Set(kWin95Modems + "2", "Model", "Plug and Play 33600");
    Set(kWin95Modems + "2", "MatchingDeviceId", "PNP\\MDM0001");
    Set("ENUM\\PNP\\MDM0001\\0000", "PORTNAME", "COM5");
    Set("ENUM\\PNP\\MDM0001\\0001", "PORTNAME", "COM6"); // the last one counts
    Set(kWin95Modems + "3", "Model", "Half Listed");
    Set(kWin95Modems + "3", "MatchingDeviceId", "PNP\\HALF");
    Set("ENUM\\PNP\\HALF\\0000", "PORTNAME", "COM1");
    Set("ENUM\\PNP\\HALF\\0001", "DeviceDesc", "an instance without a port name");

    DeviceLists lists = Enumerate(false);
    EXPECT_FALSE(lists.ntFamily);
    // No serial device map here: no ports.
    EXPECT_EQ(Devices(lists),
              (std::vector<std::string>{"Sportster 14400 @1", "Plug and Play 33600 @5"}));
    EXPECT_EQ(lists.modems.at(0).key.view(), kWin95Modems + "0");
}

} // namespace
} // namespace tollan
