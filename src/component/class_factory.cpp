#include "component/class_factory.h"

#include "component/module.h"
#include "component/quill32.h"

#include <new>

namespace tollan {

Quill32Factory& Quill32Factory::Instance() {
    static Quill32Factory factory;
    return factory;
}

STDMETHODIMP Quill32Factory::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) Quill32Factory::AddRef() {
    return 2;
}
STDMETHODIMP_(ULONG) Quill32Factory::Release() {
    return 1;
}

STDMETHODIMP Quill32Factory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (outer != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    Quill32* quill = new (std::nothrow) Quill32();
    if (quill == nullptr) {
        return E_OUTOFMEMORY;
    }
    HRESULT result = quill->QueryInterface(iid, object);
    quill->Release();
    return result;
}

STDMETHODIMP Quill32Factory::LockServer(BOOL lock) {
    if (lock) {
        ServerLocked();
    } else {
        ServerUnlocked();
    }
    return S_OK;
}

} // namespace tollan
