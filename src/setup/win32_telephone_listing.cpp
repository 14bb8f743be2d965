#include "setup/win32_telephone_listing.h"

#include "settings/win32_registry_key.h"

namespace tollan {

std::string TelephoneValueName(std::size_t entry, const char* kind) {
    return std::string(1, static_cast<char>('0' + entry)) + "." + kind;
}

TelephoneListing ReadTelephoneListing(HKEY root, const char* path) {
    TelephoneListing listing;
    RegistryKey key;
    if (!key.Open(root, path)) {
        return listing;
    }
    for (std::size_t entry = 0; entry < kTelephoneEntries; ++entry) {
        TelephoneEntry& read = listing[entry];
        if (!key.ReadText(TelephoneValueName(entry, "Phone").c_str(), kTelephoneTextLimit,
                          read.number)) {
            read.number.clear();
        }
        if (!key.ReadText(TelephoneValueName(entry, "Desc").c_str(), kTelephoneTextLimit,
                          read.description)) {
            read.description.clear();
        }
    }
    return listing;
}

void WriteTelephoneListing(HKEY root, const char* path, const TelephoneListing& listing) {
    RegDeleteKeyA(root, path);
    RegistryKey key;
    if (!key.Create(root, path)) {
        return;
    }
    auto store = [&key](const std::string& name, const std::string& text) {
        if (!text.empty()) {
            RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1));
        }
    };
    for (std::size_t entry = 0; entry < kTelephoneEntries; ++entry) {
        store(TelephoneValueName(entry, "Desc"), listing[entry].description);
        store(TelephoneValueName(entry, "Phone"), listing[entry].number);
    }
}

} // namespace tollan
