// The module itself: its handle and file, and the count of what keeps it loaded.
#pragma once

#include <windows.h>

#include <string>

namespace tollan {

HMODULE ModuleHandle();

// The full path of the module's file.
std::wstring ModulePath();

// Objects and server locks alive; while either count is not zero the module must stay loaded.
void ObjectCreated();
void ObjectDestroyed();
void ServerLocked();
void ServerUnlocked();
bool ModuleInUse();

} // namespace tollan
