// Drives the component's modal dialogs from a second thread: the test's own thread opens the
// dialog (and sits in its modal loop), the driver thread finds the window, works its controls as
// a user would, and closes it. Shared by the setup page tests and the component host tests.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace tollan::testing {

// How long a driver waits for a window to appear or to go away.
inline constexpr DWORD kWindowWait = 10000;

// Runs `open` on this thread while `drive` runs on a driver thread with the top-level dialog
// whose caption is `caption`. Whatever `drive` leaves open is cancelled afterwards, so a failed
// check never leaves the test hanging in a modal loop. Returns what `open` returned.
int RunDriven(const std::string& caption, const std::function<int()>& open,
              const std::function<void(HWND dialog)>& drive);

// The top-level dialog with `caption` once it exists (null after kWindowWait).
HWND WaitForDialog(const std::string& caption);
// The dialog that `owner` has opened on top of itself once it exists (null after kWindowWait).
HWND WaitForPopup(HWND owner);
// Waits until `window` is gone; false after kWindowWait.
bool WaitUntilClosed(HWND window);

// Property sheets.
void ShowPage(HWND sheet, int index);
HWND CurrentPage(HWND sheet);
// Presses PSBTN_OK, PSBTN_CANCEL ... and waits for the sheet to close when the button closes it.
void PressSheetButton(HWND sheet, int button);

// Controls, by the dialog (or page) that holds them and their id. Changes are announced to the
// dialog with the notification the control would send.
void ChooseItem(HWND dialog, int id, int item);
std::string SelectedText(HWND dialog, int id); // empty when nothing is selected
int ItemCount(HWND dialog, int id);
std::string ItemText(HWND dialog, int id, int item);
void TypeText(HWND dialog, int id, const std::string& text); // announces EN_CHANGE
void LeaveControl(HWND dialog, int id);                      // announces EN_KILLFOCUS
std::string TextOf(HWND dialog, int id);
void Click(HWND dialog, int id);
// Clicks a button whose handler runs a modal dialog: posted, so the driver goes on at once.
void ClickLater(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);
bool IsCheckedBox(HWND dialog, int id);

// List views (report view): a cell's text, the selected row, selecting a row (-1 selects none),
// and the notifications of a click or double click.
std::string CellText(HWND dialog, int id, int row, int column);
int SelectedRow(HWND dialog, int id);
void SelectRow(HWND dialog, int id, int row);
void NotifyClick(HWND dialog, int id, UINT code);

} // namespace tollan::testing
