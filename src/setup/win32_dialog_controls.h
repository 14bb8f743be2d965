// Small reads and writes of dialog controls that the setup pages share: texts, numbers, combo
// boxes and check boxes, all in the ANSI code page.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tollan {

// The text of control `id`, at most `maxLength` characters.
std::string ControlText(HWND dialog, int id, std::size_t maxLength);
void SetControlText(HWND dialog, int id, std::string_view text);

// The text read as an unsigned decimal number: leading blanks skipped, digits up to the first
// other character, 0 when there is none, the largest value when it does not fit.
uint32_t UnsignedFromText(std::string_view text);
// The text read as a signed decimal number in the same way.
int64_t SignedFromText(std::string_view text);

// Empties combo box `id` and adds `items` in order.
void FillCombo(HWND dialog, int id, std::initializer_list<const char*> items);
void AddComboItem(HWND dialog, int id, const char* item);
// Selects item `index` (none when it lies outside the list).
void SelectComboItem(HWND dialog, int id, int index);
// The selected item, -1 when none is.
int ComboSelection(HWND dialog, int id);

bool IsChecked(HWND dialog, int id);
void SetChecked(HWND dialog, int id, bool checked);
void EnableControl(HWND dialog, int id, bool enabled);

} // namespace tollan
