#include "component/win32_validation_message.h"

#include "transfer/result_code.h"
#include "ui/win32_help.h"

namespace tollan {

namespace {

// The box on screen (one at a time, on the thread that called TransferFiles): its help file and
// topic, and the window procedure its Help button is taken from.
struct ShownBox {
    HWND owner = nullptr;
    const char* helpFile = nullptr;
    DWORD topic = 0;
    HHOOK hook = nullptr;
    WNDPROC boxProc = nullptr;
};
thread_local ShownBox shown;

void OpenTopic() {
    OpenHelpTopic(shown.owner, shown.helpFile, shown.topic);
}

// F1 in the box.
void CALLBACK OnHelp(LPHELPINFO) {
    OpenTopic();
}

// The Help button: opened here, so that it works whatever the system's box does with it.
LRESULT CALLBACK BoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDHELP) {
        OpenTopic();
        return 0;
    }
    return CallWindowProcA(shown.boxProc, box, message, wParam, lParam);
}

// Takes the box's window procedure over when the box first activates.
LRESULT CALLBACK WatchForBox(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && shown.boxProc == nullptr) {
        HWND box = reinterpret_cast<HWND>(wParam);
        shown.boxProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(BoxProc)));
    }
    return CallNextHookEx(shown.hook, code, wParam, lParam);
}

} // namespace

void ShowValidationMessage(HWND owner, std::int32_t code, const char* caption,
                           const char* helpFile) {
    const char* text = ValidationMessage(code);
    if (text == nullptr) {
        return;
    }
    shown = ShownBox{owner, helpFile, static_cast<DWORD>(HelpTopicOf(code)), nullptr, nullptr};
    shown.hook = SetWindowsHookExA(WH_CBT, WatchForBox, nullptr, GetCurrentThreadId());
    MSGBOXPARAMSA box{};
    box.cbSize = sizeof box;
    box.hwndOwner = owner;
    box.lpszText = text;
    box.lpszCaption = caption;
    box.dwStyle = MB_OK | MB_ICONEXCLAMATION | MB_HELP;
    box.dwContextHelpId = shown.topic;
    box.lpfnMsgBoxCallback = OnHelp;
    MessageBoxIndirectA(&box);
    if (shown.hook != nullptr) {
        UnhookWindowsHookEx(shown.hook);
    }
    shown = ShownBox{};
}

} // namespace tollan
