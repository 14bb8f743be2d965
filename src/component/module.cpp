// The module's entry point and the exports that hand out the class and report whether the
// module may be unloaded.
#include "component/module.h"

#include "component/class_factory.h"
#include "component/interface_type_info.h"
#include "settings/settings_block.h"
#include "tollan_idl.h"

#include <atomic>

namespace tollan {

namespace {

HMODULE module = nullptr;
std::atomic<long> objects{0};
std::atomic<long> locks{0};

} // namespace

HMODULE ModuleHandle() {
    return module;
}

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void ObjectCreated() {
    ++objects;
}
void ObjectDestroyed() {
    --objects;
}
void ServerLocked() {
    ++locks;
}
void ServerUnlocked() {
    --locks;
}
bool ModuleInUse() {
    return objects.load() != 0 || locks.load() != 0;
}

} // namespace tollan

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        tollan::module = instance;
        DisableThreadLibraryCalls(instance);
        break;
    case DLL_PROCESS_DETACH:
        // On FreeLibrary (no reserved pointer) the type library is still loaded and its type
        // information can be released; at process exit it may already be gone.
        if (reserved == nullptr) {
            tollan::ReleaseInterfaceTypeInfo();
        }
        tollan::ProcessDevices().Clear();
        tollan::ProcessSettings().SetFileList(u"");
        break;
    default:
        break;
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() {
    return tollan::ModuleInUse() ? S_FALSE : S_OK;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_Quill32)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return tollan::Quill32Factory::Instance().QueryInterface(iid, object);
}
