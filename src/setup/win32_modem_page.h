// The Modem page: the telephone listing (the selected entry is the number the modem dials) and
// the modem initialisation override.
#pragma once

#include "setup/win32_setup_page.h"
#include "setup/win32_telephone_listing.h"

namespace tollan {

class ModemPage final : public SetupPage {
public:
    ModemPage();

    void Load(const SettingsBlock& settings) override;
    void Store(SettingsBlock& settings) const override;

private:
    void OnInit() override;
    void OnApply() override;
    void OnCommand(int id, int code) override;
    void OnNotify(const NMHDR& header) override;

    void LoadListing();
    // The selected entry, -1 when none is.
    int SelectedEntry() const;
    TelephoneEntry EntryInList(int entry, std::size_t numberLimit) const;
    void PutEntryInList(int entry, const TelephoneEntry& texts);
    void EnableEntryButtons();
    void EditSelectedEntry();
    void ClearSelectedEntry();

    decltype(SettingsBlock::Telephone) telephone_;
    decltype(SettingsBlock::ModemCmd) modemCmd_;
    bool listingLoaded_ = false;
};

} // namespace tollan
