// The Logging page: the transfer log to a file (appended or recreated, with the file dialog),
// to the progress dialog's list, or both.
#pragma once

#include "setup/win32_setup_page.h"

namespace tollan {

class LoggingPage final : public SetupPage {
public:
    LoggingPage();

    void Load(const SettingsBlock& settings) override;
    void Store(SettingsBlock& settings) const override;

private:
    void OnInit() override;
    void OnApply() override;
    void OnCommand(int id, int code) override;
    // The file name, its button and Append are usable only while Log To File is set.
    void EnableFileControls();
    void ChooseLogFile();

    int32_t logToFile_ = 0;
    int32_t logToScreen_ = 0;
    int32_t appendToLog_ = 0;
    // As long as the block's own field, so that a name at the limit comes back whole.
    decltype(SettingsBlock::LogFilename) logFilename_;
};

} // namespace tollan
