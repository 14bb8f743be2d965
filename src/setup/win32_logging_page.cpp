#include "setup/win32_logging_page.h"

#include "setup/win32_dialog_controls.h"
#include "ui/resource_ids.h"

#include <commdlg.h>

namespace tollan {

namespace {

// The file dialog's name buffer holds this many characters.
constexpr std::size_t kFileNameBuffer = 261;

} // namespace

LoggingPage::LoggingPage() : SetupPage(IDD_LOGGING_PAGE, "Logging", kHelpLoggingPage) {}

void LoggingPage::Load(const SettingsBlock& settings) {
    logToFile_ = settings.LogToFile;
    logToScreen_ = settings.LogToScreen;
    appendToLog_ = settings.AppendToLog;
    logFilename_ = settings.LogFilename;
}

void LoggingPage::Store(SettingsBlock& settings) const {
    settings.LogToFile = logToFile_;
    settings.LogToScreen = logToScreen_;
    settings.AppendToLog = appendToLog_;
    settings.LogFilename = logFilename_;
}

void LoggingPage::OnInit() {
    HWND page = Window();
    SetChecked(page, IDC_LOGGING_TO_SCREEN, logToScreen_ != 0);
    SetChecked(page, IDC_LOGGING_APPEND, appendToLog_ != 0);
    SetChecked(page, IDC_LOGGING_TO_FILE, logToFile_ != 0);
    SendDlgItemMessageA(page, IDC_LOGGING_FILENAME, EM_LIMITTEXT, logFilename_.kCapacity, 0);
    SetControlText(page, IDC_LOGGING_FILENAME, logFilename_.view());
    EnableFileControls();
}

void LoggingPage::EnableFileControls() {
    bool toFile = IsChecked(Window(), IDC_LOGGING_TO_FILE);
    for (int id : {IDC_LOGGING_FILENAME, IDC_SETUP_BROWSE, IDC_LOGGING_APPEND}) {
        EnableControl(Window(), id, toFile);
    }
}

void LoggingPage::OnApply() {
    HWND page = Window();
    logToScreen_ = IsChecked(page, IDC_LOGGING_TO_SCREEN) ? 1 : 0;
    appendToLog_ = IsChecked(page, IDC_LOGGING_APPEND) ? 1 : 0;
    logToFile_ = IsChecked(page, IDC_LOGGING_TO_FILE) ? 1 : 0;
    if (logToFile_ != 0) {
        logFilename_.Assign(ControlText(page, IDC_LOGGING_FILENAME, logFilename_.kCapacity));
    }
}

void LoggingPage::OnCommand(int id, int code) {
    switch (id) {
    case IDC_LOGGING_TO_FILE:
    case IDC_LOGGING_TO_SCREEN:
        if (code == BN_CLICKED) {
            EnableFileControls();
            MarkChanged();
        }
        break;
    case IDC_LOGGING_APPEND:
        if (code == BN_CLICKED) {
            MarkChanged();
        }
        break;
    case IDC_LOGGING_FILENAME:
        if (code == EN_CHANGE) {
            MarkChanged();
        }
        break;
    case IDC_SETUP_BROWSE:
        if (code == BN_CLICKED) {
            ChooseLogFile();
        }
        break;
    default:
        break;
    }
}

void LoggingPage::ChooseLogFile() {
    char name[kFileNameBuffer] = {};
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = GetParent(Window());
    dialog.lpstrFilter = "Log Files\0*.log\0";
    dialog.lpstrFile = name;
    dialog.nMaxFile = sizeof name;
    dialog.lpstrTitle = "Communications Log File";
    dialog.lpstrDefExt = "log";
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOREADONLYRETURN |
                   OFN_NOTESTFILECREATE | OFN_NONETWORKBUTTON | OFN_NODEREFERENCELINKS |
                   OFN_NOLONGNAMES;
    if (GetOpenFileNameA(&dialog)) {
        SetControlText(Window(), IDC_LOGGING_FILENAME, name);
        MarkChanged();
    }
}

} // namespace tollan
