// The creatable class Quill32: the dual interface IQuill32 over the process's settings block.
#pragma once

#include "tollan_idl.h"

#include "settings/fixed_text.h"

#include <windows.h>

namespace tollan {

// Holds almost nothing of its own: every property reads or writes the settings block that all
// objects of the process share. IDispatch is served from the type library in the module.
class Quill32 final : public IQuill32 {
public:
    // Finds the module directory from the class's registered server and resets the settings
    // block to its defaults.
    Quill32();

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                               DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    STDMETHODIMP get_AppendToLog(LONG* pVal) override;
    STDMETHODIMP put_AppendToLog(LONG newVal) override;
    STDMETHODIMP get_Attempted(short* pVal) override;
    STDMETHODIMP get_BaudRate(LONG* pVal) override;
    STDMETHODIMP put_BaudRate(LONG newVal) override;
    STDMETHODIMP get_CrashRecovery(short* pVal) override;
    STDMETHODIMP put_CrashRecovery(short newVal) override;
    STDMETHODIMP get_DefaultDir(BSTR* pVal) override;
    STDMETHODIMP put_DefaultDir(BSTR newVal) override;
    STDMETHODIMP get_FileList(BSTR* pVal) override;
    STDMETHODIMP put_FileList(BSTR newVal) override;
    STDMETHODIMP get_FlowControl(short* pVal) override;
    STDMETHODIMP put_FlowControl(short newVal) override;
    STDMETHODIMP get_HelpFile(BSTR* pVal) override;
    STDMETHODIMP get_HostMode(LONG* pVal) override;
    STDMETHODIMP put_HostMode(LONG newVal) override;
    STDMETHODIMP get_LogFilename(BSTR* pVal) override;
    STDMETHODIMP put_LogFilename(BSTR newVal) override;
    STDMETHODIMP get_LogToFile(LONG* pVal) override;
    STDMETHODIMP put_LogToFile(LONG newVal) override;
    STDMETHODIMP get_LogToScreen(LONG* pVal) override;
    STDMETHODIMP put_LogToScreen(LONG newVal) override;
    STDMETHODIMP get_MaxErrors(short* pVal) override;
    STDMETHODIMP put_MaxErrors(short newVal) override;
    STDMETHODIMP get_MaxTitle(BSTR* pVal) override;
    STDMETHODIMP put_MaxTitle(BSTR newVal) override;
    STDMETHODIMP get_MinTitle(BSTR* pVal) override;
    STDMETHODIMP put_MinTitle(BSTR newVal) override;
    STDMETHODIMP get_ModemCmd(BSTR* pVal) override;
    STDMETHODIMP put_ModemCmd(BSTR newVal) override;
    STDMETHODIMP get_ModemName(BSTR* pVal) override;
    STDMETHODIMP put_ModemName(BSTR newVal) override;
    STDMETHODIMP get_Overwrite(short* pVal) override;
    STDMETHODIMP put_Overwrite(short newVal) override;
    STDMETHODIMP get_PathSwitch(short* pVal) override;
    STDMETHODIMP put_PathSwitch(short newVal) override;
    STDMETHODIMP get_Port(short* pVal) override;
    STDMETHODIMP put_Port(short newVal) override;
    STDMETHODIMP get_Protocol(short* pVal) override;
    STDMETHODIMP put_Protocol(short newVal) override;
    STDMETHODIMP get_RecvTimeout(LONG* pVal) override;
    STDMETHODIMP put_RecvTimeout(LONG newVal) override;
    STDMETHODIMP get_SendTimeout(LONG* pVal) override;
    STDMETHODIMP put_SendTimeout(LONG newVal) override;
    STDMETHODIMP get_RunMinimized(LONG* pVal) override;
    STDMETHODIMP put_RunMinimized(LONG newVal) override;
    STDMETHODIMP get_Telephone(BSTR* pVal) override;
    STDMETHODIMP put_Telephone(BSTR newVal) override;
    STDMETHODIMP get_Transfer(LONG* pVal) override;
    STDMETHODIMP put_Transfer(LONG newVal) override;
    STDMETHODIMP get_Transferred(short* pVal) override;
    STDMETHODIMP get_UseModem(LONG* pVal) override;
    STDMETHODIMP put_UseModem(LONG newVal) override;
    STDMETHODIMP get_Verbose(LONG* pVal) override;
    STDMETHODIMP put_Verbose(LONG newVal) override;
    STDMETHODIMP get_WindowSize(short* pVal) override;
    STDMETHODIMP put_WindowSize(short newVal) override;
    STDMETHODIMP Load(short* nRetVal) override;
    STDMETHODIMP Reset(short DefaultType) override;
    STDMETHODIMP Save(short* nRetVal) override;
    STDMETHODIMP Setup(LONG ShowGeneral, LONG ShowTransfer, LONG ShowLogging, LONG ShowModem,
                       short* nRetVal) override;
    STDMETHODIMP TransferFiles(LONG FilePrompt, LONG ShowErrors, LONG* nRetVal) override;

private:
    ~Quill32();

    LONG volatile references_ = 1;
    FixedText<260> moduleDirectory_; // ends in a backslash
};

} // namespace tollan
