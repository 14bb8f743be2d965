#include "setup/win32_modem_page.h"

#include "settings/settings_persistence.h"
#include "setup/win32_dialog_controls.h"
#include "setup/win32_telephone_dialog.h"
#include "ui/resource_ids.h"

#include <vector>

namespace tollan {

namespace {

constexpr int kDescriptionColumn = 1;
constexpr int kNumberColumn = 2;

std::string ItemText(HWND list, int item, int column, std::size_t maxLength) {
    std::vector<char> buffer(maxLength + 1, '\0');
    LVITEMA text = {};
    text.iSubItem = column;
    text.pszText = buffer.data();
    text.cchTextMax = static_cast<int>(buffer.size());
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(item),
                 reinterpret_cast<LPARAM>(&text));
    return std::string(buffer.data());
}

void SetItemText(HWND list, int item, int column, const std::string& value) {
    LVITEMA text = {};
    text.iSubItem = column;
    text.pszText = const_cast<char*>(value.c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(item),
                 reinterpret_cast<LPARAM>(&text));
}

} // namespace

ModemPage::ModemPage() : SetupPage(IDD_MODEM_PAGE, "Modem", kHelpModemPage) {}

void ModemPage::Load(const SettingsBlock& settings) {
    telephone_ = settings.Telephone;
    modemCmd_ = settings.ModemCmd;
}

void ModemPage::Store(SettingsBlock& settings) const {
    settings.Telephone = telephone_;
    settings.ModemCmd = modemCmd_;
}

void ModemPage::OnInit() {
    HWND list = GetDlgItem(Window(), IDC_MODEM_LISTING);
    struct Column {
        const char* title;
        int width;
    };
    int index = 0;
    for (Column column :
         {Column{"Index", 40}, Column{"Description", 160}, Column{"Telephone Number", 110}}) {
        LVCOLUMNA description = {};
        description.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        description.pszText = const_cast<char*>(column.title);
        description.cx = column.width;
        description.iSubItem = index;
        SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(&description));
        ++index;
    }
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    if (!listingLoaded_) {
        LoadListing();
    }
    SendDlgItemMessageA(Window(), IDC_MODEM_INIT, EM_LIMITTEXT, modemCmd_.kCapacity, 0);
    SetControlText(Window(), IDC_MODEM_INIT, modemCmd_.view());
    EnableEntryButtons();
}

void ModemPage::LoadListing() {
    listingLoaded_ = true;
    HWND list = GetDlgItem(Window(), IDC_MODEM_LISTING);
    for (std::size_t entry = 0; entry < kTelephoneEntries; ++entry) {
        char digit[2] = {static_cast<char>('0' + entry), '\0'};
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(entry);
        item.pszText = digit;
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    TelephoneListing listing = ReadTelephoneListing(HKEY_CURRENT_USER, kTelephoneKey);
    int selected = -1;
    for (std::size_t entry = 0; entry < kTelephoneEntries; ++entry) {
        PutEntryInList(static_cast<int>(entry), listing[entry]);
        if (selected < 0 && telephone_ == listing[entry].number) {
            selected = static_cast<int>(entry);
        }
    }
    if (selected < 0) {
        selected = 0;
    }
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(selected),
                 reinterpret_cast<LPARAM>(&state));
    SendMessageA(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(selected), FALSE);
}

int ModemPage::SelectedEntry() const {
    return static_cast<int>(SendDlgItemMessageA(Window(), IDC_MODEM_LISTING, LVM_GETNEXTITEM,
                                                static_cast<WPARAM>(-1), LVNI_SELECTED));
}

TelephoneEntry ModemPage::EntryInList(int entry, std::size_t numberLimit) const {
    HWND list = GetDlgItem(Window(), IDC_MODEM_LISTING);
    return TelephoneEntry{ItemText(list, entry, kDescriptionColumn, kTelephoneTextLimit),
                          ItemText(list, entry, kNumberColumn, numberLimit)};
}

void ModemPage::PutEntryInList(int entry, const TelephoneEntry& texts) {
    HWND list = GetDlgItem(Window(), IDC_MODEM_LISTING);
    SetItemText(list, entry, kDescriptionColumn, texts.description);
    SetItemText(list, entry, kNumberColumn, texts.number);
}

void ModemPage::EnableEntryButtons() {
    bool selected = SelectedEntry() >= 0;
    EnableControl(Window(), IDC_MODEM_EDIT, selected);
    EnableControl(Window(), IDC_MODEM_CLEAR, selected);
}

void ModemPage::EditSelectedEntry() {
    int entry = SelectedEntry();
    if (entry < 0) {
        return;
    }
    TelephoneEntry edited = EntryInList(entry, telephone_.kCapacity);
    if (EditTelephoneEntry(Resources(), GetActiveWindow(), HelpFile(), edited)) {
        // An emptied field keeps what the list had; Clear is the way to empty an entry.
        TelephoneEntry listed = EntryInList(entry, kTelephoneTextLimit);
        PutEntryInList(entry, {edited.description.empty() ? listed.description : edited.description,
                               edited.number.empty() ? listed.number : edited.number});
    }
    MarkChanged();
}

void ModemPage::ClearSelectedEntry() {
    int entry = SelectedEntry();
    if (entry < 0) {
        return;
    }
    PutEntryInList(entry, {});
    MarkChanged();
}

void ModemPage::OnCommand(int id, int code) {
    switch (id) {
    case IDC_MODEM_EDIT:
        if (code == BN_CLICKED) {
            EditSelectedEntry();
        }
        break;
    case IDC_MODEM_CLEAR:
        if (code == BN_CLICKED) {
            ClearSelectedEntry();
        }
        break;
    case IDC_MODEM_INIT:
        if (code == EN_CHANGE) {
            MarkChanged();
        }
        break;
    default:
        break;
    }
}

void ModemPage::OnNotify(const NMHDR& header) {
    if (header.idFrom != IDC_MODEM_LISTING) {
        return;
    }
    switch (header.code) {
    case NM_CLICK:
        EnableEntryButtons();
        break;
    case NM_DBLCLK:
        EditSelectedEntry();
        break;
    case LVN_ITEMCHANGED:
        // Also a selection moved with the keyboard decides whether Edit and Clear are usable.
        EnableEntryButtons();
        MarkChanged();
        break;
    case LVN_INSERTITEM:
        MarkChanged();
        break;
    default:
        break;
    }
}

void ModemPage::OnApply() {
    int entry = SelectedEntry();
    if (entry >= 0) {
        telephone_.Clear();
        std::string number = EntryInList(entry, telephone_.kCapacity).number;
        if (!number.empty()) {
            telephone_.Assign(number);
        }
    }
    TelephoneListing listing;
    for (std::size_t i = 0; i < kTelephoneEntries; ++i) {
        listing[i] = EntryInList(static_cast<int>(i), kTelephoneTextLimit);
    }
    WriteTelephoneListing(HKEY_CURRENT_USER, kTelephoneKey, listing);
    modemCmd_.Assign(ControlText(Window(), IDC_MODEM_INIT, modemCmd_.kCapacity));
}

} // namespace tollan
