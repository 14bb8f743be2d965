// An early-bound host: creates the registered Quill32 object and calls it through the vtable,
// then checks the type information that late-bound hosts rely on, the class factory, the
// module's unload answer, and what Load and Save do with real registry values.
#include "tollan_idl.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <oleauto.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr const char* kSettingsKey = "Software\\Brindle\\Tollan";

// Releases an interface pointer at the end of a scope.
template <typename T>
class Ref {
public:
    Ref() = default;
    ~Ref() {
        if (p_ != nullptr) {
            p_->Release();
        }
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T** operator&() { return &p_; }
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    void** out() { return reinterpret_cast<void**>(&p_); }

private:
    T* p_ = nullptr;
};

std::wstring Take(BSTR text) {
    std::wstring result(text != nullptr ? text : L"", SysStringLen(text));
    SysFreeString(text);
    return result;
}

class Quill32Host : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    static void TearDownTestSuite() { CoUninitialize(); }

    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        ASSERT_EQ(
            CoCreateInstance(CLSID_Quill32, nullptr, CLSCTX_INPROC_SERVER, IID_IQuill32, q_.out()),
            S_OK);
    }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey); }

    // Calls a function of the module by name.
    static HRESULT CallExport(const char* name) {
        HMODULE module = GetModuleHandleW(L"tollan.dll");
        auto function = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(GetProcAddress(module, name)));
        return function != nullptr ? function() : E_UNEXPECTED;
    }

    static void SetValue(const char* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }

    Ref<IQuill32> q_;
};

TEST_F(Quill32Host, EveryReadRefusesANullPointer) {
    using LongGet = HRESULT (STDMETHODCALLTYPE IQuill32::*)(LONG*);
    using ShortGet = HRESULT (STDMETHODCALLTYPE IQuill32::*)(short*);
    using TextGet = HRESULT (STDMETHODCALLTYPE IQuill32::*)(BSTR*);
    for (LongGet get :
         {&IQuill32::get_AppendToLog, &IQuill32::get_BaudRate, &IQuill32::get_HostMode,
          &IQuill32::get_LogToFile, &IQuill32::get_LogToScreen, &IQuill32::get_RecvTimeout,
          &IQuill32::get_SendTimeout, &IQuill32::get_RunMinimized, &IQuill32::get_Transfer,
          &IQuill32::get_UseModem, &IQuill32::get_Verbose}) {
        EXPECT_EQ((q_.get()->*get)(nullptr), E_POINTER);
    }
    for (ShortGet get :
         {&IQuill32::get_Attempted, &IQuill32::get_CrashRecovery, &IQuill32::get_FlowControl,
          &IQuill32::get_MaxErrors, &IQuill32::get_Overwrite, &IQuill32::get_PathSwitch,
          &IQuill32::get_Port, &IQuill32::get_Protocol, &IQuill32::get_Transferred,
          &IQuill32::get_WindowSize, &IQuill32::Load, &IQuill32::Save}) {
        EXPECT_EQ((q_.get()->*get)(nullptr), E_POINTER);
    }
    for (TextGet get :
         {&IQuill32::get_DefaultDir, &IQuill32::get_FileList, &IQuill32::get_HelpFile,
          &IQuill32::get_LogFilename, &IQuill32::get_MaxTitle, &IQuill32::get_MinTitle,
          &IQuill32::get_ModemCmd, &IQuill32::get_ModemName, &IQuill32::get_Telephone}) {
        EXPECT_EQ((q_.get()->*get)(nullptr), E_POINTER);
    }
    EXPECT_EQ(q_->Setup(1, 1, 1, 1, nullptr), E_POINTER);
    EXPECT_EQ(q_->TransferFiles(0, 0, nullptr), E_POINTER);
}

TEST_F(Quill32Host, SetupAndTransferFilesAreNotThereYet) {
    short shortResult = 0;
    LONG longResult = 0;
    EXPECT_EQ(q_->Setup(1, 0, 0, 0, &shortResult), E_NOTIMPL);
    EXPECT_EQ(q_->TransferFiles(0, 1, &longResult), E_NOTIMPL);
}

TEST_F(Quill32Host, WritesAreClampedAndStringsComeBackAsNewCopies) {
    LONG baud = 0;
    EXPECT_EQ(q_->put_BaudRate(200000), S_OK);
    q_->get_BaudRate(&baud);
    EXPECT_EQ(baud, 115200);

    EXPECT_EQ(q_->put_FileList(nullptr), S_OK); // a null string is an empty list
    BSTR list = nullptr;
    ASSERT_EQ(q_->get_FileList(&list), S_OK);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Take(list), L"");

    BSTR name = SysAllocString(L"a.txt;b.txt");
    q_->put_FileList(name);
    SysFreeString(name); // the object keeps its own copy
    BSTR first = nullptr;
    BSTR second = nullptr;
    q_->get_FileList(&first);
    q_->get_FileList(&second);
    EXPECT_NE(first, second);
    EXPECT_EQ(Take(first), L"a.txt;b.txt");
    EXPECT_EQ(Take(second), L"a.txt;b.txt");

    EXPECT_EQ(q_->put_MaxTitle(nullptr), S_OK);
    BSTR title = nullptr;
    q_->get_MaxTitle(&title);
    EXPECT_EQ(Take(title), L"");
}

TEST_F(Quill32Host, HelpFileLiesInTheModulesFolder) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"tollan.dll"), path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.rfind(L'\\'));
    BSTR help = nullptr;
    BSTR dir = nullptr;
    q_->get_HelpFile(&help);
    q_->get_DefaultDir(&dir);
    EXPECT_EQ(_wcsicmp(Take(help).c_str(), (folder + L"\\tollan.hlp").c_str()), 0);
    EXPECT_EQ(_wcsicmp(Take(dir).c_str(), folder.c_str()), 0);
}

TEST_F(Quill32Host, TheTypeInformationDescribesTheInterface) {
    UINT count = 0;
    EXPECT_EQ(q_->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    Ref<ITypeInfo> dispatch;
    ASSERT_EQ(q_->GetTypeInfo(0, 0x409, &dispatch), S_OK);
    Ref<ITypeInfo> none;
    EXPECT_EQ(q_->GetTypeInfo(1, 0x409, &none), DISP_E_BADINDEX);

    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
    dispatch->ReleaseTypeAttr(attributes);

    BSTR name = nullptr;
    BSTR help = nullptr;
    dispatch->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr);
    EXPECT_EQ(Take(name), L"IQuill32");
    EXPECT_EQ(Take(help), L"IQuill32 Interface");

    // The vtable side: members in slot order after the seven IDispatch slots, dispatch
    // identifiers 1 to 35 in table order, get before put.
    HREFTYPE reference = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &reference), S_OK);
    Ref<ITypeInfo> vtable;
    ASSERT_EQ(dispatch->GetRefTypeInfo(reference, &vtable), S_OK);
    ASSERT_EQ(vtable->GetTypeAttr(&attributes), S_OK);
    const UINT functions = attributes->cFuncs;
    EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    vtable->ReleaseTypeAttr(attributes);
    EXPECT_EQ(functions, 62u);
    const std::vector<std::wstring> readOnly = {L"Attempted", L"HelpFile", L"Transferred"};
    MEMBERID expectedId = 1;
    bool expectPut = false;
    for (UINT i = 0; i < functions; ++i) {
        FUNCDESC* function = nullptr;
        ASSERT_EQ(vtable->GetFuncDesc(i, &function), S_OK);
        BSTR member = nullptr;
        BSTR memberHelp = nullptr;
        vtable->GetDocumentation(function->memid, &member, &memberHelp, nullptr, nullptr);
        std::wstring memberName = Take(member);
        std::wstring helpText = Take(memberHelp);
        EXPECT_EQ(function->oVft, static_cast<SHORT>((7 + i) * sizeof(void*))) << i;
        EXPECT_EQ(function->memid, expectedId) << i;
        if (expectedId <= 30) {
            EXPECT_EQ(function->invkind, expectPut ? INVOKE_PROPERTYPUT : INVOKE_PROPERTYGET);
            EXPECT_EQ(helpText, L"property " + memberName);
            bool hasPut = std::find(readOnly.begin(), readOnly.end(), memberName) == readOnly.end();
            if (!expectPut && hasPut) {
                expectPut = true;
            } else {
                expectPut = false;
                ++expectedId;
            }
        } else {
            EXPECT_EQ(function->invkind, INVOKE_FUNC);
            EXPECT_EQ(helpText, memberName == L"Setup" ? std::wstring(L"method Show")
                                                       : L"method " + memberName);
            ++expectedId;
        }
        vtable->ReleaseFuncDesc(function);
    }
    EXPECT_EQ(expectedId, 36);

    Ref<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(dispatch->GetContainingTypeLib(&library, &index), S_OK);
    TLIBATTR* libraryAttributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&libraryAttributes), S_OK);
    EXPECT_EQ(libraryAttributes->lcid, 0x409u);
    EXPECT_EQ(libraryAttributes->wMajorVerNum, 1);
    EXPECT_EQ(libraryAttributes->wMinorVerNum, 0);
    library->ReleaseTLibAttr(libraryAttributes);
    library->GetDocumentation(-1, &name, &help, nullptr, nullptr);
    EXPECT_EQ(Take(name), L"TOLLANLib");
    EXPECT_EQ(Take(help), L"tollan 1.0 Type Library");
    Ref<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_Quill32, &coclass), S_OK);
    coclass->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr);
    EXPECT_EQ(Take(name), L"Quill32");
    EXPECT_EQ(Take(help), L"Quill32 Class");
}

TEST_F(Quill32Host, LateBoundCallsGoThroughTheTypeInformation) {
    const wchar_t* names[] = {L"AppendToLog", L"BaudRate", L"Port",         L"WindowSize",
                              L"Load",        L"Setup",    L"TransferFiles"};
    const DISPID expected[] = {1, 3, 20, 30, 31, 34, 35};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        LPOLESTR name = const_cast<LPOLESTR>(names[i]);
        DISPID id = 0;
        EXPECT_EQ(q_->GetIDsOfNames(IID_NULL, &name, 1, 0x409, &id), S_OK) << i;
        EXPECT_EQ(id, expected[i]) << i;
    }
    LPOLESTR unknown = const_cast<LPOLESTR>(L"Speed");
    DISPID id = 0;
    EXPECT_EQ(q_->GetIDsOfNames(IID_NULL, &unknown, 1, 0x409, &id), DISP_E_UNKNOWNNAME);

    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_I4;
    V_I4(&value) = 2400;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS putParams = {&value, &put, 1, 1};
    EXPECT_EQ(
        q_->Invoke(3, IID_NULL, 0x409, DISPATCH_PROPERTYPUT, &putParams, nullptr, nullptr, nullptr),
        S_OK);
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(
        q_->Invoke(3, IID_NULL, 0x409, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
        S_OK);
    EXPECT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), 9600);
    EXPECT_EQ(q_->Invoke(31, IID_NULL, 0x409, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(V_VT(&result), VT_I2);
    EXPECT_EQ(V_I2(&result), -1); // nothing saved
    EXPECT_EQ(
        q_->Invoke(3, IID_IQuill32, 0x409, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
        DISP_E_UNKNOWNINTERFACE);
}

TEST_F(Quill32Host, TheModuleStaysWhileObjectsOrLocksAreAlive) {
    Ref<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_Quill32, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.out()),
              S_OK);
    EXPECT_EQ(CallExport("DllCanUnloadNow"), S_FALSE); // the object of the fixture
    {
        Ref<IQuill32> released;
        q_->QueryInterface(IID_IQuill32, released.out());
    }
    q_.get()->AddRef();
    EXPECT_EQ(q_.get()->Release(), 1u);

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    Ref<IUnknown> outer;
    factory->QueryInterface(IID_IUnknown, outer.out());
    Ref<IUnknown> aggregated;
    EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, aggregated.out()),
              CLASS_E_NOAGGREGATION);
    Ref<IDispatch> second;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, second.out()), S_OK);
    Ref<IUnknown> none;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, none.out()), E_NOINTERFACE);
    second->Release();
    *second.out() = nullptr;

    IQuill32* last = q_.get();
    *q_.out() = nullptr;
    last->Release();
    EXPECT_EQ(CallExport("DllCanUnloadNow"), S_FALSE); // the lock
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(CallExport("DllCanUnloadNow"), S_OK);
}

TEST_F(Quill32Host, OnlyTheOneClassIsHandedOut) {
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"tollan.dll"), "DllGetClassObject")));
    ASSERT_NE(get, nullptr);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(get(IID_IQuill32, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(Quill32Host, SaveWritesNumbersAndTextsThatLoadReadsBack) {
    short result = 1;
    q_->put_Protocol(1);
    q_->put_WindowSize(4096);
    BSTR cmd = SysAllocString(L"ATX3");
    q_->put_ModemCmd(cmd);
    SysFreeString(cmd);
    ASSERT_EQ(q_->Save(&result), S_OK);
    EXPECT_EQ(result, 0);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0;
    DWORD number = 0;
    DWORD size = sizeof number;
    RegQueryValueExA(key, "WindowSize", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(number, 4096u);
    char text[16] = {};
    size = sizeof text;
    RegQueryValueExA(key, "ModemCmd", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 5u); // with its terminating zero
    EXPECT_STREQ(text, "ATX3");
    RegCloseKey(key);

    q_->Reset(1);
    ASSERT_EQ(q_->Load(&result), S_OK);
    EXPECT_EQ(result, 0);
    short protocol = 0;
    q_->get_Protocol(&protocol);
    EXPECT_EQ(protocol, 1);
}

TEST_F(Quill32Host, ValuesThatDoNotFitAreUnreadableButTheRestLoads) {
    short result = 1;
    q_->Save(&result);
    const unsigned char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    SetValue("BaudRate", REG_BINARY, eight, sizeof eight);
    std::string longText(2000, 'x');
    SetValue("Telephone", REG_SZ, longText.c_str(), static_cast<DWORD>(longText.size() + 1));
    SetValue("ModemCmd", REG_SZ, "", 0);
    const DWORD protocol = 2;
    SetValue("Protocol", REG_DWORD, &protocol, sizeof protocol);
    const char word[2] = {5, 0};
    SetValue("MaxErrors", REG_BINARY, word, sizeof word);

    q_->put_BaudRate(57600);
    ASSERT_EQ(q_->Load(&result), S_OK);
    EXPECT_EQ(result, -1);
    LONG baud = 0;
    q_->get_BaudRate(&baud);
    EXPECT_EQ(baud, 57600);
    short loaded = 0;
    q_->get_Protocol(&loaded);
    EXPECT_EQ(loaded, 2);
    q_->get_MaxErrors(&loaded);
    EXPECT_EQ(loaded, 5);
}

} // namespace
