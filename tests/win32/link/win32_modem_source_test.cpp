// The modem profile reading an installed modem from the registry under Wine: each test writes a
// driver key below the local machine of the throwaway prefix, initialises a profile over an
// in-memory pair from it (the modem's "OK" lines queued in advance) and reads back the bytes.
// What the profile makes of the strings (defaults, lengths, lists) is tested over an in-memory
// source in tests/unit/link; here, what only the registry has: value types and buffer edges.
//
// Wine has no modem provider (GetDefaultCommConfigA only knows serial ports), so the settings
// come from the driver key's "Default" record.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>

#include "link/link_codes.h"
#include "link/win32_modem_source.h"
#include "support/modem_fixture.h"
#include "support/win32_sheet_driver.h"

namespace tollan {
namespace {

constexpr const char* kKey = "SOFTWARE\\TollanTest\\Class\\{4D36E96D}\\0000";

// The driver key of a test; gone again with the object.
class RegistryModem {
public:
    RegistryModem() {
        for (const ModemValue& value : kStandardModemValues) {
            EXPECT_TRUE(testing::SetRegistryText(HKEY_LOCAL_MACHINE, Path(value.subkey), value.name,
                                                 value.text));
        }
        const ModemDefaults d = StandardModemDefaults();
        const std::uint32_t record[] = {d.callSetupFailTimer, d.inactivityTimeout, d.speakerVolume,
                                        d.speakerMode, d.preferredOptions};
        Set("", "Default", REG_BINARY, record, sizeof record);
    }
    ~RegistryModem() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey); }

    RegistryModem(const RegistryModem&) = delete;
    RegistryModem& operator=(const RegistryModem&) = delete;

    static std::string Path(const std::string& subkey) {
        return subkey.empty() ? kKey : std::string(kKey) + "\\" + subkey;
    }
    static void Set(const std::string& subkey, const char* name, DWORD type, const void* data,
                    std::size_t size) {
        EXPECT_TRUE(
            testing::SetRegistryValue(HKEY_LOCAL_MACHINE, Path(subkey), name, type, data, size));
    }
};

struct Win32ModemTest : ::testing::Test {
    void SetUp() override { modem.key = kKey; }

    ScriptedModem modem;
    Win32ModemSource source;
};

TEST_F(Win32ModemTest, TheDefaultConfigurationComesFromTheRecord) {
    RegistryModem installed;
    // The record must be REG_BINARY of exactly five DWORDs; otherwise nothing is set.
    const std::uint32_t options = kModemErrorControl | kModemCellular | kModemSoftwareFlow |
                                  kModemCcittOverride | kModemV23Override | kModemBlindDial;
    const std::uint32_t record[] = {90, 0, 2, 3, options, 0};
    struct Case {
        const char* name;
        DWORD type;
        std::size_t size;
        const char* settings;
        const char* dialPrefix;
        int flow;
    };
    const Case cases[] = {
        {"five DWORDs", REG_BINARY, 20, "S7=90S30=0L3M3%C0\\N5&K4B2N0X3", "DP", kModemFlowXonXoff},
        {"six DWORDs", REG_BINARY, 24, "", "D", kModemFlowNone},
        {"four DWORDs", REG_BINARY, 16, "", "D", kModemFlowNone},
        {"not binary", REG_NONE, 20, "", "D", kModemFlowNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegistryModem::Set("", "Default", c.type, record, c.size);
        ASSERT_EQ(modem.Initialize(source, 3), 0);
        EXPECT_EQ(modem.profile.SettingsCommand(), c.settings);
        EXPECT_EQ(modem.profile.DialPrefix(), c.dialPrefix);
        EXPECT_EQ(modem.profile.FlowChoice(), c.flow);
    }
}

TEST_F(Win32ModemTest, ValueTypesAreNotLookedAtAndLongValuesTakeTheDefault) {
    // Each case writes the reset of the standard modem; every value type is read by the same code,
    // so one with its NUL and one without stand for all. The bytes of the reset and init commands.
    struct Case {
        const char* name;
        DWORD type;
        std::string data; // written as it stands (a string's NUL included)
        std::string written;
    };
    const std::string reset = "ATZ" + std::string(33, '0') + "<cr>";
    const Case cases[] = {
        {"REG_EXPAND_SZ unexpanded", REG_EXPAND_SZ, std::string("ATZ%SystemRoot%<cr>", 20),
         "ATZ%SystemRoot%\rAT\rAT&FE0V1\r"},
        {"REG_BINARY without a NUL", REG_BINARY, "ATZ<cr>", "ATZ\rAT\rAT&FE0V1\r"},
        {"a reset of 40 characters fits", REG_SZ, reset + std::string(1, '\0'),
         "ATZ" + std::string(33, '0') + "\rAT\rAT&FE0V1\r"},
        {"a reset of 41 characters is none", REG_SZ, "0" + reset + std::string(1, '\0'),
         "AT\rAT&FE0V1\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegistryModem installed;
        RegistryModem::Set("", "Reset", c.type, c.data.data(), c.data.size());
        ASSERT_EQ(modem.Initialize(source, 3), 0);
        EXPECT_EQ(modem.Written(), c.written);
        EXPECT_EQ(modem.profile.SettingsCommand(), "S7=60S30=10L2M1%C1\\N3&K3B1N0X4");
    }
}

} // namespace
} // namespace tollan
