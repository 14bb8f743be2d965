#include "component/win32_validation_message.h"

#include "transfer/result_code.h"
#include "ui/win32_help.h"

namespace tollan {

namespace {

// The box's Help reaches its callback without a word of ours: the owner and help file of the
// box on screen (one at a time, on the thread that called TransferFiles).
thread_local HWND helpOwner = nullptr;
thread_local const char* helpFileShown = nullptr;

void CALLBACK OnHelp(LPHELPINFO info) {
    OpenHelpTopic(helpOwner, helpFileShown, static_cast<DWORD>(info->dwContextId));
}

} // namespace

void ShowValidationMessage(HWND owner, std::int32_t code, const char* caption,
                           const char* helpFile) {
    const char* text = ValidationMessage(code);
    if (text == nullptr) {
        return;
    }
    helpOwner = owner;
    helpFileShown = helpFile;
    MSGBOXPARAMSA box{};
    box.cbSize = sizeof box;
    box.hwndOwner = owner;
    box.lpszText = text;
    box.lpszCaption = caption;
    box.dwStyle = MB_OK | MB_ICONEXCLAMATION | MB_HELP;
    box.dwContextHelpId = static_cast<DWORD_PTR>(HelpTopicOf(code));
    box.lpfnMsgBoxCallback = OnHelp;
    MessageBoxIndirectA(&box);
    helpOwner = nullptr;
    helpFileShown = nullptr;
}

} // namespace tollan
