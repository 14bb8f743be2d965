// Setup through the interface of the registered class, on a machine with the ports COM3 and COM1
// and the modems "Courier V.Everything" and "Courier 28800": the sheet is driven from a second
// thread and the settings are read back through the interface afterwards.
#include "tollan_idl.h"

#include "support/win32_sheet_driver.h"

#include "ui/resource_ids.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <oleauto.h>

#include <string>

namespace {

using namespace tollan::testing;

constexpr const char* kTelephoneKey = "Software\\Brindle\\Tollan\\Telephone";

std::wstring Take(BSTR text) {
    std::wstring result(text != nullptr ? text : L"", SysStringLen(text));
    SysFreeString(text);
    return result;
}

class SetupHost : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    static void TearDownTestSuite() { CoUninitialize(); }
    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kTelephoneKey);
        ASSERT_EQ(CoCreateInstance(CLSID_Quill32, nullptr, CLSCTX_INPROC_SERVER, IID_IQuill32,
                                   reinterpret_cast<void**>(&q_)),
                  S_OK);
        BSTR title = SysAllocString(L"Host");
        q_->put_MaxTitle(title);
        SysFreeString(title);
    }
    void TearDown() override {
        if (q_ != nullptr) {
            q_->Release();
        }
        RegDeleteTreeA(HKEY_CURRENT_USER, kTelephoneKey);
    }

    // Calls Setup with the four flags while `drive` works the sheet; returns nRetVal.
    short Setup(LONG general, LONG transfer, LONG logging, LONG modem,
                const std::function<void(HWND sheet)>& drive) {
        short result = 99;
        RunDriven(
            "Setup Host",
            [&] {
                EXPECT_EQ(q_->Setup(general, transfer, logging, modem, &result), S_OK);
                return 0;
            },
            drive);
        return result;
    }

    std::wstring Text(HRESULT (STDMETHODCALLTYPE IQuill32::*get)(BSTR*)) {
        BSTR text = nullptr;
        EXPECT_EQ((q_->*get)(&text), S_OK);
        return Take(text);
    }
    template <typename T>
    T Number(HRESULT (STDMETHODCALLTYPE IQuill32::*get)(T*)) {
        T value{};
        EXPECT_EQ((q_->*get)(&value), S_OK);
        return value;
    }

    IQuill32* q_ = nullptr;
};

TEST_F(SetupHost, RefusesNoPagesAndANullResult) {
    short result = 5;
    EXPECT_EQ(q_->Setup(1, 1, 1, 1, nullptr), E_POINTER);
    EXPECT_EQ(q_->Setup(0, 0, 0, 0, &result), E_FAIL);
    EXPECT_EQ(result, 5);
}

TEST_F(SetupHost, OkWritesThePagesBackAndTheListingGoesToTheRegistry) {
    q_->put_Protocol(1);
    q_->put_FlowControl(2);
    short result = Setup(1, 1, 1, 1, [](HWND sheet) {
        HWND page = CurrentPage(sheet);
        EXPECT_EQ(ItemCount(page, IDC_GENERAL_CONNECTION), 4);
        ChooseItem(page, IDC_GENERAL_PROTOCOL, 0);
        ChooseItem(page, IDC_GENERAL_CONNECTION, 3);
        ChooseItem(page, IDC_GENERAL_BAUD_RATE, 3);

        ShowPage(sheet, 1);
        page = CurrentPage(sheet);
        ChooseItem(page, IDC_TRANSFER_OVERWRITE, 3);
        TypeText(page, IDC_TRANSFER_RECV_TIMEOUT, "90");

        ShowPage(sheet, 2);
        page = CurrentPage(sheet);
        Click(page, IDC_LOGGING_TO_FILE);
        TypeText(page, IDC_LOGGING_FILENAME, "C:\\logs\\host.log");

        ShowPage(sheet, 3);
        page = CurrentPage(sheet);
        SelectRow(page, IDC_MODEM_LISTING, 2);
        ClickLater(page, IDC_MODEM_EDIT);
        HWND entry = WaitForDialog("Edit Telephone Listing");
        ASSERT_NE(entry, nullptr);
        TypeText(entry, IDC_ENTRY_DESCRIPTION, "Lab");
        TypeText(entry, IDC_ENTRY_NUMBER, "555-0142");
        PostMessageA(entry, WM_COMMAND, IDOK, 0);
        WaitUntilClosed(entry);
        TypeText(page, IDC_MODEM_INIT, "ATM0");
        PressSheetButton(sheet, PSBTN_OK);
    });
    EXPECT_EQ(result, 0);

    EXPECT_EQ(Number(&IQuill32::get_Protocol), 0);
    EXPECT_EQ(Number(&IQuill32::get_FlowControl), 2);
    EXPECT_EQ(Number(&IQuill32::get_BaudRate), 57600);
    EXPECT_EQ(Number(&IQuill32::get_UseModem), 1);
    EXPECT_EQ(Text(&IQuill32::get_ModemName), L"Courier 28800");
    EXPECT_EQ(Number(&IQuill32::get_Overwrite), 4);
    EXPECT_EQ(Number(&IQuill32::get_RecvTimeout), 90);
    EXPECT_EQ(Number(&IQuill32::get_LogToFile), 1);
    EXPECT_EQ(Text(&IQuill32::get_LogFilename), L"C:\\logs\\host.log");
    EXPECT_EQ(Text(&IQuill32::get_Telephone), L"555-0142");
    EXPECT_EQ(Text(&IQuill32::get_ModemCmd), L"ATM0");

    // The listing entry is what a "#" write of Telephone reads.
    BSTR clear = SysAllocString(L"");
    q_->put_Telephone(clear);
    SysFreeString(clear);
    BSTR entry = SysAllocString(L"#2");
    q_->put_Telephone(entry);
    SysFreeString(entry);
    EXPECT_EQ(Text(&IQuill32::get_Telephone), L"555-0142");
}

TEST_F(SetupHost, CancelWritesNothing) {
    q_->put_UseModem(1);
    q_->put_Port(1);
    short result = Setup(1, 1, 1, 1, [](HWND sheet) {
        HWND page = CurrentPage(sheet);
        EXPECT_EQ(SelectedText(page, IDC_GENERAL_CONNECTION), "Courier V.Everything");
        ChooseItem(page, IDC_GENERAL_PROTOCOL, 2);
        ChooseItem(page, IDC_GENERAL_CONNECTION, 0);
        ShowPage(sheet, 1);
        TypeText(CurrentPage(sheet), IDC_TRANSFER_DEFAULT_DIR, "D:\\elsewhere");
        ShowPage(sheet, 3);
        Click(CurrentPage(sheet), IDC_MODEM_CLEAR);
        PressSheetButton(sheet, PSBTN_CANCEL);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Number(&IQuill32::get_Protocol), 0);
    EXPECT_EQ(Number(&IQuill32::get_UseModem), 1);
    EXPECT_EQ(Number(&IQuill32::get_Port), 1);
    EXPECT_NE(Text(&IQuill32::get_DefaultDir), L"D:\\elsewhere");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kTelephoneKey, 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);

    // Without the Modem page the sheet works with the modem off, also after Cancel.
    result = Setup(1, 0, 0, 0, [](HWND sheet) {
        EXPECT_EQ(ItemCount(CurrentPage(sheet), IDC_GENERAL_CONNECTION), 2);
        PressSheetButton(sheet, PSBTN_CANCEL);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Number(&IQuill32::get_UseModem), 0);
}

} // namespace
