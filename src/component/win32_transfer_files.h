// TransferFiles: checks the settings, prompts for files when asked, counts the files to attempt,
// and runs the transfer in the modal progress dialog while the transfer driver works on its
// worker thread. The result is the run's result code (the failed-file count of a ZModem batch in
// the high 16 bits) or the code of the check that refused it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "transfer/port_factory.h"

namespace tollan {

struct SettingsBlock;
struct DeviceLists;

// The Win32 port the settings select: the port-list entry of `Port`, the COM port of the number
// written when no listed port has it, or with `UseModem` the port of the selected modem. A
// selection that names no port gives a factory of no port.
PortFactory SelectedPortFactory(const SettingsBlock& block, const DeviceLists& lists);

// `resources`: the module that holds the dialog templates and the icon.
[[nodiscard]] std::int32_t RunTransferFiles(SettingsBlock& block, const DeviceLists& lists,
                                            HINSTANCE resources, bool filePrompt, bool showErrors);

} // namespace tollan
