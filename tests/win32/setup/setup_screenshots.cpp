// Shows the setup property sheet page by page for scripts/setup-screenshots, which photographs
// the screen: before each picture the program creates <folder>\<name>.ready and waits for the
// script's <folder>\<name>.done. Not a test; the sheet runs with sample settings and devices.
#include "setup/win32_setup_sheet.h"

#include "support/win32_sheet_driver.h"

#include "settings/settings_persistence.h"
#include "ui/resource_ids.h"

#include <commctrl.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

using namespace tollan;
using namespace tollan::testing;

// Announces picture `name` and waits until it has been taken.
void Pose(const std::string& folder, const std::string& name) {
    // Give the windows time to draw.
    Sleep(500);
    std::ofstream(folder + "\\" + name + ".ready");
    const std::string done = folder + "\\" + name + ".done";
    for (int waited = 0;
         waited < 600 && GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES; ++waited) {
        Sleep(100);
    }
}

void StoreListing() {
    const char* values[][2] = {{"0.Desc", "Head office"},
                               {"0.Phone", "555 0100"},
                               {"1.Desc", "Warehouse"},
                               {"1.Phone", "555 0142"},
                               {"2.Desc", "Night bulletin board"},
                               {"2.Phone", "1 800 555 0199"}};
    for (const auto& [name, text] : values) {
        SetRegistryText(HKEY_CURRENT_USER, kTelephoneKey, name, text);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: setup_screenshots FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    StoreListing();

    DeviceLists devices;
    devices.ports = {PortName("COM1"), PortName("COM2")};
    devices.modems.emplace_back().name.Assign("Standard 56000 bps Modem");

    SettingsBlock settings;
    settings.Reset("C:\\Program Files\\tollan\\", 2);
    settings.MaxTitle.Assign("Order Entry");
    settings.BaudRate = 57600;
    settings.MaxErrors = 10;
    settings.Telephone.Assign("555 0142");
    settings.ModemCmd.Assign("AT&F&C1&D2");
    settings.LogToFile = 1;
    settings.AppendToLog = 1;
    settings.DefaultDir.Assign("C:\\Orders\\Incoming");

    RunDriven(
        "Setup Order Entry",
        [&] {
            return RunSetupSheet(GetModuleHandleA(nullptr), nullptr, settings, devices,
                                 SetupPages{true, true, true, true});
        },
        [&](HWND sheet) {
            const char* pages[] = {"general", "transfer", "logging", "modem"};
            for (int index = 0; index < 4; ++index) {
                ShowPage(sheet, index);
                Pose(folder, pages[index]);
            }
            HWND page = CurrentPage(sheet);
            SelectRow(page, IDC_MODEM_LISTING, 2);
            ClickLater(page, IDC_MODEM_EDIT);
            HWND entry = WaitForDialog("Edit Telephone Listing");
            if (entry != nullptr) {
                Pose(folder, "telephone");
                PostMessageA(entry, WM_COMMAND, IDCANCEL, 0);
                WaitUntilClosed(entry);
            }
            PressSheetButton(sheet, PSBTN_CANCEL);
        });
    RegDeleteTreeA(HKEY_CURRENT_USER, kTelephoneKey);
    return 0;
}
