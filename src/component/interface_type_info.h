// The type information of IQuill32, loaded once per module from the type library the module
// carries and shared by every object.
#pragma once

#include <windows.h>

#include <oaidl.h>

namespace tollan {

// The interface's type information, loaded at the first call; the pointer stays the module's
// (callers do not release it). Null with the failure in `result` when the library cannot be read.
ITypeInfo* InterfaceTypeInfo(HRESULT& result);

// Releases what InterfaceTypeInfo loaded; called when the module is unloaded.
void ReleaseInterfaceTypeInfo();

} // namespace tollan
