// The General page: connection (a port or a modem), speed, protocol, error limit, flow control,
// and the ZModem window and crash recovery.
#pragma once

#include "setup/win32_setup_page.h"

#include "settings/device_lists.h"

namespace tollan {

class GeneralPage final : public SetupPage {
public:
    // `listModems`: the Connection list offers the modems after the ports (only when the Modem
    // page is shown too); otherwise the page works with UseModem off.
    GeneralPage(const DeviceLists& devices, bool listModems);

    void Load(const SettingsBlock& settings) override;
    void Store(SettingsBlock& settings) const override;

private:
    void OnInit() override;
    void OnApply() override;
    void OnCommand(int id, int code) override;

    // Fills Flow Control for `protocol` and selects `flow` in it.
    void FillFlowControl(Protocol protocol, FlowControl flow);
    // The flow value the Flow Control selection stands for: "RTS/CTS" is item 1 of the short
    // list the other protocols have, item 2 of the ZModem list.
    FlowControl SelectedFlow() const;
    // The Protocol selection; `fallback` when nothing is selected.
    Protocol SelectedProtocol(Protocol fallback) const;
    void EnableZModemControls(Protocol protocol);
    void ClampMaxErrors();

    const DeviceLists& devices_;
    bool listModems_;
    Protocol flowListProtocol_ = Protocol::kXModem; // what Flow Control was last filled for

    int32_t baudRate_ = 0;
    CrashRecovery crashRecovery_{};
    FlowControl flowControl_{};
    int16_t maxErrors_ = 0;
    uint16_t modemName_ = 0;
    uint16_t port_ = 0;
    Protocol protocol_{};
    int32_t useModem_ = 0;
    WindowSize windowSize_{};
};

} // namespace tollan
