// The class factory of Quill32.
#pragma once

#include <windows.h>

#include <unknwn.h>

namespace tollan {

// One factory for the module's lifetime: its references do not keep the module loaded, its
// LockServer does.
class Quill32Factory final : public IClassFactory {
public:
    static Quill32Factory& Instance();

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    Quill32Factory() = default;
};

} // namespace tollan
