// Conversions between automation strings (UTF-16) and the component's ANSI texts.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <string_view>

namespace tollan {

// The text in the system ANSI code page; a null string gives an empty text.
std::string AnsiFromAutomation(BSTR text);

// A new automation string holding `text` converted from the ANSI code page; E_OUTOFMEMORY when
// it cannot be allocated.
HRESULT AutomationFromAnsi(std::string_view text, BSTR* result);

} // namespace tollan
