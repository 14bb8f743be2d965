#include "setup/win32_send_file_as_dialog.h"

#include <commctrl.h>

#include <utility>

#include "ui/resource_ids.h"
#include "ui/win32_help.h"

namespace tollan {

namespace {

constexpr int kColumnWidth = 150;

std::string ListText(HWND list, int row, int column) {
    char text[SendFileAsDialog::kNameLength + 1] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

void SetListText(HWND list, int row, int column, const std::string& text) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// The part of a path after its last backslash (all of it when it has none).
std::string BareName(const std::string& path) {
    std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct EditReceiver {
    const std::string& sender;
    std::string& receiver;
    const std::string& helpFile;
};

INT_PTR CALLBACK EditReceiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* edit = reinterpret_cast<EditReceiver*>(GetWindowLongPtrA(window, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        edit = reinterpret_cast<EditReceiver*>(lParam);
        SetDlgItemTextA(window, IDC_EDIT_SENDER_NAME, edit->sender.c_str());
        SetDlgItemTextA(window, IDC_EDIT_RECEIVER_NAME, edit->receiver.c_str());
        return TRUE;
    case WM_HELP:
        OpenHelpTopic(window, edit->helpFile.c_str(), SendFileAsDialog::kEditHelpTopic);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            char text[SendFileAsDialog::kKeptNameLength + 1] = {};
            GetDlgItemTextA(window, IDC_EDIT_RECEIVER_NAME, text, sizeof text);
            edit->receiver = text;
            EndDialog(window, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(window, IDCANCEL);
            return TRUE;
        case IDC_DIALOG_HELP:
            OpenHelpTopic(window, edit->helpFile.c_str(), SendFileAsDialog::kEditHelpTopic);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

} // namespace

INT_PTR EditReceiverName(HINSTANCE resources, HWND owner, const std::string& sender,
                         std::string& receiver, const std::string& helpFile) {
    EditReceiver edit{sender, receiver, helpFile};
    return DialogBoxParamA(resources, MAKEINTRESOURCEA(IDD_EDIT_RECEIVER), owner, EditReceiverProc,
                           reinterpret_cast<LPARAM>(&edit));
}

SendFileAsDialog::SendFileAsDialog(HINSTANCE resources, std::string folder,
                                   std::vector<std::string> names, std::string helpFile)
    : resources_(resources), folder_(std::move(folder)), names_(std::move(names)),
      helpFile_(std::move(helpFile)) {}

INT_PTR SendFileAsDialog::Run(HWND owner) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    result_.clear();
    return DialogBoxParamA(resources_, MAKEINTRESOURCEA(IDD_SEND_FILE_AS), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK SendFileAsDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<SendFileAsDialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        dialog->window_ = window;
        dialog->Fill();
        return TRUE;
    }
    auto* dialog = reinterpret_cast<SendFileAsDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    return dialog != nullptr ? dialog->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR SendFileAsDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_HELP:
        OpenHelpTopic(window_, helpFile_.c_str(), kHelpTopic);
        return TRUE;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom == IDC_SEND_AS_LIST && header->code == NM_DBLCLK) {
            EditSelectedRow();
            return TRUE;
        }
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            BuildResult();
            EndDialog(window_, IDOK);
            return TRUE;
        case IDCANCEL:
            result_.clear();
            EndDialog(window_, IDCANCEL);
            return TRUE;
        case IDC_SEND_AS_EDIT:
            EditSelectedRow();
            return TRUE;
        case IDC_DIALOG_HELP:
            OpenHelpTopic(window_, helpFile_.c_str(), kHelpTopic);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

void SendFileAsDialog::Fill() {
    HWND list = GetDlgItem(window_, IDC_SEND_AS_LIST);
    const char* titles[] = {"Sender Path\\Filename", "Receiver Path\\Filename"};
    for (int i = 0; i < 2; ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumnWidth;
        column.pszText = const_cast<char*>(titles[i]);
        column.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&column));
    }
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);

    const bool several = names_.size() > 1;
    const std::string prefix = several ? folder_ + "\\" : std::string();
    for (std::size_t i = 0; i < names_.size(); ++i) {
        std::string sender = prefix + names_[i];
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = const_cast<char*>(sender.c_str());
        int row = static_cast<int>(
            SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        SetListText(list, row, 1, several ? names_[i] : BareName(names_[i]));
    }
    if (!names_.empty()) {
        LVITEMA state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
        SendMessageA(list, LVM_ENSUREVISIBLE, 0, FALSE);
    }
}

void SendFileAsDialog::EditSelectedRow() {
    HWND list = GetDlgItem(window_, IDC_SEND_AS_LIST);
    int row = static_cast<int>(
        SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (row < 0) {
        return;
    }
    std::string sender = ListText(list, row, 0);
    std::string receiver = ListText(list, row, 1);
    EditReceiverName(resources_, window_, sender, receiver, helpFile_);
    SetListText(list, row, 1, receiver);
}

void SendFileAsDialog::BuildResult() {
    HWND list = GetDlgItem(window_, IDC_SEND_AS_LIST);
    int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    if (rows == 0) {
        return;
    }
    std::string result;
    for (int row = 0; row < rows; ++row) {
        std::string receiver = ListText(list, row, 1);
        if (receiver.empty()) {
            // No partial list: the caller reports the missing name.
            result_.clear();
            return;
        }
        if (row > 0) {
            result += ';';
        }
        result += ListText(list, row, 0) + ';' + receiver;
    }
    result_ = std::move(result);
}

} // namespace tollan
