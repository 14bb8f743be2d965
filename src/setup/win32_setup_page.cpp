#include "setup/win32_setup_page.h"

#include "ui/win32_help.h"

namespace tollan {

PROPSHEETPAGEA SetupPage::Describe(HINSTANCE resources, const char* helpFile) {
    helpFile_ = helpFile;
    resources_ = resources;
    PROPSHEETPAGEA page = {};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_USETITLE | PSP_HASHELP;
    page.hInstance = resources;
    page.pszTemplate = MAKEINTRESOURCEA(templateId_);
    page.pszTitle = title_;
    page.pfnDlgProc = Procedure;
    page.lParam = reinterpret_cast<LPARAM>(this);
    return page;
}

void SetupPage::MarkChanged() const {
    PropSheet_Changed(GetParent(window_), window_);
}

void SetupPage::OpenHelp() const {
    OpenHelpTopic(GetParent(window_), helpFile_.c_str(), helpContext_);
}

INT_PTR CALLBACK SetupPage::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* description = reinterpret_cast<PROPSHEETPAGEA*>(lParam);
        auto* page = reinterpret_cast<SetupPage*>(description->lParam);
        SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(page));
        page->window_ = window;
        page->OnInit();
        return TRUE;
    }
    auto* page = reinterpret_cast<SetupPage*>(GetWindowLongPtrA(window, DWLP_USER));
    if (page == nullptr) {
        return FALSE;
    }
    switch (message) {
    case WM_COMMAND:
        page->OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_HELP:
        page->OpenHelp();
        return TRUE;
    case WM_NOTIFY: {
        const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
        switch (header.code) {
        case PSN_APPLY:
            page->OnApply();
            SetWindowLongPtrA(window, DWLP_MSGRESULT, PSNRET_NOERROR);
            return TRUE;
        case PSN_HELP:
            page->OpenHelp();
            return TRUE;
        default:
            page->OnNotify(header);
            return FALSE;
        }
    }
    default:
        return FALSE;
    }
}

} // namespace tollan
