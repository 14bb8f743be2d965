// The setup property sheet: the pages a host asks for, over working copies of the settings block
// that go back into the block when the sheet closes.
#pragma once

#include "settings/device_lists.h"
#include "settings/settings_block.h"

#include <windows.h>

namespace tollan {

// Which pages the sheet shows.
struct SetupPages {
    bool general = false;
    bool transfer = false;
    bool logging = false;
    bool modem = false;

    // The Modem page needs an installed modem: without one it is left out.
    SetupPages Available(const DeviceLists& devices) const;
    bool Any() const { return general || transfer || logging || modem; }
};

// Runs the sheet modally with `pages` (at least one; see SetupPages::Available), owned by
// `owner`, its dialog templates taken from `resources`. Every shown page's working copy is
// written back to `settings` when the sheet has closed, by OK or by Cancel (after Cancel the
// copies hold what they were loaded with). Returns 1 when the sheet was shown and closed, 0 when
// the system could not show it (nothing is written back then).
[[nodiscard]] int RunSetupSheet(HINSTANCE resources, HWND owner, SettingsBlock& settings,
                                const DeviceLists& devices, SetupPages pages);

} // namespace tollan
