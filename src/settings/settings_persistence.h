// Saving the settings block to, and loading it from, the current user's saved settings.
#pragma once

#include "settings/device_lists.h"
#include "settings/settings_block.h"

#include <cstdint>
#include <string_view>

namespace tollan {

// The current user's key that holds the saved settings, and the telephone listing under it.
inline constexpr const char* kSettingsKey = "Software\\Brindle\\Tollan";
inline constexpr const char* kTelephoneKey = "Software\\Brindle\\Tollan\\Telephone";

// An opened settings key: named values holding either a 32-bit number or a text.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // Copies the data of value `name`, whatever its type, into `data` (room for `size`
    // bytes) and returns the number of bytes copied; -1 when the value is missing, cannot be
    // read or holds more than `size` bytes.
    [[nodiscard]] virtual int32_t Read(const char* name, void* data, uint32_t size) = 0;

    // Writes a 32-bit number.
    virtual void WriteNumber(const char* name, uint32_t value) = 0;

    // Writes a text value, including its terminating zero.
    virtual void WriteText(const char* name, std::string_view text) = 0;
};

// Reads every saved value into the block. A value that is missing or unreadable leaves its
// field alone; the others are still taken. Returns 0 when every value was read, -1 otherwise.
// Numbers are taken as stored, not brought into range; texts are cut to their fields; the
// port and the modem are looked up in the lists by number and by name; UseModem is not read
// (and becomes 0) while the modem list is empty.
int16_t LoadSettings(SettingsBlock& block, const DeviceLists& lists, SettingsStore& store);

// Writes every saved value. The port is saved by its number, the modem by its name.
void SaveSettings(const SettingsBlock& block, const DeviceLists& lists, SettingsStore& store);

} // namespace tollan
