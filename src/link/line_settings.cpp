#include "link/line_settings.h"

#include "link/comm_link.h"

namespace tollan {

LineSettings::LineSettings(CommLink* link) {
    if (link != nullptr) {
        Attach(*link);
    }
}

LineSettings::~LineSettings() {
    if (port_ != nullptr) {
        speed_ = savedSpeed_;
        parity_ = savedParity_;
        dataBits_ = savedDataBits_;
        stopBits_ = savedStopBits_;
        (void)Apply(); // a destructor has nobody to tell; the port's status keeps a refusal
    }
}

void LineSettings::Attach(CommLink& link) {
    port_ = &link.Port();
    port_->GetFormat(savedSpeed_, savedParity_, savedDataBits_, savedStopBits_);
    (void)Apply(); // a refusal stays in the port's status, which CommLink::CheckLine() reports
}

int LineSettings::Apply() {
    if (port_ == nullptr) {
        return LINK_FAILED;
    }
    return port_->SetFormat(speed_, parity_, dataBits_, stopBits_) < 0 ? LINK_FAILED : 0;
}

int LineSettings::Set(std::uint32_t speed, char parity, int dataBits, int stopBits) {
    speed_ = speed;
    parity_ = parity;
    dataBits_ = dataBits;
    stopBits_ = stopBits;
    return Apply();
}

int LineSettings::SetSpeed(std::uint32_t speed) {
    const std::uint32_t old = speed_;
    speed_ = speed;
    const int r = Apply();
    if (r != 0) {
        speed_ = old;
    }
    return r;
}

} // namespace tollan
