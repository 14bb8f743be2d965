// An early-bound host: creates the registered Quill32 object and calls it through the vtable,
// checks the class factory and the module's unload answer, the setup sheet from the DLL's own
// resources, and what Load and Save do with real registry values.
#include "tollan_idl.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <oleauto.h>

#include <filesystem>
#include <string>
#include <utility>

#include "support/win32_sheet_driver.h"
#include "ui/resource_ids.h"

namespace {

using namespace tollan::testing;

constexpr const char* kSettingsKey = "Software\\Brindle\\Tollan";

std::wstring Take(BSTR text) {
    std::wstring result(text != nullptr ? text : L"", SysStringLen(text));
    SysFreeString(text);
    return result;
}

// A text for a property setter, freed after the call (the object keeps its own copy).
struct Text {
    explicit Text(const wchar_t* text) : bstr(SysAllocString(text)) {}
    ~Text() { SysFreeString(bstr); }
    operator BSTR() const { return bstr; }
    BSTR bstr;
};

// What a property getter returns.
template <class Value>
Value Get(IQuill32* q, HRESULT (STDMETHODCALLTYPE IQuill32::*get)(Value*)) {
    Value value{};
    (q->*get)(&value);
    return value;
}

HRESULT CallExport(const char* name) {
    auto function = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"tollan.dll"), name)));
    return function != nullptr ? function() : E_UNEXPECTED;
}

class Quill32Host : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    static void TearDownTestSuite() { CoUninitialize(); }
    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        ASSERT_EQ(CoCreateInstance(CLSID_Quill32, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&q_)),
                  S_OK);
    }
    void TearDown() override {
        if (q_ != nullptr) {
            q_->Release();
        }
        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    }

    IQuill32* q_ = nullptr;
};

// A plug-and-play modem that appears once the module is loaded and the object made (plugged in
// while the host runs) is in the modem list: the lists are read when first asked for.
TEST_F(Quill32Host, AModemPluggedInAfterLoadingIsListed) {
    const std::string modems = "SYSTEM\\CurrentControlSet\\Services\\Modem\\Enum";
    const std::string device = "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_7011&PID_0001";
    const std::string instance = device + "\\5&2d&0&1";
    const DWORD count = 1;
    SetRegistryValue(HKEY_LOCAL_MACHINE, modems, "Count", REG_DWORD, &count, 4);
    SetRegistryText(HKEY_LOCAL_MACHINE, modems, "0", instance.substr(30)); // below Enum
    SetRegistryText(HKEY_LOCAL_MACHINE, instance, "FriendlyName", "Plugged In Later");
    SetRegistryText(HKEY_LOCAL_MACHINE, instance + "\\Device Parameters", "PortName", "COM7");
    q_->put_ModemName(Text(L"Plugged"));
    EXPECT_EQ(Take(Get(q_, &IQuill32::get_ModemName)), L"Plugged In Later");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, modems.c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, device.c_str());
}

TEST_F(Quill32Host, ReadsRefuseANullPointerAndStringsComeBackAsCopies) {
    EXPECT_EQ(q_->get_BaudRate(nullptr), E_POINTER);
    EXPECT_EQ(q_->get_FileList(nullptr), E_POINTER);
    EXPECT_EQ(q_->Load(nullptr), E_POINTER);
    EXPECT_EQ(q_->TransferFiles(0, 0, nullptr), E_POINTER);
    short shortResult = 0;
    EXPECT_EQ(q_->Setup(1, 0, 0, 0, nullptr), E_POINTER);
    EXPECT_EQ(q_->Setup(0, 0, 0, 0, &shortResult), E_FAIL);

    q_->put_FileList(nullptr); // a null string is an empty list
    EXPECT_EQ(Take(Get(q_, &IQuill32::get_FileList)), L"");
    q_->put_FileList(Text(L"a.txt;b.txt"));
    BSTR first = Get(q_, &IQuill32::get_FileList);
    BSTR second = Get(q_, &IQuill32::get_FileList);
    EXPECT_NE(first, second);
    EXPECT_EQ(Take(first), L"a.txt;b.txt");
    EXPECT_EQ(Take(second), L"a.txt;b.txt");

    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"tollan.dll"), path, MAX_PATH);
    const std::wstring help = std::filesystem::path(path).replace_filename(L"tollan.hlp");
    EXPECT_EQ(_wcsicmp(Take(Get(q_, &IQuill32::get_HelpFile)).c_str(), help.c_str()), 0);
}

TEST_F(Quill32Host, TheModuleStaysWhileObjectsOrLocksAreAlive) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(
        CoGetClassObject(CLSID_Quill32, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&factory)),
        S_OK);
    IUnknown* object = nullptr;
    EXPECT_EQ(factory->CreateInstance(factory, IID_PPV_ARGS(&object)), CLASS_E_NOAGGREGATION);
    IClassFactory* notThere = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&notThere)), E_NOINTERFACE);
    EXPECT_EQ(CallExport("DllCanUnloadNow"), S_FALSE); // the object of the fixture
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    q_->Release();
    q_ = nullptr;
    EXPECT_EQ(CallExport("DllCanUnloadNow"), S_FALSE); // the lock
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(CallExport("DllCanUnloadNow"), S_OK);
    factory->Release();
}

// Setup shows the pages asked for, with the DLL's templates, and what the user chose on them and
// confirmed with OK is in the object's settings afterwards. (The sheet's pages, Cancel and the
// Modem page are tested in tests/win32/setup.)
TEST_F(Quill32Host, SetupShowsTheSheetAndKeepsWhatTheUserChose) {
    q_->put_MaxTitle(Text(L"Host"));
    short shown = -1;
    RunDriven(
        "Setup Host", [&] { return static_cast<int>(q_->Setup(1, 1, 0, 0, &shown)); },
        [](HWND sheet) {
            ChooseItem(CurrentPage(sheet), IDC_GENERAL_PROTOCOL, 0); // XModem
            ShowPage(sheet, 1);
            TypeText(CurrentPage(sheet), IDC_TRANSFER_SEND_TIMEOUT, "120");
            PressSheetButton(sheet, PSBTN_OK);
            WaitUntilClosed(sheet);
        });
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(Get(q_, &IQuill32::get_Protocol), 0);
    EXPECT_EQ(Get(q_, &IQuill32::get_SendTimeout), 120);
}

TEST_F(Quill32Host, SaveWritesRegistryTypesAndLoadSkipsWhatDoesNotFit) {
    short result = 1;
    q_->put_Protocol(1);
    q_->put_ModemCmd(Text(L"ATX3"));
    ASSERT_EQ(q_->Save(&result), S_OK);
    EXPECT_EQ(result, 0);

    // Each value's type and bytes; a text with its terminating zero.
    const auto saved = [](const char* name) {
        char data[16] = {};
        DWORD type = 0;
        DWORD size = sizeof data;
        RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_ANY, &type, data, &size);
        return std::make_pair(type, std::string(data, size));
    };
    EXPECT_EQ(saved("Protocol"), std::make_pair(DWORD{REG_DWORD}, std::string("\1\0\0\0", 4)));
    EXPECT_EQ(saved("ModemCmd"), std::make_pair(DWORD{REG_SZ}, std::string("ATX3", 5)));

    const unsigned char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    SetRegistryValue(HKEY_CURRENT_USER, kSettingsKey, "BaudRate", REG_BINARY, eight, sizeof eight);
    const DWORD protocol = 2;
    SetRegistryValue(HKEY_CURRENT_USER, kSettingsKey, "Protocol", REG_DWORD, &protocol, 4);
    q_->put_BaudRate(57600);
    ASSERT_EQ(q_->Load(&result), S_OK);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(Get(q_, &IQuill32::get_BaudRate), 57600);
    EXPECT_EQ(Get(q_, &IQuill32::get_Protocol), 2);
}

} // namespace
