#include "transfer/win32_progress_dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <utility>

#include "settings/device_lists.h"
#include "settings/settings_block.h"
#include "transfer/transfer_driver.h"
#include "ui/resource_ids.h"
#include "ui/win32_help.h"

namespace tollan {

namespace {

// The list's columns: title and width in pixels.
struct Column {
    const char* title;
    int width;
};
constexpr Column kColumns[] = {
    {"Filename", 150}, {"Status", 150}, {"Date", 60}, {"Time", 60}, {"Size", 80}};

// How long the title stays lit when a run ends.
constexpr DWORD kFlashMs = 500;

const char* ProtocolName(Protocol protocol) {
    switch (protocol) {
    case Protocol::kXModem:
        return "X-Modem";
    case Protocol::kZModem:
        return "Z-Modem";
    case Protocol::kAckNak:
        return "ACK/NAK";
    default:
        return ""; // the command's protocols, or a value loaded from saved settings
    }
}

RECT WindowRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

// A control's rectangle in its dialog's client coordinates.
RECT ClientRectOf(HWND dialog, HWND control) {
    RECT rect = WindowRect(control);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void SetListText(HWND list, int row, int column, const char* text) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

} // namespace

ProgressDialogSetup ProgressDialogSetupOf(const SettingsBlock& block, const DeviceLists& lists) {
    ProgressDialogSetup setup;
    if (block.UseModem != 0) {
        if (const ModemEntry* modem = lists.ModemAt(block.ModemName)) {
            setup.port = modem->name.c_str();
        }
    } else if (const PortName* port = lists.PortAt(block.Port)) {
        setup.port = port->c_str();
    } else if (block.Port == kUnlistedPort) {
        // The run opens it by its number: the dialog names the port that was asked for.
        setup.port = "COM" + std::to_string(block.UnlistedPort);
    }
    setup.protocol = ProtocolName(block.Protocol);
    setup.mode = block.Transfer != 0 ? "Transmit" : block.HostMode != 0 ? "Host" : "Receive";
    setup.baudRate = block.BaudRate;
    setup.verbose = block.Verbose != 0;
    setup.logToScreen = block.LogToScreen != 0;
    setup.runMinimized = block.RunMinimized != 0;
    setup.maxTitle = block.MaxTitle.c_str();
    setup.minTitle = block.MinTitle.c_str();
    setup.helpFile = block.HelpFile.c_str();
    return setup;
}

Win32ProgressDialog::Win32ProgressDialog(HINSTANCE resources, ProgressDialogSetup setup)
    : resources_(resources), setup_(std::move(setup)) {}

INT_PTR Win32ProgressDialog::Run(HWND owner, TransferDriver& driver) {
    driver_ = &driver;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    INT_PTR result = DialogBoxParamA(resources_, MAKEINTRESOURCEA(IDD_PROGRESS), owner, DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    return result;
}

INT_PTR CALLBACK Win32ProgressDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<Win32ProgressDialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        dialog->window_ = window;
        dialog->Initialise();
        return TRUE;
    }
    auto* dialog = reinterpret_cast<Win32ProgressDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    return dialog != nullptr ? dialog->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR Win32ProgressDialog::Handle(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_ACTIVATE:
        SetWindowTextA(window_,
                       HIWORD(wParam) != 0 ? setup_.minTitle.c_str() : setup_.maxTitle.c_str());
        return FALSE;
    case WM_SIZE:
        // Minimising by the system menu or by a program need not deactivate the window.
        if (wParam == SIZE_MINIMIZED) {
            SetWindowTextA(window_, setup_.minTitle.c_str());
        } else if (wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED) {
            SetWindowTextA(window_, setup_.maxTitle.c_str());
        }
        return FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED) {
            return FALSE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            driver_->Stop(); // the dialog closes once the worker thread is done
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_DIALOG_HELP) {
            OpenHelpTopic(window_, setup_.helpFile.c_str(),
                          static_cast<DWORD>(driver_->HelpTopic()));
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        driver_->Stop();
        return TRUE;
    case kRunFinishedMessage:
        driver_->Wait();
        EndDialog(window_, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

void Win32ProgressDialog::Initialise() {
    HICON icon = LoadIconA(resources_, MAKEINTRESOURCEA(IDI_TOLLAN));
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SetWindowTextA(window_, setup_.maxTitle.c_str());

    SetDlgItemTextA(window_, IDC_PROGRESS_PORT, setup_.port.c_str());
    SetDlgItemTextA(window_, IDC_PROGRESS_MODE, setup_.mode.c_str());
    SetDlgItemTextA(window_, IDC_PROGRESS_PROTOCOL, setup_.protocol.c_str());
    SetDlgItemInt(window_, IDC_PROGRESS_BAUD_RATE, static_cast<UINT>(setup_.baudRate), TRUE);
    ApplyLayout();
    PlaceOverOwner();

    SendMessageA(Item(IDC_PROGRESS_BAR), PBM_SETPOS, 0, 0);
    ShowWindow(Item(IDC_DIALOG_HELP), SW_HIDE);

    if (setup_.runMinimized && !setup_.verbose) {
        ShowWindow(window_, SW_SHOWMINNOACTIVE);
        SetWindowTextA(window_, setup_.minTitle.c_str());
    } else {
        ShowWindow(window_, SW_SHOWNORMAL);
    }

    driver_->OpenLog();
    driver_->Start();
}

void Win32ProgressDialog::ApplyLayout() {
    if (!setup_.verbose) {
        // The progress text reaches over to where the error count ends.
        HWND bytes = Item(IDC_PROGRESS_BYTES);
        RECT text = ClientRectOf(window_, bytes);
        RECT errors = ClientRectOf(window_, Item(IDC_PROGRESS_ERRORS));
        SetWindowPos(bytes, nullptr, 0, 0, errors.right - text.left, text.bottom - text.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(Item(IDC_PROGRESS_ERROR_LABEL), SW_HIDE);
        ShowWindow(Item(IDC_PROGRESS_ERRORS), SW_HIDE);
    }
    HWND list = Item(IDC_PROGRESS_LIST);
    if (setup_.logToScreen) {
        for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
            LVCOLUMNA column{};
            column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
            column.fmt = LVCFMT_LEFT;
            column.cx = kColumns[i].width;
            column.pszText = const_cast<char*>(kColumns[i].title);
            column.iSubItem = i;
            SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(&column));
        }
    } else {
        // No list: the dialog is shorter by the list's height.
        RECT listRect = WindowRect(list);
        RECT dialog = WindowRect(window_);
        ShowWindow(list, SW_HIDE);
        SetWindowPos(window_, nullptr, 0, 0, dialog.right - dialog.left,
                     dialog.bottom - dialog.top - (listRect.bottom - listRect.top),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void Win32ProgressDialog::PlaceOverOwner() {
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    HWND owner = GetWindow(window_, GW_OWNER);
    RECT around = owner != nullptr ? WindowRect(owner) : work;
    RECT self = WindowRect(window_);
    const LONG width = self.right - self.left;
    const LONG height = self.bottom - self.top;
    LONG x = around.left + (around.right - around.left - width) / 2;
    LONG y = around.top + (around.bottom - around.top - height) / 2;
    // Kept inside the work area.
    x = std::max(work.left, std::min(x, work.right - width));
    y = std::max(work.top, std::min(y, work.bottom - height));
    SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The view's operations, on the worker thread.

void Win32ProgressDialog::ShowStatus(const char* text) {
    DrawProgress();
    SetDlgItemTextA(window_, IDC_PROGRESS_STATUS, text);
}

void Win32ProgressDialog::AnnounceFile(const char* name, long size) {
    SetDlgItemTextA(window_, IDC_PROGRESS_FILE, name);
    HWND bar = Item(IDC_PROGRESS_BAR);
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    SendMessageA(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(size));
    done_ = 0;
    size_ = size;
    progressPending_ = false;
    lastDraw_ = GetTickCount() - kProgressIntervalMs;
}

void Win32ProgressDialog::ShowProgress(long done, long size) {
    const bool first = done_ == 0;
    done_ = done;
    size_ = size;
    progressPending_ = true;
    if (first || done == size || GetTickCount() - lastDraw_ >= kProgressIntervalMs) {
        DrawProgress();
    }
}

void Win32ProgressDialog::DrawProgress() {
    if (!progressPending_) {
        return;
    }
    progressPending_ = false;
    lastDraw_ = GetTickCount();
    char text[64];
    if (size_ != 0) {
        SendMessageA(Item(IDC_PROGRESS_BAR), PBM_SETPOS, static_cast<WPARAM>(done_), 0);
        std::snprintf(text, sizeof text, "%ld / %ld bytes", done_, size_);
    } else {
        std::snprintf(text, sizeof text, "%ld bytes", done_);
    }
    SetDlgItemTextA(window_, IDC_PROGRESS_BYTES, text);
}

void Win32ProgressDialog::ShowErrorCount(long count) {
    SetDlgItemInt(window_, IDC_PROGRESS_ERRORS, static_cast<UINT>(count), TRUE);
}

void Win32ProgressDialog::AddFileLine(const FileLine& line) {
    DrawProgress();
    if (!setup_.logToScreen) {
        return;
    }
    HWND list = Item(IDC_PROGRESS_LIST);
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.pszText = const_cast<char*>(line.name);
    item.iItem = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    int row =
        static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0) {
        // A full list drops its oldest row.
        SendMessageA(list, LVM_DELETEITEM, 0, 0);
        item.iItem = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        row = static_cast<int>(
            SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        if (row < 0) {
            return;
        }
    }
    char size[16];
    std::snprintf(size, sizeof size, "%ld", line.bytes);
    SetListText(list, row, 1, line.status);
    SetListText(list, row, 2, line.date);
    SetListText(list, row, 3, line.time);
    SetListText(list, row, 4, size);
}

void Win32ProgressDialog::ClearFile() {
    SetDlgItemTextA(window_, IDC_PROGRESS_FILE, "");
    SendMessageA(Item(IDC_PROGRESS_BAR), PBM_SETPOS, 0, 0);
    progressPending_ = false;
    done_ = 0;
    size_ = 0;
}

void Win32ProgressDialog::EndOfRun(bool offerHelp) {
    DrawProgress();
    MessageBeep(MB_ICONEXCLAMATION);
    FlashWindow(window_, TRUE);
    Sleep(kFlashMs);
    FlashWindow(window_, FALSE);
    SetDlgItemTextA(window_, IDCANCEL, "Close");
    if (offerHelp) {
        ShowWindow(Item(IDC_DIALOG_HELP), SW_SHOW);
    }
}

void Win32ProgressDialog::RunFinished() {
    DrawProgress();
    PostMessageA(window_, kRunFinishedMessage, 0, 0);
}

} // namespace tollan
