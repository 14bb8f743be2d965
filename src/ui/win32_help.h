// Help by context number. Every Help button, F1 and message-box Help of the component opens the
// help file through here, so that one place decides how it is shown; a test puts its own viewer
// in place to see which topic was asked for (there is no help viewer under every system).
#pragma once

#include <windows.h>

namespace tollan {

using HelpViewer = void (*)(HWND owner, const char* helpFile, DWORD topic);

// Opens `helpFile` at context number `topic`, owned by `owner`: a ".hlp" file with WinHelp (or,
// when it is missing, the ".chm" of the same name with HTML Help), a ".chm" file with HTML Help;
// where that cannot be done, a message names the file and the topic.
void OpenHelpTopic(HWND owner, const char* helpFile, DWORD topic);

// Puts `viewer` in place of the system help viewer (null: the system's again); returns the viewer
// that was in place.
HelpViewer SetHelpViewer(HelpViewer viewer);

} // namespace tollan
