#include "setup/win32_transfer_page.h"

#include "setup/win32_dialog_controls.h"
#include "ui/resource_ids.h"

#include <shlobj.h>

#include <string>

namespace tollan {

TransferPage::TransferPage() : SetupPage(IDD_TRANSFER_PAGE, "Transfer", kHelpTransferPage) {}

void TransferPage::Load(const SettingsBlock& settings) {
    sendTimeout_ = static_cast<uint32_t>(settings.SendTimeout);
    recvTimeout_ = static_cast<uint32_t>(settings.RecvTimeout);
    pathSwitch_ = settings.PathSwitch;
    overwrite_ = settings.Overwrite;
    defaultDir_ = settings.DefaultDir;
}

void TransferPage::Store(SettingsBlock& settings) const {
    settings.SendTimeout = static_cast<int32_t>(sendTimeout_);
    settings.RecvTimeout = static_cast<int32_t>(recvTimeout_);
    settings.PathSwitch = pathSwitch_;
    settings.Overwrite = overwrite_;
    settings.DefaultDir = defaultDir_;
}

void TransferPage::OnInit() {
    HWND page = Window();
    FillCombo(page, IDC_TRANSFER_PATH_SWITCH,
              {"Strip Path", "Send Path", "Specify Receiver's File Path/Name"});
    FillCombo(page, IDC_TRANSFER_OVERWRITE,
              {"Source Longer or Newer", "CRCs Don't Match", "Append", "Always", "Source Newer",
               "Date/Length Don't Match", "Never"});
    // Saved settings can hold 0, which shows as "Never".
    Overwrite shown = NumberOf(overwrite_) == 0 ? Overwrite::kNever : overwrite_;
    SelectComboItem(page, IDC_TRANSFER_OVERWRITE, NumberOf(shown) - 1);
    SelectComboItem(page, IDC_TRANSFER_PATH_SWITCH, NumberOf(pathSwitch_));
    SetControlText(page, IDC_TRANSFER_SEND_TIMEOUT, std::to_string(sendTimeout_));
    SetControlText(page, IDC_TRANSFER_RECV_TIMEOUT, std::to_string(recvTimeout_));
    SendDlgItemMessageA(page, IDC_TRANSFER_DEFAULT_DIR, EM_LIMITTEXT, defaultDir_.kCapacity, 0);
    SetControlText(page, IDC_TRANSFER_DEFAULT_DIR, defaultDir_.view());
}

void TransferPage::OnApply() {
    HWND page = Window();
    sendTimeout_ = UnsignedFromText(ControlText(page, IDC_TRANSFER_SEND_TIMEOUT, 32));
    recvTimeout_ = UnsignedFromText(ControlText(page, IDC_TRANSFER_RECV_TIMEOUT, 32));
    defaultDir_.Assign(ControlText(page, IDC_TRANSFER_DEFAULT_DIR, defaultDir_.kCapacity));
    int overwrite = ComboSelection(page, IDC_TRANSFER_OVERWRITE);
    if (overwrite >= 0) {
        overwrite_ = static_cast<Overwrite>(overwrite + 1);
    }
    int pathSwitch = ComboSelection(page, IDC_TRANSFER_PATH_SWITCH);
    if (pathSwitch >= 0) {
        pathSwitch_ = static_cast<PathSwitch>(pathSwitch);
    }
}

void TransferPage::OnCommand(int id, int code) {
    switch (id) {
    case IDC_TRANSFER_SEND_TIMEOUT:
    case IDC_TRANSFER_RECV_TIMEOUT:
    case IDC_TRANSFER_DEFAULT_DIR:
        if (code == EN_CHANGE) {
            MarkChanged();
        }
        break;
    case IDC_TRANSFER_PATH_SWITCH:
    case IDC_TRANSFER_OVERWRITE:
        if (code == CBN_SELCHANGE) {
            MarkChanged();
        }
        break;
    case IDC_SETUP_BROWSE:
        if (code == BN_CLICKED) {
            BrowseForFolder();
        }
        break;
    default:
        break;
    }
}

void TransferPage::BrowseForFolder() {
    IMalloc* allocator = nullptr;
    if (SHGetMalloc(&allocator) != S_OK || allocator == nullptr) {
        return;
    }
    char displayName[MAX_PATH] = {};
    BROWSEINFOA browse = {};
    browse.hwndOwner = GetActiveWindow();
    browse.pidlRoot = nullptr; // the desktop
    browse.pszDisplayName = displayName;
    browse.lpszTitle = "Select Default File Folder";
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS | BIF_EDITBOX;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
    if (chosen != nullptr) {
        char path[MAX_PATH] = {};
        if (SHGetPathFromIDListA(chosen, path)) {
            SetControlText(Window(), IDC_TRANSFER_DEFAULT_DIR, path);
        }
        allocator->Free(chosen);
    }
    allocator->Release();
}

} // namespace tollan
