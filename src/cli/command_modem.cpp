#include "cli/command_modem.h"

#include "link/memory_modem_source.h"

namespace tollan {

std::shared_ptr<const ModemSource> CommandModemSource(const CommandModem& modem, FlowControl flow) {
    auto source = std::make_shared<MemoryModemSource>();
    const std::string key = kCommandModemKey;
    const std::string settings = key + "\\Settings";
    source->SetValue(key, "Reset", "AT<cr>");
    const std::vector<std::string>& init = modem.init.empty() ? kDefaultModemInit : modem.init;
    for (std::size_t i = 0; i < init.size(); ++i) {
        source->SetValue(key + "\\Init", std::to_string(i + 1), init[i] + "<cr>");
    }
    source->SetValue(key + "\\Hangup", "1", modem.hangUp + "<cr>");
    source->SetValue(settings, "Prefix", "AT");
    source->SetValue(settings, "Terminator", "<cr>");
    source->SetValue(settings, "DialPrefix", modem.dialPrefix);
    source->SetValue(settings, "FlowControl_Hard", "&K3");
    source->SetValue(settings, "FlowControl_Soft", "&K4");
    source->SetValue(settings, "FlowControl_Off", "&K0");

    ModemDefaults defaults;
    switch (flow) {
    case FlowControl::kRtsCts:
        defaults.preferredOptions = kModemHardwareFlow;
        break;
    case FlowControl::kXonXoff:
        defaults.preferredOptions = kModemSoftwareFlow;
        break;
    case FlowControl::kNone:
        break;
    }
    source->SetDefaults(defaults);
    return source;
}

} // namespace tollan
