#include "setup/win32_general_page.h"

#include "setup/win32_dialog_controls.h"
#include "ui/resource_ids.h"

#include <array>
#include <string>

namespace tollan {

namespace {

constexpr std::array<int32_t, 5> kBaudRates = {9600, 19200, 38400, 57600, 115200};
constexpr std::array<WindowSize, 4> kWindowSizes = {WindowSize::kStreaming, WindowSize::k1024,
                                                    WindowSize::k2048, WindowSize::k4096};
constexpr int16_t kMaxErrorsLimit = 50;

// The Flow Control list of the protocols other than ZModem: "None", "RTS/CTS".
constexpr int kTwoItemRtsCts = 1;

} // namespace

GeneralPage::GeneralPage(const DeviceLists& devices, bool listModems)
    : SetupPage(IDD_GENERAL_PAGE, "General", kHelpGeneralPage), devices_(devices),
      listModems_(listModems) {}

void GeneralPage::Load(const SettingsBlock& settings) {
    baudRate_ = settings.BaudRate;
    crashRecovery_ = settings.CrashRecovery;
    flowControl_ = settings.FlowControl;
    maxErrors_ = settings.MaxErrors;
    modemName_ = settings.ModemName;
    port_ = settings.Port;
    protocol_ = settings.Protocol;
    useModem_ = listModems_ ? settings.UseModem : 0;
    windowSize_ = settings.WindowSize;
}

void GeneralPage::Store(SettingsBlock& settings) const {
    settings.BaudRate = baudRate_;
    settings.CrashRecovery = crashRecovery_;
    settings.FlowControl = flowControl_;
    settings.MaxErrors = maxErrors_;
    settings.ModemName = modemName_;
    settings.Port = port_;
    settings.Protocol = protocol_;
    settings.UseModem = useModem_;
    settings.WindowSize = windowSize_;
}

void GeneralPage::OnInit() {
    HWND page = Window();
    for (int id : {IDC_GENERAL_CONNECTION, IDC_GENERAL_BAUD_RATE, IDC_GENERAL_PROTOCOL,
                   IDC_GENERAL_FLOW_CONTROL}) {
        SendDlgItemMessageA(page, id, CB_SETEXTENDEDUI, TRUE, 0);
    }

    FillCombo(page, IDC_GENERAL_CRASH_RECOVERY, {"Never", "Follow sender", "Always"});
    SelectComboItem(page, IDC_GENERAL_CRASH_RECOVERY, NumberOf(crashRecovery_) - 1);

    FillCombo(page, IDC_GENERAL_WINDOW_SIZE, {"Streaming", "1024", "2048", "4096"});
    int window = NumberOf(windowSize_) / 1024;
    SelectComboItem(page, IDC_GENERAL_WINDOW_SIZE, window > 3 ? 3 : window);

    SendDlgItemMessageA(page, IDC_GENERAL_BAUD_RATE, CB_RESETCONTENT, 0, 0);
    int32_t rate = baudRate_ == 0 ? 19200 : baudRate_;
    int rateItem = -1;
    for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
        AddComboItem(page, IDC_GENERAL_BAUD_RATE, std::to_string(kBaudRates[i]).c_str());
        if (kBaudRates[i] == rate) {
            rateItem = static_cast<int>(i);
        }
    }
    SelectComboItem(page, IDC_GENERAL_BAUD_RATE, rateItem);

    FillCombo(page, IDC_GENERAL_PROTOCOL, {"XModem", "ZModem", "ACK/NAK"});
    SelectComboItem(page, IDC_GENERAL_PROTOCOL, NumberOf(protocol_));
    EnableZModemControls(protocol_);

    SendDlgItemMessageA(page, IDC_GENERAL_CONNECTION, CB_RESETCONTENT, 0, 0);
    for (const PortName& port : devices_.ports) {
        AddComboItem(page, IDC_GENERAL_CONNECTION, port.c_str());
    }
    int ports = static_cast<int>(devices_.ports.size());
    if (listModems_) {
        for (const ModemEntry& modem : devices_.modems) {
            AddComboItem(page, IDC_GENERAL_CONNECTION, modem.name.c_str());
        }
    }
    int connection = -1;
    if (useModem_ != 0 && modemName_ < devices_.modems.size()) {
        connection = ports + modemName_;
    } else if (useModem_ == 0 && port_ < devices_.ports.size()) {
        connection = port_;
    }
    SelectComboItem(page, IDC_GENERAL_CONNECTION, connection);

    SetControlText(page, IDC_GENERAL_MAX_ERRORS, std::to_string(static_cast<uint16_t>(maxErrors_)));

    FillFlowControl(protocol_, flowControl_);
}

void GeneralPage::FillFlowControl(Protocol protocol, FlowControl flow) {
    HWND page = Window();
    flowListProtocol_ = protocol;
    if (protocol == Protocol::kZModem) {
        FillCombo(page, IDC_GENERAL_FLOW_CONTROL, {"None", "XON/XOFF", "RTS/CTS"});
        SelectComboItem(page, IDC_GENERAL_FLOW_CONTROL, NumberOf(flow));
    } else {
        FillCombo(page, IDC_GENERAL_FLOW_CONTROL, {"None", "RTS/CTS"});
        SelectComboItem(page, IDC_GENERAL_FLOW_CONTROL,
                        NumberOf(flow) >= NumberOf(FlowControl::kRtsCts) ? kTwoItemRtsCts : 0);
    }
}

FlowControl GeneralPage::SelectedFlow() const {
    int selection = ComboSelection(Window(), IDC_GENERAL_FLOW_CONTROL);
    if (selection < 0) {
        return FlowControl::kNone;
    }
    if (flowListProtocol_ != Protocol::kZModem && selection == kTwoItemRtsCts) {
        return FlowControl::kRtsCts;
    }
    return static_cast<FlowControl>(selection);
}

Protocol GeneralPage::SelectedProtocol(Protocol fallback) const {
    int selection = ComboSelection(Window(), IDC_GENERAL_PROTOCOL);
    return selection < 0 ? fallback : static_cast<Protocol>(selection);
}

void GeneralPage::EnableZModemControls(Protocol protocol) {
    bool zmodem = protocol == Protocol::kZModem;
    EnableControl(Window(), IDC_GENERAL_WINDOW_SIZE, zmodem);
    EnableControl(Window(), IDC_GENERAL_CRASH_RECOVERY, zmodem);
}

void GeneralPage::ClampMaxErrors() {
    int64_t value = SignedFromText(ControlText(Window(), IDC_GENERAL_MAX_ERRORS, 32));
    if (value < 0) {
        SetControlText(Window(), IDC_GENERAL_MAX_ERRORS, "0");
    } else if (value > kMaxErrorsLimit) {
        SetControlText(Window(), IDC_GENERAL_MAX_ERRORS, std::to_string(kMaxErrorsLimit));
    }
}

void GeneralPage::OnCommand(int id, int code) {
    switch (id) {
    case IDC_GENERAL_PROTOCOL:
        if (code == CBN_SELCHANGE) {
            FlowControl flow = SelectedFlow();
            Protocol protocol = SelectedProtocol(flowListProtocol_);
            EnableZModemControls(protocol);
            MarkChanged();
            FillFlowControl(protocol, flow);
        }
        break;
    case IDC_GENERAL_CONNECTION:
    case IDC_GENERAL_BAUD_RATE:
    case IDC_GENERAL_FLOW_CONTROL:
        if (code == CBN_SELCHANGE) {
            MarkChanged();
        }
        break;
    case IDC_GENERAL_MAX_ERRORS:
        if (code == EN_KILLFOCUS) {
            MarkChanged();
            ClampMaxErrors();
        }
        break;
    default:
        break;
    }
}

void GeneralPage::OnApply() {
    HWND page = Window();
    // Typed digits are held to the error limit also when the field still has the focus.
    uint32_t errors = UnsignedFromText(ControlText(page, IDC_GENERAL_MAX_ERRORS, 32));
    maxErrors_ = static_cast<int16_t>(errors > kMaxErrorsLimit ? kMaxErrorsLimit : errors);

    int connection = ComboSelection(page, IDC_GENERAL_CONNECTION);
    int ports = static_cast<int>(devices_.ports.size());
    if (connection >= 0 && connection < ports) {
        port_ = static_cast<uint16_t>(connection);
        useModem_ = 0;
    } else if (connection >= ports) {
        useModem_ = 1;
        modemName_ = static_cast<uint16_t>(connection - ports);
    }

    int rate = ComboSelection(page, IDC_GENERAL_BAUD_RATE);
    if (rate >= 0) {
        baudRate_ = kBaudRates[static_cast<std::size_t>(rate)];
    }

    protocol_ = SelectedProtocol(protocol_);
    flowControl_ = SelectedFlow();
    if (protocol_ == Protocol::kZModem) {
        int recovery = ComboSelection(page, IDC_GENERAL_CRASH_RECOVERY);
        if (recovery >= 0) {
            crashRecovery_ = static_cast<CrashRecovery>(recovery + 1);
        }
        int window = ComboSelection(page, IDC_GENERAL_WINDOW_SIZE);
        if (window >= 0) {
            windowSize_ = kWindowSizes[static_cast<std::size_t>(window)];
        }
    }
}

} // namespace tollan
