#include "settings/win32_settings_store.h"

#include <string>

namespace tollan {

int32_t RegistrySettingsStore::Read(const char* name, void* data, uint32_t size) {
    DWORD length = size;
    if (RegQueryValueExA(key_.get(), name, nullptr, nullptr, static_cast<BYTE*>(data), &length) !=
        ERROR_SUCCESS) {
        return -1;
    }
    return static_cast<int32_t>(length);
}

void RegistrySettingsStore::WriteNumber(const char* name, uint32_t value) {
    DWORD data = value;
    RegSetValueExA(key_.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                   sizeof data);
}

void RegistrySettingsStore::WriteText(const char* name, std::string_view text) {
    std::string data(text);
    RegSetValueExA(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
}

} // namespace tollan
