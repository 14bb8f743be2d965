// The Transfer page: time-outs, how names travel, what the receiver does with existing files,
// and the default folder (with the folder browser).
#pragma once

#include "setup/win32_setup_page.h"

namespace tollan {

class TransferPage final : public SetupPage {
public:
    TransferPage();

    void Load(const SettingsBlock& settings) override;
    void Store(SettingsBlock& settings) const override;

private:
    void OnInit() override;
    void OnApply() override;
    void OnCommand(int id, int code) override;
    void BrowseForFolder();

    uint32_t sendTimeout_ = 0;
    uint32_t recvTimeout_ = 0;
    PathSwitch pathSwitch_{};
    Overwrite overwrite_{};
    // As long as the block's own field, so that a folder at the limit comes back whole.
    decltype(SettingsBlock::DefaultDir) defaultDir_;
};

} // namespace tollan
