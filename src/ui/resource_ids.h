// Identifiers of the component's resources: dialog templates, their controls, the icon. Included
// by the .rc file and by the code that runs the dialogs, so that both name the same numbers.
#pragma once

#define IDI_TOLLAN 102

// The setup property sheet's pages and the telephone listing (111 to 115).

// The file-list dialogs (116, 117) and the progress dialog (118).
