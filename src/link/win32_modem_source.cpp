#include "link/win32_modem_source.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace tollan {

namespace {

class Win32ModemKey : public ModemKey {
public:
    explicit Win32ModemKey(HKEY key) : key_(key) {}
    ~Win32ModemKey() override { RegCloseKey(key_); }

    Win32ModemKey(const Win32ModemKey&) = delete;
    Win32ModemKey& operator=(const Win32ModemKey&) = delete;

    bool ReadText(const char* name, std::size_t limit, std::string& text) const override {
        std::vector<char> data(limit + 1, '\0');
        DWORD size = static_cast<DWORD>(limit);
        if (RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                             &size) != ERROR_SUCCESS) {
            return false;
        }
        text.assign(data.data(), strnlen(data.data(), size));
        return true;
    }

    std::unique_ptr<ModemKey> OpenSubkey(const char* name) const override {
        HKEY subkey = nullptr;
        if (RegOpenKeyExA(key_, name, 0, KEY_READ, &subkey) != ERROR_SUCCESS) {
            return nullptr;
        }
        return std::make_unique<Win32ModemKey>(subkey);
    }

    bool ValueInfo(std::uint32_t& count, std::uint32_t& longestData) const override {
        DWORD values = 0;
        DWORD longest = 0;
        if (RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, &longest, nullptr, nullptr) != ERROR_SUCCESS) {
            count = 0;
            longestData = 0;
            return false;
        }
        count = values;
        longestData = longest;
        return true;
    }

    HKEY get() const { return key_; }

private:
    HKEY key_;
};

// The five fields the profile uses, in the order both records keep them.
constexpr std::size_t kDefaultsSize = 5 * sizeof(std::uint32_t);

void TakeDefaults(const BYTE* fields, ModemDefaults& defaults) {
    std::uint32_t values[5];
    std::memcpy(values, fields, sizeof values);
    defaults.callSetupFailTimer = values[0];
    defaults.inactivityTimeout = values[1];
    defaults.speakerVolume = values[2];
    defaults.speakerMode = values[3];
    defaults.preferredOptions = values[4];
}

// The system's answer: a configuration record whose provider data are modem settings (four
// size and offset fields, then the five fields).
bool SystemDefaults(const std::string& modemName, ModemDefaults& defaults) {
    alignas(COMMCONFIG) BYTE buffer[100] = {};
    DWORD size = sizeof buffer;
    if (!GetDefaultCommConfigA(modemName.c_str(), reinterpret_cast<COMMCONFIG*>(buffer), &size)) {
        return false;
    }
    const auto* config = reinterpret_cast<const COMMCONFIG*>(buffer);
    const std::size_t offset = config->dwProviderOffset != 0 ? config->dwProviderOffset : 48;
    constexpr std::size_t kLead = 4 * sizeof(std::uint32_t);
    if (config->dwProviderSubType != PST_MODEM || config->dwProviderSize < kLead + kDefaultsSize ||
        offset + kLead + kDefaultsSize > size || offset + kLead + kDefaultsSize > sizeof buffer) {
        return false;
    }
    TakeDefaults(buffer + offset + kLead, defaults);
    return true;
}

} // namespace

std::unique_ptr<ModemKey> Win32ModemSource::OpenKey(const std::string& path) const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return std::make_unique<Win32ModemKey>(key);
}

bool Win32ModemSource::DefaultConfig(const std::string& modemName, const std::string& keyPath,
                                     ModemDefaults& defaults) const {
    if (SystemDefaults(modemName, defaults)) {
        return true;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    BYTE record[kDefaultsSize] = {};
    DWORD size = sizeof record;
    DWORD type = 0;
    const bool found =
        RegQueryValueExA(key, "Default", nullptr, &type, record, &size) == ERROR_SUCCESS &&
        type == REG_BINARY && size == kDefaultsSize;
    RegCloseKey(key);
    if (found) {
        TakeDefaults(record, defaults);
    }
    return found;
}

} // namespace tollan
