#include "setup/win32_telephone_dialog.h"

#include "setup/win32_dialog_controls.h"
#include "setup/win32_setup_page.h"
#include "ui/resource_ids.h"
#include "ui/win32_help.h"

namespace tollan {

namespace {

constexpr std::size_t kDescriptionLimit = 79;
constexpr std::size_t kNumberLimit = 39;

struct EntryDialog {
    TelephoneEntry* entry;
    const char* helpFile;
};

INT_PTR CALLBACK EntryProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* dialog = reinterpret_cast<EntryDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        dialog = reinterpret_cast<EntryDialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        if (!dialog->entry->description.empty()) {
            SetControlText(window, IDC_ENTRY_DESCRIPTION, dialog->entry->description);
        }
        if (!dialog->entry->number.empty()) {
            SetControlText(window, IDC_ENTRY_NUMBER, dialog->entry->number);
        }
        return TRUE;
    case WM_HELP:
        OpenHelpTopic(window, dialog->helpFile, kHelpTelephoneEntry);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            dialog->entry->description =
                ControlText(window, IDC_ENTRY_DESCRIPTION, kDescriptionLimit);
            dialog->entry->number = ControlText(window, IDC_ENTRY_NUMBER, kNumberLimit);
            EndDialog(window, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(window, IDCANCEL);
            return TRUE;
        case IDHELP:
            OpenHelpTopic(window, dialog->helpFile, kHelpTelephoneEntry);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

} // namespace

bool EditTelephoneEntry(HINSTANCE resources, HWND owner, const char* helpFile,
                        TelephoneEntry& entry) {
    EntryDialog dialog{&entry, helpFile};
    return DialogBoxParamA(resources, MAKEINTRESOURCEA(IDD_TELEPHONE_ENTRY), owner, EntryProcedure,
                           reinterpret_cast<LPARAM>(&dialog)) == IDOK;
}

} // namespace tollan
