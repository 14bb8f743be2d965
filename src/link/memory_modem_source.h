// A modem source held in memory: keys by path with their text values, and one default
// configuration for every modem. The command describes its modem this way, and tests describe
// the modems they need.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/modem_source.h"

namespace tollan {

class MemoryModemSource : public ModemSource {
public:
    // Creates the key at `path` (a subkey is "path\\name") when it is missing.
    void AddKey(const std::string& path);
    // Sets value `name` of the key at `path`, creating the key; values keep their first order.
    void SetValue(const std::string& path, const std::string& name, const std::string& text);
    // Removes the key at `path` (its subkeys stay).
    void RemoveKey(const std::string& path);
    // What DefaultConfig() answers; without it, there is no default configuration.
    void SetDefaults(const ModemDefaults& defaults) { defaults_ = defaults; }
    void ClearDefaults() { defaults_.reset(); }

    std::unique_ptr<ModemKey> OpenKey(const std::string& path) const override;
    bool DefaultConfig(const std::string& modemName, const std::string& keyPath,
                       ModemDefaults& defaults) const override;

    using Values = std::vector<std::pair<std::string, std::string>>;

private:
    std::map<std::string, Values> keys_;
    std::optional<ModemDefaults> defaults_;
};

} // namespace tollan
