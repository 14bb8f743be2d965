#include "setup/win32_dialog_controls.h"

#include <limits>
#include <vector>

namespace tollan {

std::string ControlText(HWND dialog, int id, std::size_t maxLength) {
    std::vector<char> buffer(maxLength + 1, '\0');
    UINT length = GetDlgItemTextA(dialog, id, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), length < maxLength ? length : maxLength);
}

void SetControlText(HWND dialog, int id, std::string_view text) {
    SetDlgItemTextA(dialog, id, std::string(text).c_str());
}

namespace {

// Skips leading blanks; returns the position of the first other character.
std::size_t SkipBlanks(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
        ++at;
    }
    return at;
}

uint64_t Digits(std::string_view text, std::size_t at, uint64_t limit) {
    uint64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + static_cast<uint64_t>(text[at] - '0');
        if (value > limit) {
            return limit;
        }
    }
    return value;
}

} // namespace

uint32_t UnsignedFromText(std::string_view text) {
    return static_cast<uint32_t>(
        Digits(text, SkipBlanks(text), std::numeric_limits<uint32_t>::max()));
}

int64_t SignedFromText(std::string_view text) {
    std::size_t at = SkipBlanks(text);
    bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        ++at;
    }
    auto magnitude = static_cast<int64_t>(Digits(text, at, std::numeric_limits<uint32_t>::max()));
    return negative ? -magnitude : magnitude;
}

void FillCombo(HWND dialog, int id, std::initializer_list<const char*> items) {
    SendDlgItemMessageA(dialog, id, CB_RESETCONTENT, 0, 0);
    for (const char* item : items) {
        AddComboItem(dialog, id, item);
    }
}

void AddComboItem(HWND dialog, int id, const char* item) {
    SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
}

void SelectComboItem(HWND dialog, int id, int index) {
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int ComboSelection(HWND dialog, int id) {
    LRESULT selection = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
    return selection == CB_ERR ? -1 : static_cast<int>(selection);
}

bool IsChecked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void SetChecked(HWND dialog, int id, bool checked) {
    CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void EnableControl(HWND dialog, int id, bool enabled) {
    EnableWindow(GetDlgItem(dialog, id), enabled ? TRUE : FALSE);
}

} // namespace tollan
