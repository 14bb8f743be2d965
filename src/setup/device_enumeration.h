// Finding the machine's serial ports and installed modems in the registry.
#pragma once

#include "settings/device_lists.h"

#include <windows.h>

namespace tollan {

// True on the Windows NT family, false on the Windows 95 family (also when the version query
// fails).
bool IsNtFamily();

// Fills `lists` from the registry below `machine`, which stands for the local machine's root:
// the modems in the layout of the Windows NT family (`ntFamily`) or of the Windows 95 family,
// then the ports. Registry failures only make the lists shorter.
void EnumerateDevices(DeviceLists& lists, HKEY machine, bool ntFamily);

// What the module does when it is loaded: the local machine, the running Windows family.
void BuildDeviceLists(DeviceLists& lists);

} // namespace tollan
