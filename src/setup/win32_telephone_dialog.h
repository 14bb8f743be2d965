// "Edit Telephone Listing": the modal dialog that edits one entry of the telephone listing.
#pragma once

#include "setup/win32_telephone_listing.h"

#include <windows.h>

namespace tollan {

// Shows `entry` and, on OK, puts the fields into it (at most 79 characters of the description
// and 39 of the number); Cancel leaves it as it was. False when the dialog was cancelled.
bool EditTelephoneEntry(HINSTANCE resources, HWND owner, const char* helpFile,
                        TelephoneEntry& entry);

} // namespace tollan
