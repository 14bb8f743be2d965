#include "component/interface_type_info.h"

#include "component/module.h"
#include "tollan_idl.h"

namespace tollan {

namespace {

ITypeInfo* volatile loaded = nullptr;

} // namespace

ITypeInfo* InterfaceTypeInfo(HRESULT& result) {
    result = S_OK;
    if (ITypeInfo* info = loaded; info != nullptr) {
        return info;
    }
    ITypeLib* library = nullptr;
    result = LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library);
    if (FAILED(result)) {
        return nullptr;
    }
    ITypeInfo* info = nullptr;
    result = library->GetTypeInfoOfGuid(IID_IQuill32, &info);
    library->Release();
    if (FAILED(result)) {
        return nullptr;
    }
    // Two apartments may load at once: the first one's copy is kept, the other released.
    PVOID before = InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&loaded),
                                                     info, nullptr);
    if (before != nullptr) {
        info->Release();
        return static_cast<ITypeInfo*>(before);
    }
    return info;
}

void ReleaseInterfaceTypeInfo() {
    PVOID info = InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&loaded), nullptr);
    if (info != nullptr) {
        static_cast<ITypeInfo*>(info)->Release();
    }
}

} // namespace tollan
