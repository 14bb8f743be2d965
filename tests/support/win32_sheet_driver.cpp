#include "support/win32_sheet_driver.h"

#include <commctrl.h>

#include <thread>
#include <vector>

namespace tollan::testing {

namespace {

constexpr DWORD kPoll = 10;

void Announce(HWND dialog, int id, int code) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

} // namespace

bool WaitFor(const std::function<bool()>& condition, DWORD limit) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > limit) {
            return false;
        }
        Sleep(kPoll);
    }
    return true;
}

HWND WaitForDialog(const std::string& caption, DWORD limit, bool shown) {
    HWND window = nullptr;
    auto ready = [&] {
        window = FindWindowA("#32770", caption.c_str());
        return window != nullptr && (!shown || IsWindowVisible(window));
    };
    return WaitFor(ready, limit) ? window : nullptr;
}

HWND WaitForPopup(HWND owner) {
    HWND popup = nullptr;
    auto shown = [&] {
        popup = GetLastActivePopup(owner);
        return popup != nullptr && popup != owner && IsWindowVisible(popup);
    };
    return WaitFor(shown) ? popup : nullptr;
}

bool WaitUntilClosed(HWND window) {
    return WaitFor([&] { return !IsWindow(window); });
}

int RunDriven(const std::string& caption, const std::function<int()>& open,
              const std::function<void(HWND dialog)>& drive) {
    std::thread driver([&] {
        HWND dialog = WaitForDialog(caption);
        if (dialog == nullptr) {
            return;
        }
        drive(dialog);
        if (IsWindow(dialog)) {
            // Left open by a failed check: close what is on top, then the dialog itself.
            for (int attempt = 0; attempt < 5 && IsWindow(dialog); ++attempt) {
                HWND top = GetLastActivePopup(dialog);
                PostMessageA(top != nullptr ? top : dialog, WM_COMMAND, IDCANCEL, 0);
                WaitUntilClosed(top != nullptr ? top : dialog);
            }
        }
    });
    int result = open();
    driver.join();
    return result;
}

void ShowPage(HWND sheet, int index) {
    SendMessageA(sheet, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
}

HWND CurrentPage(HWND sheet) {
    return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

void PressSheetButton(HWND sheet, int button) {
    SendMessageA(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0);
    // The sheet's modal loop looks whether it has ended only after a posted message: wake it.
    PostMessageA(sheet, WM_NULL, 0, 0);
    if (button == PSBTN_OK || button == PSBTN_CANCEL) {
        WaitUntilClosed(sheet);
    }
}

void ChooseItem(HWND dialog, int id, int item) {
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    Announce(dialog, id, CBN_SELCHANGE);
}

int ItemCount(HWND dialog, int id) {
    return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0));
}

void TypeText(HWND dialog, int id, const std::string& text) {
    // The edit control announces EN_CHANGE itself.
    SetDlgItemTextA(dialog, id, text.c_str());
}

void LeaveControl(HWND dialog, int id) {
    Announce(dialog, id, EN_KILLFOCUS);
}

std::string TextOf(HWND dialog, int id) {
    // Asked by message: a control of another process answers that too.
    const LRESULT length = SendDlgItemMessageA(dialog, id, WM_GETTEXTLENGTH, 0, 0);
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    SendDlgItemMessageA(dialog, id, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}

std::vector<std::string> StaticTexts(HWND window) {
    std::vector<std::string> texts;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM found) CALLBACK -> BOOL {
            char name[32] = {};
            GetClassNameA(child, name, sizeof name);
            if (lstrcmpiA(name, "Static") == 0) {
                char text[1024] = {};
                GetWindowTextA(child, text, sizeof text);
                reinterpret_cast<std::vector<std::string>*>(found)->push_back(text);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

void Click(HWND dialog, int id) {
    SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0);
}

void ClickLater(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool IsEnabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

std::string CellText(HWND dialog, int id, int row, int column) {
    char text[300] = {};
    ListView_GetItemText(GetDlgItem(dialog, id), row, column, text, sizeof text);
    return text;
}

std::vector<std::vector<std::string>> Rows(HWND dialog, int id, int columns) {
    std::vector<std::vector<std::string>> rows(
        static_cast<std::size_t>(SendDlgItemMessageA(dialog, id, LVM_GETITEMCOUNT, 0, 0)));
    for (std::size_t row = 0; row < rows.size(); ++row) {
        for (int column = 0; column < columns; ++column) {
            rows[row].push_back(CellText(dialog, id, static_cast<int>(row), column));
        }
    }
    return rows;
}

int SelectedRow(HWND dialog, int id) {
    return ListView_GetNextItem(GetDlgItem(dialog, id), -1, LVNI_SELECTED);
}

void SelectRow(HWND dialog, int id, int row) {
    constexpr UINT kChosen = LVIS_SELECTED | LVIS_FOCUSED;
    ListView_SetItemState(GetDlgItem(dialog, id), -1, 0, kChosen);
    if (row >= 0) {
        ListView_SetItemState(GetDlgItem(dialog, id), row, kChosen, kChosen);
    }
}

void DoubleClickRow(HWND dialog, int id) {
    // Posted: the dialog answers a double click with a modal dialog.
    static NMITEMACTIVATE click;
    click = {};
    click.hdr = {GetDlgItem(dialog, id), static_cast<UINT_PTR>(id), static_cast<UINT>(NM_DBLCLK)};
    click.iItem = SelectedRow(dialog, id);
    PostMessageA(dialog, WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&click));
}

bool SetRegistryValue(HKEY root, const std::string& key, const char* name, DWORD type,
                      const void* data, std::size_t size) {
    return RegSetKeyValueA(root, key.empty() ? nullptr : key.c_str(), name, type, data,
                           static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

bool SetRegistryText(HKEY root, const std::string& key, const char* name, const std::string& text) {
    return SetRegistryValue(root, key, name, REG_SZ, text.c_str(), text.size() + 1);
}

} // namespace tollan::testing
