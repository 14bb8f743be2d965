#include "ui/win32_help.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

namespace tollan {

namespace {

// What the HTML Help control takes to open a file at a context number.
constexpr UINT kHtmlHelpContext = 0x000F;
using HtmlHelpFunction = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

bool HasExtension(const char* file, const char* extension) {
    const std::size_t length = std::strlen(file);
    const std::size_t tail = std::strlen(extension);
    return length >= tail && lstrcmpiA(file + length - tail, extension) == 0;
}

// The HTML Help control is loaded when it is first needed, and stays loaded: its viewer windows
// live on after the call.
bool OpenHtmlHelp(HWND owner, const char* file, DWORD topic) {
    static const HtmlHelpFunction htmlHelp = [] {
        HMODULE control = LoadLibraryA("hhctrl.ocx");
        return control != nullptr ? reinterpret_cast<HtmlHelpFunction>(reinterpret_cast<void*>(
                                        GetProcAddress(control, "HtmlHelpA")))
                                  : nullptr;
    }();
    return htmlHelp != nullptr && htmlHelp(owner, file, kHtmlHelpContext, topic) != nullptr;
}

bool FileExists(const std::string& file) {
    const DWORD attributes = GetFileAttributesA(file.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// WinHelp is gone from current Windows: a ".hlp" file still goes to it where the file is there,
// and where it is not, the ".chm" of the same name goes to HTML Help in its place (the
// component's own help ships as tollan.chm while HelpFile names tollan.hlp). When neither can
// show the topic, a message names the file and it.
void SystemHelpViewer(HWND owner, const char* helpFile, DWORD topic) {
    const std::string file = helpFile != nullptr ? helpFile : "";
    bool shown = false;
    if (HasExtension(file.c_str(), ".chm")) {
        shown = OpenHtmlHelp(owner, file.c_str(), topic);
    } else if (HasExtension(file.c_str(), ".hlp")) {
        const std::string chm = file.substr(0, file.size() - 4) + ".chm";
        shown = !FileExists(file) && FileExists(chm)
                    ? OpenHtmlHelp(owner, chm.c_str(), topic)
                    : WinHelpA(owner, file.c_str(), HELP_CONTEXT, topic) != FALSE;
    }
    if (shown) {
        return;
    }
    char text[MAX_PATH + 128];
    std::snprintf(text, sizeof text, "Help topic %lu of %s cannot be shown.",
                  static_cast<unsigned long>(topic), file.c_str());
    MessageBoxA(owner, text, "Help", MB_OK | MB_ICONINFORMATION);
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
