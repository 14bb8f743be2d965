// Port and modem enumeration over registry layouts built under a private key that stands in
// for the local machine's root, so that both Windows families can be tried on one system.
#include "device_enumeration.h"

#include <gtest/gtest.h>

#include <string>

namespace tollan {
namespace {

constexpr const char* kNtClass =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kNtModems = "SYSTEM\\CurrentControlSet\\Services\\Modem\\Enum";
constexpr const char* kNtDevices = "SYSTEM\\CurrentControlSet\\Enum";
constexpr const char* kWin95Modems = "System\\CurrentControlSet\\Services\\Class\\Modem";
constexpr const char* kSerial = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

class DeviceEnumeration : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = "Software\\TollanTest\\Machine" + std::to_string(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &root_, nullptr),
                  ERROR_SUCCESS);
    }

    void TearDown() override {
        RegCloseKey(root_);
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TollanTest"); // only when empty
    }

    HKEY Key(const std::string& path) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(root_, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        return key;
    }

    void Text(const std::string& path, const char* name, const std::string& value) {
        HKEY key = Key(path);
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
        RegCloseKey(key);
    }

    void Number(const std::string& path, const char* name, DWORD value) {
        HKEY key = Key(path);
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value);
        RegCloseKey(key);
    }

    // A modem in the Windows NT layout: its instance under the device root, its driver key.
    void NtModem(int index, const std::string& name) {
        std::string instance = "MODEM\\TEST\\000" + std::to_string(index);
        Text(kNtModems, std::to_string(index).c_str(), instance);
        Text(std::string(kNtDevices) + "\\" + instance, "FriendlyName", name);
        Text(std::string(kNtDevices) + "\\" + instance, "Driver",
             "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\000" + std::to_string(index));
        RegCloseKey(Key(NtDriver(index)));
    }

    static std::string NtDriver(int index) {
        return std::string(kNtClass) + "\\000" + std::to_string(index);
    }

    DeviceLists Enumerate(bool ntFamily) {
        DeviceLists lists;
        lists.ports.emplace_back("stale");
        EnumerateDevices(lists, root_, ntFamily);
        return lists;
    }

    std::string path_;
    HKEY root_ = nullptr;
};

TEST_F(DeviceEnumeration, NtFamilyModemsWithoutPortInformationAreLeftOut) {
    Number(kNtModems, "Count", 3);
    NtModem(0, "Courier V.Everything");
    Text(NtDriver(0), "AttachedTo", "COM1");
    NtModem(1, "Courier Fax");
    NtModem(2, "Courier 28800");
    Text(NtDriver(2), "MatchingDeviceId", "test\\courier2");
    Text("ENUM\\test\\courier2\\0000", "PORTNAME", "COM4");

    DeviceLists lists = Enumerate(true);
    EXPECT_TRUE(lists.ntFamily);
    ASSERT_EQ(lists.modems.size(), 2u);
    EXPECT_EQ(lists.modems[0].name.view(), "Courier V.Everything");
    EXPECT_EQ(lists.modems[0].key.view(), NtDriver(0));
    EXPECT_EQ(lists.modems[0].port, 0);
    EXPECT_EQ(lists.modems[1].name.view(), "Courier 28800");
    EXPECT_EQ(lists.modems[1].key.view(), NtDriver(2));
    EXPECT_EQ(lists.modems[1].port, 3);
    EXPECT_TRUE(lists.ports.empty()); // no serial device map here
}

TEST_F(DeviceEnumeration, NtFamilyStopsAtAnInstanceThatCannotBeOpened) {
    Number(kNtModems, "Count", 3);
    NtModem(0, "First");
    Text(NtDriver(0), "AttachedTo", "COM2");
    Text(kNtModems, "1", "MODEM\\MISSING\\0000");
    NtModem(2, "Third");
    Text(NtDriver(2), "AttachedTo", "COM3");
    DeviceLists lists = Enumerate(true);
    ASSERT_EQ(lists.modems.size(), 1u);
    EXPECT_EQ(lists.modems[0].name.view(), "First");
    EXPECT_EQ(lists.modems[0].port, 1);
}

TEST_F(DeviceEnumeration, NtFamilyWithoutACountHasNoModems) {
    NtModem(0, "Uncounted");
    Text(NtDriver(0), "AttachedTo", "COM1");
    EXPECT_TRUE(Enumerate(true).modems.empty());
}

TEST_F(DeviceEnumeration, Win95FamilyModemsAreTheSubkeysOfTheModemClass) {
    std::string modems = kWin95Modems;
    Text(modems + "\\0000", "Model", "Sportster 14400");
    Text(modems + "\\0000", "AttachedTo", "COM2");
    Text(modems + "\\0001", "Model", "No Port Voice");
    Text(modems + "\\0002", "Model", "Plug and Play 33600");
    Text(modems + "\\0002", "MatchingDeviceId", "PNP\\MDM0001");
    Text("ENUM\\PNP\\MDM0001\\0000", "PORTNAME", "COM5");
    Text("ENUM\\PNP\\MDM0001\\0001", "PORTNAME", "COM6"); // the last one counts

    DeviceLists lists = Enumerate(false);
    EXPECT_FALSE(lists.ntFamily);
    ASSERT_EQ(lists.modems.size(), 2u);
    EXPECT_EQ(lists.modems[0].name.view(), "Sportster 14400");
    EXPECT_EQ(lists.modems[0].key.view(), modems + "\\0000");
    EXPECT_EQ(lists.modems[0].port, 1);
    EXPECT_EQ(lists.modems[1].name.view(), "Plug and Play 33600");
    EXPECT_EQ(lists.modems[1].key.view(), modems + "\\0002");
    EXPECT_EQ(lists.modems[1].port, 5);
}

TEST_F(DeviceEnumeration, ADeviceInstanceWithoutPortNameDropsTheModem) {
    std::string modems = kWin95Modems;
    Text(modems + "\\0000", "Model", "Half Listed");
    Text(modems + "\\0000", "MatchingDeviceId", "PNP\\HALF");
    Text("ENUM\\PNP\\HALF\\0000", "PORTNAME", "COM1");
    Text("ENUM\\PNP\\HALF\\0001", "DeviceDesc", "no port name");
    Text(modems + "\\0001", "Model", "No Instances");
    Text(modems + "\\0001", "MatchingDeviceId", "PNP\\EMPTY");
    RegCloseKey(Key("ENUM\\PNP\\EMPTY"));
    Text(modems + "\\0002", "Model", "Unknown Device");
    Text(modems + "\\0002", "MatchingDeviceId", "PNP\\NOWHERE");
    EXPECT_TRUE(Enumerate(false).modems.empty());
}

TEST_F(DeviceEnumeration, EachFamilyReadsOnlyItsOwnLayout) {
    Number(kNtModems, "Count", 1);
    NtModem(0, "NT only");
    Text(NtDriver(0), "AttachedTo", "COM1");
    EXPECT_TRUE(Enumerate(false).modems.empty());
    Text(std::string(kWin95Modems) + "\\0000", "Model", "95 only");
    Text(std::string(kWin95Modems) + "\\0000", "AttachedTo", "COM1");
    DeviceLists nt = Enumerate(true);
    ASSERT_EQ(nt.modems.size(), 1u);
    EXPECT_EQ(nt.modems[0].name.view(), "NT only");
}

TEST_F(DeviceEnumeration, PortsComeInRegistryOrderUntilAnUnreadableOne) {
    Text(kSerial, "A", "COM3");
    Text(kSerial, "B", "COM1");
    Text(kSerial, "C", "COM10");
    DeviceLists lists = Enumerate(true);
    ASSERT_EQ(lists.ports.size(), 3u);
    EXPECT_EQ(lists.ports[0].view(), "COM3");
    EXPECT_EQ(lists.ports[1].view(), "COM1");
    EXPECT_EQ(lists.ports[2].view(), "COM10");
    EXPECT_TRUE(lists.modems.empty());

    Text(kSerial, "D", "COM1234567890"); // longer than a port name may be
    Text(kSerial, "E", "COM2");
    EXPECT_EQ(Enumerate(true).ports.size(), 3u);
}

TEST_F(DeviceEnumeration, WineReportsTheNtFamily) {
    EXPECT_TRUE(IsNtFamily());
}

} // namespace
} // namespace tollan
