// The setup property sheet, run for real from this program (which carries the component's dialog
// templates) and driven from a second thread: one table per page of control changes and the
// settings they must produce, the enabling rules, Cancel, help topics, the telephone listing in
// the registry, and settings at their limits.
#include "setup/win32_setup_sheet.h"

#include "support/win32_sheet_driver.h"

#include "settings/settings_persistence.h"
#include "ui/resource_ids.h"
#include "ui/win32_help.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tollan {
namespace {

using namespace tollan::testing;
using Values = std::map<std::string, std::string>;
using S = SettingsBlock&;

// Every setting the sheet can change, as it would be saved: name to text, numbers in decimal.
Values Fields(const SettingsBlock& settings, const DeviceLists& devices) {
    struct Store : SettingsStore {
        Values values;
        int32_t Read(const char*, void*, uint32_t) override { return -1; }
        void WriteNumber(const char* name, uint32_t value) override {
            values[name] = std::to_string(value);
        }
        void WriteText(const char* name, std::string_view text) override {
            values[name] = std::string(text);
        }
    } store;
    SaveSettings(settings, devices, store);
    return store.values;
}

// The telephone listing as the registry holds it, value name to text; none without its key.
std::optional<Values> StoredListing() {
    Values values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kTelephoneKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    char name[64] = {};
    char data[512] = {};
    for (DWORD i = 0, nameSize = sizeof name, dataSize = sizeof data;
         RegEnumValueA(key, i, name, &nameSize, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                       &dataSize) == ERROR_SUCCESS;
         ++i, nameSize = sizeof name, dataSize = sizeof data) {
        values[name] = data;
    }
    RegCloseKey(key);
    return values;
}

// One thing the driver does on the open page, or checks there (a failed check names its control).
using Step = std::function<void(HWND page)>;
const auto Choose = [](int id, int item) -> Step {
    return [=](HWND p) { ChooseItem(p, id, item); };
};
const auto Type = [](int id, std::string text) -> Step {
    return [=](HWND p) { TypeText(p, id, text); };
};
const auto Leave = [](int id) -> Step { return [=](HWND p) { LeaveControl(p, id); }; };
const auto ClickOn = [](int id) -> Step { return [=](HWND p) { Click(p, id); }; };
const auto Shows = [](int id, std::string text) -> Step {
    return [=](HWND p) { EXPECT_EQ(TextOf(p, id), text) << "control " << id; };
};
const auto Items = [](int id, int count) -> Step {
    return [=](HWND p) { EXPECT_EQ(ItemCount(p, id), count) << "control " << id; };
};
const auto Enabled = [](int id, bool on) -> Step {
    return [=](HWND p) { EXPECT_EQ(IsEnabled(p, id), on) << "control " << id; };
};

// A row of a page's table: the settings before, what the user does, the button that closes the
// sheet, and the settings that must differ afterwards (all others must stay as they were).
struct Row {
    const char* what;
    std::function<void(SettingsBlock&)> before;
    std::vector<Step> steps;
    Values after;
    int button = PSBTN_OK;
    SetupPages pages = {true, true, true, true};
};

constexpr const char* kModuleDirectory = "C:\\tollan\\";

class SetupSheet : public ::testing::Test {
protected:
    void SetUp() override {
        // Ports listed as COM3, COM1; three modems.
        devices_.ports = {PortName("COM3"), PortName("COM1")};
        for (const char* name : {"Hayes Optima", "Courier V.34", "Sportster 56k"}) {
            devices_.modems.emplace_back().name.Assign(name);
        }
        settings_.Reset(kModuleDirectory, 1);
        RegDeleteTreeA(HKEY_CURRENT_USER, kTelephoneKey);
        previousViewer_ = SetHelpViewer(RecordTopic);
        topics().clear();
    }
    void TearDown() override {
        SetHelpViewer(previousViewer_);
        RegDeleteTreeA(HKEY_CURRENT_USER, kTelephoneKey);
    }

    static std::vector<DWORD>& topics() {
        static std::vector<DWORD> opened;
        return opened;
    }
    static void RecordTopic(HWND, const char* helpFile, DWORD topic) {
        EXPECT_STREQ(helpFile, "C:\\tollan\\tollan.hlp");
        topics().push_back(topic);
    }

    // Runs the sheet with `pages`; `drive` gets the sheet once it is open.
    int Run(SetupPages pages, const std::function<void(HWND sheet)>& drive) {
        std::string caption = "Setup " + std::string(settings_.MaxTitle.view());
        return RunDriven(
            caption,
            [&] {
                return RunSetupSheet(GetModuleHandleA(nullptr), nullptr, settings_, devices_,
                                     pages);
            },
            drive);
    }

    // Runs every row of `table` on page `index` of a sheet with every page.
    void RunTable(int index, const std::vector<Row>& table) {
        for (const Row& row : table) {
            SCOPED_TRACE(row.what);
            settings_.Reset(kModuleDirectory, 1);
            if (row.before) {
                row.before(settings_);
            }
            Values expected = Fields(settings_, devices_);
            for (const auto& [name, value] : row.after) {
                expected[name] = value;
            }
            int result = Run(row.pages, [&](HWND sheet) {
                ShowPage(sheet, index);
                HWND page = CurrentPage(sheet);
                for (const Step& step : row.steps) {
                    step(page);
                }
                PressSheetButton(sheet, row.button);
            });
            EXPECT_EQ(result, 1);
            EXPECT_EQ(Fields(settings_, devices_), expected);
            EXPECT_FALSE(StoredListing()) << "the listing is written only once its page is shown";
        }
    }

    static constexpr SetupPages kAllPages{true, true, true, true};
    SettingsBlock settings_;
    DeviceLists devices_;
    HelpViewer previousViewer_ = nullptr;
};

TEST_F(SetupSheet, GeneralPageChangesAndTheSettingsTheyProduce) {
    enum {
        kConnection = IDC_GENERAL_CONNECTION,
        kBaud = IDC_GENERAL_BAUD_RATE,
        kProtocol = IDC_GENERAL_PROTOCOL,
        kErrors = IDC_GENERAL_MAX_ERRORS,
        kFlow = IDC_GENERAL_FLOW_CONTROL,
        kWindow = IDC_GENERAL_WINDOW_SIZE,
        kRecovery = IDC_GENERAL_CRASH_RECOVERY
    };
    RunTable(
        0,
        {
            {"the defaults, with no speed as 19200 and XON/XOFF under XModem as none; the "
             "selected modem shows; a speed, and a port turns the modem off",
             [](S s) {
                 s.BaudRate = 0;
                 s.FlowControl = FlowControl::kXonXoff;
                 s.UseModem = 1;
                 s.ModemName = 2;
             },
             {Shows(kConnection, "Sportster 56k"), Shows(kBaud, "19200"),
              Shows(kProtocol, "XModem"), Shows(kErrors, "0"), Shows(kFlow, "None"),
              Shows(kWindow, "Streaming"), Shows(kRecovery, "Never"), Enabled(kWindow, false),
              Enabled(kRecovery, false), Choose(kBaud, 4), Choose(kConnection, 1)},
             {{"FlowControl", "0"}, {"BaudRate", "115200"}, {"UseModem", "0"}, {"Port", "1"}}},
            {"RTS/CTS survives switches between ZModem and XModem, which disables two lists; "
             "window and recovery keep their values under XModem",
             [](S s) {
                 s.Protocol = Protocol::kZModem;
                 s.FlowControl = FlowControl::kRtsCts;
                 s.WindowSize = WindowSize::k2048;
                 s.CrashRecovery = CrashRecovery::kFollowSender;
             },
             {Enabled(kWindow, true), Choose(kProtocol, 0), Shows(kFlow, "RTS/CTS"),
              Shows(kWindow, "2048"), Shows(kRecovery, "Follow sender"), Enabled(kWindow, false),
              Enabled(kRecovery, false), Choose(kProtocol, 1), Enabled(kWindow, true),
              Enabled(kRecovery, true), Choose(kProtocol, 0), Choose(kWindow, 0)},
             {{"Protocol", "0"}}},
            {"ZModem window and crash recovery; a window of 3072 shows 4096; the second modem "
             "after two ports",
             [](S s) { s.WindowSize = static_cast<WindowSize>(3072); },
             {Choose(kProtocol, 1), Shows(kWindow, "4096"), Choose(kWindow, 2),
              Choose(kRecovery, 2), Choose(kFlow, 1), Choose(kConnection, 3)},
             {{"Protocol", "1"},
              {"WindowSize", "2048"},
              {"CrashRecovery", "3"},
              {"FlowControl", "1"},
              {"UseModem", "1"},
              {"ModemName", "Courier V.34"}}},
            {"Maximum Errors is held between 0 and 50 when left, and at OK",
             [](S s) { s.MaxErrors = 9; },
             {Type(kErrors, "75"), Leave(kErrors), Shows(kErrors, "50"), Type(kErrors, "-3"),
              Leave(kErrors), Shows(kErrors, "0"), Type(kErrors, "75"), Shows(kErrors, "75")},
             {{"MaxErrors", "50"}}},
            {"without the Modem page only ports are listed, and UseModem goes off even at Cancel",
             [](S s) {
                 s.UseModem = 1;
                 s.ModemName = 1;
                 s.Port = 1;
             },
             {Items(kConnection, 2), Shows(kConnection, "COM1")},
             {{"UseModem", "0"}},
             PSBTN_CANCEL,
             {true, true, false, false}},
            {"Cancel after changes writes nothing (the pages write only at OK)",
             [](S s) { s.Protocol = Protocol::kZModem; },
             {Choose(kProtocol, 2), Choose(kBaud, 0), Choose(kConnection, 4), Type(kErrors, "7")},
             {},
             PSBTN_CANCEL},
        });
}

TEST_F(SetupSheet, TransferPageChangesAndTheSettingsTheyProduce) {
    enum {
        kSend = IDC_TRANSFER_SEND_TIMEOUT,
        kRecv = IDC_TRANSFER_RECV_TIMEOUT,
        kFolder = IDC_TRANSFER_DEFAULT_DIR,
        kPath = IDC_TRANSFER_PATH_SWITCH,
        kOverwrite = IDC_TRANSFER_OVERWRITE
    };
    RunTable(1, {
                    {"the defaults, but Overwrite 0, which shows Never and is stored as 7",
                     [](S s) { s.Overwrite = static_cast<Overwrite>(0); },
                     {Shows(kSend, "60"), Shows(kRecv, "60"), Shows(kFolder, "C:\\tollan"),
                      Shows(kPath, "Strip Path"), Shows(kOverwrite, "Never")},
                     {{"Overwrite", "7"}}},
                    {"Always, receiver names and a typed folder",
                     {},
                     {Choose(kOverwrite, 3), Choose(kPath, 2), Type(kFolder, "D:\\incoming")},
                     {{"Overwrite", "4"}, {"PathSwitch", "2"}, {"DefaultDir", "D:\\incoming"}}},
                    {"time-outs are unsigned and unchecked, and empty is 0",
                     [](S s) { s.SendTimeout = -1; },
                     {Shows(kSend, "4294967295"), Type(kSend, ""), Type(kRecv, "86400")},
                     {{"SendTimeout", "0"}, {"RecvTimeout", "86400"}}},
                });
}

TEST_F(SetupSheet, LoggingPageChangesAndTheSettingsTheyProduce) {
    enum {
        kFile = IDC_LOGGING_TO_FILE,
        kScreen = IDC_LOGGING_TO_SCREEN,
        kAppend = IDC_LOGGING_APPEND,
        kName = IDC_LOGGING_FILENAME,
        kBrowse = IDC_SETUP_BROWSE
    };
    RunTable(2,
             {
                 {"without Log To File the name, its button and Append are disabled; any "
                  "non-zero LogToScreen is checked and stored as 1",
                  [](S s) { s.LogToScreen = 7; },
                  {Enabled(kName, false), Enabled(kBrowse, false), Enabled(kAppend, false),
                   Enabled(kScreen, true), Shows(kName, "C:\\tollan\\tollan.log")},
                  {{"LogToScreen", "1"}}},
                 {"setting Log To File enables all three and stores the name",
                  {},
                  {ClickOn(kFile), Enabled(kName, true), Enabled(kBrowse, true),
                   Enabled(kAppend, true), Type(kName, "C:\\logs\\run.log"), ClickOn(kAppend)},
                  {{"LogToFile", "1"}, {"AppendToLog", "1"}, {"LogFilename", "C:\\logs\\run.log"}}},
                 {"a name edited before unchecking is not stored; Append is stored while disabled",
                  [](S s) { s.LogToFile = 1; },
                  {ClickOn(kAppend), Type(kName, "C:\\other.log"), ClickOn(kFile),
                   Enabled(kAppend, false)},
                  {{"LogToFile", "0"}, {"AppendToLog", "1"}}},
             });
}

TEST_F(SetupSheet, TheFolderBrowserAndTheLogFileDialogFillTheirFields) {
    // The browser opens on the desktop; confirming it there gives the desktop's folder, and a
    // cancelled one changes nothing. The log file dialog takes a name that does not exist yet in
    // a folder that does.
    auto browse = [](HWND page, int button) {
        ClickLater(page, IDC_SETUP_BROWSE);
        HWND browser = WaitForPopup(GetParent(page));
        ASSERT_NE(browser, nullptr);
        PostMessageA(browser, WM_COMMAND, button, 0);
        ASSERT_TRUE(WaitUntilClosed(browser));
    };
    Run(kAllPages, [&](HWND sheet) {
        ShowPage(sheet, 1);
        HWND page = CurrentPage(sheet);
        TypeText(page, IDC_TRANSFER_DEFAULT_DIR, "D:\\typed");
        browse(page, IDCANCEL);
        EXPECT_EQ(TextOf(page, IDC_TRANSFER_DEFAULT_DIR), "D:\\typed");
        browse(page, IDOK);
        EXPECT_NE(TextOf(page, IDC_TRANSFER_DEFAULT_DIR), "D:\\typed");

        ShowPage(sheet, 2);
        page = CurrentPage(sheet);
        Click(page, IDC_LOGGING_TO_FILE);
        ClickLater(page, IDC_SETUP_BROWSE);
        HWND files = WaitForDialog("Communications Log File");
        ASSERT_NE(files, nullptr);
        // The name field is a combo box or an edit, depending on the dialog's template.
        SetDlgItemTextA(files, 0x47c, "C:\\windows\\run.log");
        SetDlgItemTextA(files, 0x480, "C:\\windows\\run.log");
        PostMessageA(files, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitUntilClosed(files));
        EXPECT_EQ(TextOf(page, IDC_LOGGING_FILENAME), "C:\\windows\\run.log");
        PressSheetButton(sheet, PSBTN_OK);
    });
}

void StoreListing(const Values& values) {
    for (const auto& [name, data] : values) {
        SetRegistryText(HKEY_CURRENT_USER, kTelephoneKey, name.c_str(), data);
    }
}

// Runs the "Edit Telephone Listing" dialog that `open` brings up, types the two fields and
// presses `button`.
void EditEntry(const std::function<void()>& open, const char* description, const char* number,
               int button) {
    open();
    HWND dialog = WaitForDialog("Edit Telephone Listing");
    ASSERT_NE(dialog, nullptr);
    TypeText(dialog, IDC_ENTRY_DESCRIPTION, description);
    TypeText(dialog, IDC_ENTRY_NUMBER, number);
    PostMessageA(dialog, WM_COMMAND, button, 0);
    EXPECT_TRUE(WaitUntilClosed(dialog));
}

TEST_F(SetupSheet, ModemPageKeepsTheTelephoneListing) {
    StoreListing({{"3.Phone", "555-0103"},
                  {"3.Desc", "Office"},
                  {"7.Phone", "555-0103"},
                  {"7.Desc", "Office again"},
                  {"5.Phone", "555-0105"},
                  {"5.Desc", std::string(100, 'd')},
                  {"8.Desc", "No number"}});
    settings_.Telephone.Assign("555-0103");
    settings_.ModemCmd.Assign("ATX3");

    Run(kAllPages, [&](HWND sheet) {
        ShowPage(sheet, 3);
        HWND page = CurrentPage(sheet);
        // The lowest entry with the current number is selected; the long text reads as empty.
        EXPECT_EQ(SelectedRow(page, IDC_MODEM_LISTING), 3);
        EXPECT_EQ(CellText(page, IDC_MODEM_LISTING, 5, 1), "");
        EXPECT_EQ(TextOf(page, IDC_MODEM_INIT), "ATX3");

        // Edit and Clear are usable exactly while an entry is selected.
        SelectRow(page, IDC_MODEM_LISTING, -1);
        EXPECT_FALSE(IsEnabled(page, IDC_MODEM_EDIT));
        EXPECT_FALSE(IsEnabled(page, IDC_MODEM_CLEAR));
        SelectRow(page, IDC_MODEM_LISTING, 1);
        EXPECT_TRUE(IsEnabled(page, IDC_MODEM_EDIT));

        // Entry 1 gets a description and a number through the Edit button.
        EditEntry([&] { ClickLater(page, IDC_MODEM_EDIT); }, "Home", "555-0101", IDOK);
        // Entry 5: emptying the number in the dialog keeps the old one; a double click edits.
        SelectRow(page, IDC_MODEM_LISTING, 5);
        EditEntry([&] { DoubleClickRow(page, IDC_MODEM_LISTING); }, "Depot", "", IDOK);
        // Entry 7 is cleared.
        SelectRow(page, IDC_MODEM_LISTING, 7);
        Click(page, IDC_MODEM_CLEAR);

        TypeText(page, IDC_MODEM_INIT, "AT&F&C1");
        SelectRow(page, IDC_MODEM_LISTING, 1);
        PressSheetButton(sheet, PSBTN_OK);
    });

    EXPECT_EQ(std::string(settings_.Telephone.view()), "555-0101");
    EXPECT_EQ(std::string(settings_.ModemCmd.view()), "AT&F&C1");
    const Values stored = {{"1.Desc", "Home"},     {"1.Phone", "555-0101"},
                           {"3.Desc", "Office"},   {"3.Phone", "555-0103"},
                           {"5.Desc", "Depot"},    {"5.Phone", "555-0105"},
                           {"8.Desc", "No number"}};
    EXPECT_EQ(StoredListing(), stored);
}

TEST_F(SetupSheet, ThePagesInTheirOrderWithTheirHelpTopics) {
    // The pages in their order, the Modem page only with a modem: each Help button and F1 opens
    // the page's topic, and the telephone dialog has its own. Without a listing, entry 0 is
    // selected and, having no number, empties Telephone.
    settings_.MaxTitle.Assign("Host");
    settings_.Telephone.Assign("555-0199");
    Run(kAllPages, [&](HWND sheet) {
        // OK, Cancel and Help only: an Apply button, where the system draws one, stays disabled.
        constexpr int kApplyButton = 0x3021;
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(sheet, kApplyButton)));
        HELPINFO help = {sizeof help, HELPINFO_WINDOW, 0, nullptr, 0, {}};
        for (int index = 0; index < 4; ++index) {
            ShowPage(sheet, index);
            SendMessageA(sheet, WM_COMMAND, IDHELP, 0);
            SendMessageA(CurrentPage(sheet), WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
        }
        // Ten entries, numbered from 0 (the stored listing below shows them all empty).
        HWND page = CurrentPage(sheet);
        EXPECT_EQ(SelectedRow(page, IDC_MODEM_LISTING), 0);
        EXPECT_EQ(CellText(page, IDC_MODEM_LISTING, 9, 0), "9");
        ClickLater(page, IDC_MODEM_EDIT);
        HWND dialog = WaitForDialog("Edit Telephone Listing");
        ASSERT_NE(dialog, nullptr);
        SendMessageA(dialog, WM_COMMAND, IDHELP, 0);
        SendMessageA(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        WaitUntilClosed(dialog);
        PressSheetButton(sheet, PSBTN_OK);
    });
    EXPECT_EQ(topics(), (std::vector<DWORD>{2, 2, 3, 3, 4, 4, 5, 5, 6, 6}));
    EXPECT_EQ(std::string(settings_.Telephone.view()), "");
    EXPECT_EQ(StoredListing(), Values{});

    // Without a modem, Modem is left out.
    devices_.modems.clear();
    Run({false, false, true, true}, [&](HWND sheet) {
        HWND tabs = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0));
        EXPECT_EQ(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 1);
        PressSheetButton(sheet, PSBTN_OK);
    });
    EXPECT_EQ(RunSetupSheet(GetModuleHandleA(nullptr), nullptr, settings_, devices_,
                            {false, false, false, true}),
              0);
}

TEST_F(SetupSheet, SettingsAtTheirLimitsComeBackWhole) {
    // The longest texts, and a port the machine no longer has.
    settings_.DefaultDir.Assign("C:\\" + std::string(300, 'f'));
    settings_.LogFilename.Assign("C:\\" + std::string(300, 'l'));
    settings_.MaxTitle.Assign(std::string(200, 't'));
    settings_.ModemCmd.Assign("AT" + std::string(60, 'm'));
    settings_.Telephone.Assign(std::string(60, '9'));
    settings_.LogToFile = 1;
    settings_.SendTimeout = 0x7fffffff;
    settings_.Port = 9;
    settings_.ModemName = 2;
    const Values listing = {{"4.Phone", std::string(40, '9')},
                            {"4.Desc", std::string(80, 'x')},
                            {"6.Phone", std::string(80, '6')}};
    StoreListing(listing);
    for (int button : {PSBTN_CANCEL, PSBTN_OK}) {
        const Values before = Fields(settings_, devices_);
        const std::string title(settings_.MaxTitle.view());
        int result = Run(kAllPages, [&](HWND sheet) {
            for (int index = 0; index < 4; ++index) {
                ShowPage(sheet, index);
            }
            HWND page = CurrentPage(sheet);
            EXPECT_EQ(SelectedRow(page, IDC_MODEM_LISTING), 4);
            // A number longer than the dialog keeps survives a cancelled edit: Cancel takes
            // nothing that was typed.
            SelectRow(page, IDC_MODEM_LISTING, 6);
            EditEntry([&] { ClickLater(page, IDC_MODEM_EDIT); }, "Changed", "999", IDCANCEL);
            SelectRow(page, IDC_MODEM_LISTING, 4);
            if (button == PSBTN_CANCEL) {
                Click(page, IDC_MODEM_CLEAR); // a cleared entry that Cancel does not store
            }
            PressSheetButton(sheet, button);
        });
        EXPECT_EQ(result, 1);
        EXPECT_EQ(Fields(settings_, devices_), before);
        EXPECT_EQ(settings_.MaxTitle.view(), title); // neither saved with the rest
        EXPECT_EQ(settings_.Port, 9);                // nor told apart from port 0 there
        EXPECT_EQ(StoredListing(), listing);
    }
}

} // namespace
} // namespace tollan
