// One page of the setup property sheet: its template, title and help topic, the working copy of
// the settings it edits, and the sheet's notifications turned into calls a page answers.
#pragma once

#include "settings/settings_block.h"

#include <windows.h>

#include <commctrl.h>

#include <string>

namespace tollan {

// Help topics of the setup user interface, by context number.
inline constexpr DWORD kHelpGeneralPage = 2;
inline constexpr DWORD kHelpTransferPage = 3;
inline constexpr DWORD kHelpLoggingPage = 4;
inline constexpr DWORD kHelpModemPage = 5;
inline constexpr DWORD kHelpTelephoneEntry = 6;

class SetupPage {
public:
    SetupPage(int templateId, const char* title, DWORD helpContext)
        : templateId_(templateId), title_(title), helpContext_(helpContext) {}
    virtual ~SetupPage() = default;
    SetupPage(const SetupPage&) = delete;
    SetupPage& operator=(const SetupPage&) = delete;

    // The working copy: taken from the settings block before the sheet opens, given back to it
    // field by field after the sheet has closed.
    virtual void Load(const SettingsBlock& settings) = 0;
    virtual void Store(SettingsBlock& settings) const = 0;

    // The page's description for the system property sheet; the page gets its topics from the
    // help file `helpFile` and its template from `resources`.
    PROPSHEETPAGEA Describe(HINSTANCE resources, const char* helpFile);

protected:
    // Fill the controls from the working copy.
    virtual void OnInit() = 0;
    // The sheet was confirmed: put the controls into the working copy.
    virtual void OnApply() = 0;
    virtual void OnCommand(int /*id*/, int /*code*/) {}
    virtual void OnNotify(const NMHDR& /*header*/) {}

    HWND Window() const { return window_; }
    // Tells the sheet that something on the page changed.
    void MarkChanged() const;
    void OpenHelp() const;
    const char* HelpFile() const { return helpFile_.c_str(); }
    HINSTANCE Resources() const { return resources_; }

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    int templateId_;
    const char* title_;
    DWORD helpContext_;
    std::string helpFile_;
    HINSTANCE resources_ = nullptr;
    HWND window_ = nullptr;
};

} // namespace tollan
