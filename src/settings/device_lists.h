// The machine's serial ports and installed modems, as found when the module was loaded.
#pragma once

#include "settings/fixed_text.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace tollan {

// A serial port's name such as COM1 (at most 9 characters).
using PortName = FixedText<9>;

// One installed modem.
struct ModemEntry {
    FixedText<260> name; // display name
    FixedText<258> key;  // path, under the local machine, of the modem's driver key
    int32_t port = 0;    // zero-based number of the port it is attached to (COM1 is 0)
};

// The number written after the first three characters of a port name: "COM12" gives 12.
// Read like a decimal number with optional leading blanks and sign; 0 when there is none.
int32_t PortNumberOf(std::string_view portName);

// The port list and the modem list. The settings' `Port` and `ModemName` are positions in
// them. Built once per process and not refreshed.
struct DeviceLists {
    std::vector<ModemEntry> modems;
    std::vector<PortName> ports;
    bool ntFamily = false; // found on the Windows NT family (the modem layout used)

    // Position of the first port whose name after its first three characters is `number`
    // written in decimal (exactly: "COM07" does not match 7); 0 when none does.
    uint16_t FindPort(int32_t number) const;

    // Position of the first modem whose display name begins with `prefix` (case-sensitive);
    // 0 when none does or when `prefix` is empty.
    uint16_t FindModem(std::string_view prefix) const;

    // The entry at a position, or null when the position lies outside the list.
    const PortName* PortAt(uint16_t index) const;
    const ModemEntry* ModemAt(uint16_t index) const;

    void Clear();
};

// The lists of this process (empty until the module's start-up code fills them).
DeviceLists& ProcessDevices();

} // namespace tollan
