// The modem profile against a scripted modem: the other end of an in-memory pair holds the
// modem's answers before each step, and what the profile wrote is read back from it byte for
// byte. The modem's settings come from an in-memory source laid out like an installed modem.
#include <gtest/gtest.h>

#include <string>

#include "link/link_codes.h"
#include "support/modem_fixture.h"

namespace tollan {
namespace {

constexpr const char* kKey = kStandardModemKey;
const std::string kSettings = std::string(kKey) + "\\Settings";
const std::string kInit = std::string(kKey) + "\\Init";

// Each case changes the standard modem and states what the settings then give.
struct SettingsCase {
    const char* name;
    void (*change)(MemoryModemSource&);
    const char* settingsCommand;
    const char* dialPrefix;
    int flowChoice;
};

ModemDefaults DefaultsWith(std::uint32_t options, std::uint32_t volume = 1,
                           std::uint32_t mode = 1) {
    ModemDefaults defaults = StandardModemDefaults();
    defaults.speakerVolume = volume;
    defaults.speakerMode = mode;
    defaults.preferredOptions = options;
    return defaults;
}

const SettingsCase kSettingsCases[] = {
    {"the standard modem", [](MemoryModemSource&) {}, "S7=60S30=10L2M1%C1\\N3&K3B1N0X4", "DT",
     kModemFlowRtsCts},
    {"cellular forced error control, software flow, V.23, pulse",
     [](MemoryModemSource& s) {
         s.SetDefaults(DefaultsWith(kModemErrorControl | kModemForcedErrorControl | kModemCellular |
                                        kModemSoftwareFlow | kModemCcittOverride |
                                        kModemV23Override | kModemSpeedAdjust | kModemBlindDial,
                                    2, 3));
     },
     "S7=60S30=10L3M3%C0\\N6&K4B2N1X3", "DP", kModemFlowXonXoff},
    {"forced error control without cellular",
     [](MemoryModemSource& s) {
         s.SetDefaults(DefaultsWith(kModemErrorControl | kModemForcedErrorControl, 0, 0));
     },
     "S7=60S30=10L0M0%C0\\N4&K0B1N0X4", "DP", kModemFlowNone},
    {"volume and mode out of range read the bare names, which are missing",
     [](MemoryModemSource& s) { s.SetDefaults(DefaultsWith(kModemToneDial, 7, 9)); },
     "S7=60S30=10%C0\\N0&K0B1N0X4", "DT", kModemFlowNone},
    {"no default configuration: the modem keeps its own",
     [](MemoryModemSource& s) { s.ClearDefaults(); }, "", "D", kModemFlowNone},
    {"a timer template without '<' stays as it is; one that does not fit the command is left out",
     [](MemoryModemSource& s) {
         s.SetValue(kSettings, "CallSetupFailTimer", "S7=50");
         s.SetValue(kSettings, "InactivityTimeout", "&&&&&&&&&&&&&&&&&&&&&&&&&&&&&&&&S30=<");
     },
     "S7=50L2M1%C1\\N3&K3B1N0X4", "DT", kModemFlowRtsCts},
};

TEST(ModemProfileInitializeTest, BuildsTheSettingsCommandFromTheDefaultConfiguration) {
    for (const SettingsCase& c : kSettingsCases) {
        SCOPED_TRACE(c.name);
        MemoryModemSource source = StandardModem();
        c.change(source);
        ScriptedModem modem;
        ASSERT_EQ(modem.Initialize(source, 3), 0);
        EXPECT_EQ(modem.profile.SettingsCommand(), c.settingsCommand);
        EXPECT_EQ(modem.profile.DialPrefix(), c.dialPrefix);
        EXPECT_EQ(modem.profile.FlowChoice(), c.flowChoice);
    }
}

TEST(ModemProfileInitializeTest, StringsTakeTheirDefaultsAndExpandCarriageReturns) {
    MemoryModemSource source = StandardModem();
    source.RemoveKey(kSettings);
    source.AddKey(kSettings);                          // no Prefix, no Terminator, no DialPrefix
    source.SetValue(kKey, "Reset", "AT&F<cr>ATZ<cr>"); // unwrapped, both expanded
    source.SetValue(kKey, "UserInit", "M0<cr>");       // no expansion here
    source.ClearDefaults();
    ScriptedModem modem;
    ASSERT_EQ(modem.Initialize(source, 3), 0);
    EXPECT_EQ(modem.Written(), "AT&F\rATZ\rAT\rAT&FE0V1\r");
    EXPECT_EQ(modem.profile.DialPrefix(), "D");

    // The default prefix and terminator wrap the settings and the user-init.
    modem.Answer("OK\rOK\r");
    EXPECT_EQ(modem.profile.SendSettings(), 0);
    EXPECT_EQ(modem.Written(), "AT\rATM0<cr>\r");

    // Called again, every string is read afresh; a user-init the key no longer holds stays.
    MemoryModemSource standard = StandardModem();
    ASSERT_EQ(modem.Initialize(standard, 3), 0);
    EXPECT_EQ(modem.profile.SettingsCommand(), "S7=60S30=10L2M1%C1\\N3&K3B1N0X4");
    EXPECT_EQ(modem.profile.UserInit(), "M0<cr>");
}

TEST(ModemProfileInitializeTest, ResetAndInitListEdges) {
    // A reset of 41 characters does not fit: the empty default is "sent" (nothing written) and
    // its OK still awaited. An Init list holding "1" and "3" tries the names "1" and "2".
    MemoryModemSource source = StandardModem();
    source.SetValue(kKey, "Reset", std::string(41, 'Z'));
    source.RemoveKey(kInit);
    source.SetValue(kInit, "1", "ATE0<cr>");
    source.SetValue(kInit, "3", "ATX4<cr>");
    ScriptedModem modem;
    ASSERT_EQ(modem.Initialize(source, 2), 0);
    EXPECT_EQ(modem.Written(), "ATE0\r");

    // The Init list stops at the first command without an OK, and is not judged.
    ScriptedModem silent;
    ASSERT_EQ(silent.Initialize(StandardModem(), 1), 0);
    EXPECT_EQ(silent.Written(), "ATZ\rAT\r");
}

TEST(ModemProfileInitializeTest, MissingPartsOfTheModemFailIt) {
    const char* const missing[] = {kKey, "Modem\\0000\\Init", "Modem\\0000\\Settings",
                                   "Modem\\0000\\Hangup"};
    for (const char* key : missing) {
        SCOPED_TRACE(key);
        MemoryModemSource source = StandardModem();
        source.RemoveKey(key);
        ScriptedModem modem;
        EXPECT_EQ(modem.Initialize(source, 3), LINK_FAILED);
    }
}

TEST(ModemProfileCommandTest, CommandsWaitForAnOkLineAndNothingElse) {
    ScriptedModem modem;
    MemoryModemSource source = StandardModem();
    source.SetValue(kSettings, "DialSuffix", ";<cr>");
    ASSERT_EQ(modem.Initialize(source, 3), 0);
    modem.Written();

    // The echo, an empty line, then OK: three lines read.
    modem.Answer("ATE1\r\r\nOK\r\n");
    EXPECT_EQ(modem.profile.SendCommand("E1", true), 0);
    EXPECT_EQ(modem.Written(), "ATE1\r");

    // ERROR, "OK " and silence are not OK.
    const char* const notOk[] = {"\r\nERROR\r\n", "OK \r", "ok\r", ""};
    for (const char* answer : notOk) {
        SCOPED_TRACE(answer);
        modem.Answer(answer);
        EXPECT_EQ(modem.profile.SendCommand("X9", true), MODEM_NO_RESPONSE);
    }
    modem.Written();

    // 43 characters go; 44 are refused before anything is written.
    EXPECT_EQ(modem.profile.SendCommand(std::string(43, '1'), false), MODEM_NO_RESPONSE);
    EXPECT_EQ(modem.Written(), std::string(43, '1'));
    EXPECT_EQ(modem.profile.SendCommand(std::string(41, '1'), true), LINK_BAD_PARAMETER);
    EXPECT_EQ(modem.Written(), "");

    // The link's character delay is left as it was.
    modem.link.SetCharDelay(5);
    modem.Answer("OK\r");
    EXPECT_EQ(modem.profile.SendCommand("", true), 0);
    EXPECT_EQ(modem.link.CharDelay(), 5);

    // Dial and answer wrap their commands.
    modem.Answer("OK\rOK\r");
    EXPECT_EQ(modem.profile.Dial("5551234"), 0);
    EXPECT_EQ(modem.profile.Answer(), 0);
    EXPECT_EQ(modem.Written(), "AT\rATDT5551234;\r\rATS0=1\r"); // the empty command, then these

    // A number that makes the dial command too long is not dialled in part.
    EXPECT_EQ(modem.profile.Dial(std::string(40, '9')), LINK_BAD_PARAMETER);
    EXPECT_EQ(modem.Written(), "");
}

// A profile whose waits end once `stopAfter` polls have been made.
class StoppingProfile : public ModemProfile {
public:
    int Poll() override { return ++polls > stopAfter ? -901 : 0; }
    int polls = 0;
    int stopAfter = 1 << 30;
};

TEST(ModemProfileLineTest, ReadsLinesWithinTheirTime) {
    MemoryPortPair pair;
    CommLink link(pair.A());
    StoppingProfile profile;
    MemoryModemSource source = StandardModem();
    source.RemoveKey(kKey); // the link is kept even when the key is missing
    ASSERT_EQ(profile.Initialize(&link, source, "Standard Modem", kKey), LINK_FAILED);
    char line[8];

    // A time-out of 0 gives 0 even when the whole line was waiting; line feeds are skipped.
    pair.B().Write("\nRING\r", 6);
    EXPECT_EQ(profile.ReadLine(line, sizeof line, 0), 0);
    EXPECT_STREQ(line, "RING");

    // A line ends at the buffer's size; the rest is the next line.
    pair.B().Write("CONNECT 33600\r", 14);
    EXPECT_GT(profile.ReadLine(line, sizeof line, 1000), 0);
    EXPECT_STREQ(line, "CONNECT");
    EXPECT_GT(profile.ReadLine(line, sizeof line, 1000), 0);
    EXPECT_STREQ(line, " 33600");

    // Silence: the time runs out in pauses; a partial line is kept.
    pair.B().Write("BU", 2);
    EXPECT_EQ(profile.ReadLine(line, sizeof line, 120), 0);
    EXPECT_STREQ(line, "BU");

    // A poll that asks to stop ends the wait with its code, also inside SendCommand's wait,
    // where it reads as no response.
    profile.stopAfter = profile.polls + 3;
    EXPECT_EQ(profile.ReadLine(line, sizeof line, 60000), -901);
    EXPECT_EQ(profile.Delay(60000), -901);
    profile.SetResponseTimeout(60000);
    EXPECT_EQ(profile.SendCommand("", true), MODEM_NO_RESPONSE);
    EXPECT_EQ(profile.HangUp(), -901);
}

TEST(ModemProfileHangUpTest, EscapesHangsUpAndLooksAtTheCarrier) {
    ScriptedModem modem;
    ASSERT_EQ(modem.Initialize(StandardModem(), 3), 0);
    modem.Written();

    // The modem answers the escape and the hang-up, but carrier detect stays on.
    modem.Answer("OK\rOK\r");
    EXPECT_EQ(modem.profile.HangUp(), LINK_FAILED);
    EXPECT_EQ(modem.Written(), "+++ATH\r");

    modem.pair.A().SetModemLine(kSignalCarrier, false);
    modem.Answer("OK\rOK\r");
    EXPECT_EQ(modem.profile.HangUp(), 0);
    EXPECT_EQ(modem.Written(), "+++ATH\r");

    // No answer to the escape: the hang-up list is not sent.
    EXPECT_EQ(modem.profile.HangUp(), MODEM_NO_RESPONSE);
    EXPECT_EQ(modem.Written(), "+++");
}

} // namespace
} // namespace tollan
