// The saved settings in a registry key (the current user's, for the component).
#pragma once

#include "settings/settings_persistence.h"
#include "settings/win32_registry_key.h"

namespace tollan {

class RegistrySettingsStore final : public SettingsStore {
public:
    // Opens the key for reading; false when it does not exist or cannot be opened.
    bool OpenForReading(HKEY root, const char* path) { return key_.Open(root, path, KEY_READ); }

    // Opens the key with full access, creating it when needed.
    bool OpenForWriting(HKEY root, const char* path) { return key_.Create(root, path); }

    [[nodiscard]] int32_t Read(const char* name, void* data, uint32_t size) override;
    void WriteNumber(const char* name, uint32_t value) override;
    void WriteText(const char* name, std::string_view text) override;

private:
    RegistryKey key_;
};

} // namespace tollan
