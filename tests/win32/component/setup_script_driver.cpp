// The user at the other end of setup_test.vbs: a separate process that waits for each sheet the
// script opens with Setup, works its controls and closes it, first with Cancel, then with OK.
// Messages that carry pointers do not cross processes, so it keeps to selections, texts, clicks
// and the sheet's buttons. Exits 0 once both sheets have closed, 1 when one did not come or close.
#include "support/win32_sheet_driver.h"

#include "ui/resource_ids.h"

#include <windows.h>

#include <commctrl.h>

using namespace tollan::testing;

namespace {

// The same changes on every page each time; `button` closes the sheet.
bool Answer(int button) {
    HWND sheet = WaitForDialog("Setup Script");
    if (sheet == nullptr) {
        return false;
    }
    HWND page = CurrentPage(sheet);
    ChooseItem(page, IDC_GENERAL_PROTOCOL, 0); // XModem: RTS/CTS stays
    ChooseItem(page, IDC_GENERAL_BAUD_RATE, 4);
    ChooseItem(page, IDC_GENERAL_CONNECTION, 3); // COM3, COM1, then the second modem
    ShowPage(sheet, 1);
    page = CurrentPage(sheet);
    ChooseItem(page, IDC_TRANSFER_OVERWRITE, 2);
    TypeText(page, IDC_TRANSFER_SEND_TIMEOUT, "120");
    ShowPage(sheet, 2);
    Click(CurrentPage(sheet), IDC_LOGGING_TO_SCREEN);
    ShowPage(sheet, 3);
    page = CurrentPage(sheet);
    ClickLater(page, IDC_MODEM_EDIT); // entry 0, selected while no entry has the number
    HWND entry = WaitForDialog("Edit Telephone Listing");
    if (entry == nullptr) {
        return false;
    }
    TypeText(entry, IDC_ENTRY_DESCRIPTION, "Lab");
    TypeText(entry, IDC_ENTRY_NUMBER, "555-0142");
    ClickLater(entry, IDOK);
    WaitUntilClosed(entry);
    TypeText(page, IDC_MODEM_INIT, "ATM0");
    PressSheetButton(sheet, button);
    return WaitUntilClosed(sheet);
}

} // namespace

int main() {
    return Answer(PSBTN_CANCEL) && Answer(PSBTN_OK) ? 0 : 1;
}
