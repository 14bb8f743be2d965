// Registration of the class, its program identifiers and the type library, and the help-file
// record, written by a small table of keys.
#include "component/module.h"
#include "tollan_idl.h"

#include <windows.h>

#include <oleauto.h>

#include <string>

namespace tollan {

namespace {

// One registry entry under the classes root. A null value name is the key's default value, a
// null data writes no value. A key marked `replace` is deleted with everything below it first.
struct ClassEntry {
    const wchar_t* key;
    const wchar_t* valueName;
    const wchar_t* data;
    bool replace;
};

// %CLSID% is the class identifier, %LIBID% the type library's, %MODULE% the module's full path.
constexpr ClassEntry kClassEntries[] = {
    {L"Tollan.Quill32.1", nullptr, L"Quill32 Class", false},
    {L"Tollan.Quill32.1\\CLSID", nullptr, L"%CLSID%", false},
    {L"Tollan.Quill32", nullptr, L"Quill32 Class", false},
    {L"Tollan.Quill32\\CLSID", nullptr, L"%CLSID%", false},
    {L"Tollan.Quill32\\CurVer", nullptr, L"Tollan.Quill32.1", false},
    {L"CLSID\\%CLSID%", nullptr, L"Quill32 Class", true},
    {L"CLSID\\%CLSID%\\ProgID", nullptr, L"Tollan.Quill32.1", false},
    {L"CLSID\\%CLSID%\\VersionIndependentProgID", nullptr, L"Tollan.Quill32", false},
    {L"CLSID\\%CLSID%\\Programmable", nullptr, nullptr, true},
    {L"CLSID\\%CLSID%\\InprocServer32", nullptr, L"%MODULE%", false},
    {L"CLSID\\%CLSID%\\InprocServer32", L"ThreadingModel", L"Apartment", false},
    {L"CLSID\\%CLSID%\\TypeLib", nullptr, L"%LIBID%", false},
};

// The keys unregistration removes (the CLSID root stays): the class key, which is the module's
// own, and the program identifiers, which the 32-bit and the 64-bit module share.
constexpr const wchar_t* kClassKey = L"CLSID\\%CLSID%";
constexpr const wchar_t* kProgIds[] = {L"Tollan.Quill32.1", L"Tollan.Quill32"};

constexpr const wchar_t* kHelpKey = L"SOFTWARE\\Microsoft\\Windows\\Help";
constexpr const wchar_t* kHelpValue = L"tollan.hlp";

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring Expand(const wchar_t* pattern, const std::wstring& module) {
    std::wstring text(pattern);
    const std::pair<const wchar_t*, std::wstring> names[] = {
        {L"%CLSID%", GuidText(CLSID_Quill32)},
        {L"%LIBID%", GuidText(LIBID_TOLLANLib)},
        {L"%MODULE%", module},
    };
    for (const auto& [name, value] : names) {
        const std::wstring placeholder(name);
        for (std::size_t at = text.find(placeholder); at != std::wstring::npos;
             at = text.find(placeholder, at + value.size())) {
            text.replace(at, placeholder.size(), value);
        }
    }
    return text;
}

HRESULT FromWin32(LONG error) {
    return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error);
}

HRESULT DeleteTree(const std::wstring& key) {
    LONG error = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return error == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(error);
}

HRESULT WriteClassEntries(const std::wstring& module) {
    for (const ClassEntry& entry : kClassEntries) {
        std::wstring path = Expand(entry.key, module);
        if (entry.replace) {
            HRESULT result = DeleteTree(path);
            if (FAILED(result)) {
                return result;
            }
        }
        HKEY key = nullptr;
        LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr,
                                     REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
        if (error == ERROR_SUCCESS && entry.data != nullptr) {
            std::wstring data = Expand(entry.data, module);
            error = RegSetValueExW(key, entry.valueName, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(data.c_str()),
                                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        }
        if (key != nullptr) {
            RegCloseKey(key);
        }
        if (error != ERROR_SUCCESS) {
            return FromWin32(error);
        }
    }
    return S_OK;
}

// On 64-bit Windows the 32-bit and the 64-bit module register side by side, each with the class
// key of its own registry view. True when the module of the other width is registered.
bool OtherWidthRegistered() {
    const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    const std::wstring path = Expand(kClassKey, std::wstring()) + L"\\InprocServer32";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | otherView, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// Removes the class key, and the program identifiers unless the other width still uses them.
// Called after the class key is gone, since on 32-bit Windows the "other" view is this one.
HRESULT RemoveClassEntries(const std::wstring& module, bool& keepShared) {
    HRESULT outcome = DeleteTree(Expand(kClassKey, module));
    keepShared = OtherWidthRegistered();
    for (const wchar_t* progId : kProgIds) {
        HRESULT result = keepShared ? S_OK : DeleteTree(progId);
        if (FAILED(result) && SUCCEEDED(outcome)) {
            outcome = result;
        }
    }
    return outcome;
}

HRESULT RegisterTypeLibrary(const std::wstring& module) {
    ITypeLib* library = nullptr;
    HRESULT result = LoadTypeLibEx(module.c_str(), REGKIND_NONE, &library);
    if (FAILED(result)) {
        return result;
    }
    std::wstring path = module;
    result = RegisterTypeLib(library, path.data(), nullptr);
    library->Release();
    return result;
}

// With the other width still registered, only this width's entry of the library goes (the
// system's unregistration would take the interface keys the other one uses with it).
HRESULT UnregisterTypeLibrary(const std::wstring& module, bool keepShared) {
    ITypeLib* library = nullptr;
    HRESULT result = LoadTypeLibEx(module.c_str(), REGKIND_NONE, &library);
    if (FAILED(result)) {
        return result;
    }
    TLIBATTR* attributes = nullptr;
    result = library->GetLibAttr(&attributes);
    if (SUCCEEDED(result) && keepShared) {
        wchar_t lcid[16] = {};
        _ultow(attributes->lcid, lcid, 16);
        result = DeleteTree(L"TypeLib\\" + GuidText(attributes->guid) + L"\\" +
                            std::to_wstring(attributes->wMajorVerNum) + L"." +
                            std::to_wstring(attributes->wMinorVerNum) + L"\\" + lcid +
                            (attributes->syskind == SYS_WIN64 ? L"\\win64" : L"\\win32"));
        library->ReleaseTLibAttr(attributes);
    } else if (SUCCEEDED(result)) {
        result = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum,
                                   attributes->wMinorVerNum, attributes->lcid, attributes->syskind);
        library->ReleaseTLibAttr(attributes);
    }
    library->Release();
    // Removing a library that is not registered is no failure.
    return result == TYPE_E_REGISTRYACCESS ? S_OK : result;
}

// The help-file record: the module's folder under the name of the help file, written only
// where the help key already exists.
void WriteHelpValue(const std::wstring& module) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHelpKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) {
        return;
    }
    std::wstring folder = module.substr(0, module.rfind(L'\\'));
    RegSetValueExW(key, kHelpValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void DeleteHelpValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHelpKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) {
        return;
    }
    RegDeleteValueW(key, kHelpValue);
    RegCloseKey(key);
}

} // namespace

} // namespace tollan

STDAPI DllRegisterServer() {
    const std::wstring module = tollan::ModulePath();
    HRESULT result = tollan::WriteClassEntries(module);
    if (SUCCEEDED(result)) {
        result = tollan::RegisterTypeLibrary(module);
    }
    tollan::WriteHelpValue(module);
    return result;
}

STDAPI DllUnregisterServer() {
    const std::wstring module = tollan::ModulePath();
    bool keepShared = false;
    HRESULT result = tollan::RemoveClassEntries(module, keepShared);
    HRESULT library = tollan::UnregisterTypeLibrary(module, keepShared);
    if (SUCCEEDED(result)) {
        result = library;
    }
    tollan::DeleteHelpValue();
    return result;
}
