#include "ui/win32_help.h"

#include <atomic>

namespace tollan {

namespace {

void SystemHelpViewer(HWND owner, const char* helpFile, DWORD topic) {
    WinHelpA(owner, helpFile, HELP_CONTEXT, topic);
}

std::atomic<HelpViewer> currentViewer{SystemHelpViewer};

} // namespace

void OpenHelpTopic(HWND owner, const char* helpFile, DWORD topic) {
    currentViewer.load()(owner, helpFile, topic);
}

HelpViewer SetHelpViewer(HelpViewer viewer) {
    HelpViewer previous = currentViewer.exchange(viewer != nullptr ? viewer : SystemHelpViewer);
    return previous == SystemHelpViewer ? nullptr : previous;
}

} // namespace tollan
