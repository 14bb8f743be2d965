// The message box of a refused transfer (result codes 1 to 4): the code's message under the
// host's title, an exclamation icon, OK and Help; Help opens the help file at the code's topic.
#pragma once

#include <windows.h>

#include <cstdint>

namespace tollan {

void ShowValidationMessage(HWND owner, std::int32_t code, const char* caption,
                           const char* helpFile);

} // namespace tollan
