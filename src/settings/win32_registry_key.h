// An open registry key that closes itself, with the text and number reads the component makes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tollan {

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() { Close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    bool Open(HKEY parent, const char* path, REGSAM access = KEY_READ) {
        Close();
        return RegOpenKeyExA(parent, path, 0, access, &key_) == ERROR_SUCCESS;
    }

    // Opens the key, creating it when it does not exist.
    bool Create(HKEY parent, const char* path, REGSAM access = KEY_ALL_ACCESS) {
        Close();
        return RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                               &key_, nullptr) == ERROR_SUCCESS;
    }

    void Close() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
            key_ = nullptr;
        }
    }

    HKEY get() const { return key_; }

    // Reads a text value of at most `maxLength` characters; false when the value is missing or
    // longer. The text ends at its first zero byte.
    bool ReadText(const char* name, std::size_t maxLength, std::string& text) const {
        std::vector<char> buffer(maxLength + 1, '\0');
        DWORD size = static_cast<DWORD>(buffer.size());
        if (RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                             &size) != ERROR_SUCCESS) {
            return false;
        }
        text.assign(buffer.data(), strnlen(buffer.data(), size < maxLength ? size : maxLength));
        return true;
    }

    // Reads a value of at most 4 bytes as a number.
    bool ReadNumber(const char* name, uint32_t& value) const {
        uint32_t data = 0;
        DWORD size = sizeof data;
        if (RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS) {
            return false;
        }
        value = data;
        return true;
    }

private:
    HKEY key_ = nullptr;
};

} // namespace tollan
