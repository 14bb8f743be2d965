// The tests' one hand on the component's dialogs: finds a window by its caption, works its
// controls as a user would and reads them back. The dialog runs modally on one thread (or in
// another process) while the hand works from another. Shared by the setup sheet tests, the
// TransferFiles dialog tests, the component's host tests and dialog_hand; and the registry
// writer of the tests that lay out keys for the component to find.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tollan::testing {

// How long a driver waits for a window to appear or to go away, or for a condition.
inline constexpr DWORD kWindowWait = 20000;

// Polls `condition` until it holds; false after `limit` milliseconds.
bool WaitFor(const std::function<bool()>& condition, DWORD limit = kWindowWait);

// Runs `open` on this thread while `drive` runs on a driver thread with the top-level dialog
// whose caption is `caption`. Whatever `drive` leaves open is cancelled afterwards, so a failed
// check never leaves the test hanging in a modal loop. Returns what `open` returned.
int RunDriven(const std::string& caption, const std::function<int()>& open,
              const std::function<void(HWND dialog)>& drive);

// The top-level dialog with `caption` once it is shown (its initialisation done; with `shown`
// off, once it exists: Wine does not count a minimised dialog as shown); null after `limit`.
HWND WaitForDialog(const std::string& caption, DWORD limit = kWindowWait, bool shown = true);
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
int ItemCount(HWND dialog, int id);
void TypeText(HWND dialog, int id, const std::string& text); // announces EN_CHANGE
void LeaveControl(HWND dialog, int id);                      // announces EN_KILLFOCUS
// A control's text; a drop-down list's is its selected item (empty when none is).
std::string TextOf(HWND dialog, int id);
// The texts of every static control of a window (a message box's text among them).
std::vector<std::string> StaticTexts(HWND window);
void Click(HWND dialog, int id);
// Clicks a button the way a click does, through the dialog's queue: the hand goes on at once
// (the button's handler may run a modal dialog), and it works across processes.
void ClickLater(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);

// List views (report view): a cell's text, the selected row, selecting a row (-1 selects none),
// and a double click on the selected row (the hand goes on at once).
std::string CellText(HWND dialog, int id, int row, int column);
// Every row of a list view, `columns` cells each.
std::vector<std::vector<std::string>> Rows(HWND dialog, int id, int columns);
int SelectedRow(HWND dialog, int id);
void SelectRow(HWND dialog, int id, int row);
void DoubleClickRow(HWND dialog, int id);

// Writes a value below `root`, creating its key (`key` empty: `root` itself); false if refused.
// The text form writes a string with its terminating zero.
bool SetRegistryValue(HKEY root, const std::string& key, const char* name, DWORD type,
                      const void* data, std::size_t size);
bool SetRegistryText(HKEY root, const std::string& key, const char* name, const std::string& text);

} // namespace tollan::testing
