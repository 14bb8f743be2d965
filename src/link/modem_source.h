// Where a modem's command strings and default configuration come from: on Windows the modem's
// driver key under the local machine and the system's default configuration of the modem; in the
// command and in tests an in-memory table. The modem profile reads nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tollan {

// The modem's default configuration: the few fields of the system's modem settings the profile
// uses.
struct ModemDefaults {
    std::uint32_t callSetupFailTimer = 0; // seconds
    std::uint32_t inactivityTimeout = 0;  // seconds
    std::uint32_t speakerVolume = 0;      // 0 low, 1 medium, 2 high
    std::uint32_t speakerMode = 0;        // 0 off, 1 while dialling, 2 on, 3 during call set-up
    std::uint32_t preferredOptions = 0;   // kModem... bits
};

// Bits of ModemDefaults::preferredOptions (the system's own values).
inline constexpr std::uint32_t kModemCompression = 0x1;
inline constexpr std::uint32_t kModemErrorControl = 0x2;
inline constexpr std::uint32_t kModemForcedErrorControl = 0x4;
inline constexpr std::uint32_t kModemCellular = 0x8;
inline constexpr std::uint32_t kModemHardwareFlow = 0x10;
inline constexpr std::uint32_t kModemSoftwareFlow = 0x20;
inline constexpr std::uint32_t kModemCcittOverride = 0x40;
inline constexpr std::uint32_t kModemSpeedAdjust = 0x80;
inline constexpr std::uint32_t kModemToneDial = 0x100;
inline constexpr std::uint32_t kModemBlindDial = 0x200;
inline constexpr std::uint32_t kModemV23Override = 0x400;

// One open key of the modem's settings.
class ModemKey {
public:
    virtual ~ModemKey() = default;

    // The text of value `name` when the value exists and its data, with the terminating NUL,
    // fits into `limit` bytes; false otherwise (`text` is then unchanged).
    virtual bool ReadText(const char* name, std::size_t limit, std::string& text) const = 0;
    // The subkey `name`, or null when it cannot be opened.
    virtual std::unique_ptr<ModemKey> OpenSubkey(const char* name) const = 0;
    // The number of values in the key and the size in bytes of the longest value's data.
    virtual bool ValueInfo(std::uint32_t& count, std::uint32_t& longestData) const = 0;
};

class ModemSource {
public:
    virtual ~ModemSource() = default;

    // The modem's key at `path` (below the local machine on Windows), or null.
    virtual std::unique_ptr<ModemKey> OpenKey(const std::string& path) const = 0;
    // The default configuration of the modem of that display name and key; false when there is
    // none.
    virtual bool DefaultConfig(const std::string& modemName, const std::string& keyPath,
                               ModemDefaults& defaults) const = 0;
};

} // namespace tollan
