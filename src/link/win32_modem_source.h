// The modems Windows keeps: the driver key under the local machine, and the modem's default
// configuration as the system reports it -- or, where the system has no modem provider to ask,
// as the driver key's own "Default" record holds it.
#pragma once

#include "link/modem_source.h"

namespace tollan {

class Win32ModemSource : public ModemSource {
public:
    std::unique_ptr<ModemKey> OpenKey(const std::string& path) const override;
    bool DefaultConfig(const std::string& modemName, const std::string& keyPath,
                       ModemDefaults& defaults) const override;
};

} // namespace tollan
