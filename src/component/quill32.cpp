#include "component/quill32.h"

#include "component/automation_text.h"
#include "component/interface_type_info.h"
#include "component/module.h"
#include "component/win32_transfer_files.h"
#include "settings/device_lists.h"
#include "settings/settings_block.h"
#include "settings/settings_persistence.h"
#include "settings/win32_registry_key.h"
#include "settings/win32_settings_store.h"
#include "setup/device_enumeration.h"
#include "setup/win32_setup_sheet.h"

#include <string>

namespace tollan {

namespace {

SettingsBlock& Settings() {
    return ProcessSettings();
}
// Read when first asked for, not while the module loads (no registry work under the loader
// lock), so that an adapter plugged in after the host started is in the lists.
const DeviceLists& Devices() {
    static const bool built = (BuildDeviceLists(ProcessDevices()), true);
    static_cast<void>(built);
    return ProcessDevices();
}

// Texts of the telephone listing are read into this many bytes.
constexpr std::size_t kTelephoneEntrySize = 1024;

template <typename T, typename Field>
HRESULT Get(T* out, Field value) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = static_cast<T>(value);
    return S_OK;
}

HRESULT GetText(BSTR* out, std::string_view text) {
    if (out == nullptr) {
        return E_POINTER;
    }
    return AutomationFromAnsi(text, out);
}

template <std::size_t N>
HRESULT PutText(FixedText<N>& field, BSTR text) {
    field.Assign(AnsiFromAutomation(text));
    return S_OK;
}

bool ReadTelephoneEntry(const std::string& valueName, std::string& number) {
    RegistryKey listing;
    if (!listing.Open(HKEY_CURRENT_USER, kTelephoneKey)) {
        return false;
    }
    return listing.ReadText(valueName.c_str(), kTelephoneEntrySize - 1, number);
}

// The folder of the component's file with its trailing backslash, as the class's registration
// recorded the file; the folder of the loaded module when the registration cannot be read.
std::string FindModuleDirectory() {
    std::string path;
    wchar_t clsid[40] = {};
    // The text of a GUID is ASCII; it is a plain array, not an automation string with a length.
    int written = StringFromGUID2(CLSID_Quill32, clsid, 40);
    std::string key = "CLSID\\" + std::string(clsid, clsid + (written > 0 ? written - 1 : 0)) +
                      "\\InprocServer32";
    RegistryKey server;
    if (!server.Open(HKEY_CLASSES_ROOT, key.c_str()) || !server.ReadText(nullptr, 260, path) ||
        path.find('\\') == std::string::npos) {
        char module[MAX_PATH + 1] = {};
        DWORD length = GetModuleFileNameA(ModuleHandle(), module, MAX_PATH);
        path.assign(module, length);
    }
    std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

Quill32::Quill32() {
    ObjectCreated();
    moduleDirectory_.Assign(FindModuleDirectory());
    Settings().Reset(moduleDirectory_.view(), 1);
}

Quill32::~Quill32() {
    ObjectDestroyed();
}

STDMETHODIMP Quill32::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IQuill32)) {
        *object = static_cast<IQuill32*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) Quill32::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

STDMETHODIMP_(ULONG) Quill32::Release() {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
        delete this;
    }
    return static_cast<ULONG>(left);
}

STDMETHODIMP Quill32::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 1;
    return S_OK;
}

STDMETHODIMP Quill32::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (info == nullptr) {
        return E_POINTER;
    }
    *info = nullptr;
    if (index != 0) {
        return DISP_E_BADINDEX;
    }
    HRESULT result = S_OK;
    ITypeInfo* typeInfo = InterfaceTypeInfo(result);
    if (typeInfo != nullptr) {
        typeInfo->AddRef();
        *info = typeInfo;
    }
    return result;
}

STDMETHODIMP Quill32::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!IsEqualIID(iid, IID_NULL)) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    HRESULT result = S_OK;
    ITypeInfo* typeInfo = InterfaceTypeInfo(result);
    if (typeInfo == nullptr) {
        return result;
    }
    return DispGetIDsOfNames(typeInfo, names, count, ids);
}

STDMETHODIMP Quill32::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                             VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    if (!IsEqualIID(iid, IID_NULL)) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    HRESULT loaded = S_OK;
    ITypeInfo* typeInfo = InterfaceTypeInfo(loaded);
    if (typeInfo == nullptr) {
        return loaded;
    }
    return DispInvoke(static_cast<IQuill32*>(this), typeInfo, id, flags, params, result, exception,
                      argumentError);
}

// Properties, in the order of the interface.

STDMETHODIMP Quill32::get_AppendToLog(LONG* pVal) {
    return Get(pVal, Settings().AppendToLog);
}
STDMETHODIMP Quill32::put_AppendToLog(LONG newVal) {
    Settings().AppendToLog = newVal;
    return S_OK;
}

STDMETHODIMP Quill32::get_Attempted(short* pVal) {
    return Get(pVal, Settings().Attempted);
}

STDMETHODIMP Quill32::get_BaudRate(LONG* pVal) {
    return Get(pVal, Settings().BaudRate);
}
STDMETHODIMP Quill32::put_BaudRate(LONG newVal) {
    Settings().SetBaudRate(newVal);
    return S_OK;
}

STDMETHODIMP Quill32::get_CrashRecovery(short* pVal) {
    return Get(pVal, Settings().CrashRecovery);
}
STDMETHODIMP Quill32::put_CrashRecovery(short newVal) {
    Settings().SetCrashRecovery(newVal);
    return S_OK;
}

STDMETHODIMP Quill32::get_DefaultDir(BSTR* pVal) {
    return GetText(pVal, Settings().DefaultDir.view());
}
STDMETHODIMP Quill32::put_DefaultDir(BSTR newVal) {
    return PutText(Settings().DefaultDir, newVal);
}

STDMETHODIMP Quill32::get_FileList(BSTR* pVal) {
    if (pVal == nullptr) {
        return E_POINTER;
    }
    const std::u16string& list = Settings().FileList;
    *pVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(list.data()),
                              static_cast<UINT>(list.size()));
    return *pVal != nullptr ? S_OK : E_OUTOFMEMORY;
}
STDMETHODIMP Quill32::put_FileList(BSTR newVal) {
    Settings().SetFileList(
        std::u16string_view(reinterpret_cast<const char16_t*>(newVal), SysStringLen(newVal)));
    return S_OK;
}

STDMETHODIMP Quill32::get_FlowControl(short* pVal) {
    return Get(pVal, Settings().FlowControl);
}
STDMETHODIMP Quill32::put_FlowControl(short newVal) {
    Settings().SetFlowControl(newVal);
    return S_OK;
}

STDMETHODIMP Quill32::get_HelpFile(BSTR* pVal) {
    return GetText(pVal, Settings().HelpFile.view());
}

STDMETHODIMP Quill32::get_HostMode(LONG* pVal) {
    return Get(pVal, Settings().HostMode);
}
STDMETHODIMP Quill32::put_HostMode(LONG newVal) {
    Settings().HostMode = newVal;
    return S_OK;
}

STDMETHODIMP Quill32::get_LogFilename(BSTR* pVal) {
    return GetText(pVal, Settings().LogFilename.view());
}
STDMETHODIMP Quill32::put_LogFilename(BSTR newVal) {
    return PutText(Settings().LogFilename, newVal);
}

STDMETHODIMP Quill32::get_LogToFile(LONG* pVal) {
    return Get(pVal, Settings().LogToFile);
}
STDMETHODIMP Quill32::put_LogToFile(LONG newVal) {
    Settings().LogToFile = newVal;
    return S_OK;
}

STDMETHODIMP Quill32::get_LogToScreen(LONG* pVal) {
    return Get(pVal, Settings().LogToScreen);
}
STDMETHODIMP Quill32::put_LogToScreen(LONG newVal) {
    Settings().LogToScreen = newVal;
    return S_OK;
}

STDMETHODIMP Quill32::get_MaxErrors(short* pVal) {
    return Get(pVal, Settings().MaxErrors);
}
STDMETHODIMP Quill32::put_MaxErrors(short newVal) {
    Settings().SetMaxErrors(newVal);
    return S_OK;
}

STDMETHODIMP Quill32::get_MaxTitle(BSTR* pVal) {
    return GetText(pVal, Settings().MaxTitle.view());
}
STDMETHODIMP Quill32::put_MaxTitle(BSTR newVal) {
    return PutText(Settings().MaxTitle, newVal);
}

STDMETHODIMP Quill32::get_MinTitle(BSTR* pVal) {
    return GetText(pVal, Settings().MinTitle.view());
}
STDMETHODIMP Quill32::put_MinTitle(BSTR newVal) {
    return PutText(Settings().MinTitle, newVal);
}

STDMETHODIMP Quill32::get_ModemCmd(BSTR* pVal) {
    return GetText(pVal, Settings().ModemCmd.view());
}
STDMETHODIMP Quill32::put_ModemCmd(BSTR newVal) {
    return PutText(Settings().ModemCmd, newVal);
}

STDMETHODIMP Quill32::get_ModemName(BSTR* pVal) {
    return GetText(pVal, Settings().ModemDisplayName(Devices()));
}
STDMETHODIMP Quill32::put_ModemName(BSTR newVal) {
    Settings().SetModemName(AnsiFromAutomation(newVal), Devices());
    return S_OK;
}

STDMETHODIMP Quill32::get_Overwrite(short* pVal) {
    return Get(pVal, Settings().Overwrite);
}
STDMETHODIMP Quill32::put_Overwrite(short newVal) {
    Settings().SetOverwrite(newVal);
    return S_OK;
}

STDMETHODIMP Quill32::get_PathSwitch(short* pVal) {
    return Get(pVal, Settings().PathSwitch);
}
STDMETHODIMP Quill32::put_PathSwitch(short newVal) {
    Settings().SetPathSwitch(newVal);
    return S_OK;
}

STDMETHODIMP Quill32::get_Port(short* pVal) {
    return Get(pVal, Settings().PortNumber(Devices()));
}
STDMETHODIMP Quill32::put_Port(short newVal) {
    Settings().SetPort(newVal, Devices());
    return S_OK;
}

STDMETHODIMP Quill32::get_Protocol(short* pVal) {
    return Get(pVal, Settings().Protocol);
}
STDMETHODIMP Quill32::put_Protocol(short newVal) {
    Settings().SetProtocol(newVal);
    return S_OK;
}

STDMETHODIMP Quill32::get_RecvTimeout(LONG* pVal) {
    return Get(pVal, Settings().RecvTimeout);
}
STDMETHODIMP Quill32::put_RecvTimeout(LONG newVal) {
    Settings().RecvTimeout = newVal;
    return S_OK;
}

STDMETHODIMP Quill32::get_SendTimeout(LONG* pVal) {
    return Get(pVal, Settings().SendTimeout);
}
STDMETHODIMP Quill32::put_SendTimeout(LONG newVal) {
    Settings().SendTimeout = newVal;
    return S_OK;
}

STDMETHODIMP Quill32::get_RunMinimized(LONG* pVal) {
    return Get(pVal, Settings().RunMinimized);
}
STDMETHODIMP Quill32::put_RunMinimized(LONG newVal) {
    Settings().RunMinimized = newVal;
    return S_OK;
}

STDMETHODIMP Quill32::get_Telephone(BSTR* pVal) {
    return GetText(pVal, Settings().Telephone.view());
}
STDMETHODIMP Quill32::put_Telephone(BSTR newVal) {
    Settings().SetTelephone(AnsiFromAutomation(newVal), ReadTelephoneEntry);
    return S_OK;
}

STDMETHODIMP Quill32::get_Transfer(LONG* pVal) {
    return Get(pVal, Settings().Transfer);
}
STDMETHODIMP Quill32::put_Transfer(LONG newVal) {
    Settings().Transfer = newVal;
    return S_OK;
}

STDMETHODIMP Quill32::get_Transferred(short* pVal) {
    return Get(pVal, Settings().Transferred);
}

STDMETHODIMP Quill32::get_UseModem(LONG* pVal) {
    return Get(pVal, Settings().UseModem);
}
STDMETHODIMP Quill32::put_UseModem(LONG newVal) {
    Settings().SetUseModem(newVal, Devices());
    return S_OK;
}

STDMETHODIMP Quill32::get_Verbose(LONG* pVal) {
    return Get(pVal, Settings().Verbose);
}
STDMETHODIMP Quill32::put_Verbose(LONG newVal) {
    Settings().Verbose = newVal;
    return S_OK;
}

STDMETHODIMP Quill32::get_WindowSize(short* pVal) {
    return Get(pVal, Settings().WindowSize);
}
STDMETHODIMP Quill32::put_WindowSize(short newVal) {
    Settings().SetWindowSize(newVal);
    return S_OK;
}

// Methods.

STDMETHODIMP Quill32::Load(short* nRetVal) {
    if (nRetVal == nullptr) {
        return E_POINTER;
    }
    RegistrySettingsStore store;
    if (!store.OpenForReading(HKEY_CURRENT_USER, kSettingsKey)) {
        *nRetVal = -1;
        return S_OK;
    }
    *nRetVal = LoadSettings(Settings(), Devices(), store);
    return S_OK;
}

STDMETHODIMP Quill32::Reset(short DefaultType) {
    Settings().Reset(moduleDirectory_.view(), DefaultType);
    return S_OK;
}

STDMETHODIMP Quill32::Save(short* nRetVal) {
    if (nRetVal == nullptr) {
        return E_POINTER;
    }
    RegistrySettingsStore store;
    if (store.OpenForWriting(HKEY_CURRENT_USER, kSettingsKey)) {
        SaveSettings(Settings(), Devices(), store);
    }
    *nRetVal = 0;
    return S_OK;
}

STDMETHODIMP Quill32::Setup(LONG ShowGeneral, LONG ShowTransfer, LONG ShowLogging, LONG ShowModem,
                            short* nRetVal) {
    if (nRetVal == nullptr) {
        return E_POINTER;
    }
    SetupPages pages =
        SetupPages{ShowGeneral != 0, ShowTransfer != 0, ShowLogging != 0, ShowModem != 0}.Available(
            Devices());
    // Also a sheet whose only page was the Modem page, on a machine without modems.
    if (!pages.Any()) {
        return E_FAIL;
    }
    int shown = RunSetupSheet(ModuleHandle(), GetActiveWindow(), Settings(), Devices(), pages);
    *nRetVal = shown == 1 ? 0 : -1;
    return S_OK;
}

STDMETHODIMP Quill32::TransferFiles(LONG FilePrompt, LONG ShowErrors, LONG* nRetVal) {
    if (nRetVal == nullptr) {
        return E_POINTER;
    }
    *nRetVal =
        RunTransferFiles(Settings(), Devices(), ModuleHandle(), FilePrompt != 0, ShowErrors != 0);
    return S_OK;
}

} // namespace tollan
