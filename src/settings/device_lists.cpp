#include "settings/device_lists.h"

#include <string>

namespace tollan {

int32_t PortNumberOf(std::string_view portName) {
    if (portName.size() <= 3) {
        return 0;
    }
    std::string_view rest = portName.substr(3);
    std::size_t i = 0;
    while (i < rest.size() && (rest[i] == ' ' || (rest[i] >= '\t' && rest[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) {
        negative = rest[i] == '-';
        ++i;
    }
    int64_t value = 0;
    for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i) {
        value = value * 10 + (rest[i] - '0');
        if (value > INT32_MAX) {
            value = INT32_MAX;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

uint16_t DeviceLists::FindPort(int32_t number) const {
    const std::string wanted = std::to_string(number);
    for (std::size_t i = 0; i < ports.size() && i <= UINT16_MAX; ++i) {
        std::string_view name = ports[i].view();
        if (name.size() > 3 && name.substr(3) == wanted) {
            return static_cast<uint16_t>(i);
        }
    }
    return 0;
}

uint16_t DeviceLists::FindModem(std::string_view prefix) const {
    if (prefix.empty()) {
        return 0;
    }
    for (std::size_t i = 0; i < modems.size() && i <= UINT16_MAX; ++i) {
        if (modems[i].name.view().starts_with(prefix)) {
            return static_cast<uint16_t>(i);
        }
    }
    return 0;
}

const PortName* DeviceLists::PortAt(uint16_t index) const {
    return index < ports.size() ? &ports[index] : nullptr;
}

const ModemEntry* DeviceLists::ModemAt(uint16_t index) const {
    return index < modems.size() ? &modems[index] : nullptr;
}

void DeviceLists::Clear() {
    modems.clear();
    modems.shrink_to_fit();
    ports.clear();
    ports.shrink_to_fit();
}

DeviceLists& ProcessDevices() {
    static DeviceLists lists;
    return lists;
}

} // namespace tollan
