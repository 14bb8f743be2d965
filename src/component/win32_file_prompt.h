// The file prompt of TransferFiles: the system's file-open dialog, then (for a ZModem send that
// names each file for the receiver) the "Send File As ..." dialog. It replaces FileList and
// counts the files attempted.
#pragma once

#include <windows.h>

#include <cstdint>

namespace tollan {

struct SettingsBlock;

// The name buffer of the file-open dialog, in characters.
inline constexpr DWORD kPromptBufferSize = 520;

// FileList is emptied whatever the user does. 0 when the run may go on (a cancelled prompt
// included: the list stays empty); 4 when "Send File As ..." gave no list after OK, 6 after its
// Cancel. `resources` holds the dialogs' templates.
[[nodiscard]] std::int32_t PromptForFiles(SettingsBlock& block, HINSTANCE resources);

} // namespace tollan
